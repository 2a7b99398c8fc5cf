// Requests against the running server: images and their validator, pages,
// the failure answers and the lines they leave in QUOR.LOG.

#include <regex>

#include <gtest/gtest.h>

#include "platform/event_sink.h"
#include "platform/sjis_text.h"
#include "tests/server_harness.h"

namespace {

class ServerRequests : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Server.WaitReady()); }
    // The server is killed, not stopped, so its exit code tells nothing: a
    // sanitizer build's findings are read from what it wrote instead.
    void TearDown() override {
        const std::string events = Server.EventText();
        EXPECT_EQ(events.find("Sanitizer"), std::string::npos) << events;
        EXPECT_EQ(events.find("runtime error:"), std::string::npos) << events;
    }

    THttpAnswer Get(const std::string& target, const std::vector<std::string>& headers = {}) {
        return HttpGet(Files.Port(), target, headers);
    }
    // The validator of this start, as the first image answer gives it.
    std::string StartTimeText() {
        const std::string cookie = Get("/bg.jpg").Header("Set-Cookie").value_or("");
        const size_t eq = cookie.find('='), semicolon = cookie.find(';');
        return cookie.substr(eq + 1, semicolon - eq - 1);
    }
    const TLogRecord& LastRecord() {
        Records = Files.LogRecords();
        if (Records.empty()) throw std::runtime_error("QUOR.LOG is empty");
        return Records.back();
    }
    const TLogRecord& RecordBeforeLast() {
        Records = Files.LogRecords();
        if (Records.size() < 2) throw std::runtime_error("QUOR.LOG is too short");
        return Records[Records.size() - 2];
    }

    TServerFiles Files;
    TServerProcess Server{Files};
    std::vector<TLogRecord> Records;
};

TEST_F(ServerRequests, EveryAnswerCarriesTheServerHeader) {
    const std::string tag = "\"" + StartTimeText() + "\"";
    struct TCase {
        std::string Target;
        std::vector<std::string> Headers;
        int Status;
    };
    const TCase cases[] = {
        {"/", {}, 200},
        {"/keiziban?furiganaFilter=a", {}, 200},
        {"/bg.jpg", {}, 200},
        {"/bg.jpg", {"If-None-Match: " + tag}, 304},
        {"/nosuch.jpg", {}, 404},
        {"/favicon.ico", {}, 200},
        {"/robots.txt", {}, 501},
        {"/uframe?user=nobody", {}, 500},
    };
    for (const TCase& c : cases) {
        const THttpAnswer answer = Get(c.Target, c.Headers);
        EXPECT_EQ(answer.Status, c.Status) << c.Target;
        EXPECT_EQ(answer.Header("Server"), std::optional<std::string>("Quorwell 0.7")) << c.Target;
    }
}

TEST_F(ServerRequests, ImageAnswersCarryTagCookieAndNoCache) {
    const THttpAnswer answer = Get("/bg.jpg");
    ASSERT_EQ(answer.Status, 200);
    EXPECT_EQ(answer.Header("Content-Type"), std::optional<std::string>("image/jpeg"));
    EXPECT_EQ(answer.Body.substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(answer.Header("Content-Length"), std::optional<std::string>(std::to_string(answer.Body.size())));

    const std::string cookie = answer.Header("Set-Cookie").value_or("");
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(cookie, parts,
                                 std::regex("Last-Modified=(\\d{4}/\\d\\d/\\d\\d-\\d\\d:\\d\\d:\\d\\d); path=/bg.jpg")))
        << cookie;
    EXPECT_EQ(answer.Header("ETag"), std::optional<std::string>("\"" + parts[1].str() + "\""));
    EXPECT_EQ(answer.Header("Cache-Control"), std::optional<std::string>("no-cache"));
    // Between the length and the server name, in that order.
    EXPECT_LT(answer.HeaderIndex("Content-Length"), answer.HeaderIndex("ETag"));
    EXPECT_LT(answer.HeaderIndex("ETag"), answer.HeaderIndex("Cache-Control"));
    EXPECT_LT(answer.HeaderIndex("Cache-Control"), answer.HeaderIndex("Server"));
}

TEST_F(ServerRequests, MatchingTagGets304WhileTheCookieAloneGetsTheImage) {
    const THttpAnswer first = Get("/btnreturn.jpg");
    ASSERT_EQ(first.Status, 200);
    const std::string tag = *first.Header("ETag");
    const std::string stamp = tag.substr(1, tag.size() - 2);

    for (const std::string& condition : {tag, "W/" + tag, "\"older\", " + tag, std::string("*")}) {
        const THttpAnswer again = Get("/btnreturn.jpg", {"If-None-Match: " + condition});
        EXPECT_EQ(again.Status, 304) << condition;
        EXPECT_EQ(again.Body, "") << condition;
        EXPECT_EQ(again.Header("ETag"), std::optional<std::string>(tag)) << condition;
        EXPECT_FALSE(again.Header("Set-Cookie")) << condition;
    }

    // What a browser sends with a plain request must not be taken for a validation.
    const THttpAnswer cookieOnly = Get("/btnreturn.jpg", {"Cookie: Last-Modified=" + stamp});
    EXPECT_EQ(cookieOnly.Status, 200);
    EXPECT_EQ(cookieOnly.Body, first.Body);
    EXPECT_EQ(Get("/btnreturn.jpg", {"If-None-Match: \"2000/01/01-00:00:00\""}).Status, 200);
    // Pages carry no tag, so no condition makes them 304.
    EXPECT_EQ(Get("/", {"If-None-Match: " + tag}).Status, 200);
}

TEST_F(ServerRequests, ImageNamesIgnoreCaseButTheSuffixDoesNot) {
    const THttpAnswer lower = Get("/bg.jpg");
    const THttpAnswer upper = Get("/BG.jpg");
    EXPECT_EQ(upper.Status, 200);
    EXPECT_EQ(upper.Body, lower.Body);
    EXPECT_EQ(upper.Header("Set-Cookie"),
              std::optional<std::string>("Last-Modified=" + StartTimeText() + "; path=/BG.jpg"));

    const THttpAnswer suffix = Get("/bg.JPG");
    EXPECT_EQ(suffix.Status, 501);
    EXPECT_EQ(LastRecord().Text, "127.0.0.1 /bg.JPGが見つかりませんでした。");
}

TEST_F(ServerRequests, StatusMarksAreServedLikeTheCatalogue) {
    for (const char* name : {"/poweron.jpg", "/huzaired.jpg", "/0y.jpg", "/1r.jpg"}) {
        const THttpAnswer answer = Get(name);
        EXPECT_EQ(answer.Status, 200) << name;
        EXPECT_EQ(answer.Header("Content-Type"), std::optional<std::string>("image/jpeg")) << name;
        EXPECT_EQ(answer.Body.substr(0, 2), "\xFF\xD8") << name;
        EXPECT_TRUE(answer.Header("ETag")) << name;
    }
}

TEST_F(ServerRequests, UnknownImageGets404AndAWarningLineOnly) {
    const THttpAnswer answer = Get("/nosuch.jpg");
    EXPECT_EQ(answer.Status, 404);
    EXPECT_EQ(answer.Body, "");
    EXPECT_FALSE(answer.Header("Set-Cookie"));

    EXPECT_EQ(RecordBeforeLast().Level, "情報　 ");
    EXPECT_EQ(RecordBeforeLast().Text, "127.0.0.1 /nosuch.jpg");
    EXPECT_EQ(LastRecord().Level, "警告　 ");
    EXPECT_EQ(LastRecord().Text, "127.0.0.1 /nosuch.jpgが見つかりませんでした。");
    EXPECT_EQ(Server.EventText().find("nosuch"), std::string::npos);
}

TEST_F(ServerRequests, UnknownPathsGet501AndAWarningLine) {
    for (const char* path : {"/robots.txt", "/keiziban/", "/KEIZIBAN"}) {
        const THttpAnswer answer = Get(path);
        EXPECT_EQ(answer.Status, 501) << path;
        EXPECT_EQ(answer.Header("Content-Type"), std::optional<std::string>("text/html; charset=SJIS")) << path;
        EXPECT_EQ(answer.Body, "") << path;
        EXPECT_EQ(LastRecord().Level, "警告　 ") << path;
        EXPECT_EQ(LastRecord().Text, std::string("127.0.0.1 ") + path + "が見つかりませんでした。");
    }
}

TEST_F(ServerRequests, LineBreaksInAPathCannotForgeLogLines) {
    const size_t before = Files.LogRecords().size();
    EXPECT_EQ(Get("/x%0D%0A2026/01/01%2000:00:00%20forged.jpg").Status, 404);
    const std::vector<TLogRecord> records = Files.LogRecords();
    ASSERT_EQ(records.size(), before + 2);
    EXPECT_EQ(records[before].Text, "127.0.0.1 /x%0D%0A2026/01/01 00:00:00 forged.jpg");
    EXPECT_EQ(records[before + 1].Text, "127.0.0.1 /x%0D%0A2026/01/01 00:00:00 forged.jpgが見つかりませんでした。");
}

TEST_F(ServerRequests, FailingPageGets500AndAnErrorEntry) {
    const THttpAnswer answer = Get("/uframe?user=nobody");
    EXPECT_EQ(answer.Status, 500);
    // A page saying what failed, not the blank frame a body-less 500 leaves.
    EXPECT_NE(answer.Body.find(
                  "リクエストの処理中にエラーが発生しました。<BR><BR>\r\n      存在しないユーザ情報を要求されました。"),
              std::string::npos)
        << answer.Body;
    EXPECT_EQ(answer.Header("Content-Length"), std::to_string(answer.Body.size()));
    EXPECT_EQ(answer.Header("Content-Type"), std::optional<std::string>("text/html; charset=SJIS"));

    const std::string text =
        "127.0.0.1 /uframeリクエストの処理中にエラーが発生しました。存在しないユーザ情報を要求されました。";
    EXPECT_EQ(LastRecord().Level, "エラー ");
    EXPECT_EQ(LastRecord().Text, text);
    EXPECT_NE(Server.EventText().find("QUOR error: " + Cp932ToUtf8(text, TBadBytes::Replace) + "\n"),
              std::string::npos);
    // The server goes on serving.
    EXPECT_EQ(Get("/keiziban").Status, 200);
}

TEST_F(ServerRequests, PagesAreShiftJisHtmlAndEveryRequestIsLogged) {
    const THttpAnswer board = Get("/keiziban?furiganaFilter=a&groupFilter=");
    EXPECT_EQ(board.Status, 200);
    EXPECT_EQ(board.Header("Content-Type"), std::optional<std::string>("text/html; charset=SJIS"));
    EXPECT_NE(board.Body.find("<"), std::string::npos);
    EXPECT_FALSE(board.Header("ETag"));
    EXPECT_EQ(LastRecord().Text, "127.0.0.1 /keiziban");
    // Until the next rescan, the same board.
    EXPECT_EQ(Get("/keiziban?furiganaFilter=a&groupFilter=").Body, board.Body);
}

}  // namespace
