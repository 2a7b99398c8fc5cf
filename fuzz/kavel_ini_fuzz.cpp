// kavel.ini belongs to the client installation and is edited by hand. The
// first input byte picks the mode:
//  - odd: the rest, cut at zero bytes, gives name/value pairs that are written
//    as one line of quoted items, which must split back into those pairs;
//  - otherwise the rest is a settings file. Every line is tested against every
//    leading word the server knows, and with the second bit set the file is
//    also read by an environment pointed at a directory holding it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/kavel_env.h"
#include "data/person_status.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_dir.h"
#include "images/graphic_error.h"
#include "platform/file_system.h"

namespace {

const char* const LeadingWords[] = {"QUOR_SiteName", "QUOR_Port",  "UDPMessage",
                                    "QUOR_Interval", "CustomIcon", "TimeTable"};
constexpr std::size_t WordCount = sizeof LeadingWords / sizeof LeadingWords[0];

using TItems = std::vector<TKavelEnv::TSettingItem>;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithIgnoringCase(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (AsciiLower(text[i]) != AsciiLower(word[i])) return false;
    return true;
}

std::vector<std::string> Lines(std::string_view content) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
        lines.push_back(std::move(line));
        line.clear();
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

void CheckLine(const std::string& line) {
    std::size_t first = 0;
    while (first < line.size() && static_cast<unsigned char>(line[first]) <= 32) ++first;
    const std::string_view trimmed = std::string_view(line).substr(first);
    for (const char* word : LeadingWords) {
        TItems items{{"stale", "stale"}};
        const bool matched = TKavelEnv::ParseSettingLine(word, line, items);
        FUZZ_CHECK(matched == StartsWithIgnoringCase(trimmed, word));
        if (!matched) {
            FUZZ_CHECK(items.empty());
            continue;
        }
        FUZZ_CHECK(items.size() <= line.size() + 1);
        for (const TKavelEnv::TSettingItem& item : items) {
            FUZZ_CHECK(item.Name.find('=') == std::string::npos);
            FUZZ_CHECK(item.Name.size() + 1 + item.Value.size() <= line.size());
        }
    }
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

// Writes the pairs as one line and checks that they come back in order.
void CheckRoundTrip(unsigned control, std::string_view rest) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start <= rest.size() && fields.size() < 16) {
        std::size_t zero = rest.find('\0', start);
        if (zero == std::string_view::npos) zero = rest.size();
        fields.emplace_back(rest.substr(start, zero - start));
        start = zero + 1;
    }
    static const char* const Separators[] = {",", " ", ", ", "\t,\t", " ,", "\x01"};
    const char* separator = Separators[(control >> 1) % 6];
    const std::string word = LeadingWords[(control >> 4) % WordCount];
    std::string line((control >> 7) ? " \t" : "");
    // The word in any case still matches.
    for (std::size_t i = 0; i < word.size(); ++i) line += (control & 0x08) && i % 2 ? AsciiLower(word[i]) : word[i];
    TItems expected;
    for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
        TKavelEnv::TSettingItem item{fields[i], fields[i + 1]};
        std::erase(item.Name, '=');
        // A value that begins with a quote is unquoted once more.
        while (!item.Value.empty() && item.Value.front() == '"') item.Value.erase(0, 1);
        line += separator;
        line += Quoted(item.Name + "=" + item.Value);
        expected.push_back(std::move(item));
    }
    TItems items;
    FUZZ_CHECK(TKavelEnv::ParseSettingLine(word, line, items));
    FUZZ_CHECK(items.size() == expected.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        FUZZ_CHECK(items[i].Name == expected[i].Name);
        FUZZ_CHECK(items[i].Value == expected[i].Value);
    }
    CheckLine(line);
}

// The whole start-up read. Icon file names are kept inside the directory,
// which holds no icons: a custom icon line makes the start fail, as a
// missing icon file does.
void CheckEnvironment(std::string_view content) {
    std::string settings(content);
    std::erase(settings, '/');
    const TScratchDir& dir = Scratch();
    dir.Write("kavel.ini", settings);
    TKavelEnv env;
    bool started = true;
    try {
        env.SetCommonDirectory(dir.Path(""));
    } catch (const EFileError&) {
        started = false;
    } catch (const EInvalidGraphic&) {
        started = false;
    }
    FUZZ_CHECK(started == env.CustomIcons().empty());
    for (const TCustomIcon& icon : env.CustomIcons())
        FUZZ_CHECK(!icon.Name.empty() && !icon.YellowIcon.empty() && !icon.RedIcon.empty());
    for (const std::string& entry : env.TimeTable()) FUZZ_CHECK(!entry.empty());
    FUZZ_CHECK(!env.SiteName().empty());
    if (started) {
        FUZZ_CHECK(env.Statuses().Count() == TPersonStatusCollection::BuiltInCount);
        FUZZ_CHECK(env.GetPersons() != nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned control = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if (control & 1) {
        CheckRoundTrip(control, rest);
    } else {
        for (const std::string& line : Lines(rest)) CheckLine(line);
        if (control & 2) CheckEnvironment(rest);
    }
    return 0;
}
