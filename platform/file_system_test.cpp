#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/test_temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Holds an advisory lock through its own open file description, as another
// process would.
class TForeignLock {
public:
    TForeignLock(const std::string& path, int op) : fd_(::open(path.c_str(), O_RDONLY)) {
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(0, ::flock(fd_, op));
    }
    ~TForeignLock() { Release(); }
    void Release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

class FileSystem : public testing::Test {
protected:
    void TearDown() override {
        SetWriteFaultHook({});
        SetForeignLockWait(5000);
    }
    // Names in the directory other than the given ones, i.e. leftovers.
    std::vector<std::string> Leftovers(std::initializer_list<std::string> expected) {
        std::vector<std::string> extra;
        for (const auto& e : fs::directory_iterator(dir.Dir())) {
            const std::string name = e.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end())
                extra.push_back(name);
        }
        return extra;
    }
    TTestTempDir dir;
};

TEST_F(FileSystem, ReadsEveryByte) {
    const std::string bytes("a\0b\r\n\xff", 6);
    dir.Write("x.kvl", bytes);
    EXPECT_EQ(bytes, ReadWholeFile(dir.File("x.kvl")));
    dir.Write("empty", "");
    EXPECT_EQ("", ReadWholeFile(dir.File("empty")));
}

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

TEST_F(FileSystem, ExistenceOfFilesNotDirectories) {
    dir.Write("a.off", "");
    EXPECT_TRUE(FileExists(dir.File("a.off")));
    EXPECT_FALSE(FileExists(dir.File("b.off")));
    EXPECT_FALSE(FileExists(dir.Dir()));
    EXPECT_TRUE(DirectoryExists(dir.Dir()));
    EXPECT_FALSE(DirectoryExists(dir.File("a.off")));
}

TEST_F(FileSystem, SearchMatchesTheExtensionWithoutCaseAndOnlyRegularFiles) {
    for (const char* name : {"b.kvl", "A.KVL", "c.Kvl", "d.kvlx", "e.txt", "kvl", "f.old.kvl"})
        dir.Write(name, "x");
    fs::create_directory(dir.File("sub.kvl"));
    fs::create_symlink(dir.File("b.kvl"), dir.File("link.kvl"));
    fs::create_directory_symlink(dir.File("sub.kvl"), dir.File("dirlink.kvl"));
    EXPECT_EQ((std::vector<std::string>{"A.KVL", "b.kvl", "c.Kvl", "f.old.kvl", "link.kvl"}),
              FindFilesByExtension(dir.Dir(), ".kvl"));
    // Without the trailing separator too.
    EXPECT_EQ(5u, FindFilesByExtension(dir.Dir().substr(0, dir.Dir().size() - 1), ".KVL").size());
    EXPECT_TRUE(FindFilesByExtension(dir.File("nowhere/"), ".kvl").empty());
}

TEST(FilePaths, ExtensionAndNameParts) {
    EXPECT_EQ("/c/yamada.off", ChangeFileExt("/c/yamada.kvl", ".off"));
    EXPECT_EQ("/c.d/yamada.off", ChangeFileExt("/c.d/yamada", ".off"));
    EXPECT_EQ("a.tar.off", ChangeFileExt("a.tar.gz", ".off"));
    EXPECT_EQ("/c/a", ChangeFileExt("/c/a.kvl", ""));
    EXPECT_EQ("yamada.kvl", ExtractFileName("/c/yamada.kvl"));
    EXPECT_EQ("yamada", ExtractFileBaseName("/c/yamada.kvl"));
    EXPECT_EQ("yamada", ExtractFileBaseName("yamada"));
    EXPECT_EQ("a.b", ExtractFileBaseName("/x.y/a.b.kvl"));
    EXPECT_EQ("", ExtractFileBaseName("/c/.kvl"));
    EXPECT_EQ("/c/", IncludeTrailingPathDelimiter("/c"));
    EXPECT_EQ("/c/", IncludeTrailingPathDelimiter("/c/"));
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

TEST_F(FileSystem, AFailureAtAnyStepLeavesTheOldContent) {
    const std::string path = dir.File("p.kvl");
    const std::string old(20000, 'o');
    for (TWriteStep failing : {TWriteStep::CreateTemp, TWriteStep::Write, TWriteStep::Sync,
                               TWriteStep::Rename}) {
        SCOPED_TRACE(static_cast<int>(failing));
        dir.Write("p.kvl", old);
        int writes = 0;
        // Fail the second write so the temporary file is half written.
        SetWriteFaultHook([&](TWriteStep step, const std::string& p) {
            EXPECT_EQ(path, p);
            if (step == TWriteStep::Write && ++writes < 2) return 0;
            return step == failing ? ENOSPC : 0;
        });
        try {
            ReplaceFileContent(path, std::string(30000, 'n'));
            FAIL() << "no error";
        } catch (const EInOutError& e) {
            EXPECT_EQ(ENOSPC, e.ErrorCode());
            EXPECT_NE(std::string::npos, std::string(e.what()).find("No space left on device"));
        }
        EXPECT_EQ(old, dir.Read("p.kvl"));
        EXPECT_TRUE(Leftovers({"p.kvl"}).empty());
        SetWriteFaultHook({});
    }
    // A failed first write of a new file leaves no file behind.
    SetWriteFaultHook([](TWriteStep step, const std::string&) {
        return step == TWriteStep::Rename ? EIO : 0;
    });
    EXPECT_THROW(ReplaceFileContent(dir.File("new.kvl"), "x"), EInOutError);
    EXPECT_FALSE(FileExists(dir.File("new.kvl")));
}

TEST_F(FileSystem, RewriteSeesTheOldContentOrNone) {
    const std::string path = dir.File("m.mil");
    const std::string* seen = reinterpret_cast<const std::string*>(1);
    RewriteFileContent(path, [&](const std::string* old) {
        seen = old;
        return std::string("one");
    });
    EXPECT_EQ(nullptr, seen);
    std::string before;
    RewriteFileContent(path, [&](const std::string* old) {
        before = old ? *old : "<none>";
        return "two+" + *old;
    });
    EXPECT_EQ("one", before);
    EXPECT_EQ("two+one", dir.Read("m.mil"));
}

TEST_F(FileSystem, CreatingNeverOverwritesAFileThatAppearedMeanwhile) {
    const std::string path = dir.File("m.mil");
    bool raced = false;
    SetWriteFaultHook([&](TWriteStep step, const std::string&) {
        if (step == TWriteStep::Rename && !raced) {
            raced = true;
            dir.Write("m.mil", "theirs");  // another writer creates it first
        }
        return 0;
    });
    RewriteFileContent(path, [](const std::string* old) {
        return old ? "new+" + *old : std::string("new");
    });
    EXPECT_TRUE(raced);
    EXPECT_EQ("new+theirs", dir.Read("m.mil"));
    EXPECT_TRUE(Leftovers({"m.mil"}).empty());
}

// A client moves its read messages from .mil to .old whenever it likes; a
// prepend that had read them first must not bring them back.
TEST_F(FileSystem, RewriteStartsOverWhenTheFileWasMovedAwayWhileItComposed) {
    dir.Write("m.mil", "read");
    const std::string path = dir.File("m.mil");
    bool moved = false;
    SetWriteFaultHook([&](TWriteStep step, const std::string&) {
        if (step == TWriteStep::Rename && !moved) {
            moved = true;
            EXPECT_EQ(std::rename(path.c_str(), dir.File("m.old").c_str()), 0);
        }
        return 0;
    });
    RewriteFileContent(path, [](const std::string* old) { return old ? "new+" + *old : std::string("new"); });
    EXPECT_TRUE(moved);
    EXPECT_EQ(dir.Read("m.mil"), "new");
    EXPECT_EQ(dir.Read("m.old"), "read");
    EXPECT_TRUE(Leftovers({"m.mil", "m.old"}).empty());
}

TEST_F(FileSystem, RewriteReadsBlocksUpToTheirFirstZeroByte) {
    dir.Write("m.mil", std::string("ab\0cdefg\0h", 10));
    std::string got;
    RewriteFileContent(
        dir.File("m.mil"),
        [&](const std::string* old) {
            got = *old;
            return *old;
        },
        4);
    // Blocks "ab\0c", "defg", "\0h".
    EXPECT_EQ("abdefg", got);
    dir.Write("big.mil", std::string(8195 * 2, 'x') + "tail");
    RewriteFileContent(
        dir.File("big.mil"), [&](const std::string* old) { return *old; }, 8195);
    EXPECT_EQ(std::string(8195 * 2, 'x') + "tail", dir.Read("big.mil"));
}

TEST_F(FileSystem, RewriteFailureKeepsTheFileAndPropagates) {
    dir.Write("m.mil", "old");
    SetWriteFaultHook([](TWriteStep step, const std::string&) {
        return step == TWriteStep::Sync ? EIO : 0;
    });
    EXPECT_THROW(RewriteFileContent(dir.File("m.mil"), [](const std::string*) { return "new"; }),
                 EInOutError);
    EXPECT_EQ("old", dir.Read("m.mil"));
    SetWriteFaultHook({});
    // An error of compose itself leaves everything alone too.
    EXPECT_THROW(RewriteFileContent(dir.File("m.mil"),
                                    [](const std::string*) -> std::string {
                                        throw std::runtime_error("compose");
                                    }),
                 std::runtime_error);
    EXPECT_EQ("old", dir.Read("m.mil"));
    EXPECT_TRUE(Leftovers({"m.mil"}).empty());
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

TEST_F(FileSystem, AScanReadGivesUpOnAFileOurWriterHolds) {
    dir.Write("p.kvl", "old");
    const std::string path = dir.File("p.kvl");
    int failures = 0;
    RewriteFileContent(path, [&](const std::string* old) {
        // From another thread: the hold is not reentrant.
        std::thread reader([&] {
            std::string content;
            for (int waitMs : {0, 20}) {
                try {
                    ReadWholeFile(path, content, waitMs);
                } catch (const EFOpenError& e) {
                    if (e.ErrorCode() == EWOULDBLOCK) ++failures;
                }
            }
        });
        reader.join();
        return *old + "+new";
    });
    EXPECT_EQ(2, failures);
    std::string content;
    ReadWholeFile(path, content, 0);
    EXPECT_EQ("old+new", content);
}

// Our holds used to hash paths onto shared slots: a long write of one file
// made scans give up on unrelated files, and persons left the board.
TEST_F(FileSystem, AWriteOfOursNeverHoldsOffAReadOfAnotherFile) {
    constexpr int Others = 600;  // far more than any fixed set of slots
    for (int i = 0; i < Others; ++i) dir.Write("p" + std::to_string(i) + ".kvl", "x");
    int failures = 0;
    RewriteFileContent(dir.File("big.mil"), [&](const std::string*) {
        std::thread scan([&] {
            std::string content;
            for (int i = 0; i < Others; ++i) {
                try {
                    ReadWholeFile(dir.File("p" + std::to_string(i) + ".kvl"), content, 0);
                } catch (const EFOpenError&) {
                    ++failures;
                }
            }
        });
        scan.join();
        return std::string("new");
    });
    EXPECT_EQ(0, failures);
}

// Temporary names once restarted their count every run: a crash's leftover
// failed a later write under a reused process id, and leftovers stayed.
TEST_F(FileSystem, TemporaryNamesNeverCollideAndLeftoversGoWhenStale) {
    for (int i = 0; i < 50; ++i)
        dir.Write(".quor-" + std::to_string(::getpid()) + "-" + std::to_string(i) + ".tmp", "left");
    for (int i = 0; i < 50; ++i) ReplaceFileContent(dir.File("p.kvl"), std::to_string(i));
    EXPECT_EQ("49", dir.Read("p.kvl"));

    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(2);
    for (const char* name : {".quor-1-0.tmp", ".quor-0123456789abcdef.tmp", ".quor-x.kvl", "x.tmp", "a.kvl"}) {
        dir.Write(name, "x");
        fs::last_write_time(dir.File(name), old);
    }
    fs::create_directory(dir.File(".quor-dir.tmp"));
    fs::last_write_time(dir.File(".quor-dir.tmp"), old);
    EXPECT_EQ(2, RemoveStaleTempFiles(dir.Dir(), 60));
    // Fresh ones may be writes in progress; other names are the clients'.
    EXPECT_EQ(50u, Leftovers({"p.kvl", ".quor-x.kvl", "x.tmp", "a.kvl", ".quor-dir.tmp"}).size());
    EXPECT_EQ(50, RemoveStaleTempFiles(dir.Dir(), -1));
    EXPECT_TRUE(Leftovers({"p.kvl", ".quor-x.kvl", "x.tmp", "a.kvl", ".quor-dir.tmp"}).empty());
}

TEST_F(FileSystem, RewriteStartsOverWhenTheFileWasReplacedWhileItWaited) {
    dir.Write("m.mil", "old");
    const std::string path = dir.File("m.mil");
    auto held = std::make_unique<TForeignLock>(path, LOCK_EX);
    std::thread writer([&] {
        RewriteFileContent(path, [](const std::string* old) { return "new+" + *old; });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it wait, if it can
    dir.Write("m.tmp", "replaced");
    fs::rename(dir.File("m.tmp"), path);
    held.reset();
    writer.join();
    EXPECT_EQ("new+replaced", dir.Read("m.mil"));
}

TEST_F(FileSystem, ReadersNeverSeeAHalfWrittenFile) {
    const std::string path = dir.File("p.kvl");
    const std::string a(50000, 'a'), b(70000, 'b');
    ReplaceFileContent(path, a);
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!done.load()) {
                const std::string got = ReadWholeFile(path);
                if (got != a && got != b) ++bad;
            }
        });
    for (int i = 0; i < 40; ++i) ReplaceFileContent(path, i % 2 ? a : b);
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(0, bad.load());
}

}  // namespace
