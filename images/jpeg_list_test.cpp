#include "images/jpeg_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "images/graphic_error.h"
#include "images/jpeg_codec.h"

namespace {

TEST(TJPEGList, DirectConstructionIsRefused) {
    try {
        TJPEGList list;
        FAIL() << "constructed";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), "TJPEGListのコンストラクタは呼び出せません");
    }
    EXPECT_EQ(&TJPEGList::Instance(), &TJPEGList::Instance());
}

TEST(TJPEGList, StartUpFillsTheEightImagesInOrder) {
    InitializeImageCatalogue();
    InitializeImageCatalogue();  // once per process, however often called
    TJPEGList& list = TJPEGList::Instance();
    ASSERT_GE(list.Count(), 8);
    struct {
        const char* Name;
        int Width, Height;
    } const expected[8] = {
        {"bg.jpg", 320, 192},
        {"btnmenudengoncheck.jpg", 369, 73},
        {"btnmenudengonsend.jpg", 369, 73},
        {"btnmenuhuzai.jpg", 369, 73},
        {"btnmenusyousai.jpg", 369, 73},
        {"btnreturn.jpg", 217, 57},
        {"btnreturnandsend.jpg", 217, 57},
        {"btnreturnandcancelandsubmit.jpg", 217, 57},
    };
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(expected[i].Name);
        EXPECT_EQ(list.Names(i), expected[i].Name);
        EXPECT_EQ(list.IndexOf(expected[i].Name), i);
        const TJPEGImage& image = list.Images(i);
        EXPECT_EQ(image.CompressionQuality(), 90);
        const TBitmap back = DecodeJpeg(image.Bytes());
        EXPECT_EQ(back.Width, expected[i].Width);
        EXPECT_EQ(back.Height, expected[i].Height);
    }
    // The background decodes to the warm paper it was drawn as: red over green over blue.
    const TBitmap bg = DecodeJpeg(list.Images(0).Bytes());
    long sum[3] = {0, 0, 0};
    for (std::size_t i = 0; i < bg.Pixels.size(); ++i) sum[i % 3] += bg.Pixels[i];
    EXPECT_GT(sum[0], sum[1]);
    EXPECT_GT(sum[1], sum[2]);
}

// WCAG relative luminance of one sRGB pixel.
double RelativeLuminance(const uint8_t* rgb) {
    double channel[3];
    for (int i = 0; i < 3; ++i) {
        const double c = rgb[i] / 255.0;
        channel[i] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
    return 0.2126 * channel[0] + 0.7152 * channel[1] + 0.0722 * channel[2];
}

// The classic pages put their site and window titles (and unread messages) in white straight on the tiled
// background, at whatever offset the layout gives them: every pixel the browser gets may sit behind a letter.
TEST(TJPEGList, WhiteTitlesReadOnEveryPixelOfTheBackground) {
    InitializeImageCatalogue();
    const TBitmap bg = DecodeJpeg(TJPEGList::Instance().Find("bg.jpg")->Bytes());
    ASSERT_FALSE(bg.Empty());
    double brightest = 0, darkest = 1;
    for (int y = 0; y < bg.Height; ++y)
        for (int x = 0; x < bg.Width; ++x) {
            const double l = RelativeLuminance(bg.Pixel(x, y));
            brightest = std::max(brightest, l);
            darkest = std::min(darkest, l);
        }
    const double worst = (1.0 + 0.05) / (brightest + 0.05);
    EXPECT_GE(worst, 4.5) << "white on the brightest pixel, WCAG AA for normal text";
    // Still paper with its fibres, not a flat fill.
    EXPECT_GT(brightest - darkest, 0.02);
}

TEST(TJPEGList, LookupIgnoresCaseAndReportsMisses) {
    InitializeImageCatalogue();
    TJPEGList& list = TJPEGList::Instance();
    EXPECT_EQ(list.IndexOf("BG.JPG"), 0);
    EXPECT_EQ(list.Find("Bg.Jpg"), &list.Images(0));
    EXPECT_EQ(list.IndexOf("bg.jp"), -1);
    EXPECT_EQ(list.IndexOf("poweron.jpg"), -1);  // status icons live elsewhere
    EXPECT_EQ(list.Find("nothing.jpg"), nullptr);

    std::string a, b;
    list.Find("bg.jpg")->SaveToStream(a);
    list.Find("bg.jpg")->SaveToStream(b);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, list.Images(0).Bytes());
}

TEST(TJPEGList, MissingResourceFailsWithoutAddingAnything) {
    TJPEGList& list = TJPEGList::Instance();
    const int before = list.Count();
    // Only the first bitmap is there.
    const auto bg = MainModule().Find(TResourceKind::Bitmap, "BACKGROUND");
    const TResourceModule partial(
        {{"BACKGROUND", TResourceKind::Bitmap, reinterpret_cast<const unsigned char*>(bg->data()), bg->size()}});
    try {
        FillImageCatalogue(list, partial);
        FAIL() << "filled from a partial module";
    } catch (const EResNotFound& e) {
        EXPECT_NE(std::string(e.what()).find("BTNMENUDENGONCHECK"), std::string::npos);
    }
    EXPECT_EQ(list.Count(), before);

    const unsigned char junk[] = "BM not really";
    const TResourceModule broken({{"BACKGROUND", TResourceKind::Bitmap, junk, sizeof junk}});
    EXPECT_THROW(FillImageCatalogue(list, broken), EInvalidGraphic);
    EXPECT_EQ(list.Count(), before);
}

TEST(TJPEGList, AddImageTakesImagesAndCopiesBitmaps) {
    InitializeImageCatalogue();  // keeps the built-ins first whatever the test order
    TJPEGList& list = TJPEGList::Instance();
    const int before = list.Count();
    EXPECT_EQ(list.AddImage("none.jpg", std::unique_ptr<TJPEGImage>()), before);

    auto image = std::make_unique<TJPEGImage>();
    TJPEGImage* raw = image.get();
    image->Assign(TBitmap(4, 4, 200));
    EXPECT_EQ(list.AddImage("taken.jpg", std::move(image)), before + 1);
    EXPECT_EQ(list.Find("TAKEN.jpg"), raw);

    TBitmap bitmap(6, 2, 10);
    EXPECT_EQ(list.AddImage("copied.jpg", bitmap), before + 2);
    bitmap.Pixels.assign(bitmap.Pixels.size(), 250);  // the catalogue kept its own copy
    const TBitmap back = DecodeJpeg(list.Find("copied.jpg")->Bytes());
    EXPECT_EQ(back.Width, 6);
    EXPECT_NEAR(back.Pixels[0], 10, 6);

    // Duplicates are allowed; lookups find the first.
    EXPECT_EQ(list.AddImage("taken.jpg", TBitmap(1, 1)), before + 3);
    EXPECT_EQ(list.Find("taken.jpg"), raw);
}

}  // namespace
