#include "http/http_url.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool IsSchemeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
           c == '.';
}

// Length of "scheme://" at the start of target, or 0 when it is not absolute.
std::size_t SchemeLength(std::string_view target) {
    std::size_t sep = target.find("://");
    if (sep == std::string_view::npos || sep == 0) return 0;
    char first = target[0];
    if (!((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z'))) return 0;
    for (std::size_t i = 0; i < sep; ++i)
        if (!IsSchemeChar(target[i])) return 0;
    return sep + 3;
}

}  // namespace

std::string UrlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char c = text[i];
        if (c == '%') {
            int hi = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
            int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
            if (hi >= 0 && lo >= 0 && (hi | lo) != 0) out.push_back(static_cast<char>(hi * 16 + lo));
            i += 3;
            continue;
        }
        out.push_back(c == '+' ? ' ' : c);
        ++i;
    }
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        int v = Base64Value(c);
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

TRequestTarget ParseRequestTarget(std::string_view target) {
    TRequestTarget result;
    if (target == "*") {
        result.DocumentPath = "*";
        return result;
    }
    if (std::size_t scheme = SchemeLength(target)) {
        std::string_view rest = target.substr(scheme);
        std::size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
        std::size_t colon = authority.find(':');
        if (authority.starts_with('[')) colon = authority.find(':', authority.find(']'));
        result.Host = std::string(authority.substr(0, colon));
        target = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
    }
    // Everything from an "=" onward is kept as sent.
    std::size_t equals = target.find('=');
    std::string_view decoded = target.substr(0, equals);
    std::size_t lastSlash = decoded.rfind('/');
    std::size_t split = lastSlash == std::string_view::npos ? 0 : lastSlash + 1;
    result.DocumentPath = UrlDecode(decoded.substr(0, split)) + UrlDecode(decoded.substr(split));
    if (equals != std::string_view::npos) result.DocumentPath.append(target.substr(equals));
    return result;
}
