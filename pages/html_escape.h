#pragma once

#include <string>
#include <string_view>

// & < > " as entities. Works on Shift-JIS bytes: none of the four occurs
// inside a double-byte character.
std::string HtmlEscape(std::string_view text);
// The same appended to out, for pages written in one pass.
void AppendHtmlEscaped(std::string& out, std::string_view text);

// HtmlEscape for the content of <pre> or <textarea>: the parser drops one
// line break right after either start tag, so a text that starts with one
// gets an extra break in front and shows (and submits) as it is.
std::string HtmlEscapeBlock(std::string_view text);

// HtmlEscape, then CR LF as "&#13&#10" (the board's tooltips).
std::string HtmlEscapeTooltip(std::string_view text);
void AppendHtmlEscapedTooltip(std::string& out, std::string_view text);

// A person key made safe inside a URL: only the bytes that would change the
// URL's meaning (% & # + and blank) become %XX; everything else stays.
std::string UrlEncodeKey(std::string_view key);
