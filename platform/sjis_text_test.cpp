#include "platform/sjis_text.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

TEST(SjisText, CompareTextFoldsAsciiLettersOnly) {
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

TEST(SjisText, SecondBytesOfDoubleByteCharactersDoNotFold) {
    // 殿 is 0x93 0x61; folding its second byte would make it equal to 0x93
    // 'A', a different character.
    EXPECT_FALSE(SameText("殿",
                          "\x93"
                          "A"));
    EXPECT_NE(0, CompareText("殿",
                             "\x93"
                             "A"));
    // Still so after a letter that differed only in case, and after text
    // that is equal byte for byte.
    EXPECT_NE(0, CompareText("a殿",
                             "A\x93"
                             "A"));
    EXPECT_NE(0, CompareText("xx殿",
                             "xx\x93"
                             "A"));
    EXPECT_EQ(0, CompareText("殿a", "殿A"));
    EXPECT_EQ(0, CompareText("ｱaｲb", "ｱAｲB"));
    EXPECT_LT(CompareText("殿a", "殿B"), 0);
    EXPECT_EQ("殿ABC", UpperCase("殿abc"));
    EXPECT_EQ(
        "\x93"
        "Aabc",
        LowerCase("\x93"
                  "AABC"));
    // A lead byte at the very end has no second byte to protect.
    EXPECT_EQ("A\x93", UpperCase("a\x93"));
}

TEST(SjisText, HeadTakesAStartedDoubleByteCharacterWhole) {
    const std::string ascii = "abcdefghijklmnopq";
    EXPECT_EQ("abcdefghijklmn", HeadOfText(ascii, 14));
    const std::string mixed =
        "abcdefghijklm"
        "不在";  // 不 starts at byte 14
    EXPECT_EQ("abcdefghijklm不", HeadOfText(mixed, 14));
    EXPECT_EQ(15u, HeadOfText(mixed, 14).size());
    EXPECT_EQ("abc", HeadOfText("abc", 14));
    EXPECT_EQ("", HeadOfText("abc", 0));
    // Half-width katakana are single bytes.
    EXPECT_EQ("ｱｲ", HeadOfText("ｱｲｳ", 2));
}

TEST(SjisText, NamesEndAndStartOnCharacters) {
    EXPECT_TRUE(EndsWithText("aoki.KVL", ".kvl"));
    EXPECT_TRUE(StartsWithText("QUOR_SiteName=x", "quor_sitename"));
    EXPECT_FALSE(EndsWithText("kvl", ".kvl"));
    // The last byte of ソ (83 5C) is no '\\' of the text; the same bytes
    // folded one by one are the clients' datagram path.
    EXPECT_FALSE(EndsWithText("ソ", "\\"));
    EXPECT_EQ(UpperCase("\x93"
                        "a",
                        TTrailBytes::Fold),
              "\x93"
              "A");
    EXPECT_EQ(TrimControls(" \t\r\nx y\x01 "), "x y");
    EXPECT_TRUE(IsBlankText("\x81") == false && IsBlankText(" \r\n"));
}

TEST(SjisText, IntegersWithTheirRulesNamed) {
    EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInt32("+2147483647"), INT32_MAX);
    for (const char* bad : {"", "+", "2147483648", "-2147483649", "1 ", " 1", "1a", "0x10", "99999999999"})
        EXPECT_EQ(ParseInt32(bad), std::nullopt) << bad;
    EXPECT_EQ(ParseInt32("  -7", {.LeadingBlanks = true}), -7);
}

TEST(SjisText, LinesEndAtEveryKindOfBreak) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n"), (V{"a"}));
    EXPECT_EQ(SplitLines("a\r\n", {.FinalEmptyLine = true}), (V{"a", ""}));
    EXPECT_EQ(SplitLines("", {.FinalEmptyLine = true}), (V{""}));
    EXPECT_EQ(SplitLines("\r\n\n\r"), (V{"", "", ""}));
    const std::string zero("a\0b\nc", 5);
    EXPECT_EQ(SplitLines(zero), (V{"a"}));
    EXPECT_EQ(SplitLines(zero, {.ZeroEndsText = false}), (V{std::string("a\0b", 3), "c"}));
}

TEST(SjisText, PercentEncodingByAPredicateAndItsDecoding) {
    EXPECT_EQ(PercentEncode("a b&表", [](unsigned char c) { return c == ' ' || c == '&'; }), "a%20b%26表");
    EXPECT_EQ(HexDigitValue('f'), 15);
    EXPECT_EQ(HexDigitValue('G'), -1);
    // Whatever a predicate escaped, decoding gives every byte back.
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 12, '\0');
        for (char& c : text) c = static_cast<char>(random() % 256);
        const auto escape = round % 2 ? [](unsigned char c) { return c == '%' || c >= 0x80; }
                                      : [](unsigned char c) { return c != '/'; };
        ASSERT_EQ(PercentDecode(PercentEncode(text, escape)), text);
    }
    // A path segment: '+' is no blank, and a '%' without two hex digits stays.
    EXPECT_EQ(PercentDecode("a+b%2Bc%zz%4"), "a+b+c%zz%4");
}

// Text that must leave as UTF-8 goes out here and only here, and comes back
// exactly; bytes that are no character follow the named policy.
TEST(SjisText, Utf8AtTheEdgesRoundTripsAndNamesItsPolicy) {
    const std::string cp932 = "表示 ｱｲｳ ①～ABC";
    const std::string utf8 = Cp932ToUtf8(cp932, TBadBytes::Replace);
    EXPECT_EQ(utf8, reinterpret_cast<const char*>(u8"表示 ｱｲｳ ①～ABC"));
    EXPECT_EQ(Utf8ToCp932(utf8), cp932);
    EXPECT_EQ(Cp932ToUtf8("a\x80"
                          "b",
                          TBadBytes::Replace),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Cp932ToUtf8("a\x80"
                          "b",
                          TBadBytes::Keep),
              "a\x80"
              "b");
    EXPECT_EQ(Cp932ToUtf8("a\x81", TBadBytes::Replace), "a\xEF\xBF\xBD");  // cut off
    EXPECT_EQ(Cp932ToUtf8("a\x8C", TBadBytes::Keep), "a\x8C");
    EXPECT_EQ(Utf8ToCp932("\xF0\x9F\x98\x80"), std::nullopt);  // an emoji: no CP932 code
    EXPECT_EQ(Utf8ToCp932("\xFF"), std::nullopt);              // not UTF-8
    EXPECT_EQ(Utf8ToCp932(""), "");
}

// Every scalar value's shortest form is one sequence of its length; its
// overlong forms, the surrogates and what lies above U+10FFFF are none.
TEST(SjisText, Utf8SequencesAreExactlyTheShortestFormsOfScalarValues) {
    const auto encode = [](uint32_t cp, int n) {
        std::string s;
        if (n == 1) return std::string(1, static_cast<char>(cp));
        const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
        s += static_cast<char>(lead[n] | (cp >> (6 * (n - 1))));
        for (int k = n - 2; k >= 0; --k) s += static_cast<char>(0x80 | ((cp >> (6 * k)) & 0x3F));
        return s;
    };
    for (uint32_t cp = 0; cp < 0x110000 + 0x1000; cp += (cp < 0x800 ? 1 : 7)) {
        const int shortest = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        const bool scalar = cp < 0x110000 && !(cp >= 0xD800 && cp < 0xE000);
        for (int n = shortest; n <= 4; ++n) {
            if (n == 4 && cp >= 0x200000) continue;
            const std::string s = encode(cp, n) + "x";
            ASSERT_EQ(Utf8SequenceLength(s, 0), scalar && n == shortest ? static_cast<size_t>(n) : 0u)
                << std::hex << cp << " in " << n;
            if (n > 1) {
                EXPECT_EQ(Utf8SequenceLength(s.substr(0, n - 1), 0), 0u);  // cut short
            }
        }
    }
}

TEST(SjisText, Cp932ToUtf8ConvertsJapaneseAndKeepsAscii) {
    EXPECT_EQ(Cp932ToUtf8("情報　 サービスを開始しました。", TBadBytes::Replace),
              Utf8(u8"情報　 サービスを開始しました。"));
    // 0x5C is a trail byte of 表 here, not a backslash.
    EXPECT_EQ(Cp932ToUtf8("表示 a\\b\r\n", TBadBytes::Replace), Utf8(u8"表示 a\\b\r\n"));
    EXPECT_EQ(Cp932ToUtf8("", TBadBytes::Replace), "");
}

TEST(SjisText, Cp932ToUtf8BytesThatDoNotDecodeBecomeReplacementCharacters) {
    // 0x80 and 0xFF are no characters; a lead byte at the end has no trail.
    EXPECT_EQ(Cp932ToUtf8("a\x80"
                          "b\xFF"
                          "c\x93",
                          TBadBytes::Replace),
              Utf8(u8"a\uFFFDb\uFFFDc\uFFFD"));
    // A lead byte before an invalid trail is marked; what follows still converts.
    EXPECT_EQ(Cp932ToUtf8("\x81\x0A"
                          "東",
                          TBadBytes::Replace),
              Utf8(u8"\uFFFD\n東"));
}

TEST(SjisText, SplitLinesEveryLineEndCountsAndAZeroByteEndsTheText) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitLines(""), V{});
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n\r\n"), (V{"a", ""}));
    EXPECT_EQ(SplitLines("\r\r\n\n"), (V{"", "", ""}));
    EXPECT_EQ(SplitLines(std::string("a\r\nb\0c\r\nd", 10)), (V{"a", "b"}));
    EXPECT_EQ(SplitLines(std::string("\0abc", 4)), V{});
}

}  // namespace
