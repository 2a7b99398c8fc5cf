#include "images/resource_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "images/bmp_reader.h"
#include "images/icon.h"

namespace {

struct TMean {
    double R = 0, G = 0, B = 0;
};

template <typename Pick>
TMean MeanOf(const TBitmap& b, Pick pick) {
    TMean m;
    int n = 0;
    for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width; ++x)
            if (pick(x, y)) {
                const uint8_t* p = b.Pixel(x, y);
                m.R += p[0];
                m.G += p[1];
                m.B += p[2];
                ++n;
            }
    if (n) m.R /= n, m.G /= n, m.B /= n;
    return m;
}

TMean MeanIn(const TBitmap& b, int x0, int y0, int x1, int y1) {
    return MeanOf(b, [&](int x, int y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; });
}

TBitmap Resource(const std::string& name) { return LoadBitmapResource(MainModule(), name); }

TEST(MainModule, CarriesEveryPictureAtItsSizeAndDepth) {
    struct {
        const char* Name;
        int Width, Height, Bits;
    } const bitmaps[] = {
        {"BACKGROUND", 320, 192, 8},       {"BTNMENUDENGONCHECK", 369, 73, 4},
        {"BTNMENUDENGONSEND", 369, 73, 4}, {"BTNMENUHUZAI", 369, 73, 4},
        {"BTNMENUSYOUSAI", 369, 73, 4},    {"BTNRETURN", 217, 57, 4},
        {"BTNRETURNANDSEND", 217, 57, 4},  {"BTNRETURNANDCANCELANDSUBMIT", 217, 57, 4},
    };
    for (const auto& row : bitmaps) {
        SCOPED_TRACE(row.Name);
        const TBitmap b = Resource(row.Name);
        EXPECT_EQ(b.Width, row.Width);
        EXPECT_EQ(b.Height, row.Height);
        EXPECT_EQ(b.BitsPerPixel, row.Bits);
    }
    for (const char* name : {"POWEROFF", "POWERON", "UNKNOWN", "HUZAIYELLOW", "HUZAIRED"}) {
        SCOPED_TRACE(name);
        const auto bytes = MainModule().Find(TResourceKind::Icon, name);
        ASSERT_TRUE(bytes);
        const TIcon icon = DecodeIcon(*bytes, name);
        EXPECT_EQ(icon.Width, 32);
        EXPECT_EQ(icon.Height, 32);
        EXPECT_EQ(icon.BitsPerPixel, 4);
    }
    EXPECT_TRUE(MainModule().Find(TResourceKind::Bitmap, "background"));
    EXPECT_FALSE(MainModule().Find(TResourceKind::Icon, "BACKGROUND"));
    EXPECT_FALSE(MainModule().Find(TResourceKind::Bitmap, "NOSUCH"));
}

TEST(MainModule, StatusIconsAreRoundLampsOfTheirColour) {
    auto lamp = [](const char* name) {
        TBitmap canvas(31, 31, 255);
        DrawIcon(canvas, DecodeIcon(*MainModule().Find(TResourceKind::Icon, name), name), 0, 0);
        return canvas;
    };
    // The ring just inside the rim shows the lamp's own colour.
    auto ring = [](int x, int y) {
        const double d = std::hypot(x - 15.0, y - 15.0);
        return d >= 11.0 && d <= 12.5;
    };
    auto corner = [](int x, int y) { return x + y < 3; };
    for (const char* name : {"POWEROFF", "POWERON", "UNKNOWN", "HUZAIYELLOW", "HUZAIRED"}) {
        const TMean outside = MeanOf(lamp(name), corner);
        EXPECT_GT(outside.R + outside.G + outside.B, 3 * 250) << name << " corner is not masked";
    }
    const TMean off = MeanOf(lamp("POWEROFF"), ring);
    EXPECT_LT(std::abs(off.R - off.B), 30) << "power off is grey";
    const TMean on = MeanOf(lamp("POWERON"), ring);
    EXPECT_GT(on.G, on.R + 60);
    EXPECT_GT(on.G, on.B + 60);
    const TMean unknown = MeanOf(lamp("UNKNOWN"), ring);
    EXPECT_GT(unknown.B, unknown.G + 40);
    const TMean yellow = MeanOf(lamp("HUZAIYELLOW"), ring);
    EXPECT_GT(yellow.R, 180);
    EXPECT_GT(yellow.G, 140);
    EXPECT_LT(yellow.B, 100);
    const TMean red = MeanOf(lamp("HUZAIRED"), ring);
    EXPECT_GT(red.R, red.G + 100);
}

TEST(MainModule, MenuBarsLightTheButtonOfTheirOperation) {
    // Buttons lie under the menu's image-map areas (x ranges, y 9 to 66).
    const int areas[4][2] = {{9, 98}, {97, 186}, {185, 273}, {272, 361}};
    const char* bars[4] = {"BTNMENUSYOUSAI", "BTNMENUHUZAI", "BTNMENUDENGONCHECK", "BTNMENUDENGONSEND"};
    for (int bar = 0; bar < 4; ++bar) {
        const TBitmap b = Resource(bars[bar]);
        for (int button = 0; button < 4; ++button) {
            // The face margin left of the pictogram and label.
            const int x = areas[button][0] + 6;
            const TMean face = MeanIn(b, x, 20, x + 3, 60);
            if (button == bar)
                EXPECT_GT(face.R, face.B + 60) << bars[bar] << " button " << button << " should be lit";
            else
                EXPECT_GE(face.B, face.R) << bars[bar] << " button " << button << " should be plain";
        }
    }
}

TEST(MainModule, ActionStripsSplitWhereTheirAreasDo) {
    auto bluish = [](const TMean& m) { return m.B > m.R + 50; };
    auto reddish = [](const TMean& m) { return m.R > m.B + 50; };
    auto neutral = [](const TMean& m) { return std::abs(m.R - m.B) < 25 && m.R > 150; };

    const TBitmap back = Resource("BTNRETURN");
    EXPECT_TRUE(neutral(MeanIn(back, 8, 6, 12, 50)));
    EXPECT_TRUE(neutral(MeanIn(back, 205, 6, 209, 50)));

    const TBitmap send = Resource("BTNRETURNANDSEND");  // send 0-128, close 129-217
    EXPECT_TRUE(bluish(MeanIn(send, 8, 6, 12, 50)));
    EXPECT_TRUE(bluish(MeanIn(send, 118, 6, 121, 50)));
    EXPECT_TRUE(neutral(MeanIn(send, 137, 6, 140, 50)));

    const TBitmap set = Resource("BTNRETURNANDCANCELANDSUBMIT");  // set 0-127 | clear 0-27 / close 28-57
    EXPECT_TRUE(bluish(MeanIn(set, 8, 6, 12, 50)));
    EXPECT_TRUE(bluish(MeanIn(set, 117, 6, 120, 50)));
    EXPECT_TRUE(reddish(MeanIn(set, 136, 6, 139, 21)));
    EXPECT_TRUE(neutral(MeanIn(set, 136, 35, 139, 50)));
}

TEST(MainModule, BackgroundTilesWithoutSeamAndStaysDark) {
    const TBitmap b = Resource("BACKGROUND");
    auto columnStep = [&](int a, int c) {
        double sum = 0;
        for (int y = 0; y < b.Height; ++y)
            for (int k = 0; k < 3; ++k) sum += std::abs(b.Pixel(a, y)[k] - b.Pixel(c, y)[k]);
        return sum / b.Height;
    };
    auto rowStep = [&](int a, int c) {
        double sum = 0;
        for (int x = 0; x < b.Width; ++x)
            for (int k = 0; k < 3; ++k) sum += std::abs(b.Pixel(x, a)[k] - b.Pixel(x, c)[k]);
        return sum / b.Width;
    };
    double inner = 0;
    for (int x = 0; x + 1 < b.Width; ++x) inner += columnStep(x, x + 1);
    inner /= b.Width - 1;
    EXPECT_LT(columnStep(b.Width - 1, 0), inner * 2 + 1);
    double innerRows = 0;
    for (int y = 0; y + 1 < b.Height; ++y) innerRows += rowStep(y, y + 1);
    innerRows /= b.Height - 1;
    EXPECT_LT(rowStep(b.Height - 1, 0), innerRows * 2 + 1);

    // Tea-dyed paper: the titles and the reload line are white and lime straight on it; black text
    // always sits in a white cell of its own.
    const TMean all = MeanIn(b, 0, 0, b.Width - 1, b.Height - 1);
    EXPECT_LT(all.R, 110);
    EXPECT_GT(all.R, all.G);
    EXPECT_GT(all.G, all.B);
}

}  // namespace
