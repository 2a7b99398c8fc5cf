#include "platform/locale.h"

namespace {

const char* const ShortDayNames[7] = {"日", "月", "火", "水", "木", "金", "土"};
const char* const LongDayNames[7] = {"日曜日", "月曜日", "火曜日", "水曜日", "木曜日", "金曜日", "土曜日"};

}  // namespace

std::string ShortDayName(int dayOfWeek) {
    if (dayOfWeek < 1 || dayOfWeek > 7) return {};
    return ShortDayNames[dayOfWeek - 1];
}

std::string LongDayName(int dayOfWeek) {
    if (dayOfWeek < 1 || dayOfWeek > 7) return {};
    return LongDayNames[dayOfWeek - 1];
}
