#include "images/bmp_reader.h"

#include <gtest/gtest.h>

#include "images/graphic_error.h"
#include "images/test_pictures.h"

namespace {

using testpic::Bmp;

uint32_t Rgb(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.Pixel(x, y);
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

std::string ErrorOf(std::string_view bytes, const std::string& source) {
    try {
        DecodeBitmap(bytes, source);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
    return "";
}

const std::vector<uint32_t> Sixteen = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                                       0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

TEST(DecodeBitmap, FourBitNibblesAreHighFirstAndRowsBottomUp) {
    // 3 x 2, bottom-up: stored first row is the bottom one. Bytes written out
    // literally so the bit order does not depend on the test's own packer.
    std::string bytes = testpic::InfoHeader(3, 2, 4, 16) + testpic::Palette(Sixteen);
    bytes += std::string("\x9A\xC0\x00\x00", 4);  // bottom row: 9, 10, 12
    bytes += std::string("\x1F\x20\x00\x00", 4);  // top row: 1, 15, 2
    const TBitmap b = DecodeBitmap(testpic::BmpFile(bytes, 64), "x");
    ASSERT_EQ(b.Width, 3);
    ASSERT_EQ(b.Height, 2);
    EXPECT_EQ(b.BitsPerPixel, 4);
    EXPECT_EQ(Rgb(b, 0, 0), 0x800000u);
    EXPECT_EQ(Rgb(b, 1, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(b, 2, 0), 0x008000u);
    EXPECT_EQ(Rgb(b, 0, 1), 0xFF0000u);
    EXPECT_EQ(Rgb(b, 1, 1), 0x00FF00u);
    EXPECT_EQ(Rgb(b, 2, 1), 0x0000FFu);
}

TEST(DecodeBitmap, ExpandsEveryDepthWithRowPadding) {
    // Odd widths make every row need padding.
    auto index = [](int x, int y) { return static_cast<uint32_t>((x * 3 + y * 5) % 16); };
    for (int bits : {1, 4, 8}) {
        SCOPED_TRACE(bits);
        const int colours = 1 << bits;
        std::vector<uint32_t> palette(Sixteen.begin(), Sixteen.begin() + std::min(colours, 16));
        auto value = [&](int x, int y) { return index(x, y) % palette.size(); };
        const TBitmap b = DecodeBitmap(Bmp(7, 5, bits, palette, value), "p");
        ASSERT_EQ(b.Width, 7);
        ASSERT_EQ(b.Height, 5);
        EXPECT_EQ(b.BitsPerPixel, bits);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) ASSERT_EQ(Rgb(b, x, y), palette[value(x, y)]) << x << "," << y;
    }
    auto colour = [](int x, int y) { return static_cast<uint32_t>(x * 0x112233 + y * 0x040506) & 0xFFFFFF; };
    const TBitmap b = DecodeBitmap(Bmp(5, 3, 24, {}, colour), "t");
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) ASSERT_EQ(Rgb(b, x, y), colour(x, y));
}

TEST(DecodeBitmap, TopDownAndBareResourceForm) {
    auto value = [](int x, int y) { return static_cast<uint32_t>(y * 4 + x) % 16; };
    const TBitmap topDown = DecodeBitmap(Bmp(4, 3, 4, Sixteen, value, true), "td");
    const std::string dib = testpic::Dib(4, 3, 4, Sixteen, value);
    const TBitmap bare = DecodeBitmap(dib, "RES");
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(Rgb(topDown, x, y), Sixteen[value(x, y)]);
            EXPECT_EQ(Rgb(bare, x, y), Sixteen[value(x, y)]);
        }
}

TEST(DecodeBitmap, IndexPastShortPaletteIsBlack) {
    const TBitmap b =
        DecodeBitmap(Bmp(2, 1, 8, {0xFF0000, 0x00FF00}, [](int x, int) { return x == 0 ? 1u : 200u; }), "s");
    EXPECT_EQ(Rgb(b, 0, 0), 0x00FF00u);
    EXPECT_EQ(Rgb(b, 1, 0), 0u);
}

TEST(DecodeBitmap, UnreadableInputNamesItsSource) {
    const std::string good = Bmp(8, 8, 8, Sixteen, [](int, int) { return 3u; });
    const std::string truncated = good.substr(0, good.size() - 5);
    EXPECT_NE(ErrorOf(truncated, "resource BACKGROUND").find("resource BACKGROUND"), std::string::npos);
    EXPECT_NE(ErrorOf(truncated, "x").find("truncated"), std::string::npos);
    EXPECT_NE(ErrorOf("", "empty.bmp").find("empty.bmp"), std::string::npos);
    EXPECT_NE(ErrorOf("BM garbage that is no bitmap at all", "g.bmp").find("g.bmp"), std::string::npos);

    std::string rle = testpic::BmpFile(
        testpic::InfoHeader(4, 4, 8, 2, 1) + testpic::Palette({0, 0xFFFFFF}) + std::string(16, '\0'), 8);
    EXPECT_NE(ErrorOf(rle, "r").find("compressed"), std::string::npos);
    std::string deep = testpic::BmpFile(testpic::InfoHeader(4, 4, 16, 0) + std::string(32, '\0'), 0);
    EXPECT_NE(ErrorOf(deep, "d").find("16 bits"), std::string::npos);
    // Claims a huge picture: refused before anything is allocated.
    std::string huge = testpic::BmpFile(testpic::InfoHeader(100000, 100000, 24, 0), 0);
    EXPECT_NE(ErrorOf(huge, "h").find("too large"), std::string::npos);
    std::string zero = testpic::BmpFile(testpic::InfoHeader(0, 4, 24, 0), 0);
    EXPECT_NE(ErrorOf(zero, "z").find("empty"), std::string::npos);
}

}  // namespace
