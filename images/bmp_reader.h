#pragma once

#include <string>
#include <string_view>

#include "images/bitmap.h"

// Decodes a Windows bitmap of 1, 4, 8, 24 or 32 bits per pixel, either a
// whole .bmp file or the bare DIB a bitmap resource holds. Palette pictures
// come out expanded to RGB. `source` names the file or resource in the
// EInvalidGraphic raised for anything unreadable.
TBitmap DecodeBitmap(std::string_view bytes, const std::string& source);
