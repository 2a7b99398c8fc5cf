#include "pages/absence_page.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "data/kavel_person.h"
#include "data/person_status.h"
#include "data/persons_list.h"
#include "data/store_gate.h"
#include "images/test_pictures.h"
#include "log/event_log.h"
#include "pages/page_test_clients.h"
#include "pages/page_test_office.h"
#include "platform/event_sink.h"
#include "protocol/kavel_protocol.h"

namespace {

std::string AsciiUpper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string SolidIcon(uint32_t rgb) {
    using namespace testpic;
    return IcoFile({{32, 32, 24,
                     IconImage(
                         32, 32, 24, {}, [rgb](int, int) { return rgb; }, [](int, int) { return false; })}});
}

const std::string ClosingStyle =
    "<STYLE TYPE=\"text/css\">\r\n"
    ".NOBORDER\t\t\t\t{}\r\n"
    ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }\r\n"
    "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}\r\n"
    ".widthdef\t\t\t\t{width:780;}\r\n"
    ".Title\t\t\t\t\t\t{FONT-WEIGHT:bold;\x81\x40"
    "FONT-SIZE:16pt; COLOR:white;}\r\n"
    "TABLE\t\t\t\t\t\t{FONT-WEIGHT:bold;  TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; "
    "BACKGROUND-COLOR:white;}\r\n"
    "TH\t\t\t\t\t\t\t\t{WIDTH:180; \t\t\t\tTEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:white; "
    "BACKGROUND-COLOR:DarkCyan;}\r\n"
    "TD\t\t\t\t\t\t\t\t{WIDTH:500; \t\t\t\tTEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; "
    "BACKGROUND-COLOR:white;}\r\n"
    "</STYLE>";

std::string ClosingPage(const std::string& name) {
    return "<HTML>\r\n  <HEAD>" + ClosingStyle +
           "</HEAD>\r\n"
           "  <BODY onLoad=\"JavaScript:parent.close();\">\r\n"
           "    <CENTER>\r\n"
           "      <BR><BR><BR><BR>" +
           name +
           "さんの不在状態を解除しました。<BR><BR>\r\n"
           "    </CENTER>\r\n"
           "  </BODY>\r\n"
           "</HTML>";
}

class AbsenceTest : public ::testing::Test {
protected:
    explicit AbsenceTest(const std::string& extraIni = "")
        : Clients_(5), Logger_(Home_.Dir(), Office_.Clock, Sink_), Scoped_(Logger_) {
        Office_.IniText = "QUOR_SiteName=テスト掲示板\r\nUDPMessage,Port=" + std::to_string(Clients_.Port()) +
                          "\r\nQUOR_Interval,ReloadAllFile=1\r\n" + extraIni;
        Office_.Dir.Write("o_y.ico", SolidIcon(0xFFFF00));
        Office_.Dir.Write("o_r.ico", SolidIcon(0xFF0000));
        Office_.WriteStandardOffice();
        Office_.Open();
    }

    std::string Submit(const std::string& query) {
        return Office_.Maker().MakeAbsenceSubmitPage(TPageTestOffice::Request("/uhuzaisetsubmit?" + query));
    }
    std::string Kvl(const std::string& key) { return Office_.Dir.Read(key + ".kvl"); }
    std::vector<TLoopbackClients::TGot> Sent() { return Clients_.Collect(Office_.Env->Protocol()); }
    const TKavelPerson& Listed(const std::string& key) {
        Persons_ = Office_.Env->GetPersons();
        const TKavelPerson* p = Persons_->FindPerson(key);
        if (!p) throw std::logic_error("no " + key);
        return *p;
    }
    std::string PersonData(const std::string& key, const std::string& date, const std::string& time,
                           const std::string& icon, const std::string& reason) {
        return "\x01Kvl3_Dat" + AsciiUpper(Office_.Dir.Dir() + key) + "\x01Kvl3_Date" + date + "\x01Kvl3_Time" + time +
               "\x01Kvl3_Icon" + icon + "\x01Kvl3_Locate" + reason + "\x01Kvl3_Eod";
    }
    // Every person of the office got exactly this one datagram.
    void ExpectEveryoneGot(const std::string& datagram) {
        const auto sent = Sent();
        ASSERT_EQ(sent.size(), 4u);
        const char* to[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(sent[i].To, to[i]);
            EXPECT_EQ(sent[i].Bytes, datagram);
        }
    }

    TPageTestOffice Office_;
    TLoopbackClients Clients_;
    TTestTempDir Home_;
    TCapturingEventSink Sink_;
    TLogger Logger_;
    TScopedLogger Scoped_;
    TKavelEnv::TPersonsPtr Persons_;
};

class AbsenceWithCustomMarksTest : public AbsenceTest {
protected:
    AbsenceWithCustomMarksTest()
        : AbsenceTest(
              "CustomIcon,Name=外出,YellowIcon=o_y.ico,RedIcon=o_r.ico\r\n"
              "CustomIcon,Name=会議,YellowIcon=o_y.ico,RedIcon=o_r.ico\r\n") {}
};

}  // namespace

TEST(AbsenceDateList, NinetyOneDaysFromTodayWithTheReturnDaySelected) {
    const TDateTime now = TPageTestOffice::DefaultNow();  // Monday 2020/12/07 09:05:03
    const std::string list = AbsenceDateList(now, "2020/12/09");
    const std::string head = "<SELECT NAME=\"modoridate\">\r\n";
    const std::string tail = "\r\n</SELECT>";
    ASSERT_EQ(list.compare(0, head.size(), head), 0);
    ASSERT_EQ(list.compare(list.size() - tail.size(), tail.size(), tail), 0);

    std::vector<std::string> options;
    for (size_t at = head.size(); at < list.size() - tail.size();) {
        const size_t end = list.find("\r\n", at);
        options.push_back(list.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_EQ(options.size(), 91u);
    EXPECT_EQ(options[0], "<OPTION VALUE=\"2020/12/07\">2020年 12月 07日(月)</OPTION>");
    EXPECT_EQ(options[1], "<OPTION VALUE=\"2020/12/08\">2020年 12月 08日(火)</OPTION>");
    EXPECT_EQ(options[2], "<OPTION VALUE=\"2020/12/09\" SELECTED>2020年 12月 09日(水)</OPTION>");
    EXPECT_EQ(options[25], "<OPTION VALUE=\"2021/01/01\">2021年 01月 01日(金)</OPTION>");
    EXPECT_EQ(options[90], "<OPTION VALUE=\"2021/03/07\">2021年 03月 07日(日)</OPTION>");
    EXPECT_EQ(list.find(" SELECTED"), list.rfind(" SELECTED"));

    // Days that are not in the list, or not a midnight, select nothing.
    for (const char* date : {"", "2020/12/06", "2021/03/08", "2020/12/09 10:00", "不在", "x"})
        EXPECT_EQ(AbsenceDateList(now, date).find("SELECTED"), std::string::npos) << date;
    EXPECT_NE(AbsenceDateList(now, "2021/3/7").find("\"2021/03/07\" SELECTED"), std::string::npos);
    EXPECT_NE(AbsenceDateList(now, "2020/12/07").find("\"2020/12/07\" SELECTED"), std::string::npos);
}

TEST_F(AbsenceTest, StatusListOffersTheAbsenceMarkOnly) {
    EXPECT_EQ(AbsenceStatusList(Office_.Env->Statuses(), 0),
              "<SELECT NAME=\"statusicon\" STYLE=\"FONT-SIZE:18pt;\">\r\n"
              "<OPTION VALUE=\"0\"SELECTED>不在</OPTION>\r\n"
              "\r\n</SELECT>");
    EXPECT_EQ(AbsenceStatusList(Office_.Env->Statuses(), 7).find("SELECTED"), std::string::npos);
}

TEST_F(AbsenceWithCustomMarksTest, StatusListOffersEveryMarkFromTheAbsenceMarkOn) {
    EXPECT_EQ(AbsenceStatusList(Office_.Env->Statuses(), 2),
              "<SELECT NAME=\"statusicon\" STYLE=\"FONT-SIZE:18pt;\">\r\n"
              "<OPTION VALUE=\"0\">不在</OPTION>\r\n"
              "<OPTION VALUE=\"1\">外出</OPTION>\r\n"
              "<OPTION VALUE=\"2\"SELECTED>会議</OPTION>\r\n"
              "\r\n</SELECT>");
}

TEST_F(AbsenceTest, FormPageBytes) {
    const std::string page = Office_.Maker().MakeAbsencePage(TPageTestOffice::Request("/uhuzai?user=sato"));
    const std::string expected =
        "<HTML>\r\n"
        "  <HEAD><STYLE TYPE=\"text/css\">\r\n"
        ".NOBORDER\t\t\t\t{}\r\n"
        ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }\r\n"
        "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}\r\n"
        ".widthdef\t\t\t\t{width:780;}\r\n"
        ".Title\t\t\t\t\t\t{FONT-WEIGHT:bold;\x81\x40"
        "FONT-SIZE:16pt; COLOR:white;}\r\n"
        "TABLE\t\t\t\t\t\t{FONT-WEIGHT:bold;  TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; }\r\n"
        "TH\t\t\t\t\t\t\t\t{TEXT-ALIGN:left;   FONT-SIZE:14pt; COLOR:white; BACKGROUND-COLOR:DarkCyan;}\r\n"
        "TD\t\t\t\t\t\t\t\t{TEXT-ALIGN:left;   FONT-SIZE:14pt; COLOR:black; }\r\n"
        ".MainTable\t\t\t\t{WIDTH:640;\t\t\t\t\tCOLOR:white; BORDER:0;}\r\n"
        ".ModoriTable\t\t\t{WIDTH:100%;\t\t\t\tBACKGROUND-COLOR:white; BORDER:1 solid black;}\r\n"
        ".StatusTable\t\t\t{WIDTH:100%;\t\t\t\tBACKGROUND-COLOR:white; BORDER:1 solid black;}\r\n"
        ".RiyuTable\t\t\t\t{WIDTH:640; \t\t\t\tBACKGROUND-COLOR:white; BORDER:1 solid black;}\r\n"
        ".WidthMax\t\t\t\t{WIDTH:640;}\r\n"
        "INPUT\t\t\t\t\t\t{FONT-SIZE:12pt; FONT-WEIGHT:bold;}\r\n"
        "SELECT\t\t\t\t\t\t{FONT-SIZE:12pt; FONT-WEIGHT:bold;}\r\n"
        "TEXTAREA\t\t\t\t\t{FONT-SIZE:12pt; FONT-WEIGHT:bold;}\r\n"
        "</STYLE></HEAD>\r\n"
        "  <BODY>\r\n"
        "    <CENTER>\r\n"
        "      <FORM NAME=\"huzaiset\" TARGET=\"umaintarget\" ACTION=\"uhuzaisetsubmit\">\r\n"
        "      <SPAN CLASS=\"Title\">佐藤花子さんの不在設定を行います。</SPAN>\r\n"
        "        <INPUT TYPE=\"HIDDEN\" NAME=\"user\" VALUE=\"sato\">\r\n"
        "        <TABLE CLASS=\"MainTable\">\r\n"
        "          <TR>\r\n"
        "            <TD>\r\n"
        "              <TABLE CLASS=\"ModoriTable\">\r\n"
        "                <TR><TH>戻り日時</TH></TR>\r\n"
        "                <TR>\r\n"
        "                  <TD>\r\n"
        "                    <INPUT TYPE=\"radio\" NAME=\"modoritype\" VALUE=\"datetime\" CHECKED>\r\n"
        "                    " +
        AbsenceDateList(Office_.Clock.Now(), "2020/12/07") +
        " <INPUT TYPE=\"TEXT\" NAME=\"modoritime\" MAXLENGTH=\"5\" VALUE=\"17:00\">\r\n"
        "                  </TD>\r\n"
        "                </TR>\r\n"
        "                <TR>\r\n"
        "                  <TD>\r\n"
        "                    <INPUT TYPE=\"radio\" NAME=\"modoritype\" VALUE=\"nolimit\">\r\n"
        "                    戻り日時不明、または無期限\r\n"
        "                  </TD>\r\n"
        "                </TR>\r\n"
        "      \t       </TABLE>\r\n"
        "            </TD>\r\n"
        "            <TD>\r\n"
        "      \t       <TABLE CLASS=\"StatusTable\">\r\n"
        "                <TR><TH>状態マーク</TH></TR>\r\n"
        "                <TR>\r\n"
        "                  <TD>\r\n"
        "                    <SELECT NAME=\"statusicon\" STYLE=\"FONT-SIZE:18pt;\">\r\n"
        "<OPTION VALUE=\"0\"SELECTED>不在</OPTION>\r\n"
        "\r\n</SELECT>\r\n"
        "                  </TD>\r\n"
        "                </TR>\r\n"
        "      \t\t     </TABLE>\r\n"
        "            </TD>\r\n"
        "          </TR>\r\n"
        "          <TR><BR></TR>\r\n"
        "          <TR>\r\n"
        "            <TD COLSPAN=\"2\">\r\n"
        "              <TABLE CLASS=\"RiyuTable\">\r\n"
        "                <TR><TH>不在理由</TH></TR>\r\n"
        "                <TR>\r\n"
        "                  <TD STYLE=\"HEIGHT:26pt;\">\r\n"
        "                    <TEXTAREA CLASS=\"WidthMax\" NAME=\"huzairiyu\" ROWS=\"12\">"
        "会議\r\n15時まで</TEXTAREA>\r\n"
        "                  </TD>\r\n"
        "                </TR>\r\n"
        "              </TABLE>\r\n"
        "            </TD>\r\n"
        "          </TR>\r\n"
        "        </TABLE>\r\n"
        "      </FORM>\r\n"
        "    </CENTER>\r\n"
        "  </BODY>\r\n"
        "</HTML>";
    EXPECT_EQ(page, expected);
    EXPECT_NE(page.find("\"2020/12/07\" SELECTED"), std::string::npos);
}

TEST_F(AbsenceTest, FormPageRadioMarksFollowTheReturnDate) {
    // Present: no return date, so "no fixed return".
    std::string page = Office_.Maker().MakeAbsencePage(TPageTestOffice::Request("/uhuzai?user=tanaka"));
    EXPECT_NE(page.find("VALUE=\"datetime\">"), std::string::npos);
    EXPECT_NE(page.find("VALUE=\"nolimit\" CHECKED>"), std::string::npos);
    EXPECT_EQ(page.find(" SELECTED"), std::string::npos);

    // A date far away still marks "datetime" but selects no day.
    TTestPerson p = TPageTestOffice::Tanaka();
    p.ModoriDate = "2022/01/01";
    Office_.AddPerson(p);
    Office_.Rescan();
    page = Office_.Maker().MakeAbsencePage(TPageTestOffice::Request("/uhuzai?user=tanaka"));
    EXPECT_NE(page.find("VALUE=\"datetime\" CHECKED>"), std::string::npos);
    EXPECT_NE(page.find("VALUE=\"nolimit\">"), std::string::npos);
    EXPECT_EQ(page.find(" SELECTED"), std::string::npos);

    // A caption in the date field is "no fixed return".
    p.ModoriDate = "不在";
    Office_.AddPerson(p);
    Office_.Rescan();
    page = Office_.Maker().MakeAbsencePage(TPageTestOffice::Request("/uhuzai?user=tanaka"));
    EXPECT_NE(page.find("VALUE=\"nolimit\" CHECKED>"), std::string::npos);

    try {
        Office_.Maker().MakeAbsencePage(TPageTestOffice::Request("/uhuzai?user=nobody"));
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "存在しないユーザ情報を要求されました。");
    }
}

TEST_F(AbsenceTest, FormPageEscapesEveryValueOfThePerson) {
    TTestPerson p = TPageTestOffice::Tanaka();
    p.Key = "t&x";
    p.Name = "<b>田中</b>";
    p.ModoriDate = "2020/12/08";
    p.ModoriTime = "\"><s>";
    p.Huzairiyu = "</TEXTAREA><script>alert(1)</script>";
    Office_.AddPerson(p);
    Office_.Rescan();
    const std::string page =
        Office_.Maker().MakeAbsencePage(TPageTestOffice::Request("/uhuzai?user=" + FormEncode("t&x")));
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find("<s>"), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;田中&lt;/b&gt;さんの不在設定"), std::string::npos);
    EXPECT_NE(page.find("NAME=\"user\" VALUE=\"t&amp;x\">"), std::string::npos);
    EXPECT_NE(page.find("VALUE=\"&quot;&gt;&lt;s&gt;\">"), std::string::npos);
    EXPECT_NE(page.find(">&lt;/TEXTAREA&gt;&lt;script&gt;alert(1)&lt;/script&gt;</TEXTAREA>"), std::string::npos);
}

TEST_F(AbsenceTest, DateTimeIsSavedSentToEveryoneAndShownAfterTheRescan) {
    const TKavelPerson& before = Listed("tanaka");
    const TKavelPersonsList* oldList = Persons_.get();
    const std::string page = Submit(
        "user=tanaka&modoritype=datetime&modoridate=2020%2F12%2F10&modoritime=13%3A30"
        "&huzairiyu=" +
        FormEncode("外出\r\n客先") + "&statusicon=0");
    EXPECT_EQ(page, ClosingPage("田中太郎"));
    EXPECT_EQ(Kvl("tanaka"),
              "\"ﾀﾅｶ\"\r\n\"田中太郎\"\r\n\"営業\"\r\n\"内線101\"\r\n\"外出\r\n客先\"\r\n"
              "\"2020/12/10\"\r\n\"13:30\"\r\n\"090-0000-0000\"\r\n\"127.0.0.4\"\r\n\"0\"\r\n");
    // Requests still holding the old list keep seeing what they saw.
    EXPECT_EQ(before.ModoriDate, "");
    EXPECT_EQ(before.Huzairiyu, "\r\n");

    const TKavelPerson& after = Listed("tanaka");
    EXPECT_NE(Persons_.get(), oldList);
    EXPECT_EQ(after.ModoriDate, "2020/12/10");
    EXPECT_EQ(after.ModoriTime, "13:30");
    ExpectEveryoneGot(PersonData("tanaka", "2020/12/10", "13:30", "0", "外出\r\n客先"));
    EXPECT_TRUE(Sink_.Entries().empty());
}

// The submit's rescan falls within the clock tick of the board's last one
// (the clock here stands still): the board must still be built anew.
TEST_F(AbsenceTest, BoardAfterASubmitInTheSameClockTickShowsIt) {
    const auto board = [&] { return Office_.Maker().MakeBoardPage(TPageTestOffice::Request("/keiziban")); };
    const std::string before = board();
    ASSERT_EQ(before.find("直行"), std::string::npos);
    EXPECT_EQ(Submit("user=tanaka&modoritype=nolimit&statusicon=0&huzairiyu=" + FormEncode("直行")),
              ClosingPage("田中太郎"));
    EXPECT_NE(board().find("直行"), std::string::npos);
}

TEST_F(AbsenceTest, ReasonSurvivesRepeatedSavesThroughTheForm) {
    const std::string reason = Listed("sato").Huzairiyu;
    ASSERT_EQ(reason, "会議\r\n15時まで\r\n");
    for (int round = 0; round < 3; ++round) {
        const std::string form = Office_.Maker().MakeAbsencePage(TPageTestOffice::Request("/uhuzai?user=sato"));
        const std::string open = "NAME=\"huzairiyu\" ROWS=\"12\">";
        const size_t from = form.find(open) + open.size();
        const std::string shown = form.substr(from, form.find("</TEXTAREA>", from) - from);
        Submit("user=sato&modoritype=datetime&modoridate=2020%2F12%2F10&huzairiyu=" + FormEncode(shown) +
               "&statusicon=0");
        EXPECT_EQ(Listed("sato").Huzairiyu, reason) << "round " << round;
    }
}

TEST_F(AbsenceTest, NoLimitStoresTheCaptionOfTheMark) {
    Submit(
        "user=suzuki&modoritype=nolimit&modoridate=2020%2F12%2F10&modoritime=13%3A30"
        "&huzairiyu=" +
        FormEncode("休暇") + "&statusicon=0");
    EXPECT_EQ(Kvl("suzuki"),
              "\"ｽｽﾞｷ\"\r\n\"鈴木次郎\"\r\n\"営業\"\r\n\"内線103\"\r\n\"休暇\"\r\n"
              "\"不在\"\r\n\"\"\r\n\"\"\r\n\"127.0.0.3\"\r\n\"0\"\r\n");
    ExpectEveryoneGot(PersonData("suzuki", "不在", "", "0", "休暇"));

    // Negative numbers reach the power and presence marks.
    const char* captions[] = {"不明", "在席", "電源オフ"};
    for (int n = 1; n <= 3; ++n) {
        Submit("user=suzuki&modoritype=nolimit&statusicon=-" + std::to_string(n));
        EXPECT_EQ(Listed("suzuki").ModoriDate, captions[n - 1]);
        EXPECT_EQ(Listed("suzuki").StatusIcon, -n);
    }
}

TEST_F(AbsenceWithCustomMarksTest, NoLimitWithACustomMark) {
    Submit("user=sato&modoritype=nolimit&statusicon=1&huzairiyu=x");
    EXPECT_EQ(Listed("sato").ModoriDate, "外出");
    EXPECT_EQ(Listed("sato").StatusIcon, 1);
    ExpectEveryoneGot(PersonData("sato", "外出", "", "1", "x"));
}

TEST_F(AbsenceTest, ResetLinkClearsTheAbsence) {
    Submit("user=sato&modoritype=reset");
    EXPECT_EQ(Kvl("sato"),
              "\"ｻﾄｳ\"\r\n\"佐藤花子\"\r\n\"総務\"\r\n\"内線102\"\r\n\"\"\r\n"
              "\"\"\r\n\"\"\r\n\"03-1234-5678\"\r\n\"127.0.0.2\"\r\n\"0\"\r\n");
    ExpectEveryoneGot(PersonData("sato", "", "", "0", ""));

    // Whatever else the form carried.
    Submit("user=sato&modoritype=reset&modoridate=2020%2F12%2F10&huzairiyu=x&statusicon=5");
    EXPECT_EQ(Listed("sato").StatusIcon, 0);
    EXPECT_EQ(Listed("sato").Huzairiyu, "\r\n");
}

TEST_F(AbsenceTest, MarkNumbersThatAreNotNumbersOrNameNoMark) {
    Submit("user=sato&modoritype=datetime&modoridate=2020%2F12%2F10&statusicon=abc");
    EXPECT_EQ(Listed("sato").StatusIcon, 0);
    Submit("user=sato&modoritype=datetime&modoridate=2020%2F12%2F10&statusicon=99");
    EXPECT_EQ(Listed("sato").StatusIcon, 99);
    Submit("user=sato&modoritype=DATETIME&modoridate=2020%2F12%2F10&statusicon=-7");
    EXPECT_EQ(Listed("sato").StatusIcon, -7);
    EXPECT_EQ(Listed("sato").ModoriDate, "2020/12/10");
    Submit("user=sato&modoritype=datetime&statusicon=99999999999");
    EXPECT_EQ(Listed("sato").StatusIcon, 0);
    EXPECT_EQ(Sent().size(), 16u);
}

TEST_F(AbsenceTest, NoLimitOutsideTheCatalogueChangesNothing) {
    const std::string file = Kvl("sato");
    const TKavelPerson& listed = Listed("sato");
    const TKavelPersonsList* list = Persons_.get();
    for (const char* mark : {"-4", "1", "-2147483648", "2147483647"}) {
        const long long index = std::stoll(mark) + 3;
        try {
            Submit(std::string("user=sato&modoritype=nolimit&huzairiyu=x&statusicon=") + mark);
            ADD_FAILURE() << mark;
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()),
                      "リストのインデックスが範囲を超えています (" + std::to_string(index) + ")");
        }
    }
    EXPECT_EQ(Kvl("sato"), file);
    EXPECT_EQ(listed.ModoriDate, "2020/12/07");
    EXPECT_EQ(listed.Huzairiyu, "会議\r\n15時まで\r\n");
    EXPECT_EQ(Office_.Env->GetPersons().get(), list);  // no rescan was forced
    EXPECT_TRUE(Sent().empty());
}

TEST_F(AbsenceTest, UnknownUserChangesNothing) {
    for (const char* user : {"", "Sato", "nobody"}) {
        try {
            Submit(std::string("user=") + user + "&modoritype=reset");
            ADD_FAILURE() << user;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "存在しないユーザ情報を要求されました。");
        }
    }
    EXPECT_EQ(Listed("sato").ModoriDate, "2020/12/07");
    EXPECT_TRUE(Sent().empty());
}

TEST_F(AbsenceTest, UnwritablePersonFileSendsNothing) {
    const TKavelPersonsList* list = (Listed("sato"), Persons_.get());
    ASSERT_EQ(::chmod(Office_.Dir.File("sato.kvl").c_str(), 0444), 0);
    EXPECT_THROW(Submit("user=sato&modoritype=reset"), std::exception);
    EXPECT_EQ(Office_.Env->GetPersons().get(), list);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(AbsenceTest, OneUnreachableClientDoesNotStopTheOthers) {
    Office_.Env->Protocol().UdpClient().Socket.SetSendToCall(
        [](int fd, const void* data, size_t size, const TInet4Address& to, uint16_t port) -> long {
            if (to.ToString() == "127.0.0.3") {
                errno = EHOSTUNREACH;
                return -1;
            }
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            ::inet_pton(AF_INET, to.ToString().c_str(), &address.sin_addr);
            return ::sendto(fd, data, size, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
        });
    EXPECT_EQ(Submit("user=sato&modoritype=reset"), ClosingPage("佐藤花子"));
    Office_.Env->Protocol().UdpClient().Socket.SetSendToCall({});

    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].To, "127.0.0.2");
    EXPECT_EQ(sent[1].To, "127.0.0.4");
    EXPECT_EQ(sent[2].To, "127.0.0.5");

    const auto entries = Sink_.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Type, TEventType::Warning);
    EXPECT_NE(entries[0].Text.find("佐藤花子(sato)"), std::string::npos) << entries[0].Text;
    EXPECT_NE(entries[0].Text.find("鈴木次郎(suzuki)"), std::string::npos);
    EXPECT_NE(entries[0].Text.find("127.0.0.3"), std::string::npos);
    EXPECT_NE(Home_.Read("QUOR.LOG").find("警告　 佐藤花子(sato)"), std::string::npos);

    // Saved and shown all the same.
    EXPECT_EQ(Listed("sato").ModoriDate, "");
    EXPECT_EQ(Listed("sato").Huzairiyu, "\r\n");
}

// A reason line ending in a quote closed the value early: every later line
// moved down a field, and a crafted reason set the person's IP.
TEST_F(AbsenceTest, NoReasonCanMoveTheOtherFields) {
    const std::string crafted = "x\"\r\n2030/01/02\r\n17:00\r\nTEL\r\n127.0.0.9\r\n0";
    Submit(
        "user=sato&modoritype=datetime&modoridate=2020%2F12%2F10&modoritime=13%3A30&statusicon=0"
        "&huzairiyu=" +
        FormEncode(crafted));
    const TKavelPerson& saved = Listed("sato");
    EXPECT_EQ(saved.IP, "127.0.0.2");
    EXPECT_EQ(saved.Tel, "03-1234-5678");
    EXPECT_EQ(saved.ModoriDate, "2020/12/10");
    EXPECT_EQ(saved.ModoriTime, "13:30");
    EXPECT_EQ(saved.Huzairiyu, "x\" \r\n2030/01/02\r\n17:00\r\nTEL\r\n127.0.0.9\r\n0\r\n");
    ExpectEveryoneGot(
        PersonData("sato", "2020/12/10", "13:30", "0", "x\" \r\n2030/01/02\r\n17:00\r\nTEL\r\n127.0.0.9\r\n0"));
}

// Quotes in any value used to double at every save.
TEST_F(AbsenceTest, QuotesStayAsTheyAreThroughSaves) {
    Office_.AddPerson([] {
        auto p = TPageTestOffice::Sato();
        p.Key = "quoted";
        p.Name = "\"佐藤\" 花子";
        p.Memo = "内線 \"102\"";
        p.IP = "127.0.0.2";
        return p;
    }());
    Office_.Env->ForceReload();
    for (int round = 0; round < 3; ++round)
        Submit("user=quoted&modoritype=datetime&modoridate=2020%2F12%2F10&statusicon=0&huzairiyu=" +
               FormEncode("\"A\" と \"B\""));
    const TKavelPerson& saved = Listed("quoted");
    EXPECT_EQ(saved.Name, "\"佐藤\" 花子");
    EXPECT_EQ(saved.Memo, "内線 \"102\"");
    EXPECT_EQ(saved.Huzairiyu, "\"A\" と \"B\"\r\n");
}

// Whatever the form cannot store is refused whole: the file, the list and
// the clients see nothing of it.
TEST_F(AbsenceTest, RefusedValuesChangeNothing) {
    const std::string file = Kvl("sato");
    const TKavelPersonsList* list = (Listed("sato"), Persons_.get());
    // (The URL decoder drops %00; a raw zero byte still arrives.)
    for (const std::string& bad : {
             std::string("modoritype=datetime&modoridate=2030%2F01%2F02%0D%0A%22x"),
             std::string("modoritype=datetime&modoritime=17%3A00%0Aa"),
             std::string("modoritype=datetime&modoridate=2030%2F01%2F02%01"),
             std::string("modoritype=datetime&huzairiyu=a%01Kvl3_Eod%01Kvl3_DatX"),
             std::string("modoritype=datetime&huzairiyu=a%1Bb"),
             "modoritype=datetime&huzairiyu=a" + std::string(1, '\0') + "b",
             "modoritype=nolimit&huzairiyu=a" + std::string(1, '\0') + "b",
             "modoritype=datetime&modoritime=1" + std::string(1, '\0'),
         }) {
        EXPECT_THROW(Submit("user=sato&statusicon=0&" + bad), ERefusedValue) << bad;
    }
    EXPECT_EQ(Kvl("sato"), file);
    EXPECT_EQ(Office_.Env->GetPersons().get(), list);
    EXPECT_TRUE(Sent().empty());
}

// The parser drops a line break right after <TEXTAREA>: a reason that starts
// with an empty line lost it at every save through the form.
TEST_F(AbsenceTest, ReasonWithALeadingEmptyLineSurvivesTheForm) {
    Submit("user=sato&modoritype=datetime&modoridate=2020%2F12%2F10&statusicon=0&huzairiyu=" +
           FormEncode("\r\n\r\n本文"));
    ASSERT_EQ(Listed("sato").Huzairiyu, "\r\n\r\n本文\r\n");
    const std::string form = Office_.Maker().MakeAbsencePage(TPageTestOffice::Request("/uhuzai?user=sato"));
    EXPECT_NE(form.find("ROWS=\"12\">\r\n\r\n\r\n本文</TEXTAREA>"), std::string::npos);
    // A reason without one is shown as before.
    Submit("user=sato&modoritype=datetime&modoridate=2020%2F12%2F10&statusicon=0&huzairiyu=a");
    EXPECT_NE(
        Office_.Maker().MakeAbsencePage(TPageTestOffice::Request("/uhuzai?user=sato")).find("ROWS=\"12\">a</TEXTAREA>"),
        std::string::npos);
}
