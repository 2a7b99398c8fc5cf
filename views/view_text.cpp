#include "views/view_text.h"

#include "pages/html_escape.h"
#include "platform/sjis_text.h"

namespace {

constexpr std::string_view Replacement = "\xEF\xBF\xBD";

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
        const size_t n = Utf8SequenceLength(utf8, i);
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

std::string KeyOfPathPiece(std::string_view piece) { return Utf8ToCp932(PercentDecode(piece)).value_or(std::string()); }
