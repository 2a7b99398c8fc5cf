// The board (/m/) and the wall (/m/wall).
//
// Markup the browser tests and the script rely on:
//   board: form#filters (input#q, select#group, nav#rows a[data-row]),
//     div#board[data-version][data-total] > p#count + ul#persons > li.p.st-<state>
//     [data-key][data-k][data-row][data-group] > a[href="/m/p/<key>"] >
//     img.mk[alt=caption], span.nm, span.cap, span.ret, span.dst, span.flag
//     (overdue: span.flag.over); p#loaded; the fragment /m/board?<same
//     query> is div#board alone, /m/board?keys=<keys, one a line> is
//     ul#persons with those persons' rows alone, unfiltered.
//   wall: div#wall.wall[.dim][data-version] > section.g > h2 + div.w.st-<state>
//     > span.nm, span.io, span.ret, (with QUOR_WallDetails) span.cap, span.dst;
//     p#changed; the fragment /m/wall/part is div#wall alone.
// States: off (client off), in (present), over (overdue), today, later, unknown.
#include <algorithm>
#include <cmath>
#include <map>

#include "api/live.h"
#include "data/kavel_env.h"
#include "data/person_status.h"
#include "data/persons_list.h"
#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "pages/html_escape.h"
#include "platform/sjis_text.h"
#include "views/view_fold.h"
#include "views/view_parts.h"

namespace {

constexpr std::string_view Rows = "akstnhmyrw";
const char* const RowNames[] = {"あ", "か", "さ", "た", "な", "は", "ま", "や", "ら", "わ"};

std::string Percent(std::string_view utf8) {
    return PercentEncode(utf8, [](unsigned char c) {
        return !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                 c == '_' || c == '~');
    });
}

// The board's query for other values of row: q and group as they came.
std::string QueryWithRow(const TIdHTTPRequestInfo& request, char row) {
    std::string out;
    auto add = [&out](const char* name, std::string_view value) {
        if (value.empty()) return;
        out += out.empty() ? '?' : '&';
        out += name;
        out += '=';
        out += Percent(value);
    };
    add("q", request.QueryFields.ValueOf("q"));
    add("group", request.QueryFields.ValueOf("group"));
    add("row", row ? std::string_view(&row, 1) : std::string_view());
    return out.empty() ? "/m/" : "/m/" + out;
}

bool Passes(const TKavelPerson& person, const TBoardFilter& filter) {
    if (filter.QueryUnmatchable || filter.GroupUnmatchable) return false;
    if (filter.Row && KanaRowOf(person.Furigana) != filter.Row) return false;
    if (!filter.Group.empty() && person.Group != filter.Group) return false;
    if (filter.Query.empty()) return true;
    return FoldForSearch(person.Name).find(filter.Query) != std::string::npos ||
           FoldForSearch(person.Furigana).find(filter.Query) != std::string::npos;
}

// One person of the board, in Shift-JIS (the whole list is converted at once).
void AppendPerson(std::string& out, const TKavelPerson& person, const TPersonStatusCollection& statuses,
                  TDateTime now) {
    const TReturnState state = person.ReturnState(now);
    const std::string& caption = statuses.StatusFor(state, person.StatusIcon).Caption;
    const std::string key = person.FileName();
    const std::string piece = KeyPathPiece(key);
    out += "<li class=\"p st-";
    out += StateClass(state);
    out += "\" data-key=\"";
    AppendHtmlEscaped(out, key);
    out += "\" data-k=\"";
    AppendHtmlEscaped(out, FoldForSearch(person.Name) + "|" + FoldForSearch(person.Furigana));
    out += "\" data-row=\"";
    if (const char row = KanaRowOf(person.Furigana)) out += row;
    out += "\" data-group=\"";
    AppendHtmlEscaped(out, person.Group);
    out += "\">";
    // A key with no UTF-8 form cannot be named in a URL of ours.
    out += piece.empty() ? "<div class=\"pl\">" : "<a class=\"pl\" href=\"/m/p/" + piece + "\">";
    out += "<img class=\"mk\" src=\"/";
    AppendHtmlEscaped(out, statuses.StatusImageName(state, person.StatusIcon));
    out += "\" alt=\"";
    AppendHtmlEscaped(out, caption);
    out += "\" width=\"32\" height=\"32\"><span class=\"nm\">";
    AppendHtmlEscaped(out, person.Name);
    out += "</span><span class=\"cap\" aria-hidden=\"true\">";
    AppendHtmlEscaped(out, caption);
    out += "</span><span class=\"ret\">";
    AppendHtmlEscaped(out, ReturnTextOf(person, now));
    out += "</span><span class=\"dst\">";
    AppendHtmlEscaped(out, TrimControls(state == rsPresent ? person.MemoHead(14) : person.ReasonHead(14)));
    out += "</span>";
    if (state == rsOverdue) out += "<span class=\"flag over\">予定超過</span>";
    out += piece.empty() ? "</div></li>\n" : "</a></li>\n";
}

void AppendBoard(TViewText& out, TLive& live, const TKavelPersonsList& persons, const TBoardFilter& filter,
                 TDateTime now) {
    const TPersonStatusCollection& statuses = live.Env().Statuses();
    std::string list;
    list.reserve(static_cast<size_t>(persons.Count()) * 300);
    int shown = 0;
    for (int i = 0; i < persons.Count(); ++i) {
        if (!Passes(persons[i], filter)) continue;
        AppendPerson(list, persons[i], statuses, now);
        ++shown;
    }
    out += "<div id=\"board\" data-version=\"" + std::to_string(live.Feed().Version()) + "\" data-total=\"" +
           std::to_string(persons.Count()) + "\"><p id=\"count\">";
    out += std::to_string(shown) + "人";
    if (shown < persons.Count()) out += " / " + std::to_string(persons.Count()) + "人中";
    out += "</p>\n<ul id=\"persons\">\n";
    out += list;
    out += "</ul></div>\n";
}

void AppendFilters(TViewText& out, const TIdHTTPRequestInfo& request, const TKavelPersonsList& persons,
                   const TBoardFilter& filter) {
    out +=
        "<form id=\"filters\" method=\"get\" action=\"/m/\" role=\"search\">"
        "<div class=\"field\"><label for=\"q\">名前・よみで探す</label>"
        "<input id=\"q\" name=\"q\" type=\"search\" autocomplete=\"off\" value=\"";
    out.EscapedUtf8(request.QueryFields.ValueOf("q"));
    out +=
        "\"></div><div class=\"field\"><label for=\"group\">グループ</label><select id=\"group\" name=\"group\">"
        "<option value=\"\">すべて</option>";
    const TGroupList& groups = persons.Groups();
    for (int i = 0; i < groups.Count(); ++i) {
        const std::string name = groups.Names(i);
        out += "<option value=\"";
        out.Escaped(name);
        out += name == filter.Group && !filter.Group.empty() ? "\" selected>" : "\">";
        out.Escaped(name);
        out += "</option>";
    }
    out += "</select></div>";
    if (filter.Row) out += std::string("<input type=\"hidden\" name=\"row\" value=\"") + filter.Row + "\">";
    out +=
        "<button type=\"submit\">絞り込む</button>"
        "<nav id=\"rows\" aria-label=\"よみの行\">";
    for (size_t i = 0; i <= Rows.size(); ++i) {
        const char row = i < Rows.size() ? Rows[i] : 0;
        out += "<a href=\"";
        out.Escaped(QueryWithRow(request, row));
        out += "\" data-row=\"";
        if (row) out += row;
        out += "\"";
        if (row == filter.Row) out += " aria-current=\"true\"";
        out += ">";
        out += row ? RowNames[i] : "全員";
        out += "</a>";
    }
    out += "</nav></form>\n";
}

}  // namespace

TBoardFilter BoardFilterOf(const TIdHTTPRequestInfo& request) {
    TBoardFilter filter;
    if (std::optional<std::string> q = Utf8ToCp932(request.QueryFields.ValueOf("q")))
        filter.Query = FoldForSearch(*q);
    else
        filter.QueryUnmatchable = true;
    const std::string row = request.QueryFields.ValueOf("row");
    if (row.size() == 1 && Rows.find(row[0]) != std::string_view::npos) filter.Row = row[0];
    if (std::optional<std::string> group = Utf8ToCp932(request.QueryFields.ValueOf("group")))
        filter.Group = *group;
    else
        filter.GroupUnmatchable = true;
    return filter;
}

std::string BoardFragment(TLive& live, const TKavelPersonsList& persons, const TBoardFilter& filter, TDateTime now) {
    TViewText out;
    AppendBoard(out, live, persons, filter, now);
    return out.Finish();
}

// The board's rows of the persons named by keys (UTF-8, one a line), in
// ul#persons, whatever the filters: the script puts them in place of the
// rows it shows, so a change costs a few rows, not the board.
std::string BoardRows(TLive& live, const TKavelPersonsList& persons, std::string_view keys, TDateTime now) {
    std::string list = "<ul id=\"persons\">";
    ForEachLine(keys, [&](std::string_view key) {
        const std::optional<std::string> cp932 = Utf8ToCp932(key);
        if (const TKavelPerson* person = cp932 ? persons.FindPerson(*cp932) : nullptr)
            AppendPerson(list, *person, live.Env().Statuses(), now);
    });
    list += "</ul>";
    TViewText out;
    out += list;
    return out.Finish();
}

void AnswerBoard(TViewCall& call, bool fragmentOnly) {
    TKavelEnv& env = call.Live.Env();
    const TKavelEnv::TPersonsPtr persons = env.GetPersons();
    const TDateTime now = env.Clock().Now();
    const TBoardFilter filter = BoardFilterOf(call.Request);
    if (fragmentOnly && !call.Request.QueryFields.ValueOf("keys").empty()) {
        AnswerHtml(call.Response, 200, BoardRows(call.Live, *persons, call.Request.QueryFields.ValueOf("keys"), now));
        return;
    }
    if (fragmentOnly) {
        AnswerHtml(call.Response, 200, BoardFragment(call.Live, *persons, filter, now));
        return;
    }
    TViewText out;
    PageStart(out, env.SiteName() + " 在席表", "v-board");
    out += "<header><h1>";
    out.Escaped(env.SiteName());
    out += "</h1><p class=\"sub\">在席表</p></header>\n<main>\n";
    AppendFilters(out, call.Request, *persons, filter);
    out += "<div id=\"notices\" role=\"status\" aria-live=\"polite\"></div>\n";
    AppendBoard(out, call.Live, *persons, filter, now);
    out += "<p id=\"loaded\">";
    out += FormatDateTime("m\"月\"d\"日 \"hh\":\"nn\":\"ss\" 時点の情報です。\"", persons->LoadTime());
    if (const TDateTime lost = env.ShareLostSince())
        out += FormatDateTime(
            "\"<strong>\"hh\":\"nn\":\"ss\"から共有フォルダを読めません。表示は更新されていません。</strong>\"", lost);
    out += "</p>\n</main>\n<footer><a href=\"/m/wall\">壁掛け表示</a> <a href=\"/\">従来の画面</a></footer>\n";
    PageEnd(out);
    AnswerHtml(call.Response, 200, out.Finish());
}

TOfficeHours OfficeHoursOf(const std::vector<std::string>& timeTable) {
    std::vector<int> found;
    for (const std::string& value : timeTable) {
        for (size_t i = 0; i < value.size(); ++i) {
            if (!(value[i] >= '0' && value[i] <= '9') || (i > 0 && value[i - 1] >= '0' && value[i - 1] <= '9'))
                continue;
            size_t end = i;
            while (end < value.size() && end - i < 2 && value[end] >= '0' && value[end] <= '9') ++end;
            const int hour = std::stoi(value.substr(i, end - i));
            int minute = -1;
            const std::string_view rest = std::string_view(value).substr(end);
            if (rest.size() >= 3 && rest[0] == ':' && rest[1] >= '0' && rest[1] <= '5' && rest[2] >= '0' &&
                rest[2] <= '9')
                minute = (rest[1] - '0') * 10 + (rest[2] - '0');
            else if (rest.starts_with("時"))
                minute = 0;
            if (minute >= 0 && hour <= 24) {
                found.push_back(hour * 60 + minute);
                break;  // the first time of each value
            }
        }
    }
    if (found.size() < 2) return {};
    const auto [low, high] = std::minmax_element(found.begin(), found.end());
    if (*low == *high) return {};
    return {*low, *high};
}

TWallLayout WallLayoutFor(int lines) {
    // A line wants about 18 characters of width (a long name, its word, a
    // return date with weekday and time); its height is 1.5 times the
    // type. In units of the screen height, the width is 16/9.
    TWallLayout best;
    best.FontVh = 0;
    lines = std::max(lines, 1);
    for (int columns = 1; columns <= 12; ++columns) {
        const int rows = (lines + columns - 1) / columns;
        const double byHeight = 88.0 / rows / 1.5;
        const double byWidth = 100.0 * 16 / 9 / columns / 18;
        const double font = std::min({byHeight, byWidth, 6.0});
        if (font > best.FontVh + 1e-9) best = {columns, rows, font};
    }
    return best;
}

namespace {

// The wall's words for a state: in, out or client off, nothing more.
const char* InOutWord(TReturnState state) {
    switch (state) {
        case rsPresent:
            return "在席";
        case rsPowerOff:
            return "電源オフ";
        default:
            return "不在";
    }
}

std::string WallFragment(TViewCall& call, const TKavelPersonsList& persons, TDateTime now) {
    TKavelEnv& env = call.Live.Env();
    const TPersonStatusCollection& statuses = env.Statuses();
    std::map<std::string, std::vector<int>> groups;
    for (int i = 0; i < persons.Count(); ++i) groups[persons[i].Group].push_back(i);
    const TWallLayout layout = WallLayoutFor(persons.Count() + static_cast<int>(groups.size()));
    const TOfficeHours hours = OfficeHoursOf(env.TimeTable());
    const int minute = static_cast<int>(std::lround((now - DateOf(now)) * 24 * 60)) % (24 * 60);
    const bool dim = minute < hours.From || minute >= hours.To;
    char style[96];
    std::snprintf(style, sizeof style, "--c:%d;--r:%d;--f:%.2fvh;--fw:%.2fvw", layout.Columns, layout.Rows,
                  layout.FontVh, layout.FontVh * 9 / 16);
    std::string out = "<div id=\"wall\" class=\"wall";
    if (dim) out += " dim";
    out += "\" data-version=\"" + std::to_string(call.Live.Feed().Version()) + "\" style=\"" + style + "\">\n";
    for (const auto& [name, members] : groups) {
        out += "<section class=\"g\"><h2>";
        AppendHtmlEscaped(out, name.empty() ? std::string("(グループなし)") : name);
        out += "</h2>";
        for (const int i : members) {
            const TKavelPerson& person = persons[i];
            const TReturnState state = person.ReturnState(now);
            out += "<div class=\"w st-";
            out += StateClass(state);
            out += "\"><span class=\"nm\">";
            AppendHtmlEscaped(out, person.Name);
            out += "</span><span class=\"io\">";
            out += InOutWord(state);
            out += "</span><span class=\"ret\">";
            AppendHtmlEscaped(out, ReturnTextOf(person, now));
            if (state == rsOverdue) out += " (予定超過)";
            out += "</span>";
            if (call.Settings.WallDetails) {
                out += "<span class=\"cap\">";
                AppendHtmlEscaped(out, statuses.StatusFor(state, person.StatusIcon).Caption);
                out += "</span><span class=\"dst\">";
                AppendHtmlEscaped(out, TrimControls(state == rsPresent ? person.MemoHead(14) : person.ReasonHead(14)));
                out += "</span>";
            }
            out += "</div>";
        }
        out += "</section>\n";
    }
    out += "<p id=\"changed\">";
    const TDateTime changed = call.Live.LastChange() > 0 ? call.Live.LastChange() : persons.LoadTime();
    out += FormatDateTime("\"最終更新 \"hh\":\"nn", changed);
    out += FormatDateTime("\"（\"hh\":\"nn\" 現在）\"", now);
    out += "</p></div>\n";
    TViewText text;
    text += out;
    return text.Finish();
}

}  // namespace

void AnswerWall(TViewCall& call, bool fragmentOnly) {
    TKavelEnv& env = call.Live.Env();
    const TKavelEnv::TPersonsPtr persons = env.GetPersons();
    const TDateTime now = env.Clock().Now();
    if (fragmentOnly) {
        AnswerHtml(call.Response, 200, WallFragment(call, *persons, now));
        return;
    }
    TViewText out;
    // Without script the wall reloads itself.
    PageStart(out, env.SiteName() + " 在席表", "v-wall",
              "<noscript><meta http-equiv=\"refresh\" content=\"60\"></noscript>");
    out += "<main><h1 class=\"wall-title\">";
    out.Escaped(env.SiteName());
    out += "</h1>\n";
    out.RawUtf8(WallFragment(call, *persons, now));
    out += "</main>\n";
    PageEnd(out);
    AnswerHtml(call.Response, 200, out.Finish());
}
