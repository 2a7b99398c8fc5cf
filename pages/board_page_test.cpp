#include "pages/board_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/persons_list.h"
#include "pages/page_test_office.h"

namespace {

const std::string Head =
    "<HTML>\r\n"
    "  <HEAD>\r\n"
    "<STYLE TYPE=\"text/css\">\r\n"
    ".NOBORDER\t\t\t\t{}\r\n"
    ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }\r\n"
    "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}\r\n"
    ".widthdef\t\t\t\t{width:780;}\r\n"
    ".Site\t\t\t\t\t\t{FONT-WEIGHT:bold;  FONT-SIZE:12pt; COLOR:white;}\r\n"
    ".LastReload\t\t\t{FONT-WEIGHT:bold;  FONT-SIZE: 9pt; COLOR:lime;}\r\n"
    "TABLE\t\t\t\t\t\t{TEXT-ALIGN:center; FONT-SIZE:10pt; COLOR:black;}\r\n"
    "TH\t\t\t\t\t\t\t\t{TEXT-ALIGN:center; FONT-SIZE:10pt; COLOR:white; BACKGROUND-COLOR:black;}\r\n"
    "TD\t\t\t\t\t\t\t\t{TEXT-ALIGN:center; FONT-SIZE:10pt; COLOR:black; BACKGROUND-COLOR:white;}\r\n"
    "TD.Status\t\t\t\t{WIDTH: 32;}\r\n"
    "TD.KBName\t\t\t\t{WIDTH:160; FONT-SIZE:18pt;}\r\n"
    "TD.KBReturn\t\t\t{WIDTH:120; FONT-SIZE:10pt; COLOR:red; BACKGROUND-COLOR:silver;\t}\r\n"
    "A\t\t\t\t\t\t\t\t{TEXT-DECORATION:none;}\r\n"
    "</STYLE>\r\n"
    "  </HEAD>\r\n"
    "  <BODY>\r\n"
    "    <CENTER>\r\n"
    "      <SPAN CLASS=\"Site\">テスト掲示板</SPAN>\r\n"
    "      <TABLE CLASS=\"NOBORDER\" STYLE=\"BACKGROUND:BLACK\";>\r\n"
    "        <TR><TH>状態</TH><TH>名前</TH><TH>行き先/戻り時間</TH><TH>状態</TH><TH>名前</TH><TH>行き先/戻り時間</TH></TR>\r\n";

std::string Tail(const std::string& reload = "※この情報は、12月7日(月) 9時5分3秒にサーバから読込んだものです。") {
    return "\r\n"
           "      </TABLE>\r\n"
           "      <SPAN CLASS=\"LastReload\">" +
           reload +
           "      </SPAN>\r\n"
           "    </CENTER>\r\n"
           "  </BODY>\r\n"
           "</HTML>";
}

const std::string SatoCells =
    "<TD CLASS=\"Status\"><IMG SRC=\"huzaiyellow.jpg\"></TD><TD CLASS=\"KBName\">"
    "<A HREF=\"uframe?user=sato\" TARGET=\"uframe\"><FONT STYLE=\"COLOR:olive\">佐藤花子</FONT></A></TD>"
    "<TD><TABLE TITLE=\"会議&#13&#1015時まで\"><TR><TD>会議\r\n15時まで　</TD></TR>"
    "<TR><TD CLASS=\"KBReturn\">本日 17:00　</TD></TR></TABLE></TD>";
const std::string SuzukiCells =
    "<TD CLASS=\"Status\"><IMG SRC=\"huzaired.jpg\"></TD><TD CLASS=\"KBName\">"
    "<A HREF=\"uframe?user=suzuki\" TARGET=\"uframe\"><FONT STYLE=\"COLOR:red\">鈴木次郎</FONT></A></TD>"
    "<TD><TABLE TITLE=\"出張\"><TR><TD>出張\r\n　</TD></TR>"
    "<TR><TD CLASS=\"KBReturn\">明日 10:00　</TD></TR></TABLE></TD>";
const std::string TanakaCells =
    "<TD CLASS=\"Status\"><IMG SRC=\"poweron.jpg\"></TD><TD CLASS=\"KBName\">"
    "<A HREF=\"uframe?user=tanaka\" TARGET=\"uframe\"><FONT STYLE=\"COLOR:black\">田中太郎</FONT></A></TD>"
    "<TD><TABLE><TR><TD>内線101　</TD></TR>"
    "<TR><TD CLASS=\"KBReturn\"> 　</TD></TR></TABLE></TD>";
// Client off: not present, so the destination is the (empty, one line) reason.
const std::string YamadaCells =
    "<TD CLASS=\"Status\"><IMG SRC=\"poweroff.jpg\"></TD><TD CLASS=\"KBName\">"
    "<A HREF=\"uframe?user=yamada\" TARGET=\"uframe\"><FONT STYLE=\"COLOR:gray\">山田一郎</FONT></A></TD>"
    "<TD><TABLE><TR><TD>\r\n　</TD></TR>"
    "<TR><TD CLASS=\"KBReturn\"> 　</TD></TR></TABLE></TD>";

class BoardPage : public ::testing::Test {
protected:
    std::string Board(const std::string& query = "") {
        return office.Maker().MakeBoardPage(
            TPageTestOffice::Request(query.empty() ? "/keiziban" : "/keiziban?" + query));
    }
    TPageTestOffice office;
};

TEST_F(BoardPage, StandardOfficeByteForByte) {
    office.WriteStandardOffice();
    office.Open();
    EXPECT_EQ(Board(), Head + "<TR>" + SatoCells + SuzukiCells + "</TR>\r\n<TR>" + TanakaCells + YamadaCells +
                           "</TR>\r\n" + Tail());
}

TEST_F(BoardPage, TwoPersonsToARow) {
    office.WriteStandardOffice();
    TTestPerson tani = TPageTestOffice::Tanaka();
    tani.Key = "tani";
    tani.Furigana = "ﾀﾆ";
    office.AddPerson(tani);
    office.Open();
    std::string taniCells = TanakaCells;
    taniCells.replace(taniCells.find("user=tanaka"), 11, "user=tani");

    // Nobody shown: the heading row, then an empty line before the table's end.
    EXPECT_EQ(Board("furiganaFilter=w&groupFilter="), Head + Tail());
    // One: a row of three cells.
    EXPECT_EQ(Board("furiganaFilter=y&groupFilter="), Head + "<TR>" + YamadaCells + "</TR>\r\n" + Tail());
    // Two: one full row.
    EXPECT_EQ(Board("furiganaFilter=s&groupFilter="), Head + "<TR>" + SatoCells + SuzukiCells + "</TR>\r\n" + Tail());
    // Three (group 営業): six cells, then three.
    EXPECT_EQ(Board("furiganaFilter=&groupFilter=%89c%8B%C6"),
              Head + "<TR>" + SuzukiCells + TanakaCells + "</TR>\r\n<TR>" + taniCells + "</TR>\r\n" + Tail());
    // Five.
    EXPECT_EQ(Board(), Head + "<TR>" + SatoCells + SuzukiCells + "</TR>\r\n<TR>" + TanakaCells + taniCells +
                           "</TR>\r\n<TR>" + YamadaCells + "</TR>\r\n" + Tail());
}

TEST_F(BoardPage, KanaAndGroupFilters) {
    TTestPerson aoki;
    aoki.Key = "aoki";
    aoki.Furigana = "ｱｵｷ";
    aoki.Name = "青木";
    aoki.Group = "営業";
    TTestPerson kato = aoki;
    kato.Key = "kato";
    kato.Furigana = "ｶﾄｳ";
    kato.Name = "加藤";
    kato.Group = "営業部";
    TTestPerson gato = kato;
    gato.Key = "gato";
    gato.Furigana = "ｶﾞﾄｳ";  // voiced mark after the row's byte
    gato.Name = "我藤";
    gato.Group = "営業";
    TTestPerson noreading = aoki;
    noreading.Key = "noreading";
    noreading.Furigana = "";
    noreading.Name = "読みなし";
    TTestPerson latin = aoki;
    latin.Key = "latin";
    latin.Furigana = "Smith";
    latin.Name = "スミス";
    latin.Group = "sales";
    for (const TTestPerson& p : {aoki, kato, gato, noreading, latin}) office.AddPerson(p);
    office.Open();

    auto shown = [&](const std::string& query) {
        const std::string page = Board(query);
        std::vector<std::string> keys;
        for (const char* key : {"aoki", "gato", "kato", "noreading", "latin"})
            if (page.find(std::string("uframe?user=") + key + "\"") != std::string::npos) keys.push_back(key);
        return keys;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(shown(""), (V{"aoki", "gato", "kato", "noreading", "latin"}));
    EXPECT_EQ(shown("furiganaFilter=a"), V{"aoki"});
    EXPECT_EQ(shown("furiganaFilter=k"), (V{"gato", "kato"}));
    EXPECT_EQ(shown("furiganaFilter=ka"), (V{"gato", "kato"}));  // only the first character counts
    EXPECT_EQ(shown("furiganaFilter=A"), (V{"aoki", "gato", "kato", "noreading", "latin"}));
    EXPECT_EQ(shown("furiganaFilter=x"), (V{"aoki", "gato", "kato", "noreading", "latin"}));
    EXPECT_EQ(shown("furiganaFilter=s"), V{});  // "Smith" is in no row
    // Exact group text: 営業 is not 営業部, "SALES" is not "sales".
    EXPECT_EQ(shown("groupFilter=%89c%8B%C6"), (V{"aoki", "gato", "noreading"}));
    EXPECT_EQ(shown("groupFilter=%89c%8B%C6%95%94"), V{"kato"});
    EXPECT_EQ(shown("groupFilter=SALES"), V{});
    EXPECT_EQ(shown("groupFilter=sales"), V{"latin"});
    EXPECT_EQ(shown("groupFilter=nosuchgroup"), V{});
    // Both together.
    EXPECT_EQ(shown("furiganaFilter=k&groupFilter=%89c%8B%C6"), V{"gato"});
    EXPECT_EQ(shown("furiganaFilter=a&groupFilter=%89c%8B%C6%95%94"), V{});
    // The parameter names ignore case, as for every request parameter.
    EXPECT_EQ(shown("FURIGANAFILTER=a"), V{"aoki"});
}

TEST(MatchesFurigana, RowLettersOnly) {
    TKavelPerson p;
    p.Furigana = "ﾊﾟﾝ";
    EXPECT_TRUE(MatchesFurigana(p, "h"));
    EXPECT_FALSE(MatchesFurigana(p, "k"));
    EXPECT_TRUE(MatchesFurigana(p, ""));
    EXPECT_TRUE(MatchesFurigana(p, "H"));
    EXPECT_TRUE(MatchesFurigana(p, "1"));
    p.Furigana = "ｦ";  // outside every row
    for (const char* row : {"a", "k", "s", "t", "n", "h", "m", "y", "r", "w"})
        EXPECT_FALSE(MatchesFurigana(p, row)) << row;
    p.Furigana = "ﾝ";
    EXPECT_TRUE(MatchesFurigana(p, "w"));
}

TEST_F(BoardPage, ColoursByReturnState) {
    TTestPerson p;
    p.Key = "p";
    p.Furigana = "ｱ";
    office.AddPerson(p);
    office.Open();
    const TDateTime now = office.Clock.Now();
    TKavelPerson person;
    person.PowerOFF = false;
    EXPECT_EQ(StatusColor(person, now), "black");
    person.PowerOFF = true;
    EXPECT_EQ(StatusColor(person, now), "gray");
    person.ModoriDate = "2020/12/07";
    person.ModoriTime = "17:00";
    EXPECT_EQ(StatusColor(person, now), "olive");
    person.ModoriTime = "09:00";  // passed
    EXPECT_EQ(StatusColor(person, now), "red");
    person.ModoriDate = "2020/12/08";
    EXPECT_EQ(StatusColor(person, now), "red");
    person.ModoriDate = "2020/12/20";
    EXPECT_EQ(StatusColor(person, now), "red");
    person.ModoriDate = "不在";
    EXPECT_EQ(StatusColor(person, now), "red");
    // An unparsable date shows its own text and the red absent mark.
    const std::string cells = MakeBoardCells(person, now, office.Env->Statuses());
    EXPECT_NE(cells.find("<IMG SRC=\"huzaired.jpg\">"), std::string::npos) << cells;
    EXPECT_NE(cells.find(">不在 09:00　</TD>"), std::string::npos) << cells;
}

TEST_F(BoardPage, ReturnCellIsThePersonsReturnTextInEveryState) {
    office.Open();
    const TDateTime now = office.Clock.Now();
    struct TCase {
        const char* Date;
        const char* Time;
        bool Off;
    };
    const TCase cases[] = {{"", "", false},
                           {"", "", true},
                           {"", "12:00", false},
                           {"2020/12/07", "17:00", false},
                           {"2020/12/07", "", false},
                           {"2020/12/07", "08:00", false},
                           {"2020/12/08", "10:00", false},
                           {"2020/12/09", "10:00", false},
                           {"2020/12/10", "", true},
                           {"2019/1/2", "9:00", false},
                           {"不在", "", false},
                           {"<x>&", "\"y\"", false},
                           {"2020/12/07", "25:99", false}};
    for (const TCase& c : cases) {
        TKavelPerson person;
        person.FilePath = office.Dir.File("p.kvl");
        person.ModoriDate = c.Date;
        person.ModoriTime = c.Time;
        person.PowerOFF = c.Off;
        const std::string cells = MakeBoardCells(person, now, office.Env->Statuses());
        std::string expected = person.ReturnText(now);
        for (size_t at = 0; (at = expected.find_first_of("&<>\"", at)) != std::string::npos;) {
            const char* entity = expected[at] == '&'   ? "&amp;"
                                 : expected[at] == '<' ? "&lt;"
                                 : expected[at] == '>' ? "&gt;"
                                                       : "&quot;";
            expected.replace(at, 1, entity);
            at += std::string(entity).size();
        }
        EXPECT_NE(cells.find("<TD CLASS=\"KBReturn\">" + expected + "　</TD>"), std::string::npos)
            << c.Date << " " << c.Time << ": " << cells;
    }
}

TEST_F(BoardPage, CellTexts) {
    office.Open();
    const TDateTime now = office.Clock.Now();
    TKavelPerson person;
    person.FilePath = office.Dir.File("50%off.kvl");
    person.PowerOFF = false;
    person.Name = "五十";
    person.Memo = "ああああああああああああああああああああ";  // 20 double-byte characters
    person.Huzairiyu = "  \r\n";
    const std::string present = MakeBoardCells(person, now, office.Env->Statuses());
    EXPECT_NE(present.find("<TR><TD>あああああああ　</TD></TR>"), std::string::npos) << present;
    EXPECT_NE(present.find("<TD><TABLE><TR>"), std::string::npos) << "blank reason: no TITLE";
    // A percent sign in the key stays findable once the link is followed.
    EXPECT_NE(present.find("HREF=\"uframe?user=50%25off\""), std::string::npos) << present;

    person.ModoriDate = "2020/12/07";
    person.Huzairiyu = "50%の確率で戻る\r\n";
    const std::string away = MakeBoardCells(person, now, office.Env->Statuses());
    EXPECT_NE(away.find("<TABLE TITLE=\"50%の確率で戻る\"><TR><TD>50%の確率で戻る　</TD></TR>"), std::string::npos)
        << away;
    EXPECT_NE(away.find("<TD CLASS=\"KBReturn\">本日 　</TD>"), std::string::npos) << away;

    // A double-byte character starting at the 14th byte is taken whole.
    person.Huzairiyu = "1234567890123会議";
    const std::string cut = MakeBoardCells(person, now, office.Env->Statuses());
    EXPECT_NE(cut.find("<TR><TD>1234567890123会　</TD></TR>"), std::string::npos) << cut;
}

TEST_F(BoardPage, HostileOfficeReachesThePageOnlyEscaped) {
#ifdef _WIN32
    GTEST_SKIP() << "a Windows file name cannot hold the key's < and >";
#endif
    TTestPerson present;
    present.Key = "x<b>&#+ %q";
    present.Furigana = "ｱ";
    present.Name = "<script>alert(1)</script>";
    present.Group = "<i>grp\"</i>";
    present.Memo = "<b>\"m\"</b>";
    office.AddPerson(present);
    TTestPerson away = present;
    away.Key = "away";
    away.Furigana = "ｲ";
    away.Name = "Away";
    away.Huzairiyu = "<img src=x onerror=alert(1)>\r\n\"quoted\" & more";
    away.ModoriDate = "<s>";
    away.ModoriTime = "\"><script>";
    office.AddPerson(away);
    office.IniText = "QUOR_SiteName=<B>サイト</B>\r\n";
    office.Open();

    const std::string page = Board();
    for (const char* raw : {"<script", "<img", "<b>", "<i>", "<s>", "\"quoted\"", "\"m\""})
        EXPECT_EQ(page.find(raw), std::string::npos) << raw;
    EXPECT_NE(page.find("<SPAN CLASS=\"Site\"><B>サイト</B></SPAN>"), std::string::npos) << "site name is the admin's";
    EXPECT_NE(page.find("<A HREF=\"uframe?user=x&lt;b&gt;%26%23%2B%20%25q\" TARGET=\"uframe\">"
                        "<FONT STYLE=\"COLOR:black\">&lt;script&gt;alert(1)&lt;/script&gt;</FONT></A>"),
              std::string::npos);
    EXPECT_NE(page.find("<TR><TD>&lt;b&gt;&quot;m&quot;&lt;/b&gt;　</TD></TR>"), std::string::npos);
    EXPECT_NE(page.find("<TABLE TITLE=\"&lt;img src=x onerror=alert(1)&gt;&#13&#10&quot;quoted&quot; &amp; more\">"),
              std::string::npos);
    EXPECT_NE(page.find("<TD CLASS=\"KBReturn\">&lt;s&gt; &quot;&gt;&lt;script&gt;　</TD>"), std::string::npos);
    // The escaped group still filters: the filter compares the raw text.
    const std::string filtered = Board("groupFilter=%3Ci%3Egrp%22%3C%2Fi%3E");
    EXPECT_NE(filtered.find("uframe?user=away"), std::string::npos);
    EXPECT_NE(filtered.find("onerror=alert(1)&gt;"), std::string::npos);
}

TEST_F(BoardPage, ReloadLineShowsTheScanTime) {
    office.Clock.Set(EncodeDate(2020, 12, 13) + EncodeTime(23, 0, 9, 0));  // a Sunday
    office.Open();
    EXPECT_EQ(Board(), Head + Tail("※この情報は、12月13日(日) 23時0分9秒にサーバから読込んだものです。"));
}

}  // namespace
