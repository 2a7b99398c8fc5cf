#include "images/jpeg_image.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "images/graphic_error.h"
#include "images/jpeg_codec.h"

namespace {

// Four flat quadrants: red, green, blue, white.
TBitmap Quadrants(int w, int h) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.Pixel(x, y);
            const int q = (y >= h / 2) * 2 + (x >= w / 2);
            const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
            p[0] = colours[q][0];
            p[1] = colours[q][1];
            p[2] = colours[q][2];
        }
    return b;
}

TBitmap Noise(int w, int h) {
    TBitmap b(w, h);
    unsigned seed = 7;
    for (auto& v : b.Pixels) v = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    return b;
}

void ExpectNear(const TBitmap& b, int x, int y, int r, int g, int bl, int tolerance) {
    const uint8_t* p = b.Pixel(x, y);
    EXPECT_NEAR(p[0], r, tolerance) << x << "," << y;
    EXPECT_NEAR(p[1], g, tolerance) << x << "," << y;
    EXPECT_NEAR(p[2], bl, tolerance) << x << "," << y;
}

// Start-of-frame marker: C0 baseline, C2 progressive.
int FrameMarker(const std::string& jpeg) {
    for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (static_cast<uint8_t>(jpeg[i]) == 0xFF) {
            const uint8_t m = static_cast<uint8_t>(jpeg[i + 1]);
            if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) return m;
        }
    return -1;
}

TEST(TJPEGImage, EncodesBitmapOnceAsBaselineJpeg) {
    TJPEGImage image;
    EXPECT_EQ(image.CompressionQuality(), 90);
    EXPECT_TRUE(image.Empty());
    image.Assign(Quadrants(64, 48));
    EXPECT_FALSE(image.Empty());
    EXPECT_EQ(image.Width(), 64);

    std::string first;
    image.SaveToStream(first);
    ASSERT_GT(first.size(), 4u);
    EXPECT_EQ(first.substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(first.substr(first.size() - 2), "\xFF\xD9");
    EXPECT_EQ(FrameMarker(first), 0xC0);

    const TBitmap back = DecodeJpeg(first);
    ASSERT_EQ(back.Width, 64);
    ASSERT_EQ(back.Height, 48);
    ExpectNear(back, 8, 8, 255, 0, 0, 12);
    ExpectNear(back, 56, 8, 0, 255, 0, 12);
    ExpectNear(back, 8, 40, 0, 0, 255, 12);
    ExpectNear(back, 56, 40, 255, 255, 255, 12);

    // Saving appends the very same bytes each time.
    std::string twice = "head";
    image.SaveToStream(twice);
    image.SaveToStream(twice);
    EXPECT_EQ(twice, "head" + first + first);
    EXPECT_EQ(image.SharedBytes().get(), &image.Bytes());
}

TEST(TJPEGImage, QualityAppliesUntilEncodedThenBytesStay) {
    const TBitmap noise = Noise(64, 64);
    TJPEGImage low, high;
    low.Assign(noise);
    low.SetCompressionQuality(20);
    high.Assign(noise);
    high.SetCompressionQuality(100);
    EXPECT_LT(low.Bytes().size() * 2, high.Bytes().size());
    EXPECT_EQ(high.Bytes(), EncodeJpeg(noise, 100));

    const std::string kept = low.Bytes();
    low.SetCompressionQuality(100);
    EXPECT_EQ(low.Bytes(), kept);
}

TEST(TJPEGImage, AssignJpegAndCopies) {
    const std::string jpeg = EncodeJpeg(Quadrants(20, 10), 75);
    TJPEGImage image;
    image.AssignJpeg(jpeg);
    EXPECT_EQ(image.Width(), 20);
    EXPECT_EQ(image.Height(), 10);
    EXPECT_EQ(image.Bytes(), jpeg);

    TJPEGImage copy;
    copy.Assign(image);
    EXPECT_EQ(copy.Bytes(), jpeg);

    // A copy of a waiting bitmap encodes with the source's quality.
    TJPEGImage pending;
    pending.Assign(Quadrants(20, 10));
    pending.SetCompressionQuality(75);
    TJPEGImage pendingCopy;
    pendingCopy.Assign(pending);
    EXPECT_EQ(pendingCopy.Bytes(), jpeg);

    EXPECT_THROW(image.AssignJpeg("not a jpeg"), EInvalidGraphic);
    EXPECT_EQ(image.Bytes(), jpeg);  // left as it was
    TJPEGImage empty;
    std::string sink;
    EXPECT_THROW(empty.SaveToStream(sink), EInvalidGraphic);
}

TEST(TJPEGImage, ConcurrentFirstSavesShareOneEncoding) {
    TJPEGImage image;
    image.Assign(Noise(96, 96));
    std::vector<std::string> saved(8);
    std::vector<std::thread> threads;
    for (auto& out : saved)
        threads.emplace_back([&image, &out] {
            for (int i = 0; i < 20; ++i) {
                out.clear();
                image.SaveToStream(out);
            }
        });
    for (auto& t : threads) t.join();
    for (const auto& out : saved) EXPECT_EQ(out, saved[0]);
    EXPECT_EQ(saved[0], image.Bytes());
}

TEST(DecodeJpeg, RejectsDamage) {
    std::string jpeg = EncodeJpeg(Quadrants(16, 16), 90);
    EXPECT_THROW(DecodeJpeg(""), EInvalidGraphic);
    EXPECT_THROW(DecodeJpeg(jpeg.substr(0, 20)), EInvalidGraphic);
    EXPECT_THROW(EncodeJpeg(TBitmap(), 90), EInvalidGraphic);
}

}  // namespace
