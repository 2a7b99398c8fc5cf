#pragma once

#include <string>
#include <string_view>

// Stand-in for the host locale of a Japanese system: Shift-JIS (CP932) text,
// year/month/day short dates and one-character weekday names.

constexpr char DateSeparator = '/';
constexpr char TimeSeparator = ':';
inline constexpr const char* ShortDateFormat = "yyyy/mm/dd";

// dayOfWeek 1 = Sunday ... 7 = Saturday; the CP932 bytes of 日 月 火 水 木 金 土
// and of 日曜日 ... 土曜日. Out-of-range values give an empty text.
std::string ShortDayName(int dayOfWeek);
std::string LongDayName(int dayOfWeek);

// True for a byte that starts a two-byte Shift-JIS character.
inline bool IsLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Case-insensitive text comparison over Shift-JIS bytes: ASCII letters fold
// to upper case, the second byte of a two-byte character never folds, and all
// other bytes compare by unsigned value. Used for every lookup by name that
// ignores case (groups, parameters, settings, cache keys, image names).
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
std::string UpperCase(const std::string& s);  // the same folding
std::string LowerCase(const std::string& s);

// Leading characters of s that begin within its first n bytes; a two-byte
// character whose lead byte lies within n is taken whole, so the result is
// at most n + 1 bytes.
std::string HeadOfText(const std::string& s, int n);
