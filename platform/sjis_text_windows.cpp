#include <windows.h>

#include "platform/sjis_text.h"

namespace {

constexpr char ReplacementCharacter[] = "\xEF\xBF\xBD";

// Single bytes Windows maps to private or control characters that no other
// CP932 reader knows: treated as bytes that are no character, as elsewhere.
bool IsUnassignedSingle(unsigned char c) { return c == 0x80 || c == 0xA0 || c >= 0xFD; }

// One CP932 character (one or two bytes) as UTF-8; false when it is none.
bool AppendCharacter(const char* bytes, int length, std::string& out) {
    if (length == 1 && IsUnassignedSingle(static_cast<unsigned char>(bytes[0]))) return false;
    wchar_t wide[2];
    const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes, length, wide, 2);
    if (n <= 0) return false;
    char utf8[8];
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8, nullptr, nullptr);
    if (m <= 0) return false;
    out.append(utf8, m);
    return true;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932, TBadBytes bad) {
    std::string out;
    out.reserve(cp932.size() * 3 / 2);
    for (size_t i = 0; i < cp932.size();) {
        const auto c = static_cast<unsigned char>(cp932[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const int length = IsLeadByte(c) && i + 1 < cp932.size() ? 2 : 1;
        if (AppendCharacter(cp932.data() + i, length, out)) {
            i += length;
            continue;
        }
        // Go on after its first byte.
        if (bad == TBadBytes::Replace)
            out += ReplacementCharacter;
        else
            out += static_cast<char>(c);
        ++i;
    }
    return out;
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    if (utf8.empty()) return std::string();
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
    BOOL guessed = FALSE;
    const int m = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0, nullptr, &guessed);
    if (m <= 0 || guessed) return std::nullopt;
    std::string out(m, '\0');
    WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), n, out.data(), m, nullptr, &guessed);
    if (guessed) return std::nullopt;
    return out;
}
