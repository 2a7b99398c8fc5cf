#include "data/kavel_person.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/test_temp_dir.h"

namespace {

TDateTime At(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
    return ComposeDateTime(EncodeDate(y, m, d), EncodeTime(h, n, s));
}

class PersonFile : public testing::Test {
protected:
    TKavelPerson Load(const std::string& name, const std::string& bytes) {
        dir.Write(name, bytes);
        return TKavelPerson(dir.File(name));
    }
    TTestTempDir dir;
};

TEST_F(PersonFile, ReadsTheTenValuesInFileOrder) {
    const TKavelPerson p = Load("yamada.kvl",
                                "\"ﾔﾏﾀﾞ\"\r\n\"山田太郎\"\r\n\"営業部\"\r\n\"内線123\"\r\n\"外出\"\r\n"
                                "\"2004/12/24\"\r\n\"17:30\"\r\n\"090-1\"\r\n\"127.0.0.5\"\r\n\"2\"\r\n");
    EXPECT_EQ("ﾔﾏﾀﾞ", p.Furigana);
    EXPECT_EQ("山田太郎", p.Name);
    EXPECT_EQ("営業部", p.Group);
    EXPECT_EQ("内線123", p.Memo);
    EXPECT_EQ("外出\r\n", p.Huzairiyu);
    EXPECT_EQ("2004/12/24", p.ModoriDate);
    EXPECT_EQ("17:30", p.ModoriTime);
    EXPECT_EQ("090-1", p.Tel);
    EXPECT_EQ("127.0.0.5", p.IP);
    EXPECT_EQ(2, p.StatusIcon);
    EXPECT_TRUE(p.Unknown.empty());
    EXPECT_EQ(dir.File("yamada.kvl"), p.FilePath);
    EXPECT_EQ("yamada", p.FileName());
    EXPECT_FALSE(p.PowerOFF);
}

TEST_F(PersonFile, UnquotedLinesAreOneValueEachAndAnyLineEndWorks) {
    for (const char* eol : {"\r\n", "\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(eol));
        std::string text;
        for (const char* v : {"f", "n", "g", "m", "r", "d", "t", "tel", "ip", "7", "u1"}) text += std::string(v) + eol;
        const TKavelPerson p = Load("a.kvl", text);
        EXPECT_EQ("f", p.Furigana);
        EXPECT_EQ("m", p.Memo);
        EXPECT_EQ("r\r\n", p.Huzairiyu);
        EXPECT_EQ("ip", p.IP);
        EXPECT_EQ(7, p.StatusIcon);
        EXPECT_EQ(std::vector<std::string>{"u1"}, p.Unknown);
    }
}

TEST_F(PersonFile, QuotingQuirks) {
    // An empty value, an opening quote alone, and embedded quotes kept as they are.
    const TKavelPerson p = Load("q.kvl",
                                "\"\"\n\"\nabc\"\n\"a\"\"b\"\n\"\n\"\n\"\"\n\"\"\n\"\"\n\"\"\n\"\"\n"
                                "\"5\"\n");
    EXPECT_EQ("", p.Furigana);
    EXPECT_EQ("abc", p.Name);
    EXPECT_EQ("a\"\"b", p.Group);
    EXPECT_EQ("", p.Memo);  // a lone quote opens, the next one closes
    EXPECT_EQ("\r\n", p.Huzairiyu);
    EXPECT_EQ("", p.IP);
    EXPECT_EQ(5, p.StatusIcon);

    // Value 5 opened by a lone quote keeps each line.
    const TKavelPerson r = Load("r.kvl", "1\n2\n3\n4\n\"\nabc\"\n6\n");
    EXPECT_EQ("\r\nabc\r\n", r.Huzairiyu);
    EXPECT_EQ("6", r.ModoriDate);
    const TKavelPerson m = Load("m.kvl", "\"\nabc\"\n");
    EXPECT_EQ("abc", m.Furigana);
}

TEST_F(PersonFile, MultiLineValuesAndAnUnclosedQuote) {
    const TKavelPerson p = Load("a.kvl", "\"ab\ncd\"\nn\ng\nm\n\"line1\nline2\"\n\"2004/1/2\n");
    EXPECT_EQ("abcd", p.Furigana);  // joined without separator
    EXPECT_EQ("line1\r\nline2\r\n", p.Huzairiyu);
    EXPECT_EQ("2004/1/2", p.ModoriDate);  // never closed
    const TKavelPerson q = Load("b.kvl", "f\n\"never closed\nsecond\nthird\n");
    EXPECT_EQ("never closedsecondthird", q.Name);
    EXPECT_EQ("", q.Group);
}

TEST_F(PersonFile, FewerValuesKeepBlanksAndBadIconsReadAsZero) {
    const TKavelPerson p = Load("a.kvl", "f\nn\n");
    EXPECT_EQ("n", p.Name);
    EXPECT_EQ("", p.Group);
    EXPECT_EQ("", p.Huzairiyu);
    EXPECT_EQ(0, p.StatusIcon);
    for (const char* icon : {"x", "1.5", "", "99999999999", "0x10", "3 "}) {
        SCOPED_TRACE(icon);
        EXPECT_EQ(0, Load("i.kvl", std::string("1\n2\n3\n4\n5\n6\n7\n8\n9\n\"") + icon + "\"\n").StatusIcon);
    }
    EXPECT_EQ(-3, Load("i.kvl", "1\n2\n3\n4\n5\n6\n7\n8\n9\n-3\n").StatusIcon);
}

TEST_F(PersonFile, AZeroByteEndsTheContent) {
    const TKavelPerson p = Load("z.kvl", std::string("f\nna\0me\ng\n", 10));
    EXPECT_EQ("f", p.Furigana);
    EXPECT_EQ("na", p.Name);
    EXPECT_EQ("", p.Group);
}

TEST_F(PersonFile, TheOffMarkerIsSeenAtLoadOnly) {
    dir.Write("a.kvl", "f\n");
    dir.Write("a.off", "");
    TKavelPerson p(dir.File("a.kvl"));
    EXPECT_TRUE(p.PowerOFF);
    std::remove(dir.File("a.off").c_str());
    EXPECT_TRUE(p.PowerOFF);
    p.LoadPersonFile(dir.File("a.kvl"));
    EXPECT_FALSE(p.PowerOFF);
}

TEST_F(PersonFile, AFailedLoadLeavesTheRecordAlone) {
    TKavelPerson p = Load("a.kvl", "f\nn\n");
    EXPECT_THROW(p.LoadPersonFile(dir.File("missing.kvl")), EFOpenError);
    EXPECT_EQ("n", p.Name);
    EXPECT_EQ(dir.File("a.kvl"), p.FilePath);
    EXPECT_THROW(TKavelPerson(dir.File("missing.kvl")), EFOpenError);
}

TKavelPerson Sample(const std::string& path) {
    TKavelPerson p;
    p.FilePath = path;
    p.Furigana = "ﾀﾅｶ";
    p.Name = "田中";
    p.Group = "総務部";
    p.Memo = "内線 200";
    p.Huzairiyu = "会議\r\n本社";
    p.ModoriDate = "2004/12/24";
    p.ModoriTime = "17:30";
    p.Tel = "03-1234";
    p.IP = "127.0.0.9";
    p.StatusIcon = 12;
    return p;
}

TEST_F(PersonFile, SaveWritesTenQuotedValuesThenTheUnknownLines) {
    TKavelPerson p = Sample(dir.File("tanaka.kvl"));
    p.Unknown = {"\"extra\"", "raw line"};
    p.SavePersonFile();
    EXPECT_EQ(
        "\"ﾀﾅｶ\"\r\n\"田中\"\r\n\"総務部\"\r\n\"内線 200\"\r\n\"会議\r\n本社\"\r\n"
        "\"2004/12/24\"\r\n\"17:30\"\r\n\"03-1234\"\r\n\"127.0.0.9\"\r\n\"12\"\r\n"
        "\"extra\"\r\nraw line\r\n",
        dir.Read("tanaka.kvl"));
    p.Name = "a\"b";
    p.StatusIcon = -1;
    EXPECT_NE(std::string::npos, p.PersonFileText().find("\r\n\"a\"b\"\r\n"));
    EXPECT_NE(std::string::npos, p.PersonFileText().find("\r\n\"-1\"\r\n"));
}

TEST_F(PersonFile, ARecordReadBackSavesToTheSameBytes) {
    TKavelPerson original = Sample(dir.File("t.kvl"));
    original.Unknown = {"\"11th\"", "12th \"raw\""};
    original.Name = "\"田中\" a\"\"b";
    original.SavePersonFile();
    const std::string firstBytes = dir.Read("t.kvl");
    EXPECT_NE(std::string::npos, firstBytes.find("\"会議\r\n本社\"\r\n"));

    TKavelPerson loaded(dir.File("t.kvl"));
    EXPECT_EQ(original.Name, loaded.Name);  // quotes neither doubled nor undoubled
    EXPECT_EQ(original.Unknown, loaded.Unknown);
    // Each reason line comes back ended by CR LF...
    EXPECT_EQ(original.Huzairiyu + "\r\n", loaded.Huzairiyu);
    // ...and that last break is not written again, so nothing grows.
    for (int round = 0; round < 3; ++round) {
        loaded.SavePersonFile();
        EXPECT_EQ(firstBytes, dir.Read("t.kvl"));
        loaded = TKavelPerson(dir.File("t.kvl"));
    }
    // An empty reason reads as one empty line and is written as "".
    loaded.Huzairiyu = "\r\n";
    loaded.SavePersonFile();
    EXPECT_NE(std::string::npos, dir.Read("t.kvl").find("\r\n\"\"\r\n\"2004/12/24\""));
}

TEST_F(PersonFile, SaveFailureRaisesAndKeepsTheOldFile) {
    TKavelPerson p = Sample(dir.File("t.kvl"));
    p.SavePersonFile();
    const std::string before = dir.Read("t.kvl");
    p.Name = "changed";
    SetWriteFaultHook([](TWriteStep step, const std::string&) { return step == TWriteStep::Rename ? ENOSPC : 0; });
    EXPECT_THROW(p.SavePersonFile(), EInOutError);
    SetWriteFaultHook({});
    EXPECT_EQ(before, dir.Read("t.kvl"));
    p.FilePath = dir.File("gone/t.kvl");
    EXPECT_THROW(p.SavePersonFile(), EInOutError);
}

TEST(Person, BlankClearAndAssign) {
    TKavelPerson blank;
    EXPECT_TRUE(blank.PowerOFF);
    EXPECT_EQ(0, blank.StatusIcon);
    EXPECT_EQ("", blank.FileName());

    TKavelPerson p = Sample("/c/tanaka.kvl");
    p.PowerOFF = false;
    p.Unknown = {"u"};
    TKavelPerson copy;
    copy.Unknown = {"old", "lines"};
    copy.Assign(p);
    EXPECT_EQ(p.PersonFileText(), copy.PersonFileText());
    EXPECT_EQ("/c/tanaka.kvl", copy.FilePath);
    EXPECT_FALSE(copy.PowerOFF);
    EXPECT_EQ(std::vector<std::string>{"u"}, copy.Unknown);
    copy.Assign(copy);
    EXPECT_EQ("田中", copy.Name);

    p.Clear();
    EXPECT_EQ(TKavelPerson().PersonFileText(), p.PersonFileText());
    EXPECT_TRUE(p.PowerOFF);
    EXPECT_EQ("", p.FilePath);
    EXPECT_TRUE(p.Unknown.empty());
}

TKavelPerson Away(const std::string& date, const std::string& time = "") {
    TKavelPerson p;
    p.PowerOFF = false;
    p.ModoriDate = date;
    p.ModoriTime = time;
    return p;
}

TEST(ReturnState, EmptyDateMeansPresentOrOff) {
    TKavelPerson p = Away("");
    EXPECT_EQ(rsPresent, p.ReturnState(At(2004, 12, 24)));
    EXPECT_EQ(" 17:00", (p.ModoriTime = "17:00", p.ReturnText(0)));
    p.PowerOFF = true;
    EXPECT_EQ(rsPowerOff, p.ReturnState(At(2004, 12, 24)));
}

TEST(ReturnState, AnEmptyTimeMeansTheLastSecondOfTheDay) {
    const TKavelPerson p = Away("2004/12/24");
    EXPECT_EQ(rsToday, p.ReturnState(At(2004, 12, 24, 18)));
    EXPECT_EQ("本日 ", p.ReturnText(At(2004, 12, 24, 18)));
    EXPECT_EQ(rsToday, p.ReturnState(At(2004, 12, 24, 23, 59, 59)));
    EXPECT_EQ(rsOverdue, p.ReturnState(At(2004, 12, 25)));
    EXPECT_EQ("12/24(金) ", p.ReturnText(At(2004, 12, 25)));
}

TEST(ReturnState, CalendarDaysAhead) {
    const TDateTime now = At(2004, 12, 24, 9);
    EXPECT_EQ(rsOverdue, Away("2004/12/24", "8:59").ReturnState(now));
    EXPECT_EQ(rsToday, Away("2004/12/24", "9:00").ReturnState(now));
    EXPECT_EQ(rsTomorrow, Away("2004/12/25", "0:00").ReturnState(now));
    EXPECT_EQ("明日 0:00", Away("2004/12/25", "0:00").ReturnText(now));
    EXPECT_EQ(rsDayAfterTomorrow, Away("2004/12/26").ReturnState(now));
    EXPECT_EQ("明後日 ", Away("2004/12/26").ReturnText(now));
    EXPECT_EQ(rsLater, Away("2004/12/27", "00:00").ReturnState(now));
    EXPECT_EQ("12/27(月) 00:00", Away("2004/12/27", "00:00").ReturnText(now));
    EXPECT_EQ(rsLater, Away("2005/01/01").ReturnState(now));
    EXPECT_EQ(rsOverdue, Away("2003/1/1", "10:00").ReturnState(now));
    EXPECT_EQ("1/1(水) 10:00", Away("2003/1/1", "10:00").ReturnText(now));
    // Midnight itself belongs to the new day.
    EXPECT_EQ(rsTomorrow, Away("2004/12/25", "0:00").ReturnState(At(2004, 12, 24)));
    EXPECT_EQ(rsToday, Away("2004/12/25", "0:00").ReturnState(At(2004, 12, 25)));
}

TEST(ReturnState, AnUnreadableTimeCountsFromMidnight) {
    const TDateTime now = At(2004, 12, 24, 9);
    EXPECT_EQ(rsOverdue, Away("2004/12/24", "夕方").ReturnState(now));
    EXPECT_EQ("12/24(金) 夕方", Away("2004/12/24", "夕方").ReturnText(now));
    EXPECT_EQ(rsTomorrow, Away("2004/12/25", "25:00").ReturnState(now));
}

TEST(ReturnState, TextThatIsNoDateIsShownUnchanged) {
    const TKavelPerson p = Away("不在", "昼");
    EXPECT_EQ(rsUnparsable, p.ReturnState(At(2004, 12, 24)));
    EXPECT_EQ("不在 昼", p.ReturnText(At(2004, 12, 24)));
    EXPECT_EQ(rsUnparsable, Away("2004/12/24 17:00").ReturnState(At(2004, 12, 24)));
    EXPECT_EQ(rsUnparsable, Away("2004/02/30").ReturnState(At(2004, 12, 24)));
}

TEST(ReturnState, DateTimeTextIsTheFirstConversion) {
    EXPECT_TRUE(IsDateTimeText("2004/12/24"));
    EXPECT_TRUE(IsDateTimeText("2004/12/24 17:30"));
    EXPECT_FALSE(IsDateTimeText(""));
    EXPECT_FALSE(IsDateTimeText("不在"));
    EXPECT_FALSE(IsDateTimeText("17:30"));
}

TEST(Heads, CutAfterNBytesWithoutSplittingACharacter) {
    TKavelPerson p;
    p.Huzairiyu = "abcdefghijklmnopqrstuvwxyz";
    EXPECT_EQ("abcdefghijklmn", p.ReasonHead(14));
    p.Huzairiyu = "abcdefghijklm出張中";
    EXPECT_EQ("abcdefghijklm出", p.ReasonHead(14));
    p.Memo = "内線1234567890123";
    EXPECT_EQ("内線1234567890", p.MemoHead(14));
    p.Memo = "short";
    EXPECT_EQ("short", p.MemoHead(14));
}

}  // namespace
