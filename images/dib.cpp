#include "images/dib.h"

#include "images/graphic_error.h"

namespace {

constexpr uint32_t BiRgb = 0;

void CheckSize(int width, int height) {
    if (width <= 0 || height <= 0) FailGraphic("empty picture");
    if (width > MaxPictureSide || height > MaxPictureSide ||
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) > MaxPictureArea)
        FailGraphic("picture too large");
}

}  // namespace

void FailGraphic(const std::string& reason) { throw EInvalidGraphic(reason); }

TDibHeader ReadDibHeader(const TByteReader& in, std::size_t offset) {
    TDibHeader h;
    if (!in.Has(offset, 4)) FailGraphic("truncated header");
    h.HeaderSize = in.U32(offset);
    if (h.HeaderSize == 12) {
        if (!in.Has(offset, 12)) FailGraphic("truncated header");
        h.Width = in.U16(offset + 4);
        h.Height = in.U16(offset + 6);
        h.Bits = in.U16(offset + 10);
        h.PaletteEntrySize = 3;
    } else if (h.HeaderSize >= 40 && h.HeaderSize <= 1024) {
        if (!in.Has(offset, h.HeaderSize)) FailGraphic("truncated header");
        h.Width = in.I32(offset + 4);
        const int32_t height = in.I32(offset + 8);
        if (height == INT32_MIN) FailGraphic("bad height");
        h.TopDown = height < 0;
        h.Height = height < 0 ? -height : height;
        h.Bits = in.U16(offset + 14);
        h.Compression = in.U32(offset + 16);
        h.ColorsUsed = in.U32(offset + 32);
    } else {
        FailGraphic("unknown header");
    }
    if (in.U16(offset + (h.HeaderSize == 12 ? 8 : 12)) != 1) FailGraphic("bad plane count");
    if (h.Bits != 1 && h.Bits != 4 && h.Bits != 8 && h.Bits != 24 && h.Bits != 32)
        FailGraphic("unsupported depth of " + std::to_string(h.Bits) + " bits");
    if (h.Compression != BiRgb) FailGraphic("compressed pixels are not supported");
    CheckSize(h.Width, h.Height);
    h.PaletteOffset = offset + h.HeaderSize;
    return h;
}

int DibPaletteSize(const TDibHeader& header) {
    if (header.Bits > 8) return 0;
    const uint32_t full = 1u << header.Bits;
    return static_cast<int>(header.ColorsUsed == 0 || header.ColorsUsed > full ? full : header.ColorsUsed);
}

std::vector<uint8_t> ReadDibPalette(const TByteReader& in, const TDibHeader& header) {
    const int count = DibPaletteSize(header);
    if (!in.Has(header.PaletteOffset, count * header.PaletteEntrySize)) FailGraphic("truncated palette");
    std::vector<uint8_t> palette(static_cast<std::size_t>(count) * 3);
    for (int i = 0; i < count; ++i) {
        const std::size_t at = header.PaletteOffset + i * header.PaletteEntrySize;
        palette[i * 3 + 0] = in.U8(at + 2);
        palette[i * 3 + 1] = in.U8(at + 1);
        palette[i * 3 + 2] = in.U8(at + 0);
    }
    return palette;
}

std::size_t DibStride(int width, int bits) { return ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4; }

std::vector<uint8_t> DecodeDibRows(const TByteReader& in, std::size_t pixelOffset, const TDibHeader& header, int rows,
                                   const std::vector<uint8_t>& palette) {
    const int width = header.Width;
    const std::size_t stride = DibStride(width, header.Bits);
    if (!in.Has(pixelOffset, stride * rows)) FailGraphic("truncated pixel data");
    const std::size_t colours = palette.size() / 3;
    std::vector<uint8_t> rgba(static_cast<std::size_t>(width) * rows * 4);
    for (int stored = 0; stored < rows; ++stored) {
        const int y = header.TopDown ? stored : rows - 1 - stored;
        const uint8_t* src = in.At(pixelOffset + stride * stored);
        uint8_t* dst = rgba.data() + static_cast<std::size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x, dst += 4) {
            if (header.Bits <= 8) {
                const int perByte = 8 / header.Bits;
                const int shift = 8 - header.Bits * (x % perByte + 1);
                const std::size_t index = (src[x / perByte] >> shift) & ((1u << header.Bits) - 1);
                if (index < colours) {
                    dst[0] = palette[index * 3];
                    dst[1] = palette[index * 3 + 1];
                    dst[2] = palette[index * 3 + 2];
                } else {
                    dst[0] = dst[1] = dst[2] = 0;
                }
                dst[3] = 255;
            } else {
                const int bytes = header.Bits / 8;
                const uint8_t* p = src + static_cast<std::size_t>(x) * bytes;
                dst[0] = p[2];
                dst[1] = p[1];
                dst[2] = p[0];
                dst[3] = bytes == 4 ? p[3] : 255;
            }
        }
    }
    return rgba;
}

std::vector<uint8_t> DecodeDibMask(const TByteReader& in, std::size_t maskOffset, int width, int rows, bool topDown) {
    const std::size_t stride = DibStride(width, 1);
    if (!in.Has(maskOffset, stride * rows)) FailGraphic("truncated mask");
    std::vector<uint8_t> mask(static_cast<std::size_t>(width) * rows);
    for (int stored = 0; stored < rows; ++stored) {
        const int y = topDown ? stored : rows - 1 - stored;
        const uint8_t* src = in.At(maskOffset + stride * stored);
        for (int x = 0; x < width; ++x) mask[static_cast<std::size_t>(y) * width + x] = (src[x / 8] >> (7 - x % 8)) & 1;
    }
    return mask;
}
