#include "platform/date_time.h"

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace {

TDateTime At(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
    return ComposeDateTime(EncodeDate(y, m, d), EncodeTime(h, n, s, ms));
}

void ExpectDate(TDateTime dt, int y, int m, int d) {
    int yy, mm, dd;
    DecodeDate(dt, yy, mm, dd);
    EXPECT_EQ(y, yy);
    EXPECT_EQ(m, mm);
    EXPECT_EQ(d, dd);
}

TEST(DateTime, EncodesDayCountsFromTheEpoch) {
    EXPECT_EQ(0.0, EncodeDate(1899, 12, 30));
    EXPECT_EQ(38345.0, EncodeDate(2004, 12, 24));
    EXPECT_EQ(36526.0, EncodeDate(2000, 1, 1));
    EXPECT_EQ(-1.0, EncodeDate(1899, 12, 29));
    EXPECT_DOUBLE_EQ(0.5, EncodeTime(12, 0, 0));
    EXPECT_DOUBLE_EQ(38345.75, At(2004, 12, 24, 18));
}

TEST(DateTime, RejectsInvalidParts) {
    EXPECT_THROW(EncodeDate(2003, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
    EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
    EXPECT_NO_THROW(EncodeDate(2004, 2, 29));
    EXPECT_THROW(EncodeDate(2004, 13, 1), EConvertError);
    EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0), EConvertError);
    EXPECT_THROW(EncodeTime(23, 60, 0), EConvertError);
    EXPECT_THROW(EncodeTime(23, 59, 60), EConvertError);
}

TEST(DateTime, DecodeInvertsEncodeAcrossCenturies) {
    for (int y : {1, 1600, 1899, 1900, 1999, 2000, 2004, 2100, 2400, 9999})
        for (int m = 1; m <= 12; ++m)
            for (int d : {1, 15, DaysInMonth(y, m)}) {
                SCOPED_TRACE(testing::Message() << y << "/" << m << "/" << d);
                ExpectDate(EncodeDate(y, m, d), y, m, d);
            }
}

TEST(DateTime, TimeBeforeTheEpochCountsForwardFromMidnight) {
    const TDateTime dt = At(1899, 12, 29, 6);
    EXPECT_DOUBLE_EQ(-1.25, dt);
    ExpectDate(dt, 1899, 12, 29);
    int h, n, s, ms;
    DecodeTime(dt, h, n, s, ms);
    EXPECT_EQ(6, h);
    EXPECT_EQ(-1.0, DateOf(dt));
}

TEST(DateTime, TimeRoundingUpToMidnightMovesToTheNextDay) {
    const TDateTime dt = EncodeDate(2004, 12, 24) + (MSecsPerDay - 0.4) / MSecsPerDay;
    ExpectDate(dt, 2004, 12, 25);
    int h, n, s, ms;
    DecodeTime(dt, h, n, s, ms);
    EXPECT_EQ(0, h + n + s + ms);
}

TEST(DateTime, DateOfAndTimeOfSplitTheValue) {
    const TDateTime dt = At(2004, 12, 24, 17, 30);
    EXPECT_EQ(EncodeDate(2004, 12, 24), DateOf(dt));
    EXPECT_NEAR(EncodeTime(17, 30, 0), TimeOf(dt), 1e-9);
}

TEST(DateTime, WeekdaysStartOnSunday) {
    EXPECT_EQ(6, DayOfWeek(EncodeDate(2004, 12, 24)));  // Friday
    EXPECT_EQ(1, DayOfWeek(EncodeDate(2004, 12, 26)));  // Sunday
    EXPECT_EQ(7, DayOfWeek(EncodeDate(1899, 12, 30)));  // Saturday
    EXPECT_EQ(6, DayOfWeek(EncodeDate(1899, 12, 29)));
    EXPECT_EQ(2, DayOfWeek(At(2009, 12, 7, 23, 59)));  // Monday
}

TEST(FormatDateTime, PadsOnlyTheDoubledLetters) {
    const TDateTime dt = At(2009, 3, 7, 9, 5, 3);
    EXPECT_EQ("2009/03/07 09:05:03", FormatDateTime("yyyy/mm/dd hh:nn:ss", dt));
    EXPECT_EQ("3/7 9:5:3", FormatDateTime("m/d h:n:s", dt));
    EXPECT_EQ("09", FormatDateTime("yy", dt));
    EXPECT_EQ("2009/03/07", FormatDateTime("YYYY/MM/DD", dt));
}

TEST(FormatDateTime, WeekdayNamesAndQuotedText) {
    EXPECT_EQ("12/24(金)", FormatDateTime("m\"/\"d\"(\"ddd\")\"", EncodeDate(2004, 12, 24)));
    EXPECT_EQ("※この情報は、12月7日(月) 9時5分3秒にサーバから読込んだものです。",
              FormatDateTime("\"※この情報は、\"m\"月\"d\"日(\"aaa\") \"h\"時\"n\"分\"s\"秒に"
                             "サーバから読込んだものです。\"",
                             At(2009, 12, 7, 9, 5, 3)));
    EXPECT_EQ("金曜日", FormatDateTime("dddd", EncodeDate(2004, 12, 24)));
    EXPECT_EQ("h:n", FormatDateTime("'h:n'", 0));
    EXPECT_EQ("open", FormatDateTime("\"open", 0));  // unclosed quote runs to the end
}

TEST(FormatDateTime, TwoByteCharactersAreNeverReadAsLetters) {
    // The second bytes of 電 and 秒 are 'd' and 'b' in ASCII.
    EXPECT_EQ("7電24秒", FormatDateTime("d電s秒", At(2004, 12, 7, 0, 0, 24)));
}

TEST(StrToDateTime, AcceptsTheShortDateWithOptionalTime) {
    TDateTime dt;
    ASSERT_TRUE(TryStrToDateTime("2004/12/24", dt));
    EXPECT_EQ(EncodeDate(2004, 12, 24), dt);
    ASSERT_TRUE(TryStrToDateTime("2004/12/24 17:30", dt));
    EXPECT_NEAR(At(2004, 12, 24, 17, 30), dt, 1e-9);
    ASSERT_TRUE(TryStrToDateTime("2004/12/24 23:59:59", dt));
    EXPECT_NEAR(At(2004, 12, 24, 23, 59, 59), dt, 1e-9);
    ASSERT_TRUE(TryStrToDateTime(" 2004/1/2  7:05 ", dt));
    EXPECT_NEAR(At(2004, 1, 2, 7, 5), dt, 1e-9);
    ASSERT_TRUE(TryStrToDateTime("04/12/24", dt));
    EXPECT_EQ(EncodeDate(2004, 12, 24), dt);
}

TEST(StrToDateTime, RefusesEverythingElse) {
    for (const char* text : {"",
                             " ",
                             "不在",
                             "2004/13/01",
                             "2004/02/30",
                             "2004-12-24",
                             "12/24",
                             "2004/12/24x",
                             "2004/12/24 ",
                             "2004/12/24 25:00",
                             "2004/12/24 17",
                             "2004/12/24 17:",
                             "2004/12/24 17:30:",
                             "2004/12/24 17:30 23:59:59",
                             "2004/12/24 1730",
                             "17:30",
                             "20041/12/24",
                             "2004/012/24",
                             "2004/12/24 17:60",
                             "2004/12/24\t17:30"}) {
        SCOPED_TRACE(text);
        TDateTime dt = 123;
        if (std::string(text) == "2004/12/24 ") {
            // Trailing blanks alone are fine.
            EXPECT_TRUE(TryStrToDateTime(text, dt));
            continue;
        }
        EXPECT_FALSE(TryStrToDateTime(text, dt));
        EXPECT_EQ(123, dt);
        EXPECT_THROW(StrToDateTime(text), EConvertError);
    }
}

TEST(StrToDateTime, DateAndTimeAlone) {
    EXPECT_EQ(EncodeDate(2004, 12, 24), StrToDate("2004/12/24"));
    EXPECT_THROW(StrToDate("2004/12/24 17:30"), EConvertError);
    EXPECT_NEAR(EncodeTime(7, 5, 3), StrToTime("7:5:3"), 1e-9);
    EXPECT_NEAR(EncodeTime(17, 30, 0), StrToTime("17:30"), 1e-9);
    EXPECT_THROW(StrToTime("2004/12/24"), EConvertError);
    EXPECT_THROW(StrToTime("24:00"), EConvertError);
}

TEST(Clock, FixedClockIsSettableAndSystemClockIsLocalNow) {
    TFixedClock fixed(At(2004, 12, 24, 18));
    const TClock& clock = fixed;
    EXPECT_DOUBLE_EQ(At(2004, 12, 24, 18), clock.Now());
    fixed.Advance(0.25);
    EXPECT_DOUBLE_EQ(At(2004, 12, 25), clock.Now());
    fixed.Set(1);
    EXPECT_EQ(1, clock.Now());
    EXPECT_GT(SystemClock().Now(), EncodeDate(2020, 1, 1));
    EXPECT_LT(SystemClock().Now(), EncodeDate(2200, 1, 1));
}

}  // namespace
