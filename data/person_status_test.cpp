#include "data/person_status.h"

#include <gtest/gtest.h>

#include <limits>

#include "images/graphic_error.h"
#include "images/jpeg_codec.h"
#include "images/jpeg_icon.h"
#include "platform/test_temp_dir.h"

namespace {

// Friday 2004/12/24 10:00.
const TDateTime Now = EncodeDate(2004, 12, 24) + EncodeTime(10, 0, 0);

TKavelPerson Person(const std::string& date, const std::string& time, int32_t statusIcon, bool powerOff = false) {
    TKavelPerson p;
    p.PowerOFF = powerOff;
    p.ModoriDate = date;
    p.ModoriTime = time;
    p.StatusIcon = statusIcon;
    return p;
}

// The collection with one custom absence entry (images 0y.jpg / 0r.jpg) made
// from the built-in absence icons, as kavel.ini's first custom icon would be.
class StatusesWithCustom : public ::testing::Test {
protected:
    void SetUp() override {
        auto yellow = std::make_unique<TJPEGIcon>();
        yellow->LoadIconResource(MainModule(), "POWERON");
        auto red = std::make_unique<TJPEGIcon>();
        red->LoadIconResource(MainModule(), "POWEROFF");
        statuses.Add().Init("外出", "0y.jpg", std::move(yellow), "0r.jpg", std::move(red));
    }
    std::string Image(const std::string& date, const std::string& time, int32_t icon, bool off = false) {
        return statuses.StatusImageName(Person(date, time, icon, off), Now);
    }
    TPersonStatusCollection statuses;
};

TEST(TPersonStatusCollection, BuiltInEntries) {
    const TPersonStatusCollection statuses;
    ASSERT_EQ(statuses.Count(), 4);
    const char* captions[] = {"電源オフ", "在席", "不明", "不在"};
    const std::vector<std::vector<std::string>> names = {
        {"poweroff.jpg"}, {"poweron.jpg"}, {"unknown.jpg"}, {"huzaiyellow.jpg", "huzaired.jpg"}};
    for (int i = 0; i < 4; ++i) {
        const TPersonStatus& s = statuses.Items(i);
        EXPECT_EQ(s.Caption, captions[i]);
        ASSERT_EQ(s.ImageCount(), static_cast<int>(names[i].size()));
        for (int k = 0; k < s.ImageCount(); ++k) {
            EXPECT_EQ(s.ImageNames(k), names[i][k]);
            ASSERT_NE(s.Images(k), nullptr);
            EXPECT_EQ(s.Images(k)->CompressionQuality(), 100);
            const TBitmap back = DecodeJpeg(s.Images(k)->Bytes());
            EXPECT_EQ(back.Width, 31);
            EXPECT_EQ(back.Height, 31);
        }
    }
    EXPECT_THROW(statuses.Items(4), std::out_of_range);
    EXPECT_THROW(statuses.Items(-1), std::out_of_range);
}

TEST_F(StatusesWithCustom, StatesWithoutAbsenceIgnoreStatusIcon) {
    for (int32_t icon : {0, 1, 7, -1}) {
        SCOPED_TRACE(icon);
        EXPECT_EQ(Image("", "", icon, false), "poweron.jpg");
        EXPECT_EQ(Image("", "", icon, true), "poweroff.jpg");
        EXPECT_EQ(Image("2004/12/23", "17:00", icon), "unknown.jpg");  // return passed
        EXPECT_EQ(Image("2004/12/24", "09:00", icon), "unknown.jpg");
        EXPECT_EQ(&statuses.StatusFor(Person("", "", icon, false), Now), &statuses.Items(1));
    }
}

TEST_F(StatusesWithCustom, AbsenceVariantFollowsTheReturnDay) {
    EXPECT_EQ(Image("2004/12/24", "17:00", 0), "huzaiyellow.jpg");
    EXPECT_EQ(Image("2004/12/24", "", 0), "huzaiyellow.jpg");  // end of today
    EXPECT_EQ(Image("2004/12/25", "09:00", 0), "huzaired.jpg");
    EXPECT_EQ(Image("2004/12/26", "09:00", 0), "huzaired.jpg");
    EXPECT_EQ(Image("2005/01/10", "09:00", 0), "huzaired.jpg");
    // A caption instead of a date ("nolimit") shows red.
    EXPECT_EQ(Image("不在", "", 0), "huzaired.jpg");
}

TEST_F(StatusesWithCustom, StatusIconSelectsCustomEntryOrFallsBack) {
    EXPECT_EQ(Image("2004/12/24", "17:00", 1), "0y.jpg");
    EXPECT_EQ(Image("2004/12/25", "17:00", 1), "0r.jpg");
    EXPECT_EQ(Image("外出", "", 1), "0r.jpg");
    EXPECT_EQ(&statuses.StatusFor(Person("2004/12/24", "17:00", 1), Now), &statuses.Items(4));
    for (int32_t icon : {2, 100, -1, -4, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()}) {
        SCOPED_TRACE(icon);
        EXPECT_EQ(Image("2004/12/24", "17:00", icon), "huzaiyellow.jpg");
        EXPECT_EQ(Image("2004/12/25", "17:00", icon), "huzaired.jpg");
        EXPECT_EQ(&statuses.StatusFor(Person("2004/12/25", "", icon), Now), &statuses.Items(3));
    }
}

TEST_F(StatusesWithCustom, ImagesAreFoundByNameIgnoringCase) {
    EXPECT_TRUE(statuses.HasImage("POWERON.JPG"));
    EXPECT_EQ(statuses.FindImage("POWERON.JPG"), statuses.Items(1).Images(0));
    EXPECT_EQ(statuses.FindImage("0R.jpg"), statuses.Items(4).Images(1));
    EXPECT_EQ(statuses.FindImage("huzaired.jpg"), statuses.Items(3).Images(1));
    EXPECT_FALSE(statuses.HasImage("bg.jpg"));
    EXPECT_FALSE(statuses.HasImage("poweron"));
    EXPECT_EQ(statuses.FindImage("1y.jpg"), nullptr);
}

TEST_F(StatusesWithCustom, ClearReturnsToTheBuiltIns) {
    std::string before = statuses.FindImage("poweron.jpg")->Bytes();
    statuses.Clear();
    EXPECT_EQ(statuses.Count(), 4);
    EXPECT_FALSE(statuses.HasImage("0y.jpg"));
    EXPECT_EQ(Image("2004/12/24", "17:00", 1), "huzaiyellow.jpg");
    EXPECT_EQ(statuses.FindImage("poweron.jpg")->Bytes(), before);
}

TEST(TPersonStatus, InitKeepsSecondImageOnlyWhenNamed) {
    TPersonStatus s;
    s.Init("a", "one.jpg", std::make_unique<TJPEGImage>(), "", std::make_unique<TJPEGImage>());
    EXPECT_EQ(s.ImageCount(), 1);
    s.Init("b", "x.jpg", std::make_unique<TJPEGImage>(), "y.jpg", std::make_unique<TJPEGImage>());
    EXPECT_EQ(s.Caption, "b");
    ASSERT_EQ(s.ImageCount(), 2);
    EXPECT_EQ(s.IndexOfImage("Y.JPG"), 1);
    EXPECT_EQ(s.IndexOfImage("one.jpg"), -1);
}

TEST(TPersonStatusCollection, SingleImageCustomEntryShowsItForBothVariants) {
    TPersonStatusCollection statuses;
    statuses.Add().Init("会議", "m.jpg", std::make_unique<TJPEGImage>());
    const TKavelPerson later = Person("2004/12/30", "", 1);
    EXPECT_EQ(statuses.StatusImageName(later, Now), "m.jpg");
}

TEST(TPersonStatusCollection, AddIconFilesLoadsBothOrNothing) {
    TTestTempDir dir;
    dir.Write("bad.ico", "not an icon");
    const auto icon = MainModule().Find(TResourceKind::Icon, "HUZAIRED");
    dir.Write("good.ico", std::string(*icon));
    TPersonStatusCollection statuses;
    EXPECT_THROW(statuses.AddIconFiles("x", "0y.jpg", dir.File("good.ico"), "0r.jpg", dir.File("bad.ico")),
                 std::exception);
    EXPECT_EQ(statuses.Count(), 4);
    statuses.AddIconFiles("x", "0y.jpg", dir.File("good.ico"), "0r.jpg", dir.File("good.ico"));
    ASSERT_EQ(statuses.Count(), 5);
    EXPECT_EQ(statuses.FindImage("0r.jpg")->Bytes(), statuses.FindImage("huzaired.jpg")->Bytes());
}

TEST(TPersonStatusCollection, MissingIconResourceFailsConstruction) {
    const TResourceModule empty({});
    EXPECT_THROW(TPersonStatusCollection{empty}, EResNotFound);
}

}  // namespace
