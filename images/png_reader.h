#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// A PNG picture as straight (not premultiplied) RGBA, top row first.
struct TRgbaPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;
};

bool IsPng(std::string_view bytes);
// Raises EInvalidGraphic with libpng's reason.
TRgbaPicture DecodePng(std::string_view bytes);
