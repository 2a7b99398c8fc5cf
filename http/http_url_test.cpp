#include "http/http_url.h"

#include <gtest/gtest.h>

TEST(UrlDecode, PlusAndEscapesGiveTheRawBytes) {
    EXPECT_EQ(UrlDecode("a+b%20c"), "a b c");
    EXPECT_EQ(UrlDecode("%82%a0"), std::string("\x82\xa0"));
    EXPECT_EQ(UrlDecode("%2B%26%3D"), "+&=");
    // Bytes above 0x7F arriving unescaped stay as they are.
    EXPECT_EQ(UrlDecode(std::string("\x8c\x66")), std::string("\x8c\x66"));
}

TEST(UrlDecode, NulAndBadEscapesVanishWithTheirTwoCharacters) {
    EXPECT_EQ(UrlDecode("a%00b"), "ab");
    EXPECT_EQ(UrlDecode("a%zzb"), "ab");
    EXPECT_EQ(UrlDecode("a%4gb"), "ab");
    EXPECT_EQ(UrlDecode("a%+bc"), "ac");  // the "+" is one of the two swallowed characters
    EXPECT_EQ(UrlDecode("ab%4"), "ab");
    EXPECT_EQ(UrlDecode("ab%"), "ab");
}

TEST(RequestTarget, RelativeTargetsDecodeDirectoryAndFile) {
    EXPECT_EQ(ParseRequestTarget("/").DocumentPath, "/");
    EXPECT_EQ(ParseRequestTarget("/keiziban").DocumentPath, "/keiziban");
    EXPECT_EQ(ParseRequestTarget("/a%20b+c").DocumentPath, "/a b c");
    EXPECT_EQ(ParseRequestTarget("/dir%2Fx/BG.jpg").DocumentPath, "/dir/x/BG.jpg");
    EXPECT_EQ(ParseRequestTarget("keiziban").DocumentPath, "keiziban");
    // Each part is decoded alone: an escape cannot reach across the last "/".
    EXPECT_EQ(ParseRequestTarget("/a%/b").DocumentPath, "/ab");
    EXPECT_EQ(ParseRequestTarget("*").DocumentPath, "*");
    EXPECT_TRUE(ParseRequestTarget("/x").Host.empty());
}

TEST(RequestTarget, FromAnEqualsSignOnTheTargetStaysAsSent) {
    EXPECT_EQ(ParseRequestTarget("/a%41/b=c%20d+e").DocumentPath, "/aA/b=c%20d+e");
    EXPECT_EQ(ParseRequestTarget("/x=/y%20").DocumentPath, "/x=/y%20");
}

TEST(RequestTarget, AbsoluteTargetsLoseSchemeUserHostAndPort) {
    TRequestTarget t = ParseRequestTarget("http://user:pw@board.example:8080/dir/x%41.jpg");
    EXPECT_EQ(t.DocumentPath, "/dir/xA.jpg");
    EXPECT_EQ(t.Host, "board.example");
    TRequestTarget bare = ParseRequestTarget("http://127.0.0.1");
    EXPECT_EQ(bare.DocumentPath, "/");
    EXPECT_EQ(bare.Host, "127.0.0.1");
    // Not a scheme: a path that merely contains "://".
    EXPECT_EQ(ParseRequestTarget("/go?://x").DocumentPath, "/go?://x");
}

TEST(Base64, DecodesAndSkipsForeignCharacters) {
    EXPECT_EQ(Base64Decode("dXNlcjpwYXNz"), "user:pass");
    EXPECT_EQ(Base64Decode("dXNl cjpw\r\nYXNz"), "user:pass");
    EXPECT_EQ(Base64Decode("YQ=="), "a");
    EXPECT_EQ(Base64Decode(""), "");
}
