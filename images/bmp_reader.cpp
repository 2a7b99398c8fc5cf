#include "images/bmp_reader.h"

#include "images/byte_reader.h"
#include "images/dib.h"
#include "images/graphic_error.h"

TBitmap DecodeBitmap(std::string_view bytes, const std::string& source) {
    try {
        const TByteReader in(bytes);
        std::size_t dibOffset = 0;
        std::size_t pixelOffset = 0;
        const bool isFile = in.Has(0, 2) && bytes[0] == 'B' && bytes[1] == 'M';
        if (isFile) {
            if (!in.Has(0, 14)) FailGraphic("truncated file header");
            dibOffset = 14;
            pixelOffset = in.U32(10);
        }
        const TDibHeader header = ReadDibHeader(in, dibOffset);
        const std::vector<uint8_t> palette = ReadDibPalette(in, header);
        // Resources have no file header: the pixels follow the palette.
        if (!isFile || pixelOffset == 0)
            pixelOffset = header.PaletteOffset + DibPaletteSize(header) * header.PaletteEntrySize;
        const std::vector<uint8_t> rgba = DecodeDibRows(in, pixelOffset, header, header.Height, palette);

        TBitmap bitmap(header.Width, header.Height);
        bitmap.BitsPerPixel = header.Bits;
        for (std::size_t i = 0, n = rgba.size() / 4; i < n; ++i) {
            bitmap.Pixels[i * 3] = rgba[i * 4];
            bitmap.Pixels[i * 3 + 1] = rgba[i * 4 + 1];
            bitmap.Pixels[i * 3 + 2] = rgba[i * 4 + 2];
        }
        return bitmap;
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic("Cannot read bitmap " + source + ": " + e.what());
    }
}
