#include "platform/sjis_text.h"

namespace {

unsigned char Upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }
unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

template <typename Fold>
std::string MapCase(std::string_view text, TTrailBytes trail, Fold fold) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (trail == TTrailBytes::Keep && IsLeadByte(c)) {
            ++i;
            continue;
        }
        out[i] = static_cast<char>(fold(c));
    }
    return out;
}

// Whether text[at..] folds like prefix, both starting on a character.
bool FoldsLike(std::string_view text, size_t at, std::string_view part) {
    if (text.size() - at < part.size()) return false;
    return SameText(text.substr(at, part.size()), part);
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    size_t i = 0;
    // Character boundaries are worked out lazily, only when a difference
    // involves an ASCII letter: trail tells whether the byte at known is the
    // second byte of a two-byte character. Up to a difference both texts
    // hold the same bytes, so they agree on it.
    size_t known = 0;
    bool trail = false;
    for (;;) {
        while (i < n && a[i] == b[i]) ++i;
        if (i == n) break;
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        const bool xLetter = x >= 'a' && x <= 'z', yLetter = y >= 'a' && y <= 'z';
        if (!xLetter && !yLetter) return x < y ? -1 : 1;
        for (; known < i; ++known) trail = !trail && IsLeadByte(static_cast<unsigned char>(a[known]));
        if (!trail) {
            x = Upper(x);
            y = Upper(y);
        }
        if (x != y) return x < y ? -1 : 1;
        // The same letter in another case; a letter stands alone, so the next
        // byte starts a character.
        known = ++i;
        trail = false;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareText(a, b) == 0; }

bool StartsWithText(std::string_view text, std::string_view prefix) { return FoldsLike(text, 0, prefix); }

bool EndsWithText(std::string_view text, std::string_view suffix) {
    // Where the suffix would start must be a character's start in text.
    if (text.size() < suffix.size()) return false;
    const size_t at = text.size() - suffix.size();
    size_t i = 0;
    while (i < at) i += IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    return i == at && FoldsLike(text, at, suffix);
}

std::string UpperCase(std::string_view text, TTrailBytes trail) { return MapCase(text, trail, Upper); }

std::string LowerCase(std::string_view text, TTrailBytes trail) { return MapCase(text, trail, Lower); }

std::string HeadOfText(std::string_view text, int n) {
    if (n < 0) n = 0;
    if (text.size() <= static_cast<size_t>(n)) return std::string(text);
    size_t pos = 0;
    while (pos < static_cast<size_t>(n)) pos += IsLeadByte(static_cast<unsigned char>(text[pos])) ? 2 : 1;
    return std::string(text.substr(0, pos));
}

std::string_view TrimControls(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    return text;
}

std::optional<int32_t> ParseInt32(std::string_view text, TIntRules rules) {
    size_t i = 0;
    if (rules.LeadingBlanks)
        while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) return std::nullopt;
    return static_cast<int32_t>(value);
}

std::vector<std::string> SplitLines(std::string_view text, TLineRules rules) {
    std::vector<std::string> lines;
    ForEachLine(
        text, [&](std::string_view line) { lines.emplace_back(line); }, rules);
    return lines;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendPercentEncoded(std::string& out, std::string_view text, bool (*escape)(unsigned char)) {
    static const char Hex[] = "0123456789ABCDEF";
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (!escape(b)) {
            out += c;
            continue;
        }
        out += '%';
        out += Hex[b >> 4];
        out += Hex[b & 15];
    }
}

std::string PercentEncode(std::string_view text, bool (*escape)(unsigned char)) {
    std::string out;
    out.reserve(text.size());
    AppendPercentEncoded(out, text, escape);
    return out;
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

size_t Utf8SequenceLength(std::string_view text, size_t at) {
    const auto c = static_cast<unsigned char>(text[at]);
    const size_t n = c < 0x80                  ? 1
                     : (c >= 0xC2 && c < 0xE0) ? 2
                     : (c >= 0xE0 && c < 0xF0) ? 3
                     : (c >= 0xF0 && c < 0xF5) ? 4
                                               : 0;
    if (n == 0 || at + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
    if (n < 3) return n;
    // Overlong three- and four-byte forms, surrogates and what lies above U+10FFFF.
    const auto d = static_cast<unsigned char>(text[at + 1]);
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90))
        return 0;
    return n;
}
