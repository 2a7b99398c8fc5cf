// Return dates and times are read from person files and from the absence
// form. The input, cut at its first zero byte, is a date text and a format
// pattern. A text that converts must convert again, to the same moment, from
// the form the server writes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/date_time.h"

namespace {

bool Raises(TDateTime (*convert)(const std::string&), const std::string& text) {
    try {
        (void)convert(text);
    } catch (const EConvertError&) {
        return true;
    }
    return false;
}

void CheckMoment(TDateTime moment, const std::string& pattern) {
    int year, month, day, hour, min, sec, msec;
    DecodeDate(moment, year, month, day);
    DecodeTime(moment, hour, min, sec, msec);
    FUZZ_CHECK(IsValidDate(year, month, day));
    FUZZ_CHECK(hour >= 0 && hour < 24 && min >= 0 && min < 60 && sec >= 0 && sec < 60 && msec == 0);
    const int weekday = DayOfWeek(moment);
    FUZZ_CHECK(weekday >= 1 && weekday <= 7);
    FUZZ_CHECK(DateOf(moment) == EncodeDate(year, month, day));

    TDateTime again = -1;
    FUZZ_CHECK(TryStrToDateTime(FormatDateTime("yyyy/mm/dd hh:nn:ss", moment), again));
    FUZZ_CHECK(again == moment);
    FUZZ_CHECK(TryStrToDate(FormatDateTime("yyyy/mm/dd", moment), again));
    FUZZ_CHECK(again == DateOf(moment));
    (void)FormatDateTime(pattern, moment);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t zero = input.find('\0');
    const std::string text(input.substr(0, zero));
    const std::string pattern(zero == std::string_view::npos ? std::string_view() : input.substr(zero + 1));

    TDateTime date = -1, time = -1, moment = -1;
    const bool isDate = TryStrToDate(text, date);
    const bool isTime = TryStrToTime(text, time);
    const bool isMoment = TryStrToDateTime(text, moment);
    FUZZ_CHECK(isDate == !Raises(StrToDate, text));
    FUZZ_CHECK(isTime == !Raises(StrToTime, text));
    FUZZ_CHECK(isMoment == !Raises(StrToDateTime, text));
    // A date alone is a moment at midnight; nothing is both a date and a time.
    if (isDate) FUZZ_CHECK(isMoment && moment == date);
    FUZZ_CHECK(!(isDate && isTime));
    if (isTime) FUZZ_CHECK(time >= 0 && time < 1);
    if (isMoment) CheckMoment(moment, pattern);
    if (isDate) CheckMoment(date, pattern);
    (void)FormatDateTime(pattern, 0);
    (void)FormatDateTime(pattern, EncodeDate(2004, 12, 24) + EncodeTime(17, 30, 5));
    return 0;
}
