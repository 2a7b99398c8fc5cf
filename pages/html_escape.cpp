#include "pages/html_escape.h"

void AppendHtmlEscaped(std::string& out, std::string_view text) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            default: continue;
        }
        out.append(text.data() + start, i - start);
        out += entity;
        start = i + 1;
    }
    out.append(text.data() + start, text.size() - start);
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendHtmlEscaped(out, text);
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
