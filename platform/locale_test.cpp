#include "platform/locale.h"

#include <gtest/gtest.h>

namespace {

TEST(Locale, WeekdayNamesAreShiftJis) {
    EXPECT_EQ("\x93\xfa", ShortDayName(1));  // 日
    EXPECT_EQ("\x93\x79", ShortDayName(7));  // 土
    EXPECT_EQ("金", ShortDayName(6));
    EXPECT_EQ("", ShortDayName(0));
    EXPECT_EQ("", ShortDayName(8));
    EXPECT_EQ("月曜日", LongDayName(2));
}

}  // namespace
