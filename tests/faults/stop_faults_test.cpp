// A stop while answers are in flight: a large page already on its way is
// finished (within the drain bound) and the stop is clean; a handler that
// never returns is cut after that bound, the process still ends soon after,
// and its exit code says the stop was not clean.

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>  // also the clocks; <chrono> itself does not compile for CP932

#include <gtest/gtest.h>

#include "tests/server_harness.h"
#include "tests/soak/office_tuning.h"

namespace {

using TSteady = std::chrono::steady_clock;
constexpr auto DrainBound = std::chrono::seconds(3);

// A message file of about size bytes, in entries as the server writes them.
std::string MessageFile(size_t size) {
    const std::string entry =
        "○送信者(伝言)    送信日時:2026年12月08日(火) 10時15分30秒\r\n"
        "打ち合わせは三時からに変更になりました。資料は共有フォルダにあります。\r\n\r\n";
    std::string out;
    out.reserve(size + entry.size());
    while (out.size() < size) out += entry;
    return out;
}

// Bytes until the peer closes, taking at most chunk bytes per pause.
std::string ReadSlowly(int fd, size_t chunk, std::chrono::milliseconds pause) {
    std::string got;
    std::string buffer(chunk, '\0');
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        got.append(buffer.data(), static_cast<size_t>(n));
        std::this_thread::sleep_for(pause);
    }
    return got;
}

size_t ContentLength(const std::string& answer) {
    const size_t at = answer.find("Content-Length: ");
    return at == std::string::npos ? 0 : std::stoul(answer.substr(at + 16));
}

TEST(StopFaults, AnAnswerInFlightIsFinishedAndTheStopIsClean) {
    TServerFiles files;
    ReplaceBytes(files.Office() + "yamada.mil", MessageFile(8u << 20));
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady()) << server.EventText();

    const int fd = OpenRequest(files.Port(), "/udengoncheck?user=yamada");
    std::string answer(4096, '\0');
    const ssize_t first = ::recv(fd, answer.data(), answer.size(), MSG_WAITALL);
    ASSERT_GT(first, 0);
    answer.resize(static_cast<size_t>(first));
    const auto stop = TSteady::now();
    server.Signal(SIGTERM);
    // About 1.5 s for the rest: slow, but well within the bound.
    answer += ReadSlowly(fd, 64 * 1024, std::chrono::milliseconds(10));
    ::close(fd);

    const size_t head = answer.find("\r\n\r\n") + 4;
    EXPECT_GT(ContentLength(answer), 8u << 20);
    EXPECT_EQ(answer.size() - head, ContentLength(answer)) << "the answer was cut by the stop";
    EXPECT_EQ(server.WaitExit(), std::optional<int>(0));
    EXPECT_LT(TSteady::now() - stop, DrainBound + std::chrono::seconds(1));
    EXPECT_EQ(files.LogTexts().back(), "サービスの停止を完了しました。");
}

// The message file is a pipe nobody writes: its handler never returns.
TEST(StopFaults, AHandlerThatNeverReturnsIsCutAfterTheBoundAndTheExitCodeSaysSo) {
    TServerFiles files;
    const std::string pipe = files.Office() + "yamada.mil";
    ::unlink(pipe.c_str());
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady()) << server.EventText();

    const int fd = OpenRequest(files.Port(), "/udengoncheck?user=yamada");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // The stuck page holds no worker: the board is answered meanwhile.
    EXPECT_EQ(HttpGet(files.Port(), "/keiziban").Status, 200);
    const auto stop = TSteady::now();
    server.Signal(SIGTERM);
    const std::optional<int> code = server.WaitExit();
    const auto took = TSteady::now() - stop;
    ::close(fd);

    EXPECT_EQ(code, std::optional<int>(1));
    EXPECT_LT(took, DrainBound + std::chrono::seconds(1));
    EXPECT_GE(took, DrainBound);
    EXPECT_EQ(files.CountLog("停止処理を継続できません。サービスを異常終了します。"), 1);
}

}  // namespace
