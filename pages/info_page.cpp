#include "pages/info_page.h"

#include <iterator>
#include <stdexcept>

#include "data/kavel_env.h"
#include "data/kavel_person.h"
#include "data/persons_list.h"
#include "http/http_request_info.h"
#include "pages/html_escape.h"
#include "pages/page_maker.h"
#include "pages/page_maker_class_object.h"

namespace {

const char* const InfoHead =
    "<HTML>\r\n"
    "  <HEAD>"
    "<STYLE TYPE=\"text/css\">\r\n"
    ".NOBORDER\t\t\t\t{}\r\n"
    ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }\r\n"
    "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}\r\n"
    ".widthdef\t\t\t\t{width:780;}\r\n"
    ".Info\t\t\t\t\t\t{FONT-WEIGHT:bold;　FONT-SIZE:16pt; COLOR:white;}\r\n"
    "TABLE\t\t\t\t\t\t{FONT-WEIGHT:bold;  TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; "
    "BACKGROUND-COLOR:black;}\r\n"
    "TH\t\t\t\t\t\t\t\t{WIDTH:180; \t\t\t\tTEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:white; "
    "BACKGROUND-COLOR:DarkCyan;}\r\n"
    "TD\t\t\t\t\t\t\t\t{WIDTH:500; \t\t\t\tTEXT-ALIGN:left;   FONT-SIZE:14pt; COLOR:black; "
    "BACKGROUND-COLOR:white; padding:4px;}\r\n"
    "</STYLE>"
    "</HEAD>\r\n"
    "  <BODY>\r\n"
    "    <CENTER>\r\n"
    "      <SPAN CLASS=\"Info\">詳細情報</SPAN>\r\n"
    "      <TABLE>\r\n";

// Each row: its opening up to the cell text; every row closes alike.
const char* const RowOpenings[] = {
    "        <TR><TH>フリガナ</TH>\t\t<TD>", "        <TR><TH>名前</TH>\t\t\t\t<TD>",
    "        <TR><TH>IP Address</TH>\t<TD>", "        <TR><TH>グループ</TH>\t\t<TD>",
    "        <TR><TH>連絡先</TH>\t\t\t<TD>", "        <TR><TH>内線・備考</TH>\t<TD>",
    "        <TR><TH>戻り日時</TH>\t\t<TD>", "        <TR><TH>不在理由</TH>\t\t<TD>",
};
const char* const RowClosing = "　</TD>\t</TR>\r\n";

const char* const InfoTail =
    "      </TABLE>\r\n"
    "    </CENTER>\r\n"
    "  </BODY>\r\n"
    "</HTML>";

}  // namespace

std::string BuildInfoText(const TKavelPerson& person) {
    const std::string cells[] = {
        HtmlEscape(person.Furigana),
        HtmlEscape(person.Name),
        HtmlEscape(person.IP),
        HtmlEscape(person.Group),
        HtmlEscape(person.Tel),
        HtmlEscape(person.Memo),
        HtmlEscape(person.ModoriDate) + " " + HtmlEscape(person.ModoriTime),
        HtmlEscape(person.Huzairiyu),
    };
    std::string page = InfoHead;
    for (size_t i = 0; i < std::size(cells); ++i) {
        page += RowOpenings[i];
        page += cells[i];
        page += RowClosing;
    }
    page += InfoTail;
    return page;
}

std::string TKavelPageMaker::MakeInfoPage(const TIdHTTPRequestInfo& request) {
    return *CachedPage(
        PageMakerClassObject.InfoLock, "/uinfo" + request.ParamText,
        [&](const TKavelPersonsList& persons) { return BuildInfoText(RequestedPerson(persons, request)); });
}
