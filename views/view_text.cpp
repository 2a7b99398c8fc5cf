#include "views/view_text.h"

#include "pages/html_escape.h"
#include "platform/sjis_text.h"

namespace {

constexpr std::string_view Replacement = "\xEF\xBF\xBD";

// The length of the UTF-8 sequence at text[i], or 0 when none starts there.
size_t Utf8Length(std::string_view text, size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80                  ? 1
                     : (c >= 0xC2 && c < 0xE0) ? 2
                     : (c >= 0xE0 && c < 0xF0) ? 3
                     : (c >= 0xF0 && c < 0xF5) ? 4
                                               : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    // Overlong three- and four-byte forms and surrogates are no characters.
    const auto d = static_cast<unsigned char>(text[i + 1 < text.size() ? i + 1 : i]);
    if (c == 0xE0 && d < 0xA0) return 0;
    if (c == 0xED && d >= 0xA0) return 0;
    if (c == 0xF0 && d < 0x90) return 0;
    if (c == 0xF4 && d >= 0x90) return 0;
    return n;
}

bool Unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

}  // namespace

void TViewText::Escaped(std::string_view cp932) { AppendHtmlEscaped(Pending_, cp932); }

void TViewText::EscapedUtf8(std::string_view utf8) {
    Flush();
    std::string valid;
    for (size_t i = 0; i < utf8.size();) {
        const size_t n = Utf8Length(utf8, i);
        if (n == 0) {
            valid += Replacement;
            ++i;
        } else {
            valid.append(utf8.substr(i, n));
            i += n;
        }
    }
    AppendHtmlEscaped(Out_, valid);
}

void TViewText::Flush() {
    if (Pending_.empty()) return;
    Out_ += Cp932ToUtf8(Pending_, TBadBytes::Replace);
    Pending_.clear();
}

std::string TViewText::Finish() {
    Flush();
    return std::move(Out_);
}

std::string KeyPathPiece(std::string_view cp932Key) {
    bool ascii = true;
    for (const char c : cp932Key) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    // Most keys are ASCII names: no conversion (a board of 10,000 asks for 10,000).
    if (ascii) return PercentEncode(cp932Key, [](unsigned char c) { return !Unreserved(c); });
    const std::string utf8 = Cp932ToUtf8(cp932Key, TBadBytes::Replace);
    if (utf8.find(Replacement) != std::string::npos) return std::string();
    return PercentEncode(utf8, [](unsigned char c) { return !Unreserved(c); });
}

std::string KeyOfPathPiece(std::string_view piece) {
    std::string utf8;
    for (size_t i = 0; i < piece.size(); ++i) {
        if (piece[i] == '%' && i + 2 < piece.size() && HexDigitValue(piece[i + 1]) >= 0 &&
            HexDigitValue(piece[i + 2]) >= 0) {
            utf8 += static_cast<char>(HexDigitValue(piece[i + 1]) * 16 + HexDigitValue(piece[i + 2]));
            i += 2;
        } else {
            utf8 += piece[i];
        }
    }
    return Utf8ToCp932(utf8).value_or(std::string());
}
