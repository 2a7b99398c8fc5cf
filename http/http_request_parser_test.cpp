#include "http/http_request_parser.h"

#include <gtest/gtest.h>

namespace {

TIdHTTPRequestInfo Parse(const std::string& bytes, bool peerClosed = false) {
    TParsedRequest r = ParseHttpRequest(bytes, peerClosed);
    EXPECT_EQ(r.Status, TRequestStatus::Complete) << r.Error;
    return r.Info;
}

TParsedRequest Try(const std::string& bytes, bool peerClosed = false, const THttpLimits& limits = THttpLimits()) {
    return ParseHttpRequest(bytes, peerClosed, limits);
}

}  // namespace

TEST(RequestParser, BoardQueryWithShiftJisParameter) {
    TIdHTTPRequestInfo r =
        Parse("GET /keiziban?furiganaFilter=%82%A0&groupFilter=a+b HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(r.Method, "GET");
    EXPECT_EQ(r.DocumentPath, "/keiziban");
    EXPECT_EQ(r.ProtocolVersion, "HTTP/1.1");
    EXPECT_EQ(r.RawQuery, "furiganaFilter=%82%A0&groupFilter=a+b");
    EXPECT_EQ(r.ParamText, r.RawQuery);
    ASSERT_EQ(r.QueryFields.size(), 2u);
    EXPECT_EQ(r.QueryFields[0], std::string("furiganaFilter=\x82\xA0"));
    EXPECT_EQ(r.QueryFields[1], "groupFilter=a b");
    EXPECT_EQ(r.QueryFields.ValueOf("furiganafilter"), std::string("\x82\xA0"));
    EXPECT_EQ(r.Host, "127.0.0.1");
    EXPECT_EQ(r.ContentLength, -1);
    EXPECT_TRUE(r.RawBody.empty());
}

TEST(RequestParser, ValueOfRules) {
    TIdHTTPRequestInfo r = Parse("GET /u?USER=taro&user=jiro&flag&&x=a=b& HTTP/1.1\r\n\r\n");
    ASSERT_EQ(r.QueryFields.size(), 6u);
    EXPECT_EQ(r.QueryFields.ValueOf("user"), "taro");  // first wins, letter case ignored
    EXPECT_EQ(r.QueryFields.ValueOf("flag"), "");      // no "=": never matches
    EXPECT_EQ(r.QueryFields[2], "flag");
    EXPECT_EQ(r.QueryFields[3], "");  // from "&&"
    EXPECT_EQ(r.QueryFields.ValueOf("x"), "a=b");
    EXPECT_EQ(r.QueryFields[5], "");  // trailing "&"
    EXPECT_EQ(r.QueryFields.ValueOf("missing"), "");
    // The second byte of a Shift-JIS name does not fold: ア (83 41) is not ヂ (83 61).
    TIdHTTPRequestInfo sj = Parse("GET /u?%83%41=1 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(sj.QueryFields.ValueOf("\x83\x61"), "");
    EXPECT_EQ(sj.QueryFields.ValueOf("\x83\x41"), "1");
}

TEST(RequestParser, RequestLineRules) {
    EXPECT_EQ(Parse("get / HTTP/1.0\n\n").Method, "GET");  // bare LF lines too
    EXPECT_EQ(Parse("HEAD / HTTP/1.1\r\n\r\n").Method, "HEAD");
    TIdHTTPRequestInfo star = Parse("GET * HTTP/1.1\r\n\r\n");
    EXPECT_EQ(star.DocumentPath, "*");
    TIdHTTPRequestInfo absolute = Parse("GET http://board:8080/keiziban?x=1 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(absolute.DocumentPath, "/keiziban");
    EXPECT_EQ(absolute.Host, "board");
    EXPECT_EQ(absolute.RawQuery, "x=1");
    EXPECT_EQ(Parse("GET http://board/ HTTP/1.1\r\nHost: other\r\n\r\n").Host, "other");

    TParsedRequest noBlank = Try("GET\r\n\r\n");
    EXPECT_EQ(noBlank.Status, TRequestStatus::Rejected);
    EXPECT_EQ(noBlank.Error, "Error in parsing command.");
    // Decided on the request line alone, before any header arrives.
    EXPECT_EQ(Try("GARBAGE\n").Status, TRequestStatus::Rejected);
    for (const char* method : {"PUT", "DELETE", "OPTIONS", "CONNECT", "G ET"}) {
        TParsedRequest r = Try(std::string(method) + " / HTTP/1.1\r\n");
        EXPECT_EQ(r.Status, TRequestStatus::Rejected) << method;
    }
}

TEST(RequestParser, LineLengthLimit) {
    std::string path(16384 - std::string("GET  HTTP/1.1").size(), 'a');
    EXPECT_EQ(Try("GET " + path + " HTTP/1.1\r\n\r\n").Status, TRequestStatus::Complete);
    TParsedRequest longLine = Try("GET " + path + "a HTTP/1.1\r\n\r\n");
    EXPECT_EQ(longLine.Status, TRequestStatus::Rejected);
    EXPECT_EQ(longLine.Error, "Max line length exceeded.");
    // Also without waiting for the end of the line.
    EXPECT_EQ(Try("GET /" + std::string(20000, 'a')).Error, "Max line length exceeded.");
    TParsedRequest longHeader = Try("GET / HTTP/1.1\r\nX: " + std::string(16384, 'v') + "\r\n\r\n");
    EXPECT_EQ(longHeader.Error, "Max line length exceeded.");
}

TEST(RequestParser, HeadLimits) {
    THttpLimits limits;
    limits.MaxHeaderCount = 3;
    limits.MaxHeadBytes = 200;
    EXPECT_EQ(Try("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\n", false, limits).Status, TRequestStatus::Complete);
    EXPECT_EQ(Try("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n", false, limits).Status,
              TRequestStatus::Rejected);
    EXPECT_EQ(Try("GET / HTTP/1.1\r\nA: " + std::string(190, 'x') + "\r\n\r\n", false, limits).Status,
              TRequestStatus::Rejected);
    EXPECT_EQ(Try("GET / HTTP/1.1\r\nA: " + std::string(300, 'x'), false, limits).Status, TRequestStatus::Rejected);
}

TEST(RequestParser, HeadersAndKnownFields) {
    TIdHTTPRequestInfo r = Parse(
        "GET /bg.jpg HTTP/1.1\r\nhost:  127.0.0.2 \r\nIf-None-Match: \"t1\"\r\nX-Folded: one\r\n  two\r\n"
        "Content-Type: text/plain\r\n\r\n");
    EXPECT_EQ(r.Host, "127.0.0.2");
    EXPECT_EQ(r.RawHeaders.Values("if-none-match"), "\"t1\"");
    EXPECT_EQ(r.RawHeaders.Values("X-Folded"), "one two");
    EXPECT_EQ(r.ContentType, "text/plain");
    EXPECT_EQ(r.RawHeaders.Values("Absent"), "");
}

TEST(RequestParser, BodyFramedByContentLength) {
    const std::string head = "POST /x HTTP/1.1\r\nContent-Length:  5 \r\n\r\n";
    EXPECT_EQ(Try(head + "abc").Status, TRequestStatus::Incomplete);
    EXPECT_EQ(Try(head + "abc", true).Status, TRequestStatus::Rejected);  // the peer left mid-body
    TIdHTTPRequestInfo r = Parse(head + "abcdeEXTRA");
    EXPECT_EQ(r.ContentLength, 5);
    EXPECT_EQ(r.RawBody, "abcde");
    EXPECT_EQ(r.ParamText, "abcde");
    // GET may carry a body too.
    EXPECT_EQ(Parse("GET / HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi").RawBody, "hi");
}

TEST(RequestParser, PostWithoutLengthReadsUntilTheClose) {
    const std::string req = "POST /x HTTP/1.1\r\n\r\na=1&b=2";
    EXPECT_EQ(Try(req).Status, TRequestStatus::Incomplete);
    TIdHTTPRequestInfo r = Parse(req, true);
    EXPECT_EQ(r.RawBody, "a=1&b=2");
    // An unreadable length counts as none.
    TIdHTTPRequestInfo bad = Parse("POST /x HTTP/1.1\r\nContent-Length: 12ab\r\n\r\nzz", true);
    EXPECT_EQ(bad.ContentLength, -1);
    EXPECT_EQ(bad.RawBody, "zz");
    // Without a body for every other method.
    EXPECT_EQ(Try("GET / HTTP/1.1\r\n\r\n").Status, TRequestStatus::Complete);
    EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n").RawBody, "");
}

TEST(RequestParser, BodyLimit) {
    THttpLimits limits;
    limits.MaxBodyBytes = 10;
    EXPECT_EQ(Try("POST / HTTP/1.1\r\nContent-Length: 11\r\n\r\n", false, limits).Error, "Request body too large.");
    EXPECT_EQ(
        Try("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n" + std::string(11, 'x'), false, limits)
            .Status,
        TRequestStatus::Rejected);
    EXPECT_EQ(Try("POST / HTTP/1.1\r\n\r\n" + std::string(11, 'x'), false, limits).Status, TRequestStatus::Rejected);
    EXPECT_EQ(Try("POST / HTTP/1.1\r\n\r\n" + std::string(10, 'x'), true, limits).Status, TRequestStatus::Complete);
}

TEST(RequestParser, FormBodiesOnlyForUrlEncodedContent) {
    const std::string body = "name=%93%63&msg=a+b";
    TIdHTTPRequestInfo form = Parse(
        "POST /udengonsendresult?user=u1 HTTP/1.1\r\n"
        "Content-Type: Application/X-WWW-Form-Urlencoded\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(form.ParamText, body + "\r\nuser=u1");
    ASSERT_EQ(form.QueryFields.size(), 2u);
    EXPECT_EQ(form.QueryFields.ValueOf("name"), std::string("\x93\x63"));
    EXPECT_EQ(form.QueryFields[1], "msg=a b\r\nuser=u1");

    TIdHTTPRequestInfo other =
        Parse("POST /x?q=1 HTTP/1.1\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\n\r\n" + body);
    ASSERT_EQ(other.QueryFields.size(), 1u);
    EXPECT_EQ(other.QueryFields[0], "q=1");
    EXPECT_EQ(other.ParamText, body + "\r\nq=1");

    TIdHTTPRequestInfo charset = Parse(
        "POST /x HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded; charset=Shift_JIS\r\n"
        "Content-Length: 3\r\n\r\na=1");
    EXPECT_TRUE(charset.QueryFields.empty());
}

TEST(RequestParser, CookiesFromEveryCookieHeader) {
    TIdHTTPRequestInfo r =
        Parse("GET / HTTP/1.1\r\nCookie: a=1;  b=2=3\r\nX: y\r\ncookie: Last-Modified=20261208T0320;flag\r\n\r\n");
    ASSERT_EQ(r.RequestCookies.size(), 4u);
    EXPECT_EQ(r.RequestCookies[0].Name, "a");
    EXPECT_EQ(r.RequestCookies[1].Name, "b");
    EXPECT_EQ(r.RequestCookies[1].Value, "2=3");
    EXPECT_EQ(r.RequestCookies[3].Name, "flag");
    EXPECT_EQ(r.RequestCookies[3].Value, "");
    ASSERT_NE(r.RequestCookies.Find("last-modified"), nullptr);
    EXPECT_EQ(r.RequestCookies.Find("last-modified")->Value, "20261208T0320");
    EXPECT_EQ(r.RequestCookies.Find("none"), nullptr);
}

TEST(RequestParser, BasicAuthorizationOnly) {
    TIdHTTPRequestInfo r = Parse("GET / HTTP/1.1\r\nAuthorization: basic dXNlcjpwOmFzcw==\r\n\r\n");
    EXPECT_TRUE(r.AuthExists);
    EXPECT_EQ(r.AuthUsername, "user");
    EXPECT_EQ(r.AuthPassword, "p:ass");
    TParsedRequest bearer = Try("GET / HTTP/1.1\r\nAuthorization: Bearer abc\r\n\r\n");
    EXPECT_EQ(bearer.Status, TRequestStatus::Rejected);
    EXPECT_EQ(bearer.Error, "Unsupported authorization scheme.");
    EXPECT_FALSE(Parse("GET / HTTP/1.1\r\n\r\n").AuthExists);
}

TEST(RequestParser, HeadCutByThePeerIsRejected) {
    EXPECT_EQ(Try("GET / HTTP/1.1\r\nHost: x\r\n").Status, TRequestStatus::Incomplete);
    EXPECT_EQ(Try("GET / HTTP/1.1\r\nHost: x\r\n", true).Status, TRequestStatus::Rejected);
    EXPECT_EQ(Try("", true).Status, TRequestStatus::Rejected);
}

// The server feeds the parser piece by piece as bytes arrive; every split
// must give what the whole gives.
TEST(RequestParser, ByteByByteEqualsWhole) {
    const std::string req =
        "POST /uhuzaisetsubmit?user=u1 HTTP/1.1\r\nHost: h\r\nCookie: c=1\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 7\r\n\r\nx=1&y=2";
    TIdHTTPRequestInfo whole = Parse(req);
    TRequestParser parser;
    for (std::size_t n = 1; n < req.size(); ++n)
        ASSERT_EQ(parser.Advance(std::string_view(req).substr(0, n), false), TRequestStatus::Incomplete) << n;
    ASSERT_EQ(parser.Advance(req, false), TRequestStatus::Complete);
    EXPECT_EQ(parser.RequestLength(), req.size());
    TIdHTTPRequestInfo pieced;
    parser.TakeRequest(req, pieced);
    EXPECT_EQ(pieced.DocumentPath, whole.DocumentPath);
    EXPECT_EQ(pieced.ParamText, whole.ParamText);
    EXPECT_EQ(pieced.QueryFields, whole.QueryFields);
    EXPECT_EQ(pieced.RawHeaders.size(), whole.RawHeaders.size());
    EXPECT_EQ(pieced.RequestCookies.size(), 1u);

    // A long line arriving in small pieces is caught before its end.
    TRequestParser slow;
    std::string line = "GET /";
    TRequestStatus status = TRequestStatus::Incomplete;
    while (status == TRequestStatus::Incomplete && line.size() < 20000) {
        line.append(100, 'a');
        status = slow.Advance(line, false);
    }
    EXPECT_EQ(status, TRequestStatus::Rejected);
    EXPECT_LE(line.size(), 16384u + 101u);
}
