#include "data/store_gate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "data/kavel_person.h"
#include "data/store_gate_round_trip.h"
#include "platform/test_temp_dir.h"
#include "protocol/kavel_protocol.h"

namespace {

// Quotes, Shift-JIS pairs whose trail byte is 0x5C or sits beside 0x22, the
// entry mark, and plain text; line breaks where a value may span lines; now
// and then a byte that is never content.
const std::string_view Pieces[] = {
    "\"",       "\"\"", "\t", " ",    "\x81\x5c", "\x95\x5c", "\x81\x21", "\x81\x23",
    "\x82\x22", "○",    "　", "会議", "abc",      "x\"",      "\"y",      "ｱｲ",
};
const std::string_view Breaks[] = {"\r\n", "\r", "\n"};
const char Strays[] = {'\0', '\x01', '\x1f', '\r', '\n'};

std::string RandomText(std::mt19937& random, bool lines) {
    std::string out;
    const int n = std::uniform_int_distribution<int>(0, 6)(random);
    for (int i = 0; i < n; ++i) {
        if (lines && random() % 3 == 0)
            out += Breaks[random() % std::size(Breaks)];
        else
            out += Pieces[random() % std::size(Pieces)];
    }
    if (random() % 40 == 0) out.insert(random() % (out.size() + 1), 1, Strays[random() % std::size(Strays)]);
    return out;
}

// The property the clients' files depend on (see store_gate_round_trip.h),
// over records of the bytes that mean structure somewhere.
TEST(StoreGate, AdmittedRecordsReadBackExactly) {
    TTestTempDir dir;
    std::mt19937 random(20261209);
    int admitted = 0;
    for (int round = 0; round < 500; ++round) {
        std::string typed[10];
        for (int i = 0; i < 10; ++i) typed[i] = RandomText(random, i == 8);
        ASSERT_EQ(StoreRoundTripFault(typed, dir.File("p.kvl"), static_cast<int32_t>(random())), "") << round;
        if (FileExists(dir.File("p.kvl"))) ++admitted;
        std::remove(dir.File("p.kvl").c_str());
    }
    EXPECT_GT(admitted, 200);
}

TEST(StoreGate, RefusesWhatTheFormatsCannotCarry) {
    const struct {
        const char* label;
        std::string value;
        TValueShape shape;
        const char* why;
    } cases[] = {
        {"戻り日付", std::string("2030/01/02\0x", 12), TValueShape::OneLine,
         "戻り日付に制御文字 (0x00) は使えません。"},
        {"戻り日付", "2030/01/02\r\n", TValueShape::OneLine, "戻り日付に改行は使えません。"},
        {"戻り時刻", "17:00\n", TValueShape::OneLine, "戻り時刻に改行は使えません。"},
        {"戻り時刻", "17\x01", TValueShape::OneLine, "戻り時刻に制御文字 (0x01) は使えません。"},
        {"送信者の名前", "a\rb", TValueShape::OneLine, "送信者の名前に改行は使えません。"},
        {"伝言の内容", "x\x1b[0m", TValueShape::Lines, "伝言の内容に制御文字 (0x1B) は使えません。"},
        {"不在理由", std::string("a\r\n\0", 4), TValueShape::Lines, "不在理由に制御文字 (0x00) は使えません。"},
    };
    for (const auto& c : cases) {
        try {
            AdmitText(c.label, c.value, c.shape);
            ADD_FAILURE() << c.why;
        } catch (const ERefusedValue& e) {
            EXPECT_EQ(e.Field(), c.label);
            EXPECT_STREQ(e.what(), c.why);
        }
    }
    EXPECT_THROW(AdmitReason("x\x01Kvl3_Eod"), ERefusedValue);
    EXPECT_THROW(AdmitMessageBody(std::string("a\0b", 3)), ERefusedValue);

    // Records that would not read back are refused before anything is written.
    TTestTempDir dir;
    TKavelPerson p;
    p.FilePath = dir.File("p.kvl");
    p.Name = "a\r\nb";
    EXPECT_THROW(p.SavePersonFile(), ERefusedValue);
    p.Name = "a";
    p.Huzairiyu = "x\"\r\ny";
    EXPECT_THROW(p.SavePersonFile(), ERefusedValue);
    p.Huzairiyu = "x\x01";
    EXPECT_THROW(p.SavePersonFile(), ERefusedValue);
    p.Huzairiyu.clear();
    p.FilePath = dir.File("a\x01Kvl3_Eod.kvl");
    EXPECT_THROW(p.SavePersonFile(), ERefusedValue);
    EXPECT_THROW(TKavelProtocol::MessageNotice(p.Datagram()), ERefusedValue);
    EXPECT_TRUE(dir.Read("p.kvl").empty());
}

TEST(StoreGate, MakesTheRestRepresentable) {
    // Line breaks as the clients write them; a tab as the blank it shows as.
    EXPECT_EQ(AdmitText("f", "a\tb", TValueShape::OneLine), "a b");
    EXPECT_EQ(AdmitReason("a\rb\nc\r\nd"), "a\r\nb\r\nc\r\nd");
    // A quote that would end the value early keeps a blank behind it; the
    // last line's may stay (the closing quote follows it).
    EXPECT_EQ(AdmitReason("会議 \"A\"\r\n15時\r\n\"B\""), "会議 \"A\" \r\n15時\r\n\"B\"");
    EXPECT_EQ(AdmitReason("\"\r\n"), "\"\r\n");
    EXPECT_EQ(AdmitReason("\"\r\n\r\n"), "\" \r\n\r\n");
    // A body line that would read as a new entry's header.
    EXPECT_EQ(AdmitMessageBody("○会議\r\n× ○\r\n○"), "　○会議\r\n× ○\r\n　○");
    // Everything else goes in as typed.
    for (const char* typed : {"", "\"", "\"\"", "表\\示", "x\"\r\ny", "<b>&amp;</b>"})
        EXPECT_EQ(AdmitText("f", typed, TValueShape::Lines), typed);
}

}  // namespace
