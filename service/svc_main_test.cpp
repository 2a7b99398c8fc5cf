#include "service/svc_main.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "data/kavel_env.h"
#include "http/http_server.h"
#include "log/event_log.h"
#include "pages/contents_cache.h"
#include "platform/event_sink.h"
#include "platform/tcp_socket.h"
#include "platform/test_temp_dir.h"

namespace {

bool Accepts(std::uint16_t port) {
    try {
        TTcpSocket::Connect("127.0.0.1", port);
        return true;
    } catch (const ESocketError&) {
        return false;
    }
}

class SvcMainTest : public ::testing::Test {
protected:
    SvcMainTest() : Clock(EncodeDate(2026, 12, 8) + EncodeTime(9, 5, 7, 600)), Logger(Temp.Dir(), Clock, Sink) {
        Temp.Write("kavel.ini", "QUOR_Port=8080\r\nUDPMessage,Port=19901\r\n");
        Temp.Write("quor.ini", "QUOR_CommonDirectory=" + Temp.Dir() + "\r\n");
        Service.ListenPortOverride = 0;
    }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const TEventEntry& e : Sink.Entries()) texts.push_back(e.Text);
        return texts;
    }
    // Starts and forgets the start lines.
    void StartOrFail() {
        bool started = false;
        Service.ServiceStart(started);
        ASSERT_TRUE(started);
        Port = Service.HttpServer->BoundPort();
        Seen = Sink.Entries().size();
    }
    std::vector<std::string> NewTexts() const {
        const std::vector<std::string> all = Texts();
        return std::vector<std::string>(all.begin() + static_cast<long>(Seen), all.end());
    }

    TTestTempDir Temp;
    TFixedClock Clock;
    TCapturingEventSink Sink;
    TLogger Logger;
    TScopedLogger Installed{Logger};
    TSvcMain Service{Temp.Dir(), Clock};
    std::uint16_t Port = 0;
    size_t Seen = 0;
};

TEST(StartTimeText, IsTheLocalTimeToTheSecondWithoutBlanks) {
    EXPECT_EQ(TSvcMain::StartTimeTextOf(EncodeDate(2026, 12, 8) + EncodeTime(10, 15, 30, 999)), "2026/12/08-10:15:30");
    EXPECT_EQ(TSvcMain::StartTimeTextOf(EncodeDate(2027, 1, 2) + EncodeTime(0, 0, 0, 0)), "2027/01/02-00:00:00");
}

TEST_F(SvcMainTest, StartBringsUpEverythingAndLogsInOrder) {
    StartOrFail();
    EXPECT_EQ(Service.StartTimeText, "2026/12/08-09:05:07");
    ASSERT_TRUE(Service.Env && Service.ContentsCache && Service.HttpServer);
    EXPECT_TRUE(Service.HttpServer->Active());
    EXPECT_EQ(Service.HttpServer->ServerSoftware, "Quorwell 0.7");
    EXPECT_NE(Port, 0);
    EXPECT_TRUE(Accepts(Port));
    EXPECT_EQ(Texts(), (std::vector<std::string>{
                           "サービスの起動処理を開始しました。",
                           "サーバ名は、Quorwell 0.7です。",
                           "Kavel達の環境は、" + Temp.Dir() + "を参照します。",
                           "Kavel達が使用しているポート番号は、19901です。",
                           "HTTPリクエストの待ち受けポート番号として、" + std::to_string(Port) + "を開きました。",
                           "サービスの起動を完了しました。",
                       }));
    for (const TEventEntry& e : Sink.Entries()) EXPECT_EQ(e.Type, TEventType::Information) << e.Text;
}

TEST_F(SvcMainTest, StopReleasesServerAndCacheButKeepsTheEnvironment) {
    StartOrFail();
    EXPECT_EQ(Service.HttpServer->DrainTimeoutMs, TSvcMain::StopWaitMs);
    bool stopped = false;
    Service.ServiceStop(stopped);
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(Service.StoppedCleanly());
    EXPECT_FALSE(Service.HttpServer);
    EXPECT_FALSE(Service.ContentsCache);
    EXPECT_TRUE(Service.Env);
    EXPECT_FALSE(Accepts(Port));
    EXPECT_EQ(NewTexts(),
              (std::vector<std::string>{"サービスの停止処理を開始しました。", "サービスの停止を完了しました。"}));
}

TEST_F(SvcMainTest, ShutdownStopsTheSameWay) {
    StartOrFail();
    Service.ServiceShutdown();
    EXPECT_FALSE(Service.HttpServer);
    EXPECT_EQ(NewTexts().back(), "サービスの停止を完了しました。");
}

TEST_F(SvcMainTest, PauseClosesTheListenerAndContinueReopensIt) {
    StartOrFail();
    TContentsCache* cache = Service.ContentsCache.get();
    const std::string startTime = Service.StartTimeText;
    bool paused = false;
    Service.ServicePause(paused);
    EXPECT_TRUE(paused);
    EXPECT_FALSE(Service.HttpServer->Active());
    EXPECT_FALSE(Accepts(Port));

    bool continued = false;
    Service.ServiceContinue(continued);
    EXPECT_TRUE(continued);
    EXPECT_TRUE(Service.HttpServer->Active());
    // The same data and validator as before the pause.
    EXPECT_EQ(Service.ContentsCache.get(), cache);
    EXPECT_EQ(Service.StartTimeText, startTime);
    EXPECT_EQ(NewTexts(), (std::vector<std::string>{"サービスを一時停止しました。", "サービスを再開しました。"}));
}

// Each failure: the start line, the error, the abandonment, and nothing started.
class SvcMainStartFailure : public SvcMainTest {
protected:
    void ExpectFailedWith(const std::string& error) {
        bool started = true;
        Service.ServiceStart(started);
        EXPECT_FALSE(started);
        const std::vector<TEventEntry> entries = Sink.Entries();
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].Text, "サービスの起動処理を開始しました。");
        EXPECT_EQ(entries[1].Type, TEventType::Error);
        EXPECT_EQ(entries[1].Text, "次のエラーが発生しました。" + error);
        EXPECT_EQ(entries[2].Type, TEventType::Information);
        EXPECT_EQ(entries[2].Text, "処理を継続できません。サービスを異常終了します。");
        EXPECT_TRUE(!Service.HttpServer || !Service.HttpServer->Active());
    }
};

TEST_F(SvcMainStartFailure, MissingQuorIni) {
    std::remove(Temp.File("quor.ini").c_str());
    ExpectFailedWith("以下のパスに初期化ファイルがありません。\r\n" + Temp.File("quor.ini"));
}

TEST_F(SvcMainStartFailure, MissingKavelIni) {
    std::remove(Temp.File("kavel.ini").c_str());
    ExpectFailedWith(Temp.File("kavel.ini") + "が見つかりません");
}

TEST_F(SvcMainTest, UnusablePortIsAWarningNamingThePortUsedInstead) {
    // 65536 + 8080 would be port 8080 once cut to 16 bits.
    Temp.Write("kavel.ini", "QUOR_Port=73616\r\n");
    StartOrFail();
    const std::vector<std::string> all = Texts();
    EXPECT_NE(std::find(all.begin(), all.end(),
                        "kavel.iniのQUOR_Port=73616はポート番号として使えません。ポート80を使います。"),
              all.end());
    bool stopped = false;
    Service.ServiceStop(stopped);
}

TEST_F(SvcMainStartFailure, StopAfterAFailedStartStillCompletes) {
    std::remove(Temp.File("quor.ini").c_str());
    bool started = true;
    Service.ServiceStart(started);
    ASSERT_FALSE(started);
    bool stopped = false;
    Service.ServiceStop(stopped);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(Texts().back(), "サービスの停止を完了しました。");
}

TEST_F(SvcMainTest, RunsUnderTheServiceHostToExitCodeZero) {
    TServiceHost host(Service, ServiceName, [](const std::string&, const std::string&) {});
    host.SetHandleSignals(false);
    host.SetNotifier([](const std::string&) {});
    host.Post(TServiceControl::Pause);
    host.Post(TServiceControl::Continue);
    host.Post(TServiceControl::Stop);
    EXPECT_EQ(host.Run(), 0);
    const std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 10u);
    EXPECT_EQ(texts[6], "サービスを一時停止しました。");
    EXPECT_EQ(texts[7], "サービスを再開しました。");
    EXPECT_EQ(texts[9], "サービスの停止を完了しました。");
}

TEST_F(SvcMainTest, FailedStartUnderTheServiceHostIsExitCodeOne) {
    std::remove(Temp.File("kavel.ini").c_str());
    TServiceHost host(Service, ServiceName, [](const std::string&, const std::string&) {});
    host.SetHandleSignals(false);
    host.SetNotifier([](const std::string&) {});
    EXPECT_EQ(host.Run(), 1);
}

}  // namespace
