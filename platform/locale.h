#pragma once

#include <string>
#include <string_view>

// Stand-in for the host locale of a Japanese system: year/month/day short
// dates and one-character weekday names. Its text is Shift-JIS, handled by
// platform/sjis_text.h.

constexpr char DateSeparator = '/';
constexpr char TimeSeparator = ':';
inline constexpr const char* ShortDateFormat = "yyyy/mm/dd";

// dayOfWeek 1 = Sunday ... 7 = Saturday; the CP932 bytes of 日 月 火 水 木 金 土
// and of 日曜日 ... 土曜日. Out-of-range values give an empty text.
std::string ShortDayName(int dayOfWeek);
std::string LongDayName(int dayOfWeek);
