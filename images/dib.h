#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "images/bitmap.h"
#include "images/byte_reader.h"

// Device-independent bitmap pieces shared by BMP files and the images inside
// ICO files. Failures raise EInvalidGraphic with a short reason; the callers
// put the file name in front.

struct TDibHeader {
    uint32_t HeaderSize = 0;
    int Width = 0;
    int Height = 0;  // rows as stored in the header, sign removed
    bool TopDown = false;
    int Bits = 0;
    uint32_t Compression = 0;
    uint32_t ColorsUsed = 0;
    std::size_t PaletteOffset = 0;
    std::size_t PaletteEntrySize = 4;  // 3 for the old core header
};

TDibHeader ReadDibHeader(const TByteReader& in, std::size_t offset);

// Number of palette entries the pixels can refer to (0 above 8 bits).
int DibPaletteSize(const TDibHeader& header);
// The palette as RGB triples.
std::vector<uint8_t> ReadDibPalette(const TByteReader& in, const TDibHeader& header);

std::size_t DibStride(int width, int bits);

// Decodes `rows` rows of 1, 4, 8, 24 or 32 bits per pixel (uncompressed)
// starting at pixelOffset into RGBA, top row first. Alpha is 255 below 32
// bits and the stored fourth byte at 32 bits. Palette indices past the end
// of the palette give black.
std::vector<uint8_t> DecodeDibRows(const TByteReader& in, std::size_t pixelOffset, const TDibHeader& header, int rows,
                                   const std::vector<uint8_t>& palette);

// The AND mask (1 bit per pixel, 1 = transparent) below an icon's colour
// rows, as one byte per pixel, top row first.
std::vector<uint8_t> DecodeDibMask(const TByteReader& in, std::size_t maskOffset, int width, int rows, bool topDown);

[[noreturn]] void FailGraphic(const std::string& reason);
