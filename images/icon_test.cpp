#include "images/icon.h"

#include <gtest/gtest.h>

#include "images/graphic_error.h"
#include "images/test_pictures.h"

namespace {

using testpic::IcoFile;
using testpic::IconImage;

const std::vector<uint32_t> Palette16 = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                         0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                         0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

uint32_t Rgb(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.Pixel(x, y);
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

// Draws onto a white 31 x 31 canvas, as the JPEG icons do.
TBitmap OnWhite(const TIcon& icon) {
    TBitmap canvas(31, 31, 255);
    DrawIcon(canvas, icon, 0, 0);
    return canvas;
}

std::string ErrorOf(const std::string& bytes, const std::string& source) {
    try {
        DecodeIcon(bytes, source);
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
    return "";
}

// Left half red, right half masked out (black under the mask, as icon
// editors store it), except one masked pixel that carries blue and so
// inverts the screen.
std::string ClassicIcon(int bits) {
    std::vector<uint32_t> palette(Palette16.begin(), Palette16.begin() + (bits == 1 ? 2 : bits == 4 ? 16 : 0));
    if (bits == 8) {
        palette = Palette16;
        palette.resize(256, 0);
    }
    if (bits == 1) palette = {0x000000, 0xFF0000};
    auto masked = [](int x, int) { return x >= 16; };
    auto value = [&](int x, int y) -> uint32_t {
        const bool special = x == 20 && y == 3;
        if (bits == 24) return special ? 0x0000FF : masked(x, y) ? 0 : 0xFF0000;
        if (bits == 1) return masked(x, y) ? 0 : 1;
        return special ? 12 : masked(x, y) ? 0 : 9;
    };
    return IcoFile({{32, 32, bits, IconImage(32, 32, bits, palette, value, masked)}});
}

TEST(DecodeIcon, ClassicDepthsDrawWithTheirMaskOntoWhite) {
    for (int bits : {1, 4, 8, 24}) {
        SCOPED_TRACE(bits);
        const TIcon icon = DecodeIcon(ClassicIcon(bits), "c.ico");
        EXPECT_EQ(icon.Width, 32);
        EXPECT_EQ(icon.Height, 32);
        EXPECT_EQ(icon.BitsPerPixel, bits);
        EXPECT_FALSE(icon.HasAlpha);
        const TBitmap out = OnWhite(icon);
        EXPECT_EQ(Rgb(out, 0, 0), 0xFF0000u);
        EXPECT_EQ(Rgb(out, 15, 30), 0xFF0000u);
        EXPECT_EQ(Rgb(out, 16, 0), 0xFFFFFFu);  // masked black leaves the screen
        EXPECT_EQ(Rgb(out, 30, 30), 0xFFFFFFu);
        if (bits != 1) {
            EXPECT_EQ(Rgb(out, 20, 3), 0xFFFF00u);  // white XOR blue
        }
    }
}

TEST(DecodeIcon, ThirtyTwoBitAlphaBlendsAndZeroAlphaFallsBackToMask) {
    auto value = [](int x, int) -> uint32_t {
        if (x < 10) return 0xFF00FF00;  // opaque green
        if (x < 20) return 0x800000FF;  // half blue
        return 0x00FF0000;              // transparent red
    };
    const TIcon icon =
        DecodeIcon(IcoFile({{32, 32, 32, IconImage(32, 32, 32, {}, value, [](int, int) { return false; })}}), "a.ico");
    EXPECT_TRUE(icon.HasAlpha);
    const TBitmap out = OnWhite(icon);
    EXPECT_EQ(Rgb(out, 0, 0), 0x00FF00u);
    EXPECT_EQ(Rgb(out, 12, 0), 0x7F7FFFu);
    EXPECT_EQ(Rgb(out, 25, 0), 0xFFFFFFu);  // alpha wins over the (empty) mask

    // Old 32-bit icons leave alpha at zero and rely on the mask.
    auto opaque = [](int x, int) -> uint32_t { return x < 16 ? 0x00FF0000 : 0; };
    const TIcon old = DecodeIcon(
        IcoFile({{32, 32, 32, IconImage(32, 32, 32, {}, opaque, [](int x, int) { return x >= 16; })}}), "o.ico");
    EXPECT_FALSE(old.HasAlpha);
    const TBitmap oldOut = OnWhite(old);
    EXPECT_EQ(Rgb(oldOut, 0, 0), 0xFF0000u);
    EXPECT_EQ(Rgb(oldOut, 20, 0), 0xFFFFFFu);
}

TEST(DecodeIcon, PngEntry) {
    const std::string png = testpic::Png(
        32, 32, [](int x, int y) -> uint32_t { return x < 16 ? 0xFF0000FF : (y < 16 ? 0x00000000 : 0x80FF0000); });
    const TIcon icon = DecodeIcon(IcoFile({{32, 32, 32, png}}), "png.ico");
    EXPECT_TRUE(icon.HasAlpha);
    const TBitmap out = OnWhite(icon);
    EXPECT_EQ(Rgb(out, 0, 0), 0x0000FFu);
    EXPECT_EQ(Rgb(out, 20, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(out, 20, 20), 0xFF7F7Fu);

    std::string damaged = png;
    damaged.resize(damaged.size() / 2);
    EXPECT_NE(ErrorOf(IcoFile({{32, 32, 32, damaged}}), "bad-png.ico").find("bad-png.ico"), std::string::npos);
}

TEST(DecodeIcon, PicksThirtyTwoSquareWithMostColours) {
    auto one = [](uint32_t colour) { return [colour](int, int) { return colour; }; };
    auto none = [](int, int) { return false; };
    const std::string small = IconImage(16, 16, 4, Palette16, one(9), none);     // red
    const std::string big4 = IconImage(32, 32, 4, Palette16, one(10), none);     // green
    const std::string big32 = IconImage(32, 32, 32, {}, one(0xFF0000FF), none);  // blue
    const std::string large = IconImage(48, 48, 24, {}, one(0xFFFF00), none);    // yellow
    const TIcon best = DecodeIcon(IcoFile({{16, 16, 4, small}, {32, 32, 4, big4}, {32, 32, 32, big32}}), "m");
    EXPECT_EQ(best.Width, 32);
    EXPECT_EQ(best.BitsPerPixel, 32);

    // Directory fields lie (0 bits, wrong size): the image headers decide.
    const TIcon fromHeaders = DecodeIcon(IcoFile({{0, 0, 0, big4}, {5, 5, 0, small}}), "h");
    EXPECT_EQ(fromHeaders.Width, 32);
    EXPECT_EQ(fromHeaders.BitsPerPixel, 4);

    // 16 and 48 are equally far from 32: the larger one is drawn, clipped.
    const TIcon tie = DecodeIcon(IcoFile({{16, 16, 4, small}, {48, 48, 24, large}}), "t");
    EXPECT_EQ(tie.Width, 48);
    const TBitmap clipped = OnWhite(tie);
    EXPECT_EQ(Rgb(clipped, 30, 30), 0xFFFF00u);

    // A lone small icon is drawn at its own size; the rest stays white.
    const TBitmap alone = OnWhite(DecodeIcon(IcoFile({{16, 16, 4, small}}), "s"));
    EXPECT_EQ(Rgb(alone, 15, 15), 0xFF0000u);
    EXPECT_EQ(Rgb(alone, 16, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(alone, 0, 16), 0xFFFFFFu);

    // A broken entry is passed over when a readable one exists.
    const TIcon skip = DecodeIcon(IcoFile({{32, 32, 4, "garbage bytes, no header"}, {16, 16, 4, small}}), "k");
    EXPECT_EQ(skip.Width, 16);
}

TEST(DecodeIcon, UnreadableFilesNameTheFile) {
    const std::string good = ClassicIcon(4);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "not an icon"},
        {"this is plain text, not an icon", "not an icon"},
        {good.substr(0, 10), "truncated directory"},
        {good.substr(0, good.size() - 40), "no readable image"},           // entry runs past the end
        {std::string("\0\0\2\0\1\0", 6) + good.substr(6), "not an icon"},  // a cursor
        {std::string("\0\0\1\0\0\0", 6), "no images"},
    };
    for (const auto& [bytes, reason] : cases) {
        const std::string message = ErrorOf(bytes, "file \"/x/out_y.ico\"");
        EXPECT_NE(message.find("/x/out_y.ico"), std::string::npos) << message;
        EXPECT_NE(message.find(reason), std::string::npos) << message;
    }
    // The directory is right but the mask is cut off.
    std::string shortMask = IconImage(
        32, 32, 4, Palette16, [](int, int) { return 1u; }, [](int, int) { return false; });
    shortMask.resize(shortMask.size() - 64);
    EXPECT_NE(ErrorOf(IcoFile({{32, 32, 4, shortMask}}), "m.ico").find("truncated mask"), std::string::npos);
}

}  // namespace
