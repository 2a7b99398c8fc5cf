#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "pages/page_test_office.h"

namespace {

const std::string Frameset =
    "<HTML>\r\n"
    "  <HEAD>\r\n"
    "    <TITLE>Quorwell</TITLE>\r\n"
    "  </HEAD>\r\n"
    "  <FRAMESET ROWS=\"*,90\" BORDER=\"0\" WIDTH=\"780\">\r\n"
    "    <FRAME NAME=\"keiziban\" SRC=\"keiziban\">\r\n"
    "    <FRAME NAME=\"controls\" SRC=\"controls\">\r\n"
    "  </FRAMESET>\r\n"
    "</HTML>";

const std::string ControlsBeforeOptions =
    "<HTML>\r\n"
    "  <HEAD>\r\n"
    "<STYLE TYPE=\"text/css\">\r\n"
    ".NOBORDER\t\t\t\t{}\r\n"
    ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }\r\n"
    "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}\r\n"
    ".widthdef\t\t\t\t{width:780;}\r\n"
    "TABLE\t\t\t\t\t\t{TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; BACKGROUND-COLOR:navy;  }\r\n"
    "TH\t\t\t\t\t\t\t\t{TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; BACKGROUND-COLOR:orange;}\r\n"
    "TD\t\t\t\t\t\t\t\t{TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; BACKGROUND-COLOR:white; }\r\n"
    "A\t\t\t\t\t\t\t\t{FONT-WEIGHT:bold; COLOR:blue; TEXT-DECORATION:none;}\r\n"
    "A:link\t\t\t\t\t\t{COLOR:blue;}\r\n"
    "A:active\t\t\t\t\t{COLOR:red; }\r\n"
    "A:visited\t\t\t\t{COLOR:blue;}\r\n"
    "A:hover\t\t\t\t\t{COLOR:red; }\r\n"
    "</STYLE>\r\n"
    "    <script language=\"JavaScript\">\r\n"
    "    <!--\r\n"
    "      function clickFurigana(furigana) {\r\n"
    "        document.controls.furiganaFilter.value = furigana;\r\n"
    "        document.controls.submit();                                              \r\n"
    "      }                                                                          \r\n"
    "      function changeGroup() {                                                   \r\n"
    "        document.controls.submit();                                              \r\n"
    "      }                                                                          \r\n"
    "    //-->                                                                        \r\n"
    "    </script>                                                                    \r\n"
    "  </HEAD>\r\n"
    "  <BODY>\r\n"
    "    <CENTER>\r\n"
    "      <FORM NAME=\"controls\" TARGET=\"keiziban\" ACTION=\"keiziban\">\r\n"
    "        <INPUT TYPE=\"hidden\" NAME=\"furiganaFilter\" VALUE=\"\">\r\n"
    "        <TABLE>\r\n"
    "          <TR>\r\n"
    "            <TD>\r\n"
    "              <TABLE>\r\n"
    "                <TR>\r\n"
    "                  <TH>検索ボタン</TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('a')\" >あ</A></TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('k')\" >か</A></TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('s')\" >さ</A></TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('t')\" >た</A></TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('n')\" >な</A></TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('h')\" >は</A></TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('m')\" >ま</A></TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('y')\" >や</A></TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('r')\" >ら</A></TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('w')\" >わ</A></TD>\r\n"
    "                  <TD><A HREF=\"JavaScript:clickFurigana('')\" >全表示</A></TD>\r\n"
    "                </TR>\r\n"
    "              </TABLE>\r\n"
    "            </TD>\r\n"
    "            <TD>\r\n"
    "              <TABLE>\r\n"
    "                <TR>\r\n"
    "                  <TH>グループフィルタ</TD>\r\n"
    "                  <TD><SELECT NAME=\"groupFilter\" onChange=\"JavaScript:changeGroup()\">\r\n"
    "<OPTION VALUE=\"\">全てのグループ</OPTION>";

const std::string ControlsAfterOptions =
    "\r\n"
    "</SELECT></TD>\r\n"
    "                </TR>\r\n"
    "              </TABLE>\r\n"
    "            </TD>\r\n"
    "          </TR>\r\n"
    "          <TR>\r\n"
    "            <TD COLSPAN=\"2\">\r\n"
    "              <A HREF=\"https://quorwell.example/\" TARGET=\"_blank\">"
    "<SPAN STYLE=\"FONT-SIZE:9pt;\">Quorwell 0.7</SPAN></A>\r\n"
    "            </TD>\r\n"
    "          </TR>\r\n"
    "        </TABLE>\r\n"
    "      </FORM>\r\n"
    "    </CENTER>\r\n"
    "  </BODY>\r\n"
    "</HTML>";

std::string Option(const std::string& group) { return "\r\n<OPTION VALUE=\"" + group + "\">" + group + "</OPTION>"; }

class FramesetPages : public ::testing::Test {
protected:
    std::string Get(const std::string& target) {
        TKavelPageMaker maker = office.Maker();
        const TIdHTTPRequestInfo request = TPageTestOffice::Request(target);
        return request.DocumentPath == "/" ? maker.MakeFramesetPage(request) : maker.MakeControlsPage(request);
    }
    TPageTestOffice office;
};

TEST_F(FramesetPages, FramesetIsTheSameForAnyQuery) {
    office.Open();
    EXPECT_EQ(Get("/"), Frameset);
    EXPECT_EQ(Get("/?x=1"), Frameset);
    EXPECT_EQ(office.Cache.Keys(), std::vector<std::string>{"/"});
    office.Rescan();
    EXPECT_EQ(Get("/"), Frameset);
    EXPECT_EQ(office.Cache.Count(), 1u);
}

TEST_F(FramesetPages, ControlBarByteForByte) {
    office.WriteStandardOffice();
    office.Open();
    // Groups in the group list's order.
    EXPECT_EQ(Get("/controls"),
              ControlsBeforeOptions + Option("営業") + Option("開発") + Option("総務") + ControlsAfterOptions);
}

TEST_F(FramesetPages, ControlBarWithoutGroupsHasTheAllOptionOnly) {
    office.Open();
    const std::string page = Get("/controls");
    EXPECT_EQ(page, ControlsBeforeOptions + ControlsAfterOptions);

    // The padded script lines, counted on the page itself.
    std::vector<std::string> lines;
    for (size_t start = 0;;) {
        const size_t end = page.find("\r\n", start);
        lines.push_back(page.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    for (size_t n = 21; n <= 27; ++n) EXPECT_EQ(lines.at(n - 1).size(), 81u) << "line " << n;
    EXPECT_EQ(lines.back(), "</HTML>");
}

TEST_F(FramesetPages, ControlBarFollowsTheGroupsAfterARescan) {
    office.AddPerson(TPageTestOffice::Tanaka());
    office.Open();
    EXPECT_EQ(Get("/controls"), ControlsBeforeOptions + Option("営業") + ControlsAfterOptions);
    // A query makes a separate entry with the same text.
    EXPECT_EQ(Get("/controls?x=1"), Get("/controls"));
    EXPECT_EQ(office.Cache.Keys(), (std::vector<std::string>{"/controls", "/controlsx=1"}));

    office.AddPerson(TPageTestOffice::Sato());
    EXPECT_EQ(Get("/controls"), ControlsBeforeOptions + Option("営業") + ControlsAfterOptions) << "until the rescan";
    office.Rescan();
    EXPECT_EQ(Get("/controls"), ControlsBeforeOptions + Option("営業") + Option("総務") + ControlsAfterOptions);
    EXPECT_EQ(office.Cache.Count(), 2u);
}

TEST_F(FramesetPages, GroupNamesAreEscapedInValueAndLabel) {
    TTestPerson p = TPageTestOffice::Tanaka();
    p.Group = "\"><script>x()</script>&";
    office.AddPerson(p);
    office.Open();
    const std::string page = Get("/controls");
    EXPECT_EQ(page,
              ControlsBeforeOptions + Option("&quot;&gt;&lt;script&gt;x()&lt;/script&gt;&amp;") + ControlsAfterOptions);
}

}  // namespace
