// Custom status icons are .ico files from the common directory: 1 to 32 bits
// per pixel with their masks, or PNG entries. The decoded icon is drawn the
// way the status images draw it and at offsets that clip it on every side.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "images/bitmap.h"
#include "images/graphic_error.h"
#include "images/icon.h"

namespace {

constexpr int MaxIconSide = 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TIcon icon;
    try {
        icon = DecodeIcon(bytes, "fuzz.ico");
    } catch (const EInvalidGraphic& e) {
        FUZZ_CHECK(std::string_view(e.what()).starts_with("Cannot read icon fuzz.ico: "));
        return 0;
    }
    FUZZ_CHECK(icon.Width >= 1 && icon.Width <= MaxIconSide);
    FUZZ_CHECK(icon.Height >= 1 && icon.Height <= MaxIconSide);
    const std::size_t area = static_cast<std::size_t>(icon.Width) * icon.Height;
    FUZZ_CHECK(icon.Pixels.size() == area * 4);
    if (icon.HasAlpha) {
        FUZZ_CHECK(icon.Mask.empty() || icon.Mask.size() == area);
    } else {
        FUZZ_CHECK(icon.Mask.size() == area);
    }
    for (uint8_t m : icon.Mask) FUZZ_CHECK(m <= 1);

    TBitmap canvas(31, 31, 0xFF);
    DrawIcon(canvas, icon, 0, 0);
    DrawIcon(canvas, icon, -icon.Width / 2, -icon.Height / 2);
    DrawIcon(canvas, icon, 30, 30);
    DrawIcon(canvas, icon, -icon.Width, 31);
    FUZZ_CHECK(canvas.Pixels.size() == 31 * 31 * 3);
    // A fully transparent icon leaves the canvas as it was.
    if (icon.HasAlpha && icon.Mask.empty()) {
        bool clear = true;
        for (std::size_t i = 3; i < icon.Pixels.size() && clear; i += 4) clear = icon.Pixels[i] == 0;
        if (clear) {
            TBitmap white(31, 31, 0xFF);
            DrawIcon(white, icon, 0, 0);
            for (uint8_t b : white.Pixels) FUZZ_CHECK(b == 0xFF);
        }
    }
    return 0;
}
