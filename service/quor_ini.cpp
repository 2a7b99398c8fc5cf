#include "service/quor_ini.h"

#include <stdexcept>

#include "platform/file_system.h"
#include "platform/sjis_text.h"

namespace {

constexpr std::string_view DirectoryKey = "QUOR_CommonDirectory";

// Whether some line names the key with blanks around it, which the rule
// above does not accept: said in the message rather than left to guess.
bool NamedWithBlanks(std::string_view content, std::string_view name) {
    bool found = false;
    ForEachLine(content,
                [&](std::string_view line) {
                    const size_t equals = line.find('=');
                    if (equals != std::string_view::npos && SameText(TrimControls(line.substr(0, equals)), name))
                        found = true;
                },
                {.ZeroEndsText = false});
    return found;
}

}  // namespace

std::optional<std::string> FindIniValue(std::string_view content, std::string_view name) {
    std::optional<std::string_view> value;
    ForEachLine(content,
                [&](std::string_view line) {
                    const size_t equals = line.find('=');
                    if (!value && equals != std::string_view::npos && SameText(line.substr(0, equals), name))
                        value = line.substr(equals + 1);
                },
                {.ZeroEndsText = false});
    if (!value) return std::nullopt;
    return std::string(*value);
}

std::string IniValueOf(std::string_view content, std::string_view name) {
    return FindIniValue(content, name).value_or("");
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

TQuorIni ReadQuorIni(const std::string& path) {
    if (!FileExists(path)) throw std::runtime_error("以下のパスに初期化ファイルがありません。\r\n" + path);
    const std::string content = ReadWholeFile(path);
    const std::optional<std::string> value = FindIniValue(content, DirectoryKey);
    const std::string key(DirectoryKey);
    if (!value) {
        std::string text = path + "に" + key + "=の行がありません。";
        if (NamedWithBlanks(content, DirectoryKey)) text += "「=」の前後に空白を置かないでください。";
        throw std::runtime_error(text);
    }
    const std::string directory = UnquoteIniValue(*value);
    if (directory.empty()) throw std::runtime_error(path + "の" + key + "が空です。");
    TQuorIni ini;
    ini.CommonDirectory = IncludeTrailingPathDelimiter(directory);
    ini.LogUtf8 = TrimControls(IniValueOf(content, "QUOR_LogUtf8")) == "1";
    ini.WallDetails = TrimControls(IniValueOf(content, "QUOR_WallDetails")) == "1";
    return ini;
}

std::string ReadQuorCommonDirectory(const std::string& path) { return ReadQuorIni(path).CommonDirectory; }
