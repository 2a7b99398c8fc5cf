#include "platform/locale.h"

#include <gtest/gtest.h>

namespace {

TEST(Locale, WeekdayNamesAreShiftJis) {
    EXPECT_EQ("\x93\xfa", ShortDayName(1));  // 日
    EXPECT_EQ("\x93\x79", ShortDayName(7));  // 土
    EXPECT_EQ("金", ShortDayName(6));
    EXPECT_EQ("", ShortDayName(0));
    EXPECT_EQ("", ShortDayName(8));
    EXPECT_EQ("月曜日", LongDayName(2));
}

TEST(Locale, CompareTextFoldsAsciiLettersOnly) {
    EXPECT_EQ(0, CompareText("abc", "ABC"));
    EXPECT_TRUE(SameText("Kavel.Ini", "KAVEL.INI"));
    EXPECT_LT(CompareText("abc", "abd"), 0);
    EXPECT_LT(CompareText("ab", "abc"), 0);
    EXPECT_GT(CompareText("b", "A"), 0);
    EXPECT_EQ(0, CompareText("", ""));
    // '_' (0x5F) lies between the cases; folding to upper puts it after letters.
    EXPECT_GT(CompareText("_", "a"), 0);
    // Bytes above 0x7F compare unsigned.
    EXPECT_GT(CompareText("\xb1", "z"), 0);
    EXPECT_FALSE(SameText("営業部", "総務部"));
}

TEST(Locale, SecondBytesOfDoubleByteCharactersDoNotFold) {
    // 殿 is 0x93 0x61; folding its second byte would make it equal to 0x93
    // 'A', a different character.
    EXPECT_FALSE(SameText("殿", "\x93" "A"));
    EXPECT_NE(0, CompareText("殿", "\x93" "A"));
    // Still so after a letter that differed only in case, and after text
    // that is equal byte for byte.
    EXPECT_NE(0, CompareText("a殿", "A\x93" "A"));
    EXPECT_NE(0, CompareText("xx殿", "xx\x93" "A"));
    EXPECT_EQ(0, CompareText("殿a", "殿A"));
    EXPECT_EQ(0, CompareText("ｱaｲb", "ｱAｲB"));
    EXPECT_LT(CompareText("殿a", "殿B"), 0);
    EXPECT_EQ("殿ABC", UpperCase("殿abc"));
    EXPECT_EQ("\x93" "Aabc", LowerCase("\x93" "AABC"));
    // A lead byte at the very end has no second byte to protect.
    EXPECT_EQ("A\x93", UpperCase("a\x93"));
}

TEST(Locale, HeadTakesAStartedDoubleByteCharacterWhole) {
    const std::string ascii = "abcdefghijklmnopq";
    EXPECT_EQ("abcdefghijklmn", HeadOfText(ascii, 14));
    const std::string mixed = "abcdefghijklm" "不在";  // 不 starts at byte 14
    EXPECT_EQ("abcdefghijklm不", HeadOfText(mixed, 14));
    EXPECT_EQ(15u, HeadOfText(mixed, 14).size());
    EXPECT_EQ("abc", HeadOfText("abc", 14));
    EXPECT_EQ("", HeadOfText("abc", 0));
    // Half-width katakana are single bytes.
    EXPECT_EQ("ｱｲ", HeadOfText("ｱｲｳ", 2));
}

}  // namespace
