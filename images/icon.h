#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "images/bitmap.h"

// One image of an icon, ready to draw. Images with an alpha channel (32 bits
// with alpha, PNG) blend by alpha; the others draw the Windows way: the
// screen is kept where the AND mask is 1, cleared where it is 0, and then
// XORed with the colour.
struct TIcon {
    int Width = 0;
    int Height = 0;
    int BitsPerPixel = 0;
    bool HasAlpha = false;
    std::vector<uint8_t> Pixels;  // RGBA, straight alpha, top row first
    std::vector<uint8_t> Mask;    // one byte per pixel, 1 = transparent; unused with alpha
};

// Picks the image of an .ico file that is 32 x 32 or nearest to it (larger
// on a tie, then the deepest) and decodes it: 1, 4, 8, 24 or 32 bits per
// pixel with their AND mask, or a PNG entry. `source` names the file or
// resource in the EInvalidGraphic raised for anything unreadable.
TIcon DecodeIcon(std::string_view bytes, const std::string& source);

// Draws the icon with its top-left corner at (x, y), clipped to the canvas.
void DrawIcon(TBitmap& canvas, const TIcon& icon, int x, int y);
