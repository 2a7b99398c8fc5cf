#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Largest side and area any decoder accepts; anything above is taken as
// damage rather than allocated.
constexpr int MaxPictureSide = 16384;
constexpr std::size_t MaxPictureArea = std::size_t{1} << 26;

// A picture in full colour: RGB bytes, top row first, no row padding.
// BitsPerPixel remembers the depth of the source it was decoded from;
// palette sources are already expanded.
struct TBitmap {
    int Width = 0;
    int Height = 0;
    int BitsPerPixel = 24;
    std::vector<uint8_t> Pixels;

    TBitmap() = default;
    TBitmap(int width, int height, uint8_t fill = 0)
        : Width(width), Height(height), Pixels(static_cast<std::size_t>(width) * height * 3, fill) {}

    bool Empty() const { return Width <= 0 || Height <= 0; }
    uint8_t* Pixel(int x, int y) { return Pixels.data() + (static_cast<std::size_t>(y) * Width + x) * 3; }
    const uint8_t* Pixel(int x, int y) const { return Pixels.data() + (static_cast<std::size_t>(y) * Width + x) * 3; }
};
