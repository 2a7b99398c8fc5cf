#include <string>

#include "data/persons_list.h"
#include "http/http_request_info.h"
#include "pages/html_escape.h"
#include "pages/page_maker.h"
#include "pages/page_maker_class_object.h"

namespace {

const char* const FramesetText =
    "<HTML>\r\n"
    "  <HEAD>\r\n"
    "    <TITLE>Quorwell</TITLE>\r\n"
    "  </HEAD>\r\n"
    "  <FRAMESET ROWS=\"*,90\" BORDER=\"0\" WIDTH=\"780\">\r\n"
    "    <FRAME NAME=\"keiziban\" SRC=\"keiziban\">\r\n"
    "    <FRAME NAME=\"controls\" SRC=\"controls\">\r\n"
    "  </FRAMESET>\r\n"
    "</HTML>";

const char* const ProductLine = "Quorwell 0.7";
const char* const ProjectPage = "https://quorwell.example/";

// The script lines of the control bar carry blanks up to this width.
constexpr size_t PaddedWidth = 81;

std::string Padded(std::string line) {
    if (line.size() < PaddedWidth) line.append(PaddedWidth - line.size(), ' ');
    return line;
}

const std::string& ControlsHead() {
    static const std::string head =
        std::string(
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
            "        document.controls.furiganaFilter.value = furigana;\r\n") +
        Padded("        document.controls.submit();") + "\r\n" +  //
        Padded("      }") + "\r\n" +                              //
        Padded("      function changeGroup() {") + "\r\n" +       //
        Padded("        document.controls.submit();") + "\r\n" +  //
        Padded("      }") + "\r\n" +                              //
        Padded("    //-->") + "\r\n" +                            //
        Padded("    </script>") + "\r\n" +                        //
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
        "                  <TD>";
    return head;
}

struct TKanaButton {
    const char* Caption;
    const char* Url;
};

const TKanaButton KanaButtons[] = {
    {"あ", "JavaScript:clickFurigana('a')"},    {"か", "JavaScript:clickFurigana('k')"},
    {"さ", "JavaScript:clickFurigana('s')"},    {"た", "JavaScript:clickFurigana('t')"},
    {"な", "JavaScript:clickFurigana('n')"},    {"は", "JavaScript:clickFurigana('h')"},
    {"ま", "JavaScript:clickFurigana('m')"},    {"や", "JavaScript:clickFurigana('y')"},
    {"ら", "JavaScript:clickFurigana('r')"},    {"わ", "JavaScript:clickFurigana('w')"},
    {"全表示", "JavaScript:clickFurigana('')"},
};

std::string Indent(int blanks) { return std::string(static_cast<size_t>(blanks), ' '); }

std::string GroupSelector(const TGroupList& groups) {
    std::string s = "<SELECT NAME=\"groupFilter\" onChange=\"JavaScript:changeGroup()\">";
    s += "\r\n<OPTION VALUE=\"\">全てのグループ</OPTION>";
    for (int i = 0; i < groups.Count(); ++i) {
        const std::string name = HtmlEscape(groups.Names(i));
        s += "\r\n<OPTION VALUE=\"";
        s += name;
        s += "\">";
        s += name;
        s += "</OPTION>";
    }
    s += "\r\n</SELECT>";
    return s;
}

std::string BuildControlsPage(const TKavelPersonsList& persons) {
    std::string page = ControlsHead();
    bool first = true;
    for (const TKanaButton& button : KanaButtons) {
        // The first button completes the template's last line.
        if (!first) page += Indent(18) + "<TD>";
        page += MakeLink(button.Caption, button.Url, "");
        page += "</TD>\r\n";
        first = false;
    }
    page += Indent(16) + "</TR>\r\n";
    page += Indent(14) + "</TABLE>\r\n";
    page += Indent(12) + "</TD>\r\n";
    page += Indent(12) + "<TD>\r\n";
    page += Indent(14) + "<TABLE>\r\n";
    page += Indent(16) + "<TR>\r\n";
    page += Indent(18) + "<TH>グループフィルタ</TD>\r\n";
    page += Indent(18) + "<TD>" + GroupSelector(persons.Groups()) + "</TD>\r\n";
    page += Indent(16) + "</TR>\r\n";
    page += Indent(14) + "</TABLE>\r\n";
    page += Indent(12) + "</TD>\r\n";
    page += Indent(10) + "</TR>\r\n";
    page += Indent(10) + "<TR>\r\n";
    page += Indent(12) + "<TD COLSPAN=\"2\">\r\n";
    page += Indent(14) +
            MakeLink(std::string("<SPAN STYLE=\"FONT-SIZE:9pt;\">") + ProductLine + "</SPAN>", ProjectPage, "_blank") +
            "\r\n";
    page += Indent(12) + "</TD>\r\n";
    page += Indent(10) + "</TR>\r\n";
    page += Indent(8) + "</TABLE>\r\n";
    page += Indent(6) + "</FORM>\r\n";
    page += Indent(4) + "</CENTER>\r\n";
    page += Indent(2) + "</BODY>\r\n";
    page += "</HTML>";
    return page;
}

}  // namespace

TKavelPageMaker::TSharedText TKavelPageMaker::SharedFramesetPage(const TIdHTTPRequestInfo&) {
    // Cached like the other pages although its text never changes.
    return CachedPage(PageMakerClassObject.FramesetLock, "/",
                      [](const TKavelPersonsList&) { return std::string(FramesetText); });
}

TKavelPageMaker::TSharedText TKavelPageMaker::SharedControlsPage(const TIdHTTPRequestInfo& request) {
    return CachedPage(PageMakerClassObject.ControlsLock, "/controls" + request.ParamText, BuildControlsPage);
}

std::string TKavelPageMaker::MakeFramesetPage(const TIdHTTPRequestInfo& request) {
    return *SharedFramesetPage(request);
}

std::string TKavelPageMaker::MakeControlsPage(const TIdHTTPRequestInfo& request) {
    return *SharedControlsPage(request);
}
