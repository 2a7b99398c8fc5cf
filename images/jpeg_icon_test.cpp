#include "images/jpeg_icon.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "images/graphic_error.h"
#include "images/jpeg_codec.h"
#include "images/test_pictures.h"
#include "platform/file_system.h"
#include "platform/test_temp_dir.h"

namespace {

void ExpectNear(const TBitmap& b, int x, int y, int r, int g, int bl, int tolerance) {
    const uint8_t* p = b.Pixel(x, y);
    EXPECT_NEAR(p[0], r, tolerance) << x << "," << y;
    EXPECT_NEAR(p[1], g, tolerance) << x << "," << y;
    EXPECT_NEAR(p[2], bl, tolerance) << x << "," << y;
}

// Classic 4-bit 32 x 32 icon: a red square on the left two thirds, masked
// (black under the mask) on the right.
std::string RedIcon() {
    std::vector<uint32_t> palette(16, 0);
    palette[9] = 0xFF0000;
    return testpic::IcoFile(
        {{32, 32, 4,
          testpic::IconImage(
              32, 32, 4, palette, [](int x, int) { return x < 20 ? 9u : 0u; }, [](int x, int) { return x >= 20; })}});
}

TEST(TJPEGIcon, ThirtyTwoIconBecomesThirtyOneSquareAtQualityHundred) {
    TTestTempDir dir;
    dir.Write("red.ico", RedIcon());
    TJPEGIcon icon;
    icon.LoadIconFile(dir.File("red.ico"));
    EXPECT_EQ(icon.CompressionQuality(), 100);
    EXPECT_EQ(icon.Width(), 31);
    EXPECT_EQ(icon.Height(), 31);
    const TBitmap back = DecodeJpeg(icon.Bytes());
    ASSERT_EQ(back.Width, 31);
    ASSERT_EQ(back.Height, 31);
    ExpectNear(back, 5, 5, 255, 0, 0, 10);
    ExpectNear(back, 28, 28, 255, 255, 255, 10);

    // The same icon as a resource gives the same bytes.
    const std::string bytes = RedIcon();
    const TResourceModule module(
        {{"RED", TResourceKind::Icon, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}});
    TJPEGIcon fromResource;
    fromResource.LoadIconResource(module, "red");
    EXPECT_EQ(fromResource.Bytes(), icon.Bytes());
    EXPECT_THROW(fromResource.LoadIconResource(module, "BLUE"), EResNotFound);
}

TEST(TJPEGIcon, UnreadableIconFilesNameThePath) {
    TTestTempDir dir;
    dir.Write("cut.ico", RedIcon().substr(0, 300));
    dir.Write("text.ico", "CustomIcon,Name=x");
    for (const std::string name : {"cut.ico", "text.ico"}) {
        TJPEGIcon icon;
        try {
            icon.LoadIconFile(dir.File(name));
            ADD_FAILURE() << name << " was accepted";
        } catch (const EInvalidGraphic& e) {
            EXPECT_NE(std::string(e.what()).find(dir.File(name)), std::string::npos) << e.what();
        }
    }
    TJPEGIcon icon;
    EXPECT_THROW(icon.LoadIconFile(dir.File("missing.ico")), EFOpenError);
}

// The sample office's custom icons, as a user would have made them: Out_*
// carry 16 x 16 and 32 x 32 images in 4 and 32 bits, Mtg_* one 4-bit image.
TEST(TJPEGIcon, SampleOfficeIconsShowTheirColour) {
    const std::filesystem::path office =
        std::filesystem::path(__FILE__).parent_path().parent_path() / "examples" / "office";
    struct {
        const char* File;
        bool Yellow;
    } const icons[] = {{"out_y.ico", true}, {"out_r.ico", false}, {"mtg_y.ico", true}, {"mtg_r.ico", false}};
    for (const auto& row : icons) {
        SCOPED_TRACE(row.File);
        TJPEGIcon icon;
        icon.LoadIconFile((office / row.File).string());
        const TBitmap back = DecodeJpeg(icon.Bytes());
        ASSERT_EQ(back.Width, 31);
        ExpectNear(back, 0, 0, 255, 255, 255, 8);  // outside the round mark
        // Just inside the rim, below the pictogram, the mark's own colour shows.
        const uint8_t* p = back.Pixel(15, 27);
        if (row.Yellow) {
            EXPECT_GT(p[0], 200);
            EXPECT_GT(p[1], 150);
            EXPECT_LT(p[2], 120);
        } else {
            EXPECT_GT(p[0], 180);
            EXPECT_LT(p[1], 110);
        }
    }
}

}  // namespace
