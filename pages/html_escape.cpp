#include "pages/html_escape.h"

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string HtmlEscapeBlock(std::string_view text) {
    if (text.empty() || (text[0] != '\r' && text[0] != '\n')) return HtmlEscape(text);
    return "\r\n" + HtmlEscape(text);
}

std::string HtmlEscapeTooltip(std::string_view text) {
    std::string escaped = HtmlEscape(text);
    std::string out;
    out.reserve(escaped.size());
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == '\r' && i + 1 < escaped.size() && escaped[i + 1] == '\n') {
            out += "&#13&#10";
            ++i;
        } else {
            out += escaped[i];
        }
    }
    return out;
}

std::string UrlEncodeKey(std::string_view key) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(key.size());
    for (char c : key) {
        if (c == '%' || c == '&' || c == '#' || c == '+' || c == ' ') {
            const unsigned char b = static_cast<unsigned char>(c);
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}
