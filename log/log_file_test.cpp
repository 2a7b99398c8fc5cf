#include "log/log_file.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/test_temp_dir.h"

namespace {

std::string Hex(std::string_view bytes) {
    std::string out;
    char buffer[4];
    for (const char c : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02X ", static_cast<unsigned char>(c));
        out += buffer;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

TEST(LevelWord, SevenShiftJisBytesPerKind) {
    EXPECT_EQ(Hex(LevelWord(EventInformation)), "8F EE 95 F1 81 40 20");
    EXPECT_EQ(Hex(LevelWord(EventWarning)), "8C 78 8D 90 81 40 20");
    EXPECT_EQ(Hex(LevelWord(EventError)), "83 47 83 89 81 5B 20");
    EXPECT_EQ(LevelWord(0), LevelWord(EventInformation));
    EXPECT_EQ(LevelWord(0xC0000002), LevelWord(EventInformation));
}

TEST(LogLine, StampLevelTextAndCrLf) {
    const TDateTime at = EncodeDate(2024, 3, 7) + EncodeTime(9, 5, 8, 999);
    EXPECT_EQ(LogLine(at, EventWarning, "abc"), "2024/03/07 09:05:08 警告　 abc\r\n");
    EXPECT_EQ(LogLine(EncodeDate(2031, 12, 31) + EncodeTime(23, 59, 59), EventError, ""),
              "2031/12/31 23:59:59 エラー \r\n");
    // A text spanning lines is kept as it is.
    EXPECT_EQ(LogLine(at, EventInformation, "one\r\ntwo"), "2024/03/07 09:05:08 情報　 one\r\ntwo\r\n");
}

TEST(EscapeLogText, ControlBytesOnlyBecomePercentHex) {
    EXPECT_EQ(EscapeLogText("/a\r\nb"), "/a%0D%0Ab");
    EXPECT_EQ(EscapeLogText(std::string("\x00\x1F\x7F\x20", 4)), "%00%1F%7F ");
    // Shift-JIS with 0x5C / 0x7E trail bytes, high bytes and '%' pass unchanged.
    EXPECT_EQ(EscapeLogText("表示~%41\xFF\x80"), "表示~%41\xFF\x80");
}

class TLogFileTest : public ::testing::Test {
protected:
    std::string Path() const { return Dir_.File("QUOR.LOG"); }
    TTestTempDir Dir_;
};

TEST_F(TLogFileTest, CreatesTheFileAndAppendsAcrossOpens) {
    {
        TLogFile file;
        ASSERT_TRUE(file.Open(Path()));
        EXPECT_TRUE(file.Write("first\r\n"));
    }
    EXPECT_EQ(Dir_.Read("QUOR.LOG"), "first\r\n");
    TLogFile file;
    ASSERT_TRUE(file.Open(Path()));
    EXPECT_TRUE(file.Write("second\r\n"));
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(file.Write("dropped\r\n"));
    EXPECT_EQ(Dir_.Read("QUOR.LOG"), "first\r\nsecond\r\n");
}

TEST_F(TLogFileTest, WritesGoToTheEndEvenWhenTheFileGrewMeanwhile) {
    Dir_.Write("QUOR.LOG", "old\r\n");
    TLogFile file;
    ASSERT_TRUE(file.Open(Path()));
    bool appended = false;
    {
        std::ofstream other(Path(), std::ios::binary | std::ios::app);
        appended = other.is_open();
        other << "appended by a reader\r\n";
    }
    EXPECT_TRUE(file.Write("new\r\n"));
#ifdef _WIN32
    // Windows keeps every other writer out while the log is open.
    EXPECT_FALSE(appended);
    EXPECT_EQ(Dir_.Read("QUOR.LOG"), "old\r\nnew\r\n");
#else
    EXPECT_TRUE(appended);
    EXPECT_EQ(Dir_.Read("QUOR.LOG"), "old\r\nappended by a reader\r\nnew\r\n");
#endif
}

TEST_F(TLogFileTest, RefusedWhileAnotherWriterHoldsIt) {
    TLogFile first;
    ASSERT_TRUE(first.Open(Path()));
    TLogFile second;
    EXPECT_FALSE(second.Open(Path()));
    EXPECT_FALSE(second.IsOpen());
    first.Close();
    EXPECT_TRUE(second.Open(Path()));
}

TEST_F(TLogFileTest, RefusedWhenThePathCannotHoldALog) {
    TLogFile file;
    EXPECT_FALSE(file.Open(Dir_.File("missing/QUOR.LOG")));
    std::filesystem::create_directory(Dir_.File("QUOR.LOG"));
    EXPECT_FALSE(file.Open(Path()));
#ifndef _WIN32
    ASSERT_EQ(::mkfifo(Dir_.File("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(file.Open(Dir_.File("fifo")));
#endif
    EXPECT_FALSE(file.IsOpen());
}

#ifndef _WIN32
// Owner writes, group reads, others nothing, under any umask the service may
// run with (the unit's 0002 included); a mode chosen for a file already there stays.
TEST_F(TLogFileTest, ANewLogIsOwnerWriteGroupReadWhateverTheUmask) {
    auto mode = [&] {
        struct stat info {};
        return ::stat(Path().c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
    };
    for (const mode_t mask : {0000, 0002, 0022, 0077}) {
        const mode_t before = ::umask(mask);
        TLogFile file;
        const bool opened = file.Open(Path());
        ::umask(before);
        ASSERT_TRUE(opened);
        EXPECT_EQ(mode(), 0640u) << "umask " << std::oct << mask;
        std::filesystem::remove(Path());
    }
    Dir_.Write("QUOR.LOG", "");
    ASSERT_EQ(::chmod(Path().c_str(), 0600), 0);
    TLogFile file;
    ASSERT_TRUE(file.Open(Path()));
    EXPECT_EQ(mode(), 0600u);
}

TEST_F(TLogFileTest, AFailingWriteIsReported) {
    std::filesystem::create_symlink("/dev/full", Path());
    TLogFile file;
    ASSERT_TRUE(file.Open(Path()));
    EXPECT_FALSE(file.Write("line\r\n"));
}
#endif

}  // namespace
