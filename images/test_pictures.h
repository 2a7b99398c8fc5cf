#pragma once

// Builders of picture files for the image tests: BMP and ICO bytes laid out
// by hand, PNG through libpng.

#include <png.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace testpic {

inline void Put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}
inline void Put32(std::string& s, uint32_t v) {
    Put16(s, static_cast<uint16_t>(v & 0xFFFF));
    Put16(s, static_cast<uint16_t>(v >> 16));
}

// value(x, y): a palette index below 9 bits, 0xRRGGBB at 24 bits,
// 0xAARRGGBB at 32 bits.
using TPixelFn = std::function<uint32_t(int x, int y)>;

inline std::string PixelRows(int width, int height, int bits, const TPixelFn& value, bool topDown) {
    std::string out;
    const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
    for (int stored = 0; stored < height; ++stored) {
        const int y = topDown ? stored : height - 1 - stored;
        std::string row(stride, '\0');
        for (int x = 0; x < width; ++x) {
            const uint32_t v = value(x, y);
            if (bits <= 8) {
                const int perByte = 8 / bits;
                const int shift = 8 - bits * (x % perByte + 1);
                row[x / perByte] = static_cast<char>(static_cast<uint8_t>(row[x / perByte]) | (v << shift));
            } else {
                const int bytes = bits / 8;
                row[x * bytes] = static_cast<char>(v & 0xFF);
                row[x * bytes + 1] = static_cast<char>((v >> 8) & 0xFF);
                row[x * bytes + 2] = static_cast<char>((v >> 16) & 0xFF);
                if (bytes == 4) row[x * bytes + 3] = static_cast<char>(v >> 24);
            }
        }
        out += row;
    }
    return out;
}

inline std::string InfoHeader(int width, int height, int bits, uint32_t colours, uint32_t compression = 0) {
    std::string h;
    Put32(h, 40);
    Put32(h, static_cast<uint32_t>(width));
    Put32(h, static_cast<uint32_t>(height));
    Put16(h, 1);
    Put16(h, static_cast<uint16_t>(bits));
    Put32(h, compression);
    Put32(h, 0);
    Put32(h, 0);
    Put32(h, 0);
    Put32(h, colours);
    Put32(h, 0);
    return h;
}

// palette entries are 0xRRGGBB.
inline std::string Palette(const std::vector<uint32_t>& palette) {
    std::string p;
    for (uint32_t c : palette) Put32(p, c & 0xFFFFFF);  // B G R 0 in memory
    return p;
}

inline std::string Dib(int width, int height, int bits, const std::vector<uint32_t>& palette, const TPixelFn& value,
                       bool topDown = false) {
    return InfoHeader(width, topDown ? -height : height, bits, static_cast<uint32_t>(palette.size())) +
           Palette(palette) + PixelRows(width, height, bits, value, topDown);
}

inline std::string BmpFile(const std::string& dib, std::size_t paletteBytes) {
    std::string f = "BM";
    Put32(f, static_cast<uint32_t>(14 + dib.size()));
    Put32(f, 0);
    Put32(f, static_cast<uint32_t>(14 + 40 + paletteBytes));
    return f + dib;
}

inline std::string Bmp(int width, int height, int bits, const std::vector<uint32_t>& palette, const TPixelFn& value,
                       bool topDown = false) {
    return BmpFile(Dib(width, height, bits, palette, value, topDown), palette.size() * 4);
}

// An icon image: colour rows then the AND mask (masked(x, y) true = transparent).
inline std::string IconImage(int width, int height, int bits, const std::vector<uint32_t>& palette,
                             const TPixelFn& value, const std::function<bool(int, int)>& masked) {
    return InfoHeader(width, height * 2, bits, static_cast<uint32_t>(palette.size())) + Palette(palette) +
           PixelRows(width, height, bits, value, false) +
           PixelRows(
               width, height, 1, [&](int x, int y) { return masked(x, y) ? 1u : 0u; }, false);
}

struct TIcoEntry {
    int Width;
    int Height;
    int Bits;
    std::string Data;
};

inline std::string IcoFile(const std::vector<TIcoEntry>& entries) {
    std::string f;
    Put16(f, 0);
    Put16(f, 1);
    Put16(f, static_cast<uint16_t>(entries.size()));
    std::size_t offset = 6 + 16 * entries.size();
    std::string blobs;
    for (const TIcoEntry& e : entries) {
        f += static_cast<char>(e.Width % 256);
        f += static_cast<char>(e.Height % 256);
        f += static_cast<char>(e.Bits == 4 ? 16 : 0);
        f += '\0';
        Put16(f, 1);
        Put16(f, static_cast<uint16_t>(e.Bits));
        Put32(f, static_cast<uint32_t>(e.Data.size()));
        Put32(f, static_cast<uint32_t>(offset + blobs.size()));
        blobs += e.Data;
    }
    return f + blobs;
}

// rgba(x, y) = 0xAARRGGBB.
inline std::string Png(int width, int height, const TPixelFn& rgba) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t v = rgba(x, y);
            uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(v >> 16);
            p[1] = static_cast<uint8_t>(v >> 8);
            p[2] = static_cast<uint8_t>(v);
            p[3] = static_cast<uint8_t>(v >> 24);
        }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr))
        throw std::runtime_error("png size");
    std::string out(size, '\0');
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr))
        throw std::runtime_error("png write");
    out.resize(size);
    return out;
}

}  // namespace testpic
