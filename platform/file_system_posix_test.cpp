#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/file_system_test_fixture.h"

namespace fs = std::filesystem;

namespace {

// Holds an advisory lock through its own open file description, as another
// process would.
class TForeignLock {
public:
    TForeignLock(const std::string& path, int op) : Fd_(::open(path.c_str(), O_RDONLY)) {
        EXPECT_GE(Fd_, 0);
        EXPECT_EQ(0, ::flock(Fd_, op));
    }
    ~TForeignLock() { Release(); }
    void Release() {
        if (Fd_ >= 0) ::close(Fd_);
        Fd_ = -1;
    }

private:
    int Fd_;
};

TEST_F(FileSystem, ReadFailuresNameThePathAndTheSystemText) {
    const std::string missing = dir.File("missing.kvl");
    try {
        ReadWholeFile(missing);
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(missing, e.Path());
        EXPECT_EQ(ENOENT, e.ErrorCode());
        EXPECT_EQ(std::string(e.what()), "ファイル \"" + missing + "\". No such file or directory は開けません");
    }
    EXPECT_THROW(ReadWholeFile(dir.Dir()), EFOpenError);
}

TEST_F(FileSystem, SearchMatchesTheExtensionWithoutCaseAndOnlyRegularFiles) {
    for (const char* name : {"b.kvl", "A.KVL", "c.Kvl", "d.kvlx", "e.txt", "kvl", "f.old.kvl"}) dir.Write(name, "x");
    fs::create_directory(dir.File("sub.kvl"));
    fs::create_symlink(dir.File("b.kvl"), dir.File("link.kvl"));
    fs::create_directory_symlink(dir.File("sub.kvl"), dir.File("dirlink.kvl"));
    EXPECT_EQ((std::vector<std::string>{"A.KVL", "b.kvl", "c.Kvl", "f.old.kvl", "link.kvl"}),
              FindFilesByExtension(dir.Dir(), ".kvl"));
    // Without the trailing separator too.
    EXPECT_EQ(5u, FindFilesByExtension(dir.Dir().substr(0, dir.Dir().size() - 1), ".KVL").size());
    EXPECT_TRUE(FindFilesByExtension(dir.File("nowhere/"), ".kvl").empty());
}

TEST_F(FileSystem, ReplaceCreatesAndReplacesKeepingPermissions) {
    const std::string path = dir.File("p.kvl");
    ReplaceFileContent(path, "first");
    EXPECT_EQ("first", dir.Read("p.kvl"));
    ::chmod(path.c_str(), 0640);
    ReplaceFileContent(path, "second, longer");
    EXPECT_EQ("second, longer", dir.Read("p.kvl"));
    ReplaceFileContent(path, "");
    EXPECT_EQ("", dir.Read("p.kvl"));
    struct stat st;
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_TRUE(Leftovers({"p.kvl"}).empty());
}

TEST_F(FileSystem, ReplaceRefusesReadOnlyFilesAndMissingDirectories) {
    dir.Write("ro.kvl", "old");
    ::chmod(dir.File("ro.kvl").c_str(), 0444);
    EXPECT_THROW(ReplaceFileContent(dir.File("ro.kvl"), "new"), EInOutError);
    EXPECT_EQ("old", dir.Read("ro.kvl"));
    try {
        ReplaceFileContent(dir.File("no/such.kvl"), "x");
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "ファイル \"" + dir.File("no/such.kvl") + "\". No such file or directory を作成できません");
    }
    EXPECT_THROW(ReplaceFileContent(dir.Dir(), "x"), EInOutError);
}

TEST_F(FileSystem, ALockHeldElsewhereHoldsOffWritersAndReadersInTurn) {
    dir.Write("p.kvl", "old");
    const std::string path = dir.File("p.kvl");
    SetForeignLockWait(20);
    {
        TForeignLock exclusive(path, LOCK_EX);
        EXPECT_THROW(ReadWholeFile(path), EFOpenError);
        EXPECT_THROW(RewriteFileContent(path, [](const std::string*) { return "x"; }), EInOutError);
        EXPECT_THROW(ReplaceFileContent(path, "x"), EInOutError);
    }
    {
        TForeignLock shared(path, LOCK_SH);
        EXPECT_EQ("old", ReadWholeFile(path));  // readers share
        EXPECT_THROW(ReplaceFileContent(path, "x"), EInOutError);
    }
    EXPECT_EQ("old", dir.Read("p.kvl"));
    ReplaceFileContent(path, "new");
    EXPECT_EQ("new", ReadWholeFile(path));
}

// Scans read with a wait of their own; the other readers and the writers
// keep the long one.
TEST_F(FileSystem, AScanReadGivesUpOnAHeldFileWhileOthersWaitForIt) {
    dir.Write("p.kvl", "old");
    const std::string path = dir.File("p.kvl");
    std::string content = "left over";
    {
        TForeignLock shared(path, LOCK_SH);
        ReadWholeFile(path, content, 0);  // readers still share
        EXPECT_EQ("old", content);
    }
    auto held = std::make_unique<TForeignLock>(path, LOCK_EX);
    for (int waitMs : {0, 30}) {
        try {
            ReadWholeFile(path, content, waitMs);
            ADD_FAILURE() << "read a held file with wait " << waitMs;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(EWOULDBLOCK, e.ErrorCode());
            EXPECT_EQ(path, e.Path());
        }
    }
    // A plain read waits: it gets the content once the holder lets go.
    std::thread holder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        held.reset();
    });
    EXPECT_EQ("old", ReadWholeFile(path));
    holder.join();
    ReadWholeFile(path, content, 0);
    EXPECT_EQ("old", content);
}

TEST_F(FileSystem, RewriteStartsOverWhenTheFileWasReplacedWhileItWaited) {
    dir.Write("m.mil", "old");
    const std::string path = dir.File("m.mil");
    auto held = std::make_unique<TForeignLock>(path, LOCK_EX);
    std::thread writer([&] { RewriteFileContent(path, [](const std::string* old) { return "new+" + *old; }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it wait, if it can
    dir.Write("m.tmp", "replaced");
    fs::rename(dir.File("m.tmp"), path);
    held.reset();
    writer.join();
    EXPECT_EQ("new+replaced", dir.Read("m.mil"));
}

}  // namespace
