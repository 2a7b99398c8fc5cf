#include "service/quor_ini.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/test_temp_dir.h"

namespace {

constexpr const char* Key = "QUOR_CommonDirectory";

TEST(QuorIni, EveryLineIsACandidateAndTheFirstMatchWins) {
    EXPECT_EQ(IniValueOf("[Quor]\r\nQUOR_CommonDirectory=/srv/kavel/\r\n", Key), "/srv/kavel/");
    EXPECT_EQ(IniValueOf("quor_commondirectory=/a/\nQUOR_CommonDirectory=/b/\n", Key), "/a/");
    // A line that does not match is skipped, a later one still counts.
    EXPECT_EQ(IniValueOf("QUOR_CommonDirectory\r\nQUOR_CommonDirectoryX=/x/\rQUOR_CommonDirectory=/c/", Key), "/c/");
    EXPECT_EQ(IniValueOf("Other=1\n\n=\n", Key), "");
    EXPECT_EQ(IniValueOf("", Key), "");
}

TEST(QuorIni, NameAndValueAreNotTrimmed) {
    EXPECT_EQ(IniValueOf("QUOR_CommonDirectory =/a/\r\n", Key), "");
    EXPECT_EQ(IniValueOf(" QUOR_CommonDirectory=/a/\r\n", Key), "");
    EXPECT_EQ(IniValueOf("QUOR_CommonDirectory= /a/ \r\n", Key), " /a/ ");
    EXPECT_EQ(IniValueOf("QUOR_CommonDirectory=a=b\r\n", Key), "a=b");
    EXPECT_EQ(IniValueOf("QUOR_CommonDirectory=\r\n", Key), "");
}

TEST(QuorIni, LinesEndAtCrLfLfOrCr) {
    EXPECT_EQ(IniValueOf("a=1\rQUOR_CommonDirectory=/cr/\rb=2", Key), "/cr/");
    EXPECT_EQ(IniValueOf("a=1\nQUOR_CommonDirectory=/lf/\nb=2", Key), "/lf/");
    EXPECT_EQ(IniValueOf("a=1\r\n\r\nQUOR_CommonDirectory=/crlf/\r\n", Key), "/crlf/");
    // Shift-JIS bytes pass unchanged.
    EXPECT_EQ(IniValueOf("QUOR_CommonDirectory=/srv/掲示板/\r\n", Key), "/srv/掲示板/");
}

TEST(QuorIni, QuotedValues) {
    EXPECT_EQ(UnquoteIniValue("\"/srv/my kavel/\""), "/srv/my kavel/");
    EXPECT_EQ(UnquoteIniValue("\"a\"\"b\"\"\""), "a\"b\"");
    EXPECT_EQ(UnquoteIniValue("\"/a/\" trailing"), "/a/");
    EXPECT_EQ(UnquoteIniValue("\"/unterminated/"), "/unterminated/");
    EXPECT_EQ(UnquoteIniValue("\"\""), "");
    EXPECT_EQ(UnquoteIniValue("\""), "");
    EXPECT_EQ(UnquoteIniValue(" \"/a/\""), " \"/a/\"");  // not at the start: unchanged
    EXPECT_EQ(UnquoteIniValue("/a\"b/"), "/a\"b/");
}

class QuorIniFile : public ::testing::Test {
protected:
    void SetUp() override {
        Dir_ = Temp_.Dir();
        Dir_.pop_back();
    }
    void Write(const std::string& content) { std::ofstream(Dir_ + "/quor.ini", std::ios::binary) << content; }
    TTestTempDir Temp_;
    std::string Dir_;
};

TEST_F(QuorIniFile, ReadsTheUnquotedDirectory) {
    Write("[QUOR]\r\nQUOR_CommonDirectory=\"/srv/kavel/\"\r\n");
    EXPECT_EQ(ReadQuorCommonDirectory(Dir_ + "/quor.ini"), "/srv/kavel/");
    // Without its separator the file names would be glued onto the last directory.
    Write("QUOR_CommonDirectory=/srv/kavel\r\nQUOR_LogUtf8=1\r\n");
    EXPECT_EQ(ReadQuorCommonDirectory(Dir_ + "/quor.ini"), "/srv/kavel/");
    EXPECT_TRUE(ReadQuorIni(Dir_ + "/quor.ini").LogUtf8);
}

TEST_F(QuorIniFile, AMissingOrEmptyDirectoryIsNamedAsSuch) {
    const std::string path = Dir_ + "/quor.ini";
    auto failure = [&](const std::string& content) {
        Write(content);
        try {
            ReadQuorIni(path);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(failure("Nothing=here\r\n"), path + "にQUOR_CommonDirectory=の行がありません。");
    EXPECT_EQ(failure("QUOR_CommonDirectory = /srv/kavel/\r\n"),
              path + "にQUOR_CommonDirectory=の行がありません。「=」の前後に空白を置かないでください。");
    EXPECT_EQ(failure("QUOR_CommonDirectory=\"\"\r\n"), path + "のQUOR_CommonDirectoryが空です。");
    EXPECT_FALSE(ReadQuorIni((Write("QUOR_CommonDirectory=/a/\r\nQUOR_LogUtf8=yes\r\n"), path)).LogUtf8);
}

TEST_F(QuorIniFile, MissingFileNamesItsPath) {
    const std::string path = Dir_ + "/quor.ini";
    try {
        ReadQuorCommonDirectory(path);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "以下のパスに初期化ファイルがありません。\r\n" + path);
    }
    ASSERT_TRUE(std::filesystem::create_directory(path));  // a directory is no settings file
    EXPECT_THROW(ReadQuorCommonDirectory(path), std::runtime_error);
}

}  // namespace
