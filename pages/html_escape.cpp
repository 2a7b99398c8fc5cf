#include "pages/html_escape.h"

#include "platform/sjis_text.h"

void AppendHtmlEscaped(std::string& out, std::string_view text) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
            case '&':
                entity = "&amp;";
                break;
            case '<':
                entity = "&lt;";
                break;
            case '>':
                entity = "&gt;";
                break;
            case '"':
                entity = "&quot;";
                break;
            default:
                continue;
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

void AppendHtmlEscapedTooltip(std::string& out, std::string_view text) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool lineBreak = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        if (!lineBreak) continue;
        AppendHtmlEscaped(out, text.substr(start, i - start));
        out += "&#13&#10";
        start = ++i + 1;
    }
    AppendHtmlEscaped(out, text.substr(start));
}

std::string HtmlEscapeTooltip(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendHtmlEscapedTooltip(out, text);
    return out;
}

std::string UrlEncodeKey(std::string_view key) {
    // None of these bytes is ever the second byte of a two-byte character.
    return PercentEncode(key, [](unsigned char c) { return c == '%' || c == '&' || c == '#' || c == '+' || c == ' '; });
}
