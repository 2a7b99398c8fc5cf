#include "service/quor_ini.h"

#include <stdexcept>

#include "platform/file_system.h"

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

}  // namespace

std::string IniValueOf(std::string_view content, std::string_view name) {
    size_t start = 0;
    while (start < content.size()) {
        const size_t end = content.find_first_of("\r\n", start);
        const std::string_view line =
            content.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        const size_t equals = line.find('=');
        if (equals != std::string_view::npos && SameAscii(line.substr(0, equals), name))
            return std::string(line.substr(equals + 1));
        if (end == std::string_view::npos) break;
        start = end + 1;
        if (content[end] == '\r' && start < content.size() && content[start] == '\n') ++start;
    }
    return std::string();
}

std::string UnquoteIniValue(std::string_view value) {
    if (value.empty() || value.front() != '"') return std::string(value);
    std::string result;
    for (size_t i = 1; i < value.size(); ++i) {
        if (value[i] == '"') {
            if (i + 1 < value.size() && value[i + 1] == '"') {
                result += '"';
                ++i;
                continue;
            }
            break;
        }
        result += value[i];
    }
    return result;
}

std::string ReadQuorCommonDirectory(const std::string& path) {
    if (!FileExists(path)) throw std::runtime_error("以下のパスに初期化ファイルがありません。\r\n" + path);
    return UnquoteIniValue(IniValueOf(ReadWholeFile(path), "QUOR_CommonDirectory"));
}
