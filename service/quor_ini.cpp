#include "service/quor_ini.h"

#include <optional>
#include <stdexcept>

#include "platform/file_system.h"
#include "platform/sjis_text.h"

std::string IniValueOf(std::string_view content, std::string_view name) {
    std::optional<std::string_view> value;
    ForEachLine(content,
                [&](std::string_view line) {
                    const size_t equals = line.find('=');
                    if (!value && equals != std::string_view::npos && SameText(line.substr(0, equals), name))
                        value = line.substr(equals + 1);
                },
                {.ZeroEndsText = false});
    return std::string(value.value_or(""));
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
