#include "pages/message_check_page.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "data/kavel_person.h"
#include "pages/page_test_office.h"

namespace {

const std::string Divider =
    "<div style=\"color: YELLOW; text-align: CENTER;\">\r\n- 以上が未読伝言です -\r\n</div>\r\n";

TKavelPerson PersonIn(const TTestTempDir& dir, const std::string& key) {
    TKavelPerson person;
    person.FilePath = dir.File(key + ".kvl");
    person.Name = "佐藤花子";
    return person;
}

}  // namespace

TEST(RenderMessageLines, UnreadEntriesAsTheClientsStoreThem) {
    // Two entries the way the send page stores them, newest first.
    const std::vector<std::string> lines = {
        "○B(伝言)    送信日時:2", "second", "", "○A(伝言)    送信日時:1", "first", "line two", ""};
    EXPECT_EQ(RenderMessageLines(lines, false),
              "<font style=\"color: white;\">"
              "<pre>\r\n\r\n</pre>\r\n<pre style=\"color: Cyan;\">○B(伝言)    送信日時:2</pre>\r\n"
              "<pre>second\r\n\r\n\r\n</pre>\r\n<pre style=\"color: Cyan;\">○A(伝言)    送信日時:1</pre>\r\n"
              "<pre>first\r\nline two\r\n\r\n</pre></font>");
}

TEST(RenderMessageLines, ReadColoursBodyWithoutHeaderAndMidLineMark) {
    EXPECT_EQ(RenderMessageLines({}, true), "");
    EXPECT_EQ(RenderMessageLines({"no header", "x○y"}, true),
              "<font style=\"color: gray;\"><pre>no header\r\nx○y\r\n</pre></font>");
    EXPECT_EQ(RenderMessageLines({"○only"}, true),
              "<font style=\"color: gray;\"><pre>\r\n\r\n</pre>\r\n"
              "<pre style=\"color: blue;\">○only</pre>\r\n<pre></pre></font>");
    // A body that starts with an empty line keeps it in the browser.
    EXPECT_EQ(RenderMessageLines({"", "x"}, false), "<font style=\"color: white;\"><pre>\r\n\r\nx\r\n</pre></font>");
}

TEST(RenderMessageLines, MessageTextCannotBecomeMarkup) {
    const std::string page =
        RenderMessageLines({"○<b>\"x\"&(伝言)", "</xmp><script>alert(1)</script>", "</pre><img src=x>"}, false);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("</xmp>"), std::string::npos);
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_NE(page.find("○&lt;b&gt;&quot;x&quot;&amp;(伝言)</pre>"), std::string::npos);
    EXPECT_NE(page.find("&lt;/xmp&gt;&lt;script&gt;alert(1)&lt;/script&gt;\r\n"
                        "&lt;/pre&gt;&lt;img src=x&gt;\r\n</pre>"),
              std::string::npos);
}

TEST(RenderMessages, WhichFilesExistDecidesTheBoard) {
    TTestTempDir dir;
    const TKavelPerson person = PersonIn(dir, "sato");

    EXPECT_EQ(RenderMessages(person), "伝言はありません。");

    dir.Write("sato.old", "");
    EXPECT_EQ(RenderMessages(person), "伝言はありません。");

    dir.Write("sato.mil", "");
    EXPECT_EQ(RenderMessages(person), "\r\n" + Divider + "\r\n");

    dir.Write("sato.old", "○old\r\nread\r\n");
    const std::string readPart = RenderMessageLines({"○old", "read"}, true);
    EXPECT_EQ(RenderMessages(person), "\r\n" + Divider + readPart + "\r\n");

    dir.Write("sato.mil", "○new\r\nunread\r\n\r\n");
    const std::string unreadPart = RenderMessageLines({"○new", "unread", ""}, false);
    EXPECT_EQ(RenderMessages(person), unreadPart + "\r\n" + Divider + readPart + "\r\n");

    std::remove(dir.File("sato.old").c_str());
    EXPECT_EQ(RenderMessages(person), unreadPart + "\r\n" + Divider);
    EXPECT_EQ(RenderMessages(person).find("color: blue;"), std::string::npos);
}

TEST(RenderMessages, LineEndsOfAnyKindRenderAlike) {
    TTestTempDir dir;
    const TKavelPerson person = PersonIn(dir, "k");
    dir.Write("k.mil", "○h\r\nbody\r\n\r\n○g\r\nold");
    const std::string crlf = RenderMessages(person);
    dir.Write("k.mil", "○h\nbody\n\n○g\nold\n");
    EXPECT_EQ(RenderMessages(person), crlf);
    dir.Write("k.mil", "○h\rbody\r\r○g\rold\r");
    EXPECT_EQ(RenderMessages(person), crlf);
}

TEST(MakeMessageCheckPage, WholePageAndUnknownUser) {
    TPageTestOffice office;
    office.WriteStandardOffice();
    office.Open();
    office.Dir.Write("tanaka.mil", "○ゲスト(伝言)    送信日時:x\r\n電話ください\r\n\r\n");

    const std::string page = office.Maker().MakeMessageCheckPage(TPageTestOffice::Request("/udengoncheck?user=tanaka"));
    EXPECT_EQ(page,
              "<HTML>\r\n"
              "  <HEAD><STYLE TYPE=\"text/css\">\r\n"
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
              "TD\t\t\t\t\t\t\t\t{WIDTH:600; \t\t\t\tTEXT-ALIGN:left;   FONT-SIZE:12pt; COLOR:white; "
              "BACKGROUND-COLOR:black; padding:10px; OVERFLOW-X:scroll;}\r\n"
              "</STYLE></HEAD>\r\n"
              "  <BODY>\r\n"
              "    <CENTER>\r\n"
              "      <SPAN CLASS=\"Title\">田中太郎さんの伝言板</SPAN>\r\n"
              "      <TABLE>\r\n"
              "        <TR><TD><font style=\"color: white;\"><pre>\r\n\r\n</pre>\r\n"
              "<pre style=\"color: Cyan;\">○ゲスト(伝言)    送信日時:x</pre>\r\n"
              "<pre>電話ください\r\n\r\n</pre></font>\r\n" +
                  Divider +
                  "</TD></TR>\r\n"
                  "      </TABLE>\r\n"
                  "    </CENTER>\r\n"
                  "  </BODY>\r\n"
                  "</HTML>");

    try {
        office.Maker().MakeMessageCheckPage(TPageTestOffice::Request("/udengoncheck?user=Tanaka"));
        FAIL() << "a key differing in case found a person";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "存在しないユーザ情報を要求されました。");
    }
}

TEST(MakeMessageCheckPage, HostileNameIsEscaped) {
    TPageTestOffice office;
    TTestPerson p = TPageTestOffice::Tanaka();
    p.Name = "<script>x</script>";
    office.AddPerson(p);
    office.Open();
    const std::string page = office.Maker().MakeMessageCheckPage(TPageTestOffice::Request("/udengoncheck?user=tanaka"));
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;x&lt;/script&gt;さんの伝言板"), std::string::npos);
    EXPECT_NE(page.find("<TD>伝言はありません。</TD>"), std::string::npos);
}
