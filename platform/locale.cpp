#include "platform/locale.h"

namespace {

const char* const ShortDayNames[7] = {"日", "月", "火", "水", "木", "金", "土"};
const char* const LongDayNames[7] = {"日曜日", "月曜日", "火曜日", "水曜日",
                                     "木曜日", "金曜日", "土曜日"};

template <typename Fold>
std::string MapCase(const std::string& s, Fold fold) {
    std::string out = s;
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsLeadByte(c)) {
            ++i;
            continue;
        }
        out[i] = static_cast<char>(fold(c));
    }
    return out;
}

}  // namespace

std::string ShortDayName(int dayOfWeek) {
    if (dayOfWeek < 1 || dayOfWeek > 7) return {};
    return ShortDayNames[dayOfWeek - 1];
}

std::string LongDayName(int dayOfWeek) {
    if (dayOfWeek < 1 || dayOfWeek > 7) return {};
    return LongDayNames[dayOfWeek - 1];
}

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
            if (xLetter) x = static_cast<unsigned char>(x - 32);
            if (yLetter) y = static_cast<unsigned char>(y - 32);
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

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

std::string UpperCase(const std::string& s) {
    return MapCase(s, [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; });
}

std::string LowerCase(const std::string& s) {
    return MapCase(s, [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; });
}

std::string HeadOfText(const std::string& s, int n) {
    if (n < 0) n = 0;
    if (s.size() <= static_cast<size_t>(n)) return s;
    size_t pos = 0;
    while (pos < static_cast<size_t>(n)) {
        pos += IsLeadByte(static_cast<unsigned char>(s[pos])) ? 2 : 1;
    }
    return s.substr(0, pos < s.size() ? pos : s.size());
}
