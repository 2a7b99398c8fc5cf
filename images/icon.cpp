#include "images/icon.h"

#include <algorithm>
#include <cstdlib>

#include "images/byte_reader.h"
#include "images/dib.h"
#include "images/graphic_error.h"
#include "images/png_reader.h"

namespace {

constexpr int WantedSide = 32;
constexpr int MaxIconSide = 1024;

struct TCandidate {
    std::size_t Offset = 0;
    std::size_t Size = 0;
    int Width = 0;
    int Height = 0;
    int Bits = 0;
    bool Png = false;
};

uint32_t BigEndian32(const TByteReader& in, std::size_t at) {
    return (static_cast<uint32_t>(in.U8(at)) << 24) | (in.U8(at + 1) << 16) | (in.U8(at + 2) << 8) | in.U8(at + 3);
}

// Reads what an entry really holds from its own header (directory fields
// are often wrong in hand-made files); false when the header is unusable.
bool Describe(const TByteReader& in, TCandidate& c) {
    const std::string_view data = in.View(c.Offset, c.Size);
    if (IsPng(data)) {
        if (c.Size < 24) return false;
        c.Png = true;
        const uint32_t w = BigEndian32(in, c.Offset + 16);
        const uint32_t h = BigEndian32(in, c.Offset + 20);
        if (w == 0 || h == 0 || w > MaxIconSide || h > MaxIconSide) return false;
        c.Width = static_cast<int>(w);
        c.Height = static_cast<int>(h);
        c.Bits = 32;
        return true;
    }
    try {
        const TDibHeader header = ReadDibHeader(TByteReader(data), 0);
        if (header.Height < 2 || header.Width > MaxIconSide || header.Height / 2 > MaxIconSide) return false;
        c.Width = header.Width;
        c.Height = header.Height / 2;
        c.Bits = header.Bits;
        return true;
    } catch (const EInvalidGraphic&) {
        return false;
    }
}

bool Better(const TCandidate& a, const TCandidate& b) {
    auto distance = [](const TCandidate& c) {
        return std::max(std::abs(c.Width - WantedSide), std::abs(c.Height - WantedSide));
    };
    if (distance(a) != distance(b)) return distance(a) < distance(b);
    if (a.Width * a.Height != b.Width * b.Height) return a.Width * a.Height > b.Width * b.Height;
    return a.Bits > b.Bits;
}

TIcon DecodePngEntry(std::string_view data) {
    TRgbaPicture picture = DecodePng(data);
    TIcon icon;
    icon.Width = picture.Width;
    icon.Height = picture.Height;
    icon.BitsPerPixel = 32;
    icon.HasAlpha = true;
    icon.Pixels = std::move(picture.Pixels);
    return icon;
}

TIcon DecodeDibEntry(std::string_view data) {
    const TByteReader in(data);
    TDibHeader header = ReadDibHeader(in, 0);
    const int rows = header.Height / 2;
    header.Height = rows;
    const std::vector<uint8_t> palette = ReadDibPalette(in, header);
    const std::size_t pixelOffset = header.PaletteOffset + DibPaletteSize(header) * header.PaletteEntrySize;
    TIcon icon;
    icon.Width = header.Width;
    icon.Height = rows;
    icon.BitsPerPixel = header.Bits;
    icon.Pixels = DecodeDibRows(in, pixelOffset, header, rows, palette);
    if (header.Bits == 32)
        for (std::size_t i = 3; i < icon.Pixels.size() && !icon.HasAlpha; i += 4) icon.HasAlpha = icon.Pixels[i] != 0;
    const std::size_t maskOffset = pixelOffset + DibStride(header.Width, header.Bits) * rows;
    // Some tools leave the mask out of 32-bit images, which never need it.
    if (header.Bits == 32 && icon.HasAlpha && maskOffset == in.Size()) return icon;
    icon.Mask = DecodeDibMask(in, maskOffset, header.Width, rows, header.TopDown);
    return icon;
}

TIcon DecodeChecked(std::string_view bytes) {
    const TByteReader in(bytes);
    if (!in.Has(0, 6)) FailGraphic("not an icon file");
    if (in.U16(0) != 0 || in.U16(2) != 1) FailGraphic("not an icon file");
    const int count = in.U16(4);
    if (count == 0) FailGraphic("no images");
    if (!in.Has(6, static_cast<std::size_t>(count) * 16)) FailGraphic("truncated directory");
    bool found = false;
    TCandidate best;
    for (int i = 0; i < count; ++i) {
        const std::size_t entry = 6 + static_cast<std::size_t>(i) * 16;
        TCandidate c;
        c.Size = in.U32(entry + 8);
        c.Offset = in.U32(entry + 12);
        if (c.Size == 0 || !in.Has(c.Offset, c.Size) || !Describe(in, c)) continue;
        if (!found || Better(c, best)) best = c;
        found = true;
    }
    if (!found) FailGraphic("no readable image");
    const std::string_view data = bytes.substr(best.Offset, best.Size);
    return best.Png ? DecodePngEntry(data) : DecodeDibEntry(data);
}

}  // namespace

TIcon DecodeIcon(std::string_view bytes, const std::string& source) {
    try {
        return DecodeChecked(bytes);
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic("Cannot read icon " + source + ": " + e.what());
    }
}

void DrawIcon(TBitmap& canvas, const TIcon& icon, int x, int y) {
    for (int iy = 0; iy < icon.Height; ++iy) {
        const int cy = y + iy;
        if (cy < 0 || cy >= canvas.Height) continue;
        for (int ix = 0; ix < icon.Width; ++ix) {
            const int cx = x + ix;
            if (cx < 0 || cx >= canvas.Width) continue;
            const std::size_t at = static_cast<std::size_t>(iy) * icon.Width + ix;
            const uint8_t* src = icon.Pixels.data() + at * 4;
            uint8_t* dst = canvas.Pixel(cx, cy);
            if (icon.HasAlpha) {
                const unsigned a = src[3];
                for (int k = 0; k < 3; ++k)
                    dst[k] = static_cast<uint8_t>((src[k] * a + dst[k] * (255 - a) + 127) / 255);
            } else {
                const bool keep = !icon.Mask.empty() && icon.Mask[at] != 0;
                for (int k = 0; k < 3; ++k) dst[k] = static_cast<uint8_t>((keep ? dst[k] : 0) ^ src[k]);
            }
        }
    }
}
