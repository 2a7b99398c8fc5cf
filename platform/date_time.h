#pragma once

#include <stdexcept>
#include <string>

// Local date-time as a day count since 1899-12-30 with the time of day as
// fraction (0.5 is noon). Before that epoch the whole-day part is negative
// and the fraction still counts forward from midnight of that day.
using TDateTime = double;

// A text or a date part that does not convert.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr double MSecsPerDay = 86400000.0;

bool IsValidDate(int year, int month, int day);
int DaysInMonth(int year, int month);

// Years 1..9999. The Encode functions raise EConvertError on an invalid part.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
TDateTime EncodeDate(int year, int month, int day);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
TDateTime EncodeTime(int hour, int min, int sec, int msec = 0);
// Date plus time of day, also right for dates before the epoch.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime dt);

TDateTime DateOf(TDateTime dt);  // midnight of the day
TDateTime TimeOf(TDateTime dt);  // time of day as a fraction in [0, 1)

// Pattern language: yyyy yy mm m dd d hh h nn n ss s zzz, aaa / ddd (the
// locale's abbreviated weekday name), aaaa / dddd (full name), "text" and
// 'text' copied without the quotes; letters match in either case; every
// other character is copied as it is (two-byte characters whole).
std::string FormatDateTime(const std::string& pattern, TDateTime dt);

// Short-date texts of the locale: y/m/d with "/" (year of 1 to 4 digits, one
// or two digits meaning 2000 + year). Surrounding blanks are ignored.
//   StrToDate      "2004/12/24"
//   StrToTime      "17:30", "17:30:05"
//   StrToDateTime  a date optionally followed by blanks and a time
// The Try forms return false instead of raising EConvertError.
bool TryStrToDate(const std::string& text, TDateTime& result);
bool TryStrToTime(const std::string& text, TDateTime& result);
bool TryStrToDateTime(const std::string& text, TDateTime& result);
TDateTime StrToDate(const std::string& text);
TDateTime StrToTime(const std::string& text);
TDateTime StrToDateTime(const std::string& text);
