#include "pages/board_page.h"

#include <string_view>

#include "data/kavel_env.h"
#include "data/person_status.h"
#include "data/persons_list.h"
#include "http/http_request_info.h"
#include "pages/html_escape.h"
#include "pages/page_maker.h"
#include "pages/page_maker_class_object.h"
#include "platform/sjis_text.h"

namespace {

const char* const BoardHead =
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
    "      <SPAN CLASS=\"Site\">";

const char* const HeadingCells = "<TH>状態</TH><TH>名前</TH><TH>行き先/戻り時間</TH>";

const char* const ReloadPattern =
    "\"※この情報は、\"m\"月\"d\"日(\"aaa\") \"h\"時\"n\"分\"s\"秒にサーバから読込んだものです。\"";

const char* const ShareLostPattern =
    "\"<BR>※\"h\"時\"n\"分\"s\"秒から共有フォルダを読めません。表示は更新されていません。\"";

const char* ColorOf(TReturnState state) {
    switch (state) {
        case rsPowerOff:
            return "gray";
        case rsPresent:
            return "black";
        case rsToday:
            return "olive";
        default:
            return "red";
    }
}

// The link to a person's window: the key made safe in the URL, then in the
// attribute.
void AppendLinkKey(std::string& out, std::string_view key) { AppendHtmlEscaped(out, UrlEncodeKey(key)); }

// Literals by their known length: the board appends some twenty per person.
template <size_t N>
void Put(std::string& out, const char (&literal)[N]) {
    out.append(literal, N - 1);
}

// ReturnText(now) for a state already worked out. Only a day text that is a
// date of its own (overdue, later) needs the person's conversion again; the
// others follow from the state, which spares a second parse of the date for
// most of the board.
void AppendReturnText(std::string& out, const TKavelPerson& person, TReturnState state, TDateTime now) {
    switch (state) {
        case rsPowerOff:
        case rsPresent:
            break;
        case rsToday:
            Put(out, "本日");
            break;
        case rsTomorrow:
            Put(out, "明日");
            break;
        case rsDayAfterTomorrow:
            Put(out, "明後日");
            break;
        case rsUnparsable:
            AppendHtmlEscaped(out, person.ModoriDate);
            break;
        default:
            AppendHtmlEscaped(out, person.ReturnText(now));
            return;
    }
    out += ' ';
    AppendHtmlEscaped(out, person.ModoriTime);
}

void AppendBoardCells(std::string& out, const TKavelPerson& person, TDateTime now,
                      const TPersonStatusCollection& statuses) {
    const TReturnState state = person.ReturnState(now);
    const std::string destination = state == rsPresent ? person.MemoHead(14) : person.ReasonHead(14);
    const std::string_view reason = TrimControls(person.Huzairiyu);

    Put(out, "<TD CLASS=\"Status\"><IMG SRC=\"");
    out += statuses.StatusImageName(state, person.StatusIcon);
    Put(out, "\"></TD><TD CLASS=\"KBName\">");
    // MakeLink's anchor with a target, written straight into the page.
    Put(out, "<A HREF=\"uframe?user=");
    AppendLinkKey(out, person.FileName());
    Put(out, "\" TARGET=\"uframe\"><FONT STYLE=\"COLOR:");
    out += ColorOf(state);
    Put(out, "\">");
    AppendHtmlEscaped(out, person.Name);
    Put(out, "</FONT></A></TD><TD><TABLE");
    if (!reason.empty()) {
        Put(out, " TITLE=\"");
        AppendHtmlEscapedTooltip(out, reason);
        out += '"';
    }
    Put(out, "><TR><TD>");
    AppendHtmlEscaped(out, destination);
    Put(out, "　</TD></TR><TR><TD CLASS=\"KBReturn\">");
    AppendReturnText(out, person, state, now);
    Put(out, "　</TD></TR></TABLE></TD>");
}

}  // namespace

std::string StatusColor(const TKavelPerson& person, TDateTime now) { return ColorOf(person.ReturnState(now)); }

bool MatchesFurigana(const TKavelPerson& person, const std::string& filter) {
    if (filter.empty()) return true;
    const char letter = filter[0];
    switch (letter) {
        case 'a':
        case 'k':
        case 's':
        case 't':
        case 'n':
        case 'h':
        case 'm':
        case 'y':
        case 'r':
        case 'w':
            return KanaRowOf(person.Furigana) == letter;
        default:
            return true;
    }
}

std::string MakeBoardCells(const TKavelPerson& person, TDateTime now, const TPersonStatusCollection& statuses) {
    std::string out;
    AppendBoardCells(out, person, now, statuses);
    return out;
}

std::string BuildBoardText(const TKavelPersonsList& persons, const std::string& siteName,
                           const TPersonStatusCollection& statuses, TDateTime now, const std::string& furiganaFilter,
                           const std::string& groupFilter, TDateTime shareLostSince) {
    std::string page;
    page.reserve(4096 + siteName.size() + static_cast<size_t>(persons.Count()) * 320);
    page += BoardHead;
    page += siteName;
    page += "</SPAN>\r\n";
    page += "      <TABLE CLASS=\"NOBORDER\" STYLE=\"BACKGROUND:BLACK\";>\r\n";
    page += "        <TR>";
    page += HeadingCells;
    page += HeadingCells;
    page += "</TR>\r\n";

    // Two persons to a row; an odd count leaves one person in the last row.
    int shown = 0;
    for (int i = 0; i < persons.Count(); ++i) {
        const TKavelPerson& person = persons[i];
        if (!MatchesFurigana(person, furiganaFilter)) continue;
        if (!groupFilter.empty() && groupFilter != person.Group) continue;
        if (shown % 2 == 0) Put(page, "<TR>");
        AppendBoardCells(page, person, now, statuses);
        if (shown % 2 == 1) Put(page, "</TR>\r\n");
        ++shown;
    }
    if (shown % 2 == 1) page += "</TR>\r\n";

    page += "\r\n";
    page += "      </TABLE>\r\n";
    if (shareLostSince == 0) {
        page += "      <SPAN CLASS=\"LastReload\">";
        page += FormatDateTime(ReloadPattern, persons.LoadTime());
    } else {
        // The reload line is where a reader looks for the data's age.
        page += "      <SPAN CLASS=\"LastReload\" STYLE=\"COLOR:red\">";
        page += FormatDateTime(ReloadPattern, persons.LoadTime());
        page += FormatDateTime(ShareLostPattern, shareLostSince);
    }
    page += "      </SPAN>\r\n";
    page += "    </CENTER>\r\n";
    page += "  </BODY>\r\n";
    page += "</HTML>";
    return page;
}

TKavelPageMaker::TSharedText TKavelPageMaker::SharedBoardPage(const TIdHTTPRequestInfo& request) {
    return CachedPage(
        PageMakerClassObject.BoardLock, "/keiziban" + request.ParamText,
        [&](const TKavelPersonsList& persons) {
            return BuildBoardText(persons, Env_.SiteName(), Env_.Statuses(), Env_.Clock().Now(),
                                  request.QueryFields.ValueOf("furiganaFilter"),
                                  request.QueryFields.ValueOf("groupFilter"), ShareLostSince_);
        },
        true);
}

std::string TKavelPageMaker::MakeBoardPage(const TIdHTTPRequestInfo& request) { return *SharedBoardPage(request); }
