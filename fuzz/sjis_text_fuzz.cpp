// Every name lookup, cache key, settings line and edge conversion goes
// through the Shift-JIS text module, with bytes from browsers and from the
// clients' files. The input is two texts split at its first 0xFF byte
// (which no CP932 character holds).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/sjis_text.h"

namespace {

bool Utf8Valid(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\xFF');
    const std::string_view a = input.substr(0, split);
    const std::string_view b = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    // An order: antisymmetric, equal exactly when folded alike.
    const int ab = CompareText(a, b), ba = CompareText(b, a);
    FUZZ_CHECK((ab < 0) == (ba > 0) && (ab == 0) == (ba == 0));
    FUZZ_CHECK(SameText(a, b) == (ab == 0));
    FUZZ_CHECK(SameText(UpperCase(a), LowerCase(a)) && SameText(a, UpperCase(a)));
    FUZZ_CHECK(CompareText(a, a) == 0);
    // Folding keeps the length and never touches a trail byte.
    const std::string upper = UpperCase(a);
    FUZZ_CHECK(upper.size() == a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        if (IsLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
            FUZZ_CHECK(upper[i + 1] == a[i + 1]);
            ++i;
        }
    }
    FUZZ_CHECK(UpperCase(a, TTrailBytes::Fold).size() == a.size());
    if (EndsWithText(a, b)) FUZZ_CHECK(SameText(a.substr(a.size() - b.size()), b));
    if (StartsWithText(a, b)) FUZZ_CHECK(SameText(a.substr(0, b.size()), b));

    // A head is a prefix of at most n + 1 bytes.
    const int n = static_cast<int>(b.size() % 24);
    const std::string head = HeadOfText(a, n);
    FUZZ_CHECK(a.substr(0, head.size()) == head && head.size() <= static_cast<size_t>(n) + 1);

    // Lines joined with CR LF give the text back when it had only CR LF breaks.
    std::string joined;
    size_t lines = 0;
    ForEachLine(a,
                [&](std::string_view line) {
                    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
                    if (lines++) joined += "\r\n";
                    joined += line;
                },
                {.ZeroEndsText = false, .FinalEmptyLine = true});
    if (a.find('\r') == std::string_view::npos && a.find('\n') == std::string_view::npos) FUZZ_CHECK(joined == a);
    FUZZ_CHECK(lines >= 1);

    // Integers: only a sign and digits parse, and the value prints back.
    if (const auto v = ParseInt32(a)) {
        const std::string_view digits = a.substr(a.starts_with('+') || a.starts_with('-') ? 1 : 0);
        FUZZ_CHECK(!digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos);
        FUZZ_CHECK(ParseInt32(std::to_string(*v)) == v);
    }

    // Percent-encoding escapes what it is told to and nothing else.
    const std::string encoded = PercentEncode(a, [](unsigned char c) { return c == '%' || c < 0x20; });
    for (size_t i = 0; i < encoded.size(); ++i) {
        FUZZ_CHECK(static_cast<unsigned char>(encoded[i]) >= 0x20);
        if (encoded[i] == '%') {
            FUZZ_CHECK(i + 2 < encoded.size() && HexDigitValue(encoded[i + 1]) >= 0 &&
                       HexDigitValue(encoded[i + 2]) >= 0);
            i += 2;
        }
    }

    // UTF-8 out is valid with replacements, and CP932 that converts comes
    // back byte for byte.
    const std::string utf8 = Cp932ToUtf8(a, TBadBytes::Replace);
    FUZZ_CHECK(Utf8Valid(utf8));
    if (utf8.find("\xEF\xBF\xBD") == std::string::npos) {
        const auto back = Utf8ToCp932(utf8);
        FUZZ_CHECK(back.has_value());
    }
    if (const auto cp932 = Utf8ToCp932(b)) FUZZ_CHECK(Utf8Valid(b));
    return 0;
}
