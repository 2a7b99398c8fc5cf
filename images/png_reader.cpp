#include "images/png_reader.h"

#include <png.h>

#include <cstring>
#include <string>

#include "images/bitmap.h"
#include "images/dib.h"
#include "images/graphic_error.h"

namespace {

// Releases libpng's read state however decoding ends.
class TPngImage {
public:
    TPngImage() {
        std::memset(&Image, 0, sizeof Image);
        Image.version = PNG_IMAGE_VERSION;
    }
    ~TPngImage() { png_image_free(&Image); }
    TPngImage(const TPngImage&) = delete;
    TPngImage& operator=(const TPngImage&) = delete;
    png_image Image;
};

}  // namespace

bool IsPng(std::string_view bytes) {
    static constexpr unsigned char Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= 8 && std::memcmp(bytes.data(), Signature, 8) == 0;
}

TRgbaPicture DecodePng(std::string_view bytes) {
    TPngImage png;
    if (!png_image_begin_read_from_memory(&png.Image, bytes.data(), bytes.size()))
        FailGraphic(std::string("PNG: ") + png.Image.message);
    if (png.Image.width == 0 || png.Image.height == 0 || png.Image.width > MaxPictureSide ||
        png.Image.height > MaxPictureSide ||
        static_cast<std::size_t>(png.Image.width) * png.Image.height > MaxPictureArea)
        FailGraphic("PNG: unsupported size");
    png.Image.format = PNG_FORMAT_RGBA;
    TRgbaPicture picture;
    picture.Width = static_cast<int>(png.Image.width);
    picture.Height = static_cast<int>(png.Image.height);
    picture.Pixels.resize(PNG_IMAGE_SIZE(png.Image));
    if (!png_image_finish_read(&png.Image, nullptr, picture.Pixels.data(), 0, nullptr))
        FailGraphic(std::string("PNG: ") + png.Image.message);
    return picture;
}
