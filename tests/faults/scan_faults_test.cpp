// A person file that a client holds locked, or that cannot be read, while
// the directory is scanned: the scan leaves that person out and goes on,
// without waiting for the holder as writers do, and the next scan finds the
// person again. A write to a held file waits for the holder.

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "tests/server_harness.h"
#include "tests/soak/office_tuning.h"

namespace {

const std::string Yamada = "山田 太郎";
const std::string Aoki = "青木 一郎";

// A client's exclusive lock on a file, let go on Release or once patienceMs
// have passed.
class THeldFile {
public:
    THeldFile(const std::string& path, int patienceMs) : Fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        EXPECT_GE(Fd_, 0);
        EXPECT_EQ(::flock(Fd_, LOCK_EX), 0);
        Releaser_ = std::thread([this, patienceMs] {
            std::unique_lock<std::mutex> hold(M_);
            Cv_.wait_for(hold, std::chrono::milliseconds(patienceMs), [this] { return Released_; });
            ::close(Fd_);
            Released_ = true;
        });
    }
    ~THeldFile() { Release(); }
    THeldFile(const THeldFile&) = delete;
    THeldFile& operator=(const THeldFile&) = delete;

    // True when the file was still held, i.e. patience had not run out.
    bool Release() {
        bool held = false;
        {
            std::lock_guard<std::mutex> hold(M_);
            held = !Released_;
            Released_ = true;
        }
        Cv_.notify_all();
        if (Releaser_.joinable()) Releaser_.join();
        return held;
    }

private:
    int Fd_;
    std::mutex M_;
    std::condition_variable Cv_;
    bool Released_ = false;
    std::thread Releaser_;
};

// Root reads any file whatever its mode. Run as root, this process gives up
// passing that right on, so the servers it starts from here on are held to
// the modes like anybody else. False when it cannot.
bool ServersHonourFileModes() {
    if (::geteuid() != 0) return true;
    return ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) == 0 &&
           ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) == 0;
}

class PersonFileScan : public ::testing::Test {
protected:
    // Every request scans the directory, and nothing else does: a rescan
    // the change detector runs meanwhile would answer a request from the
    // list before this very scan.
    void SetUp() override {
        HonoursFileModes = ServersHonourFileModes();
        SetKavelIniLine(Files, "QUOR_Interval", "QUOR_Interval,ReloadAllFile=0");
        SetKavelIniLine(Files, "QUOR_Watch", "QUOR_Watch,Mode=off");
        Server.emplace(Files);
        ASSERT_TRUE(Server->WaitReady()) << Server->EventText();
    }

    std::string Board() {
        const THttpAnswer board = HttpGet(Files.Port(), "/keiziban");
        EXPECT_EQ(board.Status, 200);
        EXPECT_NE(board.Body.find(Aoki), std::string::npos) << "the scan stopped at the bad file";
        return board.Body;
    }
    // The user frame is never cached: its status tells what this very scan found.
    int UserFrame() { return HttpGet(Files.Port(), "/uframe?user=yamada").Status; }
    std::string PersonFile() const { return Files.Office() + "yamada.kvl"; }

    TServerFiles Files;
    std::optional<TServerProcess> Server;
    bool HonoursFileModes = false;
};

// The board is first asked for while the file is held, so that it is built
// from that scan and no earlier one. The holder lets go on its own after 4 s,
// sooner than a writer gives up (5 s): a scan that waited like a writer would
// read the file and show the person.
TEST_F(PersonFileScan, ALockedFileIsLeftOutAndComesBackAtTheNextScan) {
    ASSERT_EQ(UserFrame(), 200);
    const std::string before = ReadBytes(PersonFile()).value_or("");
    // Saved again by its client, so the scan has to read it; an unchanged
    // file keeps its record without being read.
    std::ofstream(PersonFile(), std::ios::binary | std::ios::trunc) << before;

    THeldFile held(PersonFile(), 4000);
    EXPECT_EQ(Board().find(Yamada), std::string::npos);
    // The person's own window, opened meanwhile, says why it cannot be shown.
    const THttpAnswer frame = HttpGet(Files.Port(), "/uframe?user=yamada");
    EXPECT_EQ(frame.Status, 500);
    EXPECT_NE(frame.Body.find("存在しないユーザ情報を要求されました。"), std::string::npos) << frame.Body;
    EXPECT_TRUE(held.Release()) << "the requests waited for the client to let go of the file";

    EXPECT_EQ(UserFrame(), 200);
    EXPECT_NE(Board().find(Yamada), std::string::npos);
    EXPECT_EQ(ReadBytes(PersonFile()), before);
}

TEST_F(PersonFileScan, AnUnreadableFileIsLeftOutAndComesBackAtTheNextScan) {
    if (!HonoursFileModes) GTEST_SKIP() << "running as root without the right to give up reading every file";
    ASSERT_EQ(UserFrame(), 200);
    ASSERT_EQ(::chmod(PersonFile().c_str(), 0), 0);
    EXPECT_EQ(UserFrame(), 500);
    EXPECT_EQ(Board().find(Yamada), std::string::npos);
    ASSERT_EQ(::chmod(PersonFile().c_str(), 0644), 0);
    EXPECT_EQ(UserFrame(), 200);
}

// The board rescans at the interval only, so the person stays listed while a
// client holds the file; an absence submit then waits for the client to let
// go instead of failing.
class HeldPersonFileWrite : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Server.WaitReady()) << Server.EventText(); }

    TServerFiles Files;
    TServerProcess Server{Files};
};

TEST_F(HeldPersonFileWrite, AnAbsenceSubmitWaitsForTheClientToLetGo) {
    const std::string reason = "[held-absence]";
    ASSERT_EQ(HttpGet(Files.Port(), "/uframe?user=yamada").Status, 200);
    {
        THeldFile held(Files.Office() + "yamada.kvl", 300);
        const THttpAnswer submit =
            HttpGet(Files.Port(),
                    "/uhuzaisetsubmit?user=yamada&modoritype=nolimit&statusicon=1&huzairiyu=" + PercentEncode(reason));
        EXPECT_EQ(submit.Status, 200) << submit.Body;
    }
    EXPECT_EQ(CountOf(ReadBytes(Files.Office() + "yamada.kvl").value_or(""), reason), 1u);
    EXPECT_EQ(CountOf(HttpGet(Files.Port(), "/uinfo?user=yamada").Body, reason), 1u);
}

}  // namespace
