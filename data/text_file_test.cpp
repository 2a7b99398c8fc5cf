#include "data/text_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "platform/file_system.h"
#include "platform/test_temp_dir.h"

namespace {

TEST(TextFile, WriteReplacesTheWholeContent) {
    TTestTempDir dir;
    EXPECT_TRUE(WriteTextFile(dir.File("a.txt"), "long old content"));
    EXPECT_TRUE(WriteTextFile(dir.File("a.txt"), "new"));
    EXPECT_EQ("new", dir.Read("a.txt"));  // nothing of the old tail left, no line end added
    EXPECT_THROW(WriteTextFile(dir.File("none/a.txt"), "x"), EInOutError);
}

TEST(TextFile, PrependPutsTheTextAndAnEmptyLineInFront) {
    TTestTempDir dir;
    const std::string path = dir.File("yamada.mil");
    EXPECT_TRUE(PrependToFile(path, "first"));
    EXPECT_EQ("first\r\n\r\n", dir.Read("yamada.mil"));
    EXPECT_TRUE(PrependToFile(path, "second"));
    EXPECT_EQ("second\r\n\r\nfirst\r\n\r\n", dir.Read("yamada.mil"));
    EXPECT_TRUE(PrependToFile(path, ""));
    EXPECT_EQ("\r\n\r\nsecond\r\n\r\nfirst\r\n\r\n", dir.Read("yamada.mil"));
}

// Cut at a zero byte, the old content lost every message behind it.
TEST(TextFile, PrependKeepsTheOldContentByteForByte) {
    TTestTempDir dir;
    const std::string old = std::string("abc") + '\0' + std::string(9000, 'x') + '\0' + "tail";
    dir.Write("m.mil", old);
    PrependToFile(dir.File("m.mil"), "new");
    EXPECT_EQ("new\r\n\r\n" + old, dir.Read("m.mil"));
}

TEST(TextFile, ConcurrentPrependsAllArrive) {
    TTestTempDir dir;
    const std::string path = dir.File("busy.mil");
    constexpr int Threads = 50;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    // A reader alongside sees whole entries only.
    std::thread reader([&] {
        while (!done.load()) {
            try {
                const std::string now = ReadWholeFile(path);
                if (now.size() < 4 || now.compare(now.size() - 4, 4, "\r\n\r\n") != 0) ++torn;
            } catch (const EFOpenError&) {
                // not created yet
            }
        }
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < Threads; ++i)
        threads.emplace_back([&, i] { PrependToFile(path, "message " + std::to_string(i)); });
    for (auto& t : threads) t.join();
    done = true;
    reader.join();
    EXPECT_EQ(0, torn.load());

    const std::string content = dir.Read("busy.mil");
    std::set<std::string> seen;
    size_t pos = 0;
    while (pos < content.size()) {
        const size_t end = content.find("\r\n\r\n", pos);
        ASSERT_NE(std::string::npos, end);
        seen.insert(content.substr(pos, end - pos));
        pos = end + 4;
    }
    EXPECT_EQ(static_cast<size_t>(Threads), seen.size());
    EXPECT_EQ(1u, seen.count("message 0"));
    EXPECT_EQ(1u, seen.count("message 49"));
}

TEST(TextFile, FailedPrependKeepsTheMessages) {
    TTestTempDir dir;
    PrependToFile(dir.File("m.mil"), "kept");
    SetWriteFaultHook([](TWriteStep step, const std::string&) { return step == TWriteStep::Write ? ENOSPC : 0; });
    EXPECT_THROW(PrependToFile(dir.File("m.mil"), "lost"), EInOutError);
    SetWriteFaultHook({});
    EXPECT_EQ("kept\r\n\r\n", dir.Read("m.mil"));
}

}  // namespace
