// Bitmaps come from the resources and, through custom icons, from the common
// directory. The input is a .bmp file or a bare DIB.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "images/bitmap.h"
#include "images/bmp_reader.h"
#include "images/graphic_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TBitmap bitmap;
    try {
        bitmap = DecodeBitmap(bytes, "fuzz.bmp");
    } catch (const EInvalidGraphic& e) {
        // Anything else escaping is a finding: only this one is caught upstream.
        FUZZ_CHECK(std::string_view(e.what()).starts_with("Cannot read bitmap fuzz.bmp: "));
        return 0;
    }
    FUZZ_CHECK(bitmap.Width >= 1 && bitmap.Width <= MaxPictureSide);
    FUZZ_CHECK(bitmap.Height >= 1 && bitmap.Height <= MaxPictureSide);
    const std::size_t area = static_cast<std::size_t>(bitmap.Width) * bitmap.Height;
    FUZZ_CHECK(area <= MaxPictureArea);
    FUZZ_CHECK(bitmap.Pixels.size() == area * 3);
    const int bits = bitmap.BitsPerPixel;
    FUZZ_CHECK(bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32);
    // Every pixel was read from the input: a picture needs at least one bit
    // per pixel of it.
    FUZZ_CHECK(area <= size * 8);
    return 0;
}
