#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/date_time.h"

class TLive;
class TKavelPersonsList;
class TIdHTTPRequestInfo;
class TIdHTTPResponseInfo;

// What quor.ini decides for the views.
struct TViewSettings {
    // The wall shows reasons, memos and mark captions too (QUOR_WallDetails=1):
    // by default it stands where visitors pass and shows in, out and return.
    bool WallDetails = false;
};

// True for the paths answered here: /m and everything under /m/.
bool IsViewPath(std::string_view path);
// The route label of a view path for the metrics (never a person key).
std::string ViewRouteLabel(std::string_view path);

// Answers one request of IsViewPath: UTF-8 HTML, the views' style and
// script, and the form writes. Never raises.
void AnswerView(TLive& live, const TViewSettings& settings, const TIdHTTPRequestInfo& request,
                TIdHTTPResponseInfo& response);

// The board's filters as the URL carries them: q (name or reading, UTF-8),
// row (a kana row letter) and group (UTF-8).
struct TBoardFilter {
    std::string Query;              // folded Shift-JIS; empty: everybody
    bool QueryUnmatchable = false;  // q holds a character no name can hold
    char Row = 0;
    std::string Group;  // Shift-JIS; empty: every group
    bool GroupUnmatchable = false;
};
TBoardFilter BoardFilterOf(const TIdHTTPRequestInfo& request);

// The board's list of persons as the board page and its live updates show
// it (the script fetches /m/board with the page's query on every change).
std::string BoardFragment(TLive& live, const TKavelPersonsList& persons, const TBoardFilter& filter, TDateTime now);

// The office day of the wall, in minutes after midnight: from the earliest
// to the latest time ("H:MM" or "H時") named in kavel.ini's TimeTable
// values; 7:00 to 20:00 when they name fewer than two.
struct TOfficeHours {
    int From = 7 * 60;
    int To = 20 * 60;
};
TOfficeHours OfficeHoursOf(const std::vector<std::string>& timeTable);

// The wall's columns and type size for `lines` lines (persons and group
// headings) on a 16:9 screen: type as large as fits without scrolling.
struct TWallLayout {
    int Columns = 1;
    int Rows = 1;
    double FontVh = 3;  // type size in hundredths of the screen height
};
TWallLayout WallLayoutFor(int lines);
