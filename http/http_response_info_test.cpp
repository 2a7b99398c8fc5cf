#include "http/http_response_info.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(ResponseInfo, PageAnswerBytes) {
    TIdHTTPResponseInfo r("Quorwell 0.7");
    r.ContentType = "text/html; charset=SJIS";
    r.BodyText = "<html>";
    EXPECT_EQ(r.WriteHeader(),
              "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html; charset=SJIS\r\n"
              "Content-Length: 6\r\nServer: Quorwell 0.7\r\n\r\n");
    EXPECT_EQ(r.ContentLength, 6);
    EXPECT_EQ(r.Body(), "<html>");
}

TEST(ResponseInfo, NotModifiedAnswerHasNoLengthAndNoBody) {
    TIdHTTPResponseInfo r("Quorwell 0.7");
    r.SetStatus(304);
    EXPECT_EQ(
        r.WriteHeader(),
        "HTTP/1.1 304 Not Modified\r\nConnection: close\r\nContent-Type: text/html\r\nServer: Quorwell 0.7\r\n\r\n");
    EXPECT_TRUE(r.Body().empty());
}

TEST(ResponseInfo, ImageAnswerWithValidatorAndCookie) {
    TIdHTTPResponseInfo r("Quorwell 0.7");
    r.ContentType = "image/jpeg";
    r.BodyStream = std::make_unique<TBodyStream>(std::string("\xFF\xD8\xFF\xD9", 4));
    r.CustomHeaders.push_back({"ETag", "\"20261208T032000\""});
    r.CustomHeaders.push_back({"Cache-Control", "no-cache"});
    r.ResponseCookies.AddCookie("Last-Modified=20261208T032000; path=/bg.jpg");
    EXPECT_EQ(r.WriteHeader(),
              "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: image/jpeg\r\nContent-Length: 4\r\n"
              "ETag: \"20261208T032000\"\r\nCache-Control: no-cache\r\nServer: Quorwell 0.7\r\n"
              "Set-Cookie: Last-Modified=20261208T032000; path=/bg.jpg\r\n\r\n");
    EXPECT_EQ(r.Body(), std::string("\xFF\xD8\xFF\xD9", 4));
}

TEST(ResponseInfo, BodyTextWinsOverStreamAndEmptyHeadersAreLeftOut) {
    TIdHTTPResponseInfo r;
    r.ContentType.clear();
    r.BodyStream = std::make_unique<TBodyStream>(std::string("stream"));
    r.BodyText = "text";
    EXPECT_EQ(r.WriteHeader(), "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 4\r\n\r\n");
    EXPECT_EQ(r.Body(), "text");
}

TEST(ResponseInfo, GivenContentLengthIsKept) {
    TIdHTTPResponseInfo r;
    r.ContentLength = 0;
    r.BodyText = "abc";
    EXPECT_NE(r.WriteHeader().find("Content-Length: 0\r\n"), std::string::npos);
}

TEST(ResponseInfo, HeaderIsWrittenOnce) {
    TIdHTTPResponseInfo r;
    r.WriteHeader();
    EXPECT_TRUE(r.HeaderHasBeenWritten());
    try {
        r.WriteHeader();
        FAIL() << "second header";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Header has already been written.");
    }
}

TEST(ResponseInfo, StatusCodesAndReasonPhrases) {
    TIdHTTPResponseInfo r;
    EXPECT_EQ(r.StatusCode, 200);
    EXPECT_EQ(r.ReasonPhrase, "OK");
    EXPECT_EQ(r.ContentType, "text/html");
    EXPECT_TRUE(r.CloseAfterResponse);
    r.CloseAfterResponse = false;
    r.SetStatus(404);
    EXPECT_EQ(r.ReasonPhrase, "Not Found");
    EXPECT_TRUE(r.CloseAfterResponse);
    r.SetStatus(500);
    EXPECT_EQ(r.ReasonPhrase, "Internal Server Error");
    r.SetStatus(501);
    EXPECT_EQ(r.ReasonPhrase, "\x8e\xc0\x91\x95\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1\x81\x42");
    EXPECT_EQ(r.WriteHeader().substr(0, 13), "HTTP/1.1 501 ");
}

TEST(ServerCookie, AttributesFromTheText) {
    TIdServerCookie c = TIdServerCookie::FromText(" Last-Modified=x=y ;  PATH=/a b.jpg ; Foo=1; secure; Max-Age=60");
    EXPECT_EQ(c.Name, "Last-Modified");
    EXPECT_EQ(c.Value, "x=y");
    EXPECT_EQ(c.Path, "/a b.jpg");
    EXPECT_EQ(c.CookieText(), "Last-Modified=x=y; path=/a b.jpg; secure; max-age=60");
    EXPECT_EQ(TIdServerCookie::FromText("a=1").CookieText(), "a=1");
    EXPECT_EQ(TIdServerCookie::FromText("a=1; domain=d; expires=e; version=1; comment=c").CookieText(),
              "a=1; expires=e; domain=d; comment=c; version=1");
}

TEST(BodyStream, SharedBytesAreServedWithoutACopy) {
    auto page = std::make_shared<const std::string>(14000, 'p');
    TBodyStream shared(page);
    EXPECT_EQ(shared.View().data(), page->data());
    EXPECT_EQ(shared.Size(), 14000u);
    // A writer gets its own copy; the shared buffer stays as it was.
    shared.Write("!");
    EXPECT_FALSE(shared.IsShared());
    EXPECT_EQ(shared.Size(), 14001u);
    EXPECT_EQ(page->size(), 14000u);
    TBodyStream owned;
    owned.Write("ab", 2);
    owned.Bytes().append("c");
    EXPECT_EQ(owned.View(), "abc");
}
