#pragma once

#include <string>
#include <string_view>

#include "images/bitmap.h"

// Baseline colour JPEG with libjpeg's standard settings at the given quality
// (1 to 100). Raises EInvalidGraphic on an empty bitmap or a libjpeg error.
std::string EncodeJpeg(const TBitmap& bitmap, int quality);

// Decodes JPEG bytes to RGB; raises EInvalidGraphic naming what went wrong.
TBitmap DecodeJpeg(std::string_view bytes);

// Reads only the header; false when the bytes are not a readable JPEG.
bool ReadJpegSize(std::string_view bytes, int& width, int& height);
