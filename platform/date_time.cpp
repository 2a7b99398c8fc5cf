#include "platform/date_time.h"

#include <cmath>
#include <cstdio>

#include "platform/locale.h"
#include "platform/sjis_text.h"

namespace {

// Day count of 1970-01-01 in TDateTime terms.
constexpr long long UnixEpochDay = 25569;

// Days since 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// Whole day number and milliseconds into that day, with the rounding carry
// of a time that rounds up to midnight moved into the day.
void SplitDateTime(TDateTime dt, long long& day, long long& ms) {
    const double whole = std::trunc(dt);
    day = static_cast<long long>(whole);
    ms = std::llround(std::fabs(dt - whole) * MSecsPerDay);
    if (ms >= static_cast<long long>(MSecsPerDay)) {
        ms = 0;
        ++day;  // day numbers run forward on both sides of the epoch
    }
}

void AppendNumber(std::string& out, int value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    out += buf;
}

// Reads a run of 1 to maxDigits decimal digits at pos.
bool ScanNumber(const std::string& s, size_t& pos, int maxDigits, int& value, int& digits) {
    value = 0;
    digits = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        if (++digits > maxDigits) return false;
        value = value * 10 + (s[pos] - '0');
        ++pos;
    }
    return digits > 0;
}

void SkipBlanks(const std::string& s, size_t& pos) {
    while (pos < s.size() && s[pos] == ' ') ++pos;
}

bool ScanDate(const std::string& s, size_t& pos, TDateTime& result) {
    int y, m, d, yDigits, digits;
    if (!ScanNumber(s, pos, 4, y, yDigits)) return false;
    if (pos >= s.size() || s[pos] != DateSeparator) return false;
    ++pos;
    if (!ScanNumber(s, pos, 2, m, digits)) return false;
    if (pos >= s.size() || s[pos] != DateSeparator) return false;
    ++pos;
    if (!ScanNumber(s, pos, 2, d, digits)) return false;
    if (yDigits <= 2) y += 2000;
    return TryEncodeDate(y, m, d, result);
}

bool ScanTime(const std::string& s, size_t& pos, TDateTime& result) {
    int h, n, sec = 0, digits;
    if (!ScanNumber(s, pos, 2, h, digits)) return false;
    if (pos >= s.size() || s[pos] != TimeSeparator) return false;
    ++pos;
    if (!ScanNumber(s, pos, 2, n, digits)) return false;
    if (pos < s.size() && s[pos] == TimeSeparator) {
        ++pos;
        if (!ScanNumber(s, pos, 2, sec, digits)) return false;
    }
    return TryEncodeTime(h, n, sec, 0, result);
}

bool AtEnd(const std::string& s, size_t pos) {
    SkipBlanks(s, pos);
    return pos == s.size();
}

[[noreturn]] void ThrowNotDate(const std::string& text, const char* what) {
    throw EConvertError("'" + text + "' is not a valid " + what);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

}  // namespace

bool IsValidDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return days[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (!IsValidDate(year, month, day)) return false;
    result = static_cast<double>(DaysFromCivil(year, month, day) + UnixEpochDay);
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime r;
    if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
    return r;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999) return false;
    result = (((hour * 60.0 + min) * 60.0 + sec) * 1000.0 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime r;
    if (!TryEncodeTime(hour, min, sec, msec, r)) throw EConvertError("Invalid argument to time encode");
    return r;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) { return date < 0 ? date - time : date + time; }

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
    long long d, ms;
    SplitDateTime(dt, d, ms);
    CivilFromDays(d - UnixEpochDay, year, month, day);
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
    long long d, ms;
    SplitDateTime(dt, d, ms);
    msec = static_cast<int>(ms % 1000);
    ms /= 1000;
    sec = static_cast<int>(ms % 60);
    ms /= 60;
    min = static_cast<int>(ms % 60);
    hour = static_cast<int>(ms / 60);
}

int DayOfWeek(TDateTime dt) {
    long long d, ms;
    SplitDateTime(dt, d, ms);
    // Day 0 (1899-12-30) was a Saturday.
    long long w = (d + 6) % 7;
    if (w < 0) w += 7;
    return static_cast<int>(w) + 1;
}

TDateTime DateOf(TDateTime dt) {
    long long d, ms;
    SplitDateTime(dt, d, ms);
    return static_cast<double>(d);
}

TDateTime TimeOf(TDateTime dt) {
    long long d, ms;
    SplitDateTime(dt, d, ms);
    return static_cast<double>(ms) / MSecsPerDay;
}

std::string FormatDateTime(const std::string& pattern, TDateTime dt) {
    int year, month, day, hour, min, sec, msec;
    DecodeDate(dt, year, month, day);
    DecodeTime(dt, hour, min, sec, msec);

    std::string out;
    size_t i = 0;
    const size_t n = pattern.size();
    while (i < n) {
        const char c = pattern[i];
        if (c == '"' || c == '\'') {
            size_t end = pattern.find(c, i + 1);
            if (end == std::string::npos) end = n;
            out.append(pattern, i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        if (IsLeadByte(static_cast<unsigned char>(c))) {
            out.append(pattern, i, i + 1 < n ? 2 : 1);
            i += 2;
            continue;
        }
        const char lc = Lower(c);
        size_t run = 1;
        while (i + run < n && Lower(pattern[i + run]) == lc) ++run;
        switch (lc) {
            case 'y':
                if (run <= 2)
                    AppendNumber(out, year % 100, 2);
                else
                    AppendNumber(out, year, 4);
                break;
            case 'm':
                AppendNumber(out, month, run >= 2 ? 2 : 1);
                break;
            case 'h':
                AppendNumber(out, hour, run >= 2 ? 2 : 1);
                break;
            case 'n':
                AppendNumber(out, min, run >= 2 ? 2 : 1);
                break;
            case 's':
                AppendNumber(out, sec, run >= 2 ? 2 : 1);
                break;
            case 'z':
                AppendNumber(out, msec, run >= 3 ? 3 : 1);
                break;
            case 'd':
                if (run <= 2)
                    AppendNumber(out, day, run);
                else if (run == 3)
                    out += ShortDayName(DayOfWeek(dt));
                else
                    out += LongDayName(DayOfWeek(dt));
                break;
            case 'a':
                if (run == 3)
                    out += ShortDayName(DayOfWeek(dt));
                else if (run >= 4)
                    out += LongDayName(DayOfWeek(dt));
                else
                    out.append(pattern, i, run);
                break;
            default:
                out.append(pattern, i, run);
                break;
        }
        i += run;
    }
    return out;
}

bool TryStrToDate(const std::string& text, TDateTime& result) {
    size_t pos = 0;
    SkipBlanks(text, pos);
    TDateTime d;
    if (!ScanDate(text, pos, d) || !AtEnd(text, pos)) return false;
    result = d;
    return true;
}

bool TryStrToTime(const std::string& text, TDateTime& result) {
    size_t pos = 0;
    SkipBlanks(text, pos);
    TDateTime t;
    if (!ScanTime(text, pos, t) || !AtEnd(text, pos)) return false;
    result = t;
    return true;
}

bool TryStrToDateTime(const std::string& text, TDateTime& result) {
    size_t pos = 0;
    SkipBlanks(text, pos);
    TDateTime d, t = 0;
    if (!ScanDate(text, pos, d)) return false;
    if (!AtEnd(text, pos)) {
        if (pos >= text.size() || text[pos] != ' ') return false;
        SkipBlanks(text, pos);
        if (!ScanTime(text, pos, t) || !AtEnd(text, pos)) return false;
    }
    result = ComposeDateTime(d, t);
    return true;
}

TDateTime StrToDate(const std::string& text) {
    TDateTime r;
    if (!TryStrToDate(text, r)) ThrowNotDate(text, "date");
    return r;
}

TDateTime StrToTime(const std::string& text) {
    TDateTime r;
    if (!TryStrToTime(text, r)) ThrowNotDate(text, "time");
    return r;
}

TDateTime StrToDateTime(const std::string& text) {
    TDateTime r;
    if (!TryStrToDateTime(text, r)) ThrowNotDate(text, "date and time");
    return r;
}
