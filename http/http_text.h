#pragma once

#include <string>
#include <string_view>

// Blanks as HTTP counts them. Names are compared with SameText
// (platform/sjis_text.h): they may hold Shift-JIS.
namespace http_text {

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace http_text
