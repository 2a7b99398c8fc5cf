#pragma once

#include <string>

#include "images/icon.h"
#include "images/jpeg_image.h"
#include "images/resource_module.h"

// A JPEG image made from an icon: the icon is drawn at its own size at the
// top-left of a white 31 x 31 bitmap (a 32 x 32 icon loses its last column
// and row) and encoded at once at quality 100.
class TJPEGIcon : public TJPEGImage {
public:
    static constexpr int CanvasSide = 31;
    static constexpr int IconQuality = 100;

    using TJPEGImage::Assign;
    void Assign(const TIcon& icon);

    // Raises EResNotFound or EInvalidGraphic.
    void LoadIconResource(const TResourceModule& module, const std::string& name);
    // Raises EFOpenError when the file cannot be read, EInvalidGraphic
    // naming the file when it is not a readable icon.
    void LoadIconFile(const std::string& path);
};
