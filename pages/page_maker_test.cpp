#include "pages/page_maker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "http/http_response_info.h"
#include "log/event_log.h"
#include "pages/page_test_office.h"
#include "platform/event_sink.h"

namespace {

TEST(MakeLink, WithAndWithoutTarget) {
    EXPECT_EQ(MakeLink("あ", "JavaScript:clickFurigana('a')", ""), "<A HREF=\"JavaScript:clickFurigana('a')\" >あ</A>");
    EXPECT_EQ(MakeLink("<B>x</B>", "uframe?user=tanaka", "uframe"),
              "<A HREF=\"uframe?user=tanaka\" TARGET=\"uframe\"><B>x</B></A>");
}

class PageMaker : public ::testing::Test {
protected:
    void SetUp() override {
        office.WriteStandardOffice();
        office.Open();
    }

    struct TAnswer {
        bool Routed;
        int Status;
        std::string ContentType;
        std::string Body;
        const char* BodyData;  // where the bytes live, to tell a shared buffer
    };
    TAnswer Get(const std::string& target) { return Send(TPageTestOffice::Request(target, "127.0.0.9")); }
    TAnswer Send(const TIdHTTPRequestInfo& request) {
        TIdHTTPResponseInfo response("Quorwell 0.7");
        const bool routed = office.Maker().MakePage(request, response);
        const std::string_view body = response.Body();
        return {routed, response.StatusCode, response.ContentType, std::string(body), body.data()};
    }
    std::string LogText() { return logHome.Read("QUOR.LOG"); }

    TPageTestOffice office;
    TTestTempDir logHome;
    TCapturingEventSink sink;
    TLogger logger{logHome.Dir(), office.Clock, sink};
    TScopedLogger installed{logger};
};

TEST_F(PageMaker, RoutesTheKnownPaths) {
    const TAnswer frameset = Get("/");
    EXPECT_TRUE(frameset.Routed);
    EXPECT_EQ(frameset.Status, 200);
    EXPECT_EQ(frameset.ContentType, "text/html; charset=SJIS");
    EXPECT_EQ(frameset.Body.substr(0, 50),
              office.Maker().MakeFramesetPage(TPageTestOffice::Request("/")).substr(0, 50));
    EXPECT_NE(frameset.Body.find("<FRAME NAME=\"keiziban\""), std::string::npos);
    EXPECT_NE(Get("/controls").Body.find("clickFurigana"), std::string::npos);
    EXPECT_NE(Get("/keiziban").Body.find("<SPAN CLASS=\"Site\">テスト掲示板</SPAN>"), std::string::npos);
    EXPECT_NE(Get("/uframe?user=tanaka").Body.find("uopmenu?user=tanaka"), std::string::npos);
    EXPECT_EQ(LogText(), "");
}

TEST_F(PageMaker, UnknownPathsAre501WithOneWarningLine) {
    for (const char* target : {"/Keiziban", "/keiziban/", "/favicon.ico", "/uframe/x", "/CONTROLS?x=1"}) {
        const TAnswer answer = Get(target);
        EXPECT_FALSE(answer.Routed) << target;
        EXPECT_EQ(answer.Status, 501) << target;
        EXPECT_EQ(answer.Body, "") << target;
        EXPECT_EQ(answer.ContentType, "text/html; charset=SJIS") << target;
    }
    EXPECT_EQ(LogText(),
              "2020/12/07 09:05:03 警告　 127.0.0.9 /Keizibanが見つかりませんでした。\r\n"
              "2020/12/07 09:05:03 警告　 127.0.0.9 /keiziban/が見つかりませんでした。\r\n"
              "2020/12/07 09:05:03 警告　 127.0.0.9 /favicon.icoが見つかりませんでした。\r\n"
              "2020/12/07 09:05:03 警告　 127.0.0.9 /uframe/xが見つかりませんでした。\r\n"
              "2020/12/07 09:05:03 警告　 127.0.0.9 /CONTROLSが見つかりませんでした。\r\n");
    EXPECT_TRUE(sink.Entries().empty()) << "the event log is not written";
}

TEST_F(PageMaker, ControlBytesOfAnUnknownPathCannotForgeLogLines) {
    TIdHTTPRequestInfo request = TPageTestOffice::Request("/x", "127.0.0.9");
    request.DocumentPath = "/x\r\n2020/12/07 09:05:03 情報　 forged";
    EXPECT_EQ(Send(request).Status, 501);
    EXPECT_EQ(LogText(),
              "2020/12/07 09:05:03 警告　 127.0.0.9 /x%0D%0A2020/12/07 09:05:03 情報　 forged"
              "が見つかりませんでした。\r\n");
}

TEST_F(PageMaker, CacheHitsAreTheStoredBytesUntilARescan) {
    const TAnswer first = Get("/keiziban?furiganaFilter=s&groupFilter=");
    const TAnswer again = Get("/keiziban?furiganaFilter=s&groupFilter=");
    EXPECT_EQ(again.Body, first.Body);
    EXPECT_EQ(again.BodyData, first.BodyData) << "served from the cache's buffer, not rebuilt";
    EXPECT_NE(first.Body.find("9時5分3秒"), std::string::npos);

    // A person's change stays unseen until the rescan; the rescan rebuilds.
    TTestPerson sato = TPageTestOffice::Sato();
    sato.Name = "佐藤花代";
    office.AddPerson(sato);
    office.Clock.Advance(10.0 / 86400);  // within the reload interval
    EXPECT_EQ(Get("/keiziban?furiganaFilter=s&groupFilter=").Body, first.Body);

    office.Rescan();
    const TAnswer rebuilt = Get("/keiziban?furiganaFilter=s&groupFilter=");
    EXPECT_NE(rebuilt.Body.find("佐藤花代"), std::string::npos);
    EXPECT_NE(rebuilt.Body.find("9時5分14秒"), std::string::npos);
    EXPECT_EQ(office.Cache.Count(), 1u) << "rebuilt in place";

    // The reload interval passing also rescans.
    office.Clock.Advance(2.0 / (24 * 60));
    EXPECT_NE(Get("/keiziban?furiganaFilter=s&groupFilter=").Body.find("9時7分14秒"), std::string::npos);
}

TEST_F(PageMaker, CacheKeysFollowThePathAndTheRawQuery) {
    Get("/keiziban?furiganaFilter=k");
    Get("/keiziban?furiganaFilter=s");
    Get("/keiziban?furiganaFilter=s");
    Get("/keiziban");
    Get("/keiziban?groupFilter=%89c%8B%C6&furiganaFilter=");  // same board, other order
    Get("/keiziban?furiganaFilter=&groupFilter=%89c%8B%C6");
    Get("/keiziban?furiganaFilter=&groupFilter=%89c%8b%c6");  // differs in hex case only
    Get("/controls");
    Get("/");
    Get("/uframe?user=tanaka");  // not cached
    EXPECT_EQ(office.Cache.Keys(), (std::vector<std::string>{
                                       "/keizibanfuriganaFilter=k",
                                       "/keizibanfuriganaFilter=s",
                                       "/keiziban",
                                       "/keizibangroupFilter=%89c%8B%C6&furiganaFilter=",
                                       "/keizibanfuriganaFilter=&groupFilter=%89c%8B%C6",
                                       "/controls",
                                       "/",
                                   }));
    EXPECT_NE(Get("/keiziban?furiganaFilter=k").Body, Get("/keiziban?furiganaFilter=s").Body);
}

TEST_F(PageMaker, ValuesThatDifferInLetterCaseAreDifferentPages) {
    // The kana letter and group names are compared exactly, so the cache must
    // not hand the board of one spelling to the other.
    const std::string lower = Get("/keiziban?furiganaFilter=s").Body;
    const std::string upper = Get("/keiziban?furiganaFilter=S").Body;
    EXPECT_NE(lower, upper);
    EXPECT_NE(upper.find("uframe?user=tanaka"), std::string::npos) << "an upper-case letter filters nothing";
    EXPECT_EQ(lower.find("uframe?user=tanaka"), std::string::npos);
    // Parameter names ignore case, and so does the entry.
    EXPECT_EQ(Get("/keiziban?FURIGANAFILTER=s").BodyData, Get("/keiziban?furiganaFilter=s").BodyData);
    EXPECT_EQ(office.Cache.Count(), 2u);
}

TEST_F(PageMaker, ConcurrentRequestsWithRescansServeWholePages) {
    const std::vector<std::string> targets = {"/", "/controls", "/keiziban", "/keiziban?furiganaFilter=t",
                                              "/uframe?user=sato"};
    std::atomic<bool> bad{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 60; ++i) {
                const TAnswer a = Get(targets[static_cast<size_t>(i + t) % targets.size()]);
                if (!a.Routed || a.Body.rfind("<HTML>", 0) != 0 || a.Body.size() < 7 ||
                    a.Body.compare(a.Body.size() - 7, 7, "</HTML>") != 0)
                    bad = true;
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 20; ++i) office.Rescan();
    });
    for (std::thread& thread : threads) thread.join();
    EXPECT_FALSE(bad);
    EXPECT_EQ(office.Cache.Count(), 4u);
}

}  // namespace
