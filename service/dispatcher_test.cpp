#include "service/dispatcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "data/kavel_env.h"
#include "data/person_status.h"
#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "http/http_server.h"
#include "images/jpeg_list.h"
#include "images/resource_module.h"
#include "log/event_log.h"
#include "pages/contents_cache.h"
#include "platform/event_sink.h"
#include "platform/file_system.h"
#include "platform/test_temp_dir.h"

namespace {

// What a failed page shows: the browser leaves a frame blank for a 500
// without a body.
std::string FailurePage(const std::string& escapedError) {
    return "<HTML>\r\n"
           "  <HEAD><TITLE>エラー</TITLE></HEAD>\r\n"
           "  <BODY>\r\n"
           "    <CENTER>\r\n"
           "      <BR><BR><BR><BR>リクエストの処理中にエラーが発生しました。<BR><BR>\r\n"
           "      " +
           escapedError +
           "\r\n"
           "    </CENTER>\r\n"
           "  </BODY>\r\n"
           "</HTML>";
}

class DispatcherTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitializeImageCatalogue(); }

    DispatcherTest() {
        Temp.Write("kavel.ini", "QUOR_SiteName=テスト\r\nQUOR_Interval,ReloadAllFile=1\r\n");
        Temp.Write(
            "aoki.kvl",
            "\"ｱｵｷ\"\r\n\"青木\"\r\n\"営業\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"127.0.0.1\"\r\n\"0\"\r\n");
        Env.SetCommonDirectory(Temp.Dir());
    }

    TIdHTTPRequestInfo Request(const std::string& path) const {
        TIdHTTPRequestInfo request;
        request.Method = "GET";
        request.DocumentPath = path;
        request.RemoteAddress = Peer;
        return request;
    }
    TIdHTTPResponseInfo Answer(const TIdHTTPRequestInfo& request) {
        TIdHTTPResponseInfo response("something else");
        TIdPeerThread sender(Peer, 40000, 0);
        webMainCommandGet(TDispatchContext{Env, Cache, StartTime}, sender, request, response);
        return response;
    }
    TIdHTTPResponseInfo Answer(const std::string& path) { return Answer(Request(path)); }
    TIdHTTPRequestInfo WithHeader(const std::string& path, const std::string& name, const std::string& value) const {
        TIdHTTPRequestInfo request = Request(path);
        request.RawHeaders.push_back({name, value});
        return request;
    }

    // Texts of the QUOR.LOG lines, level words included.
    std::vector<std::string> LogLines() const {
        const std::string log = Temp.Read("QUOR.LOG");
        std::vector<std::string> lines;
        for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(log.substr(at + 20, end - at - 20));
        return lines;
    }

    TTestTempDir Temp;
    TFixedClock Clock{EncodeDate(2026, 12, 8) + EncodeTime(10, 15, 30, 0)};
    TCapturingEventSink Sink;
    TLogger Logger{Temp.Dir(), Clock, Sink};
    TScopedLogger Installed{Logger};
    TKavelEnv Env{Clock};
    TContentsCache Cache;
    std::string StartTime = "2026/12/08-10:15:30";
    std::string Peer = "127.0.0.5";
};

TEST_F(DispatcherTest, ImageIsServedFromTheStoredBytesWithItsValidator) {
    const TIdHTTPResponseInfo response = Answer("/bg.jpg");
    EXPECT_EQ(response.StatusCode, 200);
    EXPECT_EQ(response.ServerHeader, "Quorwell 0.7");
    EXPECT_EQ(response.ContentType, "image/jpeg");
    ASSERT_TRUE(response.BodyStream);
    EXPECT_TRUE(response.BodyText.empty());
    // Not a copy: the very buffer the catalogue keeps.
    EXPECT_TRUE(response.BodyStream->IsShared());
    EXPECT_EQ(response.BodyStream->View().data(), TJPEGList::Instance().Find("bg.jpg")->SharedBytes()->data());

    ASSERT_EQ(response.ResponseCookies.size(), 1u);
    EXPECT_EQ(response.ResponseCookies[0].CookieText(), "Last-Modified=2026/12/08-10:15:30; path=/bg.jpg");
    ASSERT_EQ(response.CustomHeaders.size(), 2u);
    EXPECT_EQ(response.CustomHeaders[0].Name, "ETag");
    EXPECT_EQ(response.CustomHeaders[0].Value, "\"2026/12/08-10:15:30\"");
    EXPECT_EQ(response.CustomHeaders[1].Name, "Cache-Control");
    EXPECT_EQ(response.CustomHeaders[1].Value, "no-cache");
}

TEST_F(DispatcherTest, StatusMarkImagesComeFromTheEnvironment) {
    const TIdHTTPResponseInfo response = Answer("/POWERON.jpg");
    EXPECT_EQ(response.StatusCode, 200);
    ASSERT_TRUE(response.BodyStream);
    EXPECT_EQ(response.BodyStream->View().data(), Env.Statuses().FindImage("poweron.jpg")->SharedBytes()->data());
    EXPECT_EQ(response.ResponseCookies.at(0).Path, "/POWERON.jpg");
}

TEST_F(DispatcherTest, OnlyTheTagOfThisStartGets304) {
    const TIdHTTPResponseInfo same = Answer(WithHeader("/bg.jpg", "if-none-match", "\"2026/12/08-10:15:30\""));
    EXPECT_EQ(same.StatusCode, 304);
    EXPECT_FALSE(same.BodyStream);
    EXPECT_TRUE(same.ResponseCookies.empty());
    EXPECT_EQ(same.ContentType, "text/html");
    ASSERT_EQ(same.CustomHeaders.size(), 2u);
    EXPECT_EQ(same.CustomHeaders[0].Value, "\"2026/12/08-10:15:30\"");

    // A later start makes the browser's copy stale.
    EXPECT_EQ(Answer(WithHeader("/bg.jpg", "If-None-Match", "\"2026/12/08-10:15:29\"")).StatusCode, 200);

    // The cookie goes with plain requests too: it proves nothing.
    TIdHTTPRequestInfo cookie = Request("/bg.jpg");
    cookie.RequestCookies.AddCookieHeader("Last-Modified=2026/12/08-10:15:30");
    const TIdHTTPResponseInfo plain = Answer(cookie);
    EXPECT_EQ(plain.StatusCode, 200);
    EXPECT_TRUE(plain.BodyStream);

    // A tag for a name that is no image proves nothing either.
    EXPECT_EQ(Answer(WithHeader("/nosuch.jpg", "If-None-Match", "*")).StatusCode, 404);
    // Any later If-None-Match line counts as well as the first.
    TIdHTTPRequestInfo two = WithHeader("/bg.jpg", "If-None-Match", "\"other\"");
    two.RawHeaders.push_back({"If-None-Match", "W/\"2026/12/08-10:15:30\""});
    EXPECT_EQ(Answer(two).StatusCode, 304);
}

TEST(IfNoneMatch, ReadsTheListOfTags) {
    const std::string tag = "\"t1\"";
    EXPECT_TRUE(IfNoneMatchHolds("\"t1\"", tag));
    EXPECT_TRUE(IfNoneMatchHolds("  W/\"t1\"  ", tag));
    EXPECT_TRUE(IfNoneMatchHolds("\"a\",\"b\" , \"t1\"", tag));
    EXPECT_TRUE(IfNoneMatchHolds("*", tag));
    EXPECT_TRUE(IfNoneMatchHolds("junk, \"t1\"", tag));
    EXPECT_FALSE(IfNoneMatchHolds("", tag));
    EXPECT_FALSE(IfNoneMatchHolds("t1", tag));
    EXPECT_FALSE(IfNoneMatchHolds("\"T1\"", tag));
    EXPECT_FALSE(IfNoneMatchHolds("\"t1", tag));
    EXPECT_FALSE(IfNoneMatchHolds("\"t1,\"", tag));
    EXPECT_FALSE(IfNoneMatchHolds("\"x\" \"t1\"", tag));
}

TEST_F(DispatcherTest, FaviconIsTheBuiltInIconKeptADayAndLogsNoWarning) {
    const TIdHTTPResponseInfo icon = Answer("/favicon.ico");
    EXPECT_EQ(icon.StatusCode, 200);
    EXPECT_EQ(icon.ContentType, "image/x-icon");
    ASSERT_TRUE(icon.BodyStream);
    EXPECT_EQ(icon.BodyStream->View(), *MainModule().Find(TResourceKind::Icon, "POWERON"));
    EXPECT_EQ(icon.BodyStream->View().substr(0, 4), std::string_view("\0\0\1\0", 4));  // an icon file
    ASSERT_EQ(icon.CustomHeaders.size(), 2u);
    EXPECT_EQ(icon.CustomHeaders[0].Value, "\"2026/12/08-10:15:30\"");
    EXPECT_EQ(icon.CustomHeaders[1].Name, "Cache-Control");
    EXPECT_EQ(icon.CustomHeaders[1].Value, "max-age=86400");
    EXPECT_TRUE(icon.ResponseCookies.empty());

    const TIdHTTPResponseInfo again = Answer(WithHeader("/favicon.ico", "If-None-Match", "\"2026/12/08-10:15:30\""));
    EXPECT_EQ(again.StatusCode, 304);
    EXPECT_FALSE(again.BodyStream);

    EXPECT_EQ(LogLines(), (std::vector<std::string>{"情報　 127.0.0.5 /favicon.ico", "情報　 127.0.0.5 /favicon.ico"}));
    EXPECT_EQ(Answer("/sub/favicon.ico").StatusCode, 501);
}

TEST_F(DispatcherTest, UnknownImageIs404WithAWarningLineButNoEvent) {
    const TIdHTTPResponseInfo response = Answer("/nosuch.jpg");
    EXPECT_EQ(response.StatusCode, 404);
    EXPECT_EQ(response.ServerHeader, "Quorwell 0.7");
    EXPECT_FALSE(response.BodyStream);
    EXPECT_TRUE(response.CustomHeaders.empty());
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"情報　 127.0.0.5 /nosuch.jpg",
                                                    "警告　 127.0.0.5 /nosuch.jpgが見つかりませんでした。"}));
    EXPECT_TRUE(Sink.Entries().empty());
}

TEST_F(DispatcherTest, ControlBytesOfThePathStayOnTheirLine) {
    EXPECT_EQ(Answer("/a\r\n2026/12/08 10:15:30 情報　 b.jpg").StatusCode, 404);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "情報　 127.0.0.5 /a%0D%0A2026/12/08 10:15:30 情報　 b.jpg",
                              "警告　 127.0.0.5 /a%0D%0A2026/12/08 10:15:30 情報　 b.jpgが見つかりませんでした。",
                          }));
}

TEST_F(DispatcherTest, SuffixIsCaseSensitiveAndOtherPathsGoToThePageMaker) {
    const TIdHTTPResponseInfo board = Answer("/keiziban");
    EXPECT_EQ(board.StatusCode, 200);
    EXPECT_EQ(board.ContentType, "text/html; charset=SJIS");
    EXPECT_FALSE(board.Body().empty());
    EXPECT_TRUE(board.ResponseCookies.empty());
    EXPECT_TRUE(board.CustomHeaders.empty());

    EXPECT_EQ(Answer("/bg.JPG").StatusCode, 501);
    EXPECT_EQ(Answer(".jpg").StatusCode, 404);  // a whole path of just the suffix is an image name
    EXPECT_EQ(Answer("/" + std::string(300, 'x') + ".jpg").StatusCode, 404);
}

TEST_F(DispatcherTest, FailingPageIs500WithAnErrorEntry) {
    TIdHTTPRequestInfo request = Request("/uframe");
    request.QueryFields.push_back("user=nobody");
    request.ParamText = "user=nobody";
    const TIdHTTPResponseInfo response = Answer(request);
    EXPECT_EQ(response.StatusCode, 500);
    EXPECT_EQ(response.ServerHeader, "Quorwell 0.7");
    EXPECT_EQ(response.ContentType, "text/html; charset=SJIS");
    EXPECT_EQ(response.Body(), FailurePage("存在しないユーザ情報を要求されました。"));
    EXPECT_TRUE(response.ResponseCookies.empty());
    EXPECT_TRUE(response.CustomHeaders.empty());

    const std::string text =
        "127.0.0.5 /uframeリクエストの処理中にエラーが発生しました。存在しないユーザ情報を要求されました。";
    const std::vector<TEventEntry> entries = Sink.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Type, TEventType::Error);
    EXPECT_EQ(entries[0].Text, text);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"情報　 127.0.0.5 /uframe", "エラー " + text}));
}

// A failed write (here: the message file is a directory) for a person key
// with an ampersand: the page shows the error text as text, the length is
// that of the page, and the log keeps the raw text.
TEST_F(DispatcherTest, FailurePageShowsTheErrorTextEscaped) {
    const std::string key = "a&b";
    Temp.Write(key + ".kvl",
               "\"ｱ\"\r\n\"A\"\r\n\"g\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"127.0.0.1\"\r\n\"0\"\r\n");
    const std::string path = Temp.File(key + ".mil");
    std::filesystem::create_directory(path);
    std::string error;
    try {
        RewriteFileContent(path, [](const std::string*) { return std::string("x"); });
    } catch (const std::exception& e) {
        error = e.what();
    }
    ASSERT_NE(error.find(path), std::string::npos) << error;
    std::string escaped;
    for (char c : error) escaped += c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);

    Env.ForceReload();
    TIdHTTPRequestInfo request = Request("/udengonsendresult");
    request.QueryFields.push_back("user=" + key);
    request.QueryFields.push_back("sender=x");
    request.QueryFields.push_back("dengonmessage=y");
    TIdHTTPResponseInfo response = Answer(request);
    EXPECT_EQ(response.StatusCode, 500);
    EXPECT_EQ(response.Body(), FailurePage(escaped));
    const std::string header = response.WriteHeader();
    EXPECT_NE(header.find("\r\nContent-Length: " + std::to_string(response.Body().size()) + "\r\n"), std::string::npos)
        << header;
    EXPECT_EQ(LogLines().back(),
              "エラー 127.0.0.5 /udengonsendresultリクエストの処理中にエラーが発生しました。" + error);
}

// A value the clients' files cannot carry is the user's to mend: 400, the
// field and the reason on the page, a warning in the log, nothing stored.
TEST_F(DispatcherTest, RefusedValueIs400NamingTheField) {
    Temp.Write("a.kvl",
               "\"ｱ\"\r\n\"A\"\r\n\"g\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"127.0.0.1\"\r\n\"0\"\r\n");
    Env.ForceReload();
    TIdHTTPRequestInfo request = Request("/udengonsendresult");
    request.QueryFields.push_back("user=a");
    request.QueryFields.push_back("sender=x\r\ny");
    const TIdHTTPResponseInfo response = Answer(request);
    EXPECT_EQ(response.StatusCode, 400);
    EXPECT_EQ(response.Body(), FailurePage("送信者の名前に改行は使えません。"));
    EXPECT_FALSE(FileExists(Temp.File("a.mil")));
    EXPECT_EQ(LogLines().back(), "警告　 127.0.0.5 /udengonsendresult 送信者の名前に改行は使えません。");
}

}  // namespace
