#pragma once

#include <string>

#include "data/kavel_person.h"
#include "platform/date_time.h"

class TKavelPersonsList;
class TPersonStatusCollection;

// Colour of a person's name on the board at now: gray (client off), black
// (present), olive (back later today), red (anything else).
std::string StatusColor(const TKavelPerson& person, TDateTime now);

// Whether the person passes the kana filter: only the filter's first
// character counts, and only the ten lower-case row letters narrow the board.
bool MatchesFurigana(const TKavelPerson& person, const std::string& filter);

// The status, name and destination cells of one person at now.
std::string MakeBoardCells(const TKavelPerson& person, TDateTime now, const TPersonStatusCollection& statuses);

// The whole board for persons, two persons to a row, narrowed by the two
// filters (empty: no narrowing), with the list's LoadTime as reload line.
// A share lost since shareLostSince (0: it is readable) turns that line red
// and adds since when the board has not been refreshed.
std::string BuildBoardText(const TKavelPersonsList& persons, const std::string& siteName,
                           const TPersonStatusCollection& statuses, TDateTime now, const std::string& furiganaFilter,
                           const std::string& groupFilter, TDateTime shareLostSince = 0);
