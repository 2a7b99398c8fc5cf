#include <iconv.h>

#include <cerrno>

#include "platform/sjis_text.h"

namespace {

constexpr char ReplacementCharacter[] = "\xEF\xBF\xBD";

// One conversion with iconv. onBad(in) handles the byte at in that does not
// convert (or starts a cut-off character) and returns false to give up.
template <typename OnBad>
bool Convert(const char* to, const char* from, std::string_view text, std::string& out, OnBad onBad) {
    const iconv_t convert = ::iconv_open(to, from);
    if (convert == reinterpret_cast<iconv_t>(-1)) return false;
    out.reserve(text.size() * 3 / 2);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    bool whole = true;
    char buffer[512];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t done = ::iconv(convert, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr - buffer);
        if (done == static_cast<size_t>(-1) && errno != E2BIG) {
            if (!onBad(*in)) {
                whole = false;
                break;
            }
            ++in;
            --inLeft;
            ::iconv(convert, nullptr, nullptr, nullptr, nullptr);
        }
    }
    ::iconv_close(convert);
    return whole;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932, TBadBytes bad) {
    std::string out;
    auto onBad = [&](char c) {
        if (bad == TBadBytes::Replace)
            out += ReplacementCharacter;
        else
            out += c;
        return true;
    };
    if (Convert("UTF-8", "CP932", cp932, out, onBad)) return out;
    // No converter on this host: keep ASCII, the rest as the policy says.
    out.clear();
    for (const char c : cp932) {
        if (static_cast<unsigned char>(c) < 0x80)
            out += c;
        else
            onBad(c);
    }
    return out;
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    std::string out;
    if (!Convert("CP932", "UTF-8", utf8, out, [](char) { return false; })) return std::nullopt;
    return out;
}
