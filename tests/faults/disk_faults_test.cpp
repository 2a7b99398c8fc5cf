// Message send and absence submit when the common directory cannot take a
// write: a full disk and a read-only directory. The user gets an error page
// saying the request failed and why (an empty 500 leaves the browser's frame
// blank), every file stays as it was, the log names the file and the reason,
// and the same requests succeed once the directory takes writes again.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/faults/test_mounts.h"
#include "tests/server_harness.h"
#include "tests/soak/office_tuning.h"

namespace {

namespace fs = std::filesystem;

using TDirectoryBytes = std::map<std::string, std::string>;

TDirectoryBytes DirectoryBytes(const std::string& directory) {
    TDirectoryBytes bytes;
    for (const fs::directory_entry& e : fs::directory_iterator(directory))
        bytes[e.path().filename().string()] = ReadBytes(e.path().string()).value_or("<unreadable>");
    return bytes;
}

const std::string MessageToYamada = "[fault-message-1]";
const std::string MessageToMori = "[fault-message-2]";
const std::string AbsenceReason = "[fault-absence-1]";

// The three writes: a prepend to an existing message file, the first message
// to a person (a file to create), and an absence (a person file to replace).
struct TWriteAnswers {
    THttpAnswer ToYamada;
    THttpAnswer ToMori;
    THttpAnswer Absence;
};

TWriteAnswers SendTheThreeWrites(std::uint16_t port) {
    TWriteAnswers a;
    a.ToYamada = HttpGet(port, "/udengonsendresult?user=yamada&sender=fault&dengonmessage=" + MessageToYamada);
    a.ToMori = HttpGet(port, "/udengonsendresult?user=mori&sender=fault&dengonmessage=" + MessageToMori);
    a.Absence = HttpGet(
        port, "/uhuzaisetsubmit?user=aoki&modoritype=nolimit&statusicon=1&huzairiyu=" + PercentEncode(AbsenceReason));
    return a;
}

// Each failed write answers 500 with a Shift-JIS page that says so and names
// the file and the reason; nothing of the page that would have closed the
// window or told of success.
void ExpectErrorPages(const TWriteAnswers& answers, const std::string& office, const std::vector<int>& reasons) {
    const std::pair<const THttpAnswer*, std::string> pages[] = {{&answers.ToYamada, office + "yamada.mil"},
                                                                {&answers.ToMori, office + "mori.mil"},
                                                                {&answers.Absence, office + "aoki.kvl"}};
    for (const auto& [answer, path] : pages) {
        EXPECT_EQ(answer->Status, 500) << path;
        EXPECT_EQ(answer->Header("Content-Type"), "text/html; charset=SJIS") << path;
        EXPECT_EQ(answer->Header("Content-Length"), std::to_string(answer->Body.size())) << path;
        EXPECT_NE(answer->Body.find("<BODY>"), std::string::npos) << answer->Body;
        EXPECT_NE(answer->Body.find("リクエストの処理中にエラーが発生しました。"), std::string::npos) << answer->Body;
        EXPECT_NE(answer->Body.find(path), std::string::npos) << answer->Body;
        bool named = false;
        for (int reason : reasons) named = named || answer->Body.find(std::strerror(reason)) != std::string::npos;
        EXPECT_TRUE(named) << answer->Body;
        EXPECT_EQ(answer->Body.find("close()"), std::string::npos) << answer->Body;
        EXPECT_EQ(answer->Body.find("alert("), std::string::npos) << answer->Body;
    }
}

// The error records the three failed writes left, one naming each file.
void ExpectLoggedWhy(const TServerFiles& files, const std::string& office, const std::vector<int>& reasons) {
    const std::vector<TLogRecord> errors = ErrorRecords(files);
    ASSERT_EQ(errors.size(), 3u);
    const std::string paths[] = {office + "yamada.mil", office + "mori.mil", office + "aoki.kvl"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NE(errors[i].Text.find(paths[i]), std::string::npos) << errors[i].Text;
        bool named = false;
        for (int reason : reasons) named = named || errors[i].Text.find(std::strerror(reason)) != std::string::npos;
        EXPECT_TRUE(named) << errors[i].Text;
    }
}

// Once writable again: each write lands once, and the board shows the absence.
void ExpectTheWritesLand(const TServerFiles& files, const std::string& office) {
    const TWriteAnswers after = SendTheThreeWrites(files.Port());
    EXPECT_EQ(after.ToYamada.Status, 200);
    EXPECT_EQ(after.ToMori.Status, 200);
    EXPECT_EQ(after.Absence.Status, 200);
    EXPECT_EQ(CountOf(ReadBytes(office + "yamada.mil").value_or(""), MessageToYamada), 1u);
    EXPECT_EQ(CountOf(ReadBytes(office + "mori.mil").value_or(""), MessageToMori), 1u);
    EXPECT_EQ(CountOf(HttpGet(files.Port(), "/uinfo?user=aoki").Body, AbsenceReason), 1u);
}

class FullDisk : public ::testing::Test {
protected:
    std::string Disk() const { return Files.Path("disk/"); }
    std::string Office() const { return Disk() + "office/"; }
    std::string Filler() const { return Disk() + "filler"; }

    // Takes every byte left, down to the last page.
    void Fill() const {
        const int fd = ::open(Filler().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        const std::string block(65536, 'x');
        for (size_t chunk = block.size(); chunk > 0;)
            if (::write(fd, block.data(), chunk) < 0) chunk /= 2;
        ::close(fd);
        const int probe = ::open((Disk() + "probe").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(probe, 0);
        EXPECT_LT(::write(probe, "x", 1), 0) << "the disk is not full";
        ::close(probe);
        ::unlink((Disk() + "probe").c_str());
    }

    TServerFiles Files;
    TTestMounts Mounts;
    std::optional<TServerProcess> Server;
};

TEST_F(FullDisk, MessageSendAndAbsenceSubmitFailAndLeaveEveryFileAsItWas) {
    if (::geteuid() != 0) GTEST_SKIP() << "a full disk is a small tmpfs, and mounting one needs root";
    const std::string why = Mounts.Tmpfs(Disk(), 1 << 20);
    if (!why.empty()) GTEST_SKIP() << "no tmpfs for a full disk: " << why;
    fs::copy(Files.Office(), Office(), fs::copy_options::recursive);
    Files.WriteQuorIni("QUOR_CommonDirectory=" + Office() + "\r\n");
    Server.emplace(Files);
    ASSERT_TRUE(Server->WaitReady()) << Server->EventText();

    Fill();
    const TDirectoryBytes before = DirectoryBytes(Office());
    const TWriteAnswers answers = SendTheThreeWrites(Files.Port());
    ExpectErrorPages(answers, Office(), {ENOSPC});
    // Not a byte changed, no half-written or temporary file left behind.
    EXPECT_EQ(DirectoryBytes(Office()), before);
    ExpectLoggedWhy(Files, Office(), {ENOSPC});
    // Reading goes on, and the board shows nothing of the failed absence.
    EXPECT_EQ(HttpGet(Files.Port(), "/keiziban").Status, 200);
    const THttpAnswer info = HttpGet(Files.Port(), "/uinfo?user=aoki");
    EXPECT_EQ(info.Status, 200);
    EXPECT_EQ(info.Body.find(AbsenceReason), std::string::npos);

    ::unlink(Filler().c_str());
    ExpectTheWritesLand(Files, Office());
}

// Root writes through file modes, so it gets a read-only bind mount instead.
class ReadOnlyCommonDirectory : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Server.WaitReady()) << Server.EventText(); }

    // Empty when done, else why not.
    std::string MakeReadOnly() {
        if (::geteuid() == 0) return Mounts.ReadOnlyView(Files.Office());
        for (const fs::directory_entry& e : fs::directory_iterator(Files.Office()))
            fs::permissions(e.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                            fs::perm_options::remove);
        fs::permissions(Files.Office(), fs::perms::owner_write, fs::perm_options::remove);
        return {};
    }
    void MakeWritable() {
        if (::geteuid() == 0) return Mounts.UnmountAll();
        fs::permissions(Files.Office(), fs::perms::owner_write, fs::perm_options::add);
        for (const fs::directory_entry& e : fs::directory_iterator(Files.Office()))
            fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
    }

    TServerFiles Files;
    TTestMounts Mounts;
    TServerProcess Server{Files};
};

TEST_F(ReadOnlyCommonDirectory, MessageSendAndAbsenceSubmitFailAndLeaveEveryFileAsItWas) {
    const TDirectoryBytes before = DirectoryBytes(Files.Office());
    const std::string why = MakeReadOnly();
    if (!why.empty()) GTEST_SKIP() << "cannot make the directory read-only: " << why;

    const TWriteAnswers answers = SendTheThreeWrites(Files.Port());
    ExpectErrorPages(answers, Files.Office(), {EROFS, EACCES});
    EXPECT_EQ(DirectoryBytes(Files.Office()), before);
    ExpectLoggedWhy(Files, Files.Office(), {EROFS, EACCES});
    EXPECT_EQ(HttpGet(Files.Port(), "/keiziban").Status, 200);

    MakeWritable();
    ExpectTheWritesLand(Files, Files.Office());
}

}  // namespace
