#include "pages/html_escape.h"

#include <gtest/gtest.h>

TEST(HtmlEscape, EscapesMarkupAndLeavesShiftJisAlone) {
    EXPECT_EQ(HtmlEscape("<script>\"a\"&b</script>"), "&lt;script&gt;&quot;a&quot;&amp;b&lt;/script&gt;");
    // 表 and ソ carry 0x5C / 0x7C-range trail bytes that must pass unchanged.
    const std::string sjis = "表ソ能";
    EXPECT_EQ(HtmlEscape(sjis), sjis);
}

TEST(HtmlEscape, TooltipTurnsLineEndsIntoReferencesAfterEscaping) {
    EXPECT_EQ(HtmlEscapeTooltip("a<b\r\nc\rd\n"), "a&lt;b&#13&#10c\rd\n");
}

TEST(UrlEncodeKey, EncodesOnlyBytesThatChangeAUrl) {
    EXPECT_EQ(UrlEncodeKey("yamada"), "yamada");
    EXPECT_EQ(UrlEncodeKey("a b&c#d+e%f"), "a%20b%26c%23d%2Be%25f");
    EXPECT_EQ(UrlEncodeKey("山田"), "山田");
}
