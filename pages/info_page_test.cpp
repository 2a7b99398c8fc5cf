#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "data/kavel_person.h"
#include "http/http_response_info.h"
#include "pages/info_page.h"
#include "pages/page_test_office.h"

namespace {

std::string Lines(std::initializer_list<std::string> lines) {
    std::string out;
    for (const std::string& line : lines) {
        if (!out.empty()) out += "\r\n";
        out += line;
    }
    return out;
}

// The details page with the eight cell texts, each without its trailing "　".
std::string Expected(const std::vector<std::string>& c) {
    const std::string style = Lines({
        "<STYLE TYPE=\"text/css\">",
        ".NOBORDER\t\t\t\t{}",
        ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }",
        "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}",
        ".widthdef\t\t\t\t{width:780;}",
        ".Info\t\t\t\t\t\t{FONT-WEIGHT:bold;\x81\x40"
        "FONT-SIZE:16pt; COLOR:white;}",
        "TABLE\t\t\t\t\t\t{FONT-WEIGHT:bold;  TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; BACKGROUND-COLOR:black;}",
        "TH\t\t\t\t\t\t\t\t{WIDTH:180; \t\t\t\tTEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:white; "
        "BACKGROUND-COLOR:DarkCyan;}",
        "TD\t\t\t\t\t\t\t\t{WIDTH:500; \t\t\t\tTEXT-ALIGN:left;   FONT-SIZE:14pt; COLOR:black; "
        "BACKGROUND-COLOR:white; padding:4px;}",
        "</STYLE>",
    });
    const std::string blank = "\x81\x40";
    return Lines({
        "<HTML>",
        "  <HEAD>" + style + "</HEAD>",
        "  <BODY>",
        "    <CENTER>",
        "      <SPAN CLASS=\"Info\">詳細情報</SPAN>",
        "      <TABLE>",
        "        <TR><TH>フリガナ</TH>\t\t<TD>" + c.at(0) + blank + "</TD>\t</TR>",
        "        <TR><TH>名前</TH>\t\t\t\t<TD>" + c.at(1) + blank + "</TD>\t</TR>",
        "        <TR><TH>IP Address</TH>\t<TD>" + c.at(2) + blank + "</TD>\t</TR>",
        "        <TR><TH>グループ</TH>\t\t<TD>" + c.at(3) + blank + "</TD>\t</TR>",
        "        <TR><TH>連絡先</TH>\t\t\t<TD>" + c.at(4) + blank + "</TD>\t</TR>",
        "        <TR><TH>内線・備考</TH>\t<TD>" + c.at(5) + blank + "</TD>\t</TR>",
        "        <TR><TH>戻り日時</TH>\t\t<TD>" + c.at(6) + blank + "</TD>\t</TR>",
        "        <TR><TH>不在理由</TH>\t\t<TD>" + c.at(7) + blank + "</TD>\t</TR>",
        "      </TABLE>",
        "    </CENTER>",
        "  </BODY>",
        "</HTML>",
    });
}

class InfoPage : public ::testing::Test {
protected:
    void SetUp() override {
        office.WriteStandardOffice();
        office.Open();
    }
    std::string Info(const std::string& query) {
        return office.Maker().MakeInfoPage(TPageTestOffice::Request("/uinfo" + query));
    }
    // The text the page raises with, or "(none)".
    std::string FailureOf(const std::string& query) {
        try {
            Info(query);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(none)";
    }
    TPageTestOffice office;
};

TEST_F(InfoPage, ExactBytesOfTheDetails) {
    EXPECT_EQ(Info("?user=sato"), Expected({"ｻﾄｳ", "佐藤花子", "127.0.0.2", "総務", "03-1234-5678", "内線102",
                                            "2020/12/07 17:00", "会議\r\n15時まで\r\n"}));
    // Present: no return date or time, yet the cell keeps its blank.
    EXPECT_EQ(Info("?user=tanaka"),
              Expected({"ﾀﾅｶ", "田中太郎", "127.0.0.4", "営業", "090-0000-0000", "内線101", " ", "\r\n"}));
    // The raw date text, not the board's day words; a client that is off changes nothing here.
    EXPECT_EQ(Info("?user=suzuki"),
              Expected({"ｽｽﾞｷ", "鈴木次郎", "127.0.0.3", "営業", "", "内線103", "2020/12/08 10:00", "出張\r\n"}));
    EXPECT_EQ(Info("?user=yamada"), Expected({"ﾔﾏﾀﾞ", "山田一郎", "127.0.0.5", "開発", "", "内線104", " ", "\r\n"}));
}

TEST_F(InfoPage, PersonWithEveryFieldEmpty) {
    TKavelPerson empty;
    empty.FilePath = "/x/empty.kvl";
    EXPECT_EQ(BuildInfoText(empty), Expected({"", "", "", "", "", "", " ", ""}));
}

TEST_F(InfoPage, CacheHitsAreByteIdenticalUntilARescan) {
    const std::string first = Info("?user=sato");
    EXPECT_EQ(office.Cache.Keys(), std::vector<std::string>{"/uinfouser=sato"});

    // A changed file stays unseen until the list is read again.
    TTestPerson sato = TPageTestOffice::Sato();
    sato.Huzairiyu = "外出";
    sato.ModoriTime = "18:30";
    office.AddPerson(sato);
    EXPECT_EQ(Info("?user=sato"), first);

    office.Rescan();
    const std::string rebuilt = Info("?user=sato");
    EXPECT_EQ(rebuilt, Expected({"ｻﾄｳ", "佐藤花子", "127.0.0.2", "総務", "03-1234-5678", "内線102", "2020/12/07 18:30",
                                 "外出\r\n"}));
    EXPECT_EQ(office.Cache.Count(), 1u) << "rebuilt in place";
    EXPECT_EQ(Info("?user=sato"), rebuilt);

    // A hit needs no person: a removed file is served until the next rescan.
    office.RemovePerson("sato");
    EXPECT_EQ(Info("?user=sato"), rebuilt);
    office.Rescan();
    EXPECT_EQ(FailureOf("?user=sato"), "存在しないユーザ情報を要求されました。");
    EXPECT_EQ(office.Cache.Count(), 1u);
}

TEST_F(InfoPage, KeysFollowTheRawQuery) {
    const std::string sato = Info("?user=sato");
    EXPECT_EQ(Info("?user=sato&x=1"), sato);
    EXPECT_EQ(Info("?x=1&user=sato"), sato);
    EXPECT_EQ(Info("?USER=sato"), sato);  // parameter names ignore case, and so does the entry
    EXPECT_EQ(office.Cache.Keys(),
              (std::vector<std::string>{"/uinfouser=sato", "/uinfouser=sato&x=1", "/uinfox=1&user=sato"}));
    // A key in other letter case names nobody, cached page of "sato" or not.
    EXPECT_EQ(FailureOf("?user=SATO"), "存在しないユーザ情報を要求されました。");
    EXPECT_NE(Info("?user=suzuki"), sato);
}

TEST_F(InfoPage, UnknownUsersLeaveTheCacheAndTheLockFree) {
    const std::string unknown = "存在しないユーザ情報を要求されました。";
    EXPECT_EQ(FailureOf(""), unknown);
    EXPECT_EQ(FailureOf("?user="), unknown);
    EXPECT_EQ(FailureOf("?user=nobody"), unknown);
    EXPECT_EQ(FailureOf("?user=sato.kvl"), unknown);
    EXPECT_EQ(office.Cache.Count(), 0u);

    // The lock was released: the next details request goes through.
    EXPECT_EQ(FailureOf("?user=tanaka"), "(none)");

    TIdHTTPResponseInfo response;
    EXPECT_THROW(office.Maker().MakePage(TPageTestOffice::Request("/uinfo?user=nobody"), response), std::runtime_error);
    EXPECT_EQ(response.ContentType, "text/html; charset=SJIS");
    EXPECT_TRUE(office.Maker().MakePage(TPageTestOffice::Request("/uinfo?user=sato"), response));
    EXPECT_EQ(response.BodyText, Info("?user=sato"));
}

TEST_F(InfoPage, HostileFieldsAreEscaped) {
    TTestPerson evil;
    evil.Key = "evil";
    evil.Furigana = "<b>ｱ</b>";
    evil.Name = "<script>alert(\"name\")</script>";
    evil.IP = "127.0.0.9\"><img src=x onerror=alert(1)>";
    evil.Group = "<iframe src=//x>";
    evil.Tel = "1 & 2";
    evil.Memo = "<script>alert('memo')</script>";
    evil.ModoriDate = "<u>2020";
    evil.ModoriTime = "9:00</td>";
    evil.Huzairiyu = "<script>\r\nalert(document.cookie)\r\n</script>";
    office.AddPerson(evil);
    office.Rescan();

    const std::string page = Info("?user=evil");
    EXPECT_EQ(page,
              Expected({"&lt;b&gt;ｱ&lt;/b&gt;", "&lt;script&gt;alert(&quot;name&quot;)&lt;/script&gt;",
                        "127.0.0.9&quot;&gt;&lt;img src=x onerror=alert(1)&gt;", "&lt;iframe src=//x&gt;", "1 &amp; 2",
                        "&lt;script&gt;alert('memo')&lt;/script&gt;", "&lt;u&gt;2020 9:00&lt;/td&gt;",
                        "&lt;script&gt;\r\nalert(document.cookie)\r\n&lt;/script&gt;\r\n"}));
    for (const char* raw : {"<script", "<img", "<iframe", "<b>", "<u>", "</td>"})
        EXPECT_EQ(page.find(raw), std::string::npos) << raw;
}

TEST_F(InfoPage, ConcurrentRequestsWithRescansServeWholePagesOfTheRightPerson) {
    const std::string users[] = {"sato", "suzuki", "tanaka", "yamada"};
    const std::string names[] = {"佐藤花子", "鈴木次郎", "田中太郎", "山田一郎"};
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                const size_t u = static_cast<size_t>(i + t) % 4;
                const std::string page = Info("?user=" + users[u]);
                if (page.rfind("<HTML>", 0) != 0 || page.find(names[u]) == std::string::npos) ++bad;
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 20; ++i) office.Rescan();
    });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(office.Cache.Count(), 4u);
}

}  // namespace
