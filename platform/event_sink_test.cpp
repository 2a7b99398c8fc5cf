#include "platform/event_sink.h"

#include <gtest/gtest.h>
#include <syslog.h>

namespace {

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

TEST(Cp932ToUtf8, ConvertsJapaneseAndKeepsAscii) {
    EXPECT_EQ(Cp932ToUtf8("情報　 サービスを開始しました。"),
              Utf8(u8"情報　 サービスを開始しました。"));
    // 0x5C is a trail byte of 表 here, not a backslash.
    EXPECT_EQ(Cp932ToUtf8("表示 a\\b\r\n"), Utf8(u8"表示 a\\b\r\n"));
    EXPECT_EQ(Cp932ToUtf8(""), "");
}

TEST(Cp932ToUtf8, BytesThatDoNotDecodeBecomeReplacementCharacters) {
    // 0x80 and 0xFF are no characters; a lead byte at the end has no trail.
    EXPECT_EQ(Cp932ToUtf8("a\x80" "b\xFF" "c\x93"), Utf8(u8"a\uFFFDb\uFFFDc\uFFFD"));
    // A lead byte before an invalid trail is marked; what follows still converts.
    EXPECT_EQ(Cp932ToUtf8("\x81\x0A" "東"), Utf8(u8"\uFFFD\n東"));
}

TEST(SyslogPriority, TypesMapToPrioritiesOfTheSameName) {
    EXPECT_EQ(SyslogPriority(TEventType::Information), LOG_INFO);
    EXPECT_EQ(SyslogPriority(TEventType::Warning), LOG_WARNING);
    EXPECT_EQ(SyslogPriority(TEventType::Error), LOG_ERR);
}

}  // namespace
