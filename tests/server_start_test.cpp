// Start-up of the whole server: the log it writes and the exit code it ends with.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/event_sink.h"
#include "platform/sjis_text.h"
#include "tests/server_harness.h"

namespace {

using ::testing::ElementsAreArray;

const char* const Starting = "サービスの起動処理を開始しました。";
const char* const Started = "サービスの起動を完了しました。";
const char* const Abandoned = "処理を継続できません。サービスを異常終了します。";

std::vector<std::string> StartLines(const TServerFiles& files) {
    return {
        Starting,
        "サーバ名は、Quorwell 0.7です。",
        "Kavel達の環境は、" + files.Office() + "を参照します。",
        "Kavel達が使用しているポート番号は、19900です。",
        "HTTPリクエストの待ち受けポート番号として、" + std::to_string(files.Port()) + "を開きました。",
        Started,
    };
}

// Runs a start that must fail and returns the records it left.
std::vector<TLogRecord> FailedStart(TServerFiles& files) {
    TServerProcess server(files);
    EXPECT_FALSE(server.WaitReady());
    EXPECT_EQ(server.WaitExit(), std::optional<int>(1));
    return files.LogRecords();
}

void ExpectAbandonedWith(const std::vector<TLogRecord>& records, const std::string& error) {
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].Text, Starting);
    EXPECT_EQ(records[1].Level, "エラー ");
    EXPECT_EQ(records[1].Text, "次のエラーが発生しました。" + error);
    EXPECT_EQ(records[2].Level, "情報　 ");
    EXPECT_EQ(records[2].Text, Abandoned);
}

TEST(ServerStart, LogsTheStartInOrderServesAndStopsWithExitCodeZero) {
    TServerFiles files;
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady());

    EXPECT_THAT(files.LogTexts(), ElementsAreArray(StartLines(files)));
    for (const TLogRecord& r : files.LogRecords()) EXPECT_EQ(r.Level, "情報　 ") << r.Text;
    // The event log got the same messages, in UTF-8.
    EXPECT_NE(server.EventText().find("QUOR information: " + Cp932ToUtf8(Started, TBadBytes::Replace)),
              std::string::npos);
    EXPECT_EQ(HttpGet(files.Port(), "/").Status, 200);

    server.Signal(SIGTERM);
    EXPECT_EQ(server.NextNotification(), "STOPPING=1");
    EXPECT_EQ(server.WaitExit(), std::optional<int>(0));
    const std::vector<std::string> texts = files.LogTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "サービスの停止処理を開始しました。");
    EXPECT_EQ(texts.back(), "サービスの停止を完了しました。");
    EXPECT_TRUE(ConnectionRefused(files.Port()));
}

TEST(ServerStart, SigintStopsLikeSigterm) {
    TServerFiles files;
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady());
    server.Signal(SIGINT);
    EXPECT_EQ(server.WaitExit(), std::optional<int>(0));
    EXPECT_EQ(files.LogTexts().back(), "サービスの停止を完了しました。");
}

TEST(ServerStart, MissingQuorIniEndsWithExitCodeOne) {
    TServerFiles files;
    files.RemoveFile(files.Home() + "quor.ini");
    ExpectAbandonedWith(FailedStart(files), "以下のパスに初期化ファイルがありません。\r\n" + files.Home() + "quor.ini");
}

TEST(ServerStart, MissingKavelIniEndsWithExitCodeOne) {
    TServerFiles files;
    files.RemoveFile(files.Office() + "kavel.ini");
    ExpectAbandonedWith(FailedStart(files), files.Office() + "kavel.iniが見つかりません");
}

TEST(ServerStart, DirectoryWithoutTrailingSeparatorServesTheSame) {
    TServerFiles files;
    std::string directory = files.Office();
    directory.pop_back();
    files.WriteQuorIni("QUOR_CommonDirectory=" + directory + "\r\n");
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady());
    EXPECT_THAT(files.LogTexts(), ElementsAreArray(StartLines(files)));
}

TEST(ServerStart, PortInUseEndsWithExitCodeOne) {
    TServerFiles files;
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(files.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);

    const std::vector<TLogRecord> records = FailedStart(files);
    ::close(holder);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].Level, "エラー ");
    EXPECT_EQ(records[1].Text.rfind("次のエラーが発生しました。", 0), 0u) << records[1].Text;
    EXPECT_NE(records[1].Text.find(std::to_string(files.Port())), std::string::npos) << records[1].Text;
    EXPECT_EQ(records[2].Text, Abandoned);
}

}  // namespace
