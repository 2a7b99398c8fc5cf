// A person file that a client holds locked, or that cannot be read, while
// the directory is scanned: the scan leaves that person out and goes on, and
// the next scan finds the person again.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include <gtest/gtest.h>

#include "tests/server_harness.h"
#include "tests/soak/office_tuning.h"

namespace {

const std::string Yamada = "山田 太郎";
const std::string Aoki = "青木 一郎";

class PersonFileScan : public ::testing::Test {
protected:
    // Every request scans the directory.
    void SetUp() override {
        SetKavelIniLine(Files, "QUOR_Interval", "QUOR_Interval,ReloadAllFile=0");
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
};

// The board is first asked for while the file is held, so that it is built
// from that scan and no earlier one.
TEST_F(PersonFileScan, ALockedFileIsLeftOutAndComesBackAtTheNextScan) {
    ASSERT_EQ(UserFrame(), 200);
    const std::string before = ReadBytes(PersonFile()).value_or("");

    const int fd = ::open(PersonFile().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_EQ(Board().find(Yamada), std::string::npos);
    ::close(fd);

    EXPECT_EQ(UserFrame(), 200);
    EXPECT_NE(Board().find(Yamada), std::string::npos);
    EXPECT_EQ(ReadBytes(PersonFile()), before);
}

TEST_F(PersonFileScan, AnUnreadableFileIsLeftOutAndComesBackAtTheNextScan) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads a file whatever its mode (the locked case runs as root)";
    ASSERT_EQ(UserFrame(), 200);
    ASSERT_EQ(::chmod(PersonFile().c_str(), 0), 0);
    EXPECT_EQ(UserFrame(), 500);
    EXPECT_EQ(Board().find(Yamada), std::string::npos);
    ASSERT_EQ(::chmod(PersonFile().c_str(), 0644), 0);
    EXPECT_EQ(UserFrame(), 200);
}

}  // namespace
