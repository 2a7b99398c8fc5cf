// The file-system contract both platforms keep; file_system_posix_test.cpp
// holds what only POSIX can show (advisory locks, modes, symbolic links,
// its error texts).

#include "platform/file_system.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/file_system_test_fixture.h"

namespace fs = std::filesystem;

namespace {

// libstdc++ cannot set a directory's time on Windows; the handle's own call can.
void AgeDirectory(const std::string& path, fs::file_time_type when) {
#ifdef _WIN32
    const auto age = std::chrono::duration_cast<std::chrono::nanoseconds>(fs::file_time_type::clock::now() - when);
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    ticks.QuadPart -= static_cast<ULONGLONG>(age.count() / 100);  // 100 ns units
    time.dwLowDateTime = ticks.LowPart;
    time.dwHighDateTime = ticks.HighPart;
    const HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &time)) << GetLastError();
    CloseHandle(h);
#else
    fs::last_write_time(path, when);
#endif
}

TEST_F(FileSystem, ReadsEveryByte) {
    const std::string bytes("a\0b\r\n\xff", 6);
    dir.Write("x.kvl", bytes);
    EXPECT_EQ(bytes, ReadWholeFile(dir.File("x.kvl")));
    dir.Write("empty", "");
    EXPECT_EQ("", ReadWholeFile(dir.File("empty")));
}

TEST_F(FileSystem, ExistenceOfFilesNotDirectories) {
    dir.Write("a.off", "");
    EXPECT_TRUE(FileExists(dir.File("a.off")));
    EXPECT_FALSE(FileExists(dir.File("b.off")));
    EXPECT_FALSE(FileExists(dir.Dir()));
    EXPECT_TRUE(DirectoryExists(dir.Dir()));
    EXPECT_FALSE(DirectoryExists(dir.File("a.off")));
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

TEST_F(FileSystem, AFailureAtAnyStepLeavesTheOldContent) {
    const std::string path = dir.File("p.kvl");
    const std::string old(20000, 'o');
    for (TWriteStep failing : {TWriteStep::CreateTemp, TWriteStep::Write, TWriteStep::Sync, TWriteStep::Rename}) {
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
    SetWriteFaultHook([](TWriteStep step, const std::string&) { return step == TWriteStep::Rename ? EIO : 0; });
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
    RewriteFileContent(path, [](const std::string* old) { return old ? "new+" + *old : std::string("new"); });
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

#ifndef _WIN32
// A client through Samba writes in place: what it added while we composed
// must be in what we move in.
TEST_F(FileSystem, RewriteStartsOverWhenTheFileWasWrittenInPlaceWhileItComposed) {
    dir.Write("m.mil", "read");
    const std::string path = dir.File("m.mil");
    int writes = 0;
    SetWriteFaultHook([&](TWriteStep step, const std::string&) {
        if (step == TWriteStep::Rename && writes++ == 0)
            std::ofstream(path, std::ios::binary | std::ios::app) << "+client";
        return 0;
    });
    RewriteFileContent(path, [](const std::string* old) { return "new+" + *old; });
    EXPECT_EQ(dir.Read("m.mil"), "new+read+client");
    EXPECT_TRUE(Leftovers({"m.mil"}).empty());
}
#endif

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
    SetWriteFaultHook([](TWriteStep step, const std::string&) { return step == TWriteStep::Sync ? EIO : 0; });
    EXPECT_THROW(RewriteFileContent(dir.File("m.mil"), [](const std::string*) { return "new"; }), EInOutError);
    EXPECT_EQ("old", dir.Read("m.mil"));
    SetWriteFaultHook({});
    // An error of compose itself leaves everything alone too.
    EXPECT_THROW(RewriteFileContent(dir.File("m.mil"),
                                    [](const std::string*) -> std::string { throw std::runtime_error("compose"); }),
                 std::runtime_error);
    EXPECT_EQ("old", dir.Read("m.mil"));
    EXPECT_TRUE(Leftovers({"m.mil"}).empty());
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
    AgeDirectory(dir.File(".quor-dir.tmp"), old);
    EXPECT_EQ(2, RemoveStaleTempFiles(dir.Dir(), 60));
    // Fresh ones may be writes in progress; other names are the clients'.
    EXPECT_EQ(50u, Leftovers({"p.kvl", ".quor-x.kvl", "x.tmp", "a.kvl", ".quor-dir.tmp"}).size());
    EXPECT_EQ(50, RemoveStaleTempFiles(dir.Dir(), -1));
    EXPECT_TRUE(Leftovers({"p.kvl", ".quor-x.kvl", "x.tmp", "a.kvl", ".quor-dir.tmp"}).empty());
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
