// quor.ini is written by hand beside the executable. The input is the file;
// the value lookup is compared with a plain reading of its rule, both for the
// key the server asks for and for the name the file's first line defines.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_dir.h"
#include "platform/file_system.h"
#include "service/quor_ini.h"

namespace {

const std::string Key = "QUOR_CommonDirectory";

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

// Line by line, byte by byte: the first line whose text before its first "="
// is the name gives the rest of that line.
std::string ExpectedValue(std::string_view content, std::string_view name) {
    std::string line;
    auto match = [&](std::string& value) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || !SameIgnoringCase(std::string_view(line).substr(0, equals), name))
            return false;
        value = line.substr(equals + 1);
        return true;
    };
    std::string value;
    for (std::size_t i = 0; i <= content.size(); ++i) {
        if (i < content.size() && content[i] != '\r' && content[i] != '\n') {
            line += content[i];
            continue;
        }
        if (match(value)) return value;
        line.clear();
        if (i < content.size() && content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
    }
    return std::string();
}

std::string ExpectedUnquoted(std::string_view value) {
    if (value.empty() || value[0] != '"') return std::string(value);
    std::string out;
    for (std::size_t i = 1; i < value.size(); ++i) {
        if (value[i] != '"') {
            out += value[i];
        } else if (i + 1 < value.size() && value[i + 1] == '"') {
            out += '"';
            ++i;
        } else {
            break;
        }
    }
    return out;
}

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

void CheckValue(std::string_view content, std::string_view name) {
    const std::string value = IniValueOf(content, name);
    FUZZ_CHECK(value == ExpectedValue(content, name));
    FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos);
    const std::string unquoted = UnquoteIniValue(value);
    FUZZ_CHECK(unquoted == ExpectedUnquoted(value));
    FUZZ_CHECK(unquoted.size() <= value.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    CheckValue(content, Key);
    const std::size_t equals = content.find('=');
    const std::string_view firstName = content.substr(0, equals == std::string_view::npos ? 0 : equals);
    CheckValue(content, firstName);

    // Any text quoted comes back as itself, whatever follows the closing
    // quote (but a quote, which would make it a doubled one).
    const std::size_t cut = content.size() / 2;
    const std::string_view tail = content.substr(cut);
    if (!tail.starts_with('"'))
        FUZZ_CHECK(UnquoteIniValue(Quoted(content.substr(0, cut)) + std::string(tail)) == content.substr(0, cut));

    const TScratchDir& dir = Scratch();
    dir.Write("quor.ini", content);
    const std::string directory = UnquoteIniValue(IniValueOf(content, Key));
    try {
        FUZZ_CHECK(ReadQuorCommonDirectory(dir.Path("quor.ini")) == IncludeTrailingPathDelimiter(directory));
        FUZZ_CHECK(!directory.empty());
    } catch (const std::runtime_error&) {
        FUZZ_CHECK(directory.empty());
    }
    dir.Remove("quor.ini");
    bool raised = false;
    try {
        (void)ReadQuorCommonDirectory(dir.Path("quor.ini"));
    } catch (const std::runtime_error&) {
        raised = true;
    }
    FUZZ_CHECK(raised);
    return 0;
}
