#include "data/store_gate.h"

#include <cstdio>
#include <vector>

#include "data/kavel_person.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"

namespace {

constexpr std::string_view CRLF = "\r\n";
constexpr std::string_view EntryMark = "○";   // 0x81 0x9B
constexpr std::string_view WideBlank = "　";  // 0x81 0x40

[[noreturn]] void RefuseControl(std::string_view label, unsigned char c) {
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", c);
    throw ERefusedValue(std::string(label), std::string(label) + "に制御文字 (" + code + ") は使えません。");
}

[[noreturn]] void RefuseLineBreak(std::string_view label) {
    throw ERefusedValue(std::string(label), std::string(label) + "に改行は使えません。");
}

// Calls line(text, last) for each line of text, whose breaks are CR LF; a
// break at the end starts one more, empty line.
template <typename F>
void ForEachCrLfLine(std::string_view text, F line) {
    const std::vector<std::string> lines = SplitLines(text, {.ZeroEndsText = false, .FinalEmptyLine = true});
    for (size_t i = 0; i < lines.size(); ++i) line(std::string_view(lines[i]), i + 1 == lines.size());
}

bool HasLoneBreak(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return true;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return true;
    }
    return false;
}

void CheckOneLine(std::string_view label, std::string_view value) {
    for (char c : value) {
        if (c == '\r' || c == '\n') RefuseLineBreak(label);
        if (c == '\0') RefuseControl(label, 0);
    }
}

}  // namespace

std::string AdmitText(std::string_view label, std::string_view value, TValueShape shape) {
    // Control bytes are never the second byte of a two-byte character, so a
    // byte-wise look is exact for Shift-JIS.
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c == '\r' || c == '\n') {
            if (shape == TValueShape::OneLine) RefuseLineBreak(label);
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
            out += CRLF;
        } else if (c == '\t') {
            out += ' ';
        } else if (c < 0x20) {
            RefuseControl(label, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string AdmitReason(std::string_view value) {
    const std::string text = AdmitText("不在理由", value, TValueShape::Lines);
    // The lines as the file will hold them between the quotes.
    const std::string_view written = ReasonBetweenQuotes(text);
    std::string out;
    out.reserve(text.size() + 8);
    ForEachCrLfLine(written, [&](std::string_view line, bool last) {
        out += line;
        if (!last && line.ends_with('"')) out += ' ';
        if (!last) out += CRLF;
    });
    out += std::string_view(text).substr(written.size());
    return out;
}

std::string AdmitMessageBody(std::string_view value) {
    const std::string text = AdmitText("伝言の内容", value, TValueShape::Lines);
    std::string out;
    out.reserve(text.size() + 8);
    ForEachCrLfLine(text, [&](std::string_view line, bool last) {
        if (line.starts_with(EntryMark)) out += WideBlank;
        out += line;
        if (!last) out += CRLF;
    });
    return out;
}

void CheckStorable(const TKavelPerson& person) {
    const struct {
        const char* label;
        const std::string* value;
    } oneLine[] = {{"ふりがな", &person.Furigana}, {"名前", &person.Name},           {"グループ", &person.Group},
                   {"内線・備考", &person.Memo},   {"戻り日付", &person.ModoriDate}, {"戻り時刻", &person.ModoriTime},
                   {"連絡先", &person.Tel},        {"IP Address", &person.IP}};
    for (const auto& field : oneLine) CheckOneLine(field.label, *field.value);
    for (const std::string& line : person.Unknown) CheckOneLine("人物ファイルの行", line);

    const std::string_view written = ReasonBetweenQuotes(person.Huzairiyu);
    if (written.find('\0') != std::string_view::npos) RefuseControl("不在理由", 0);
    if (HasLoneBreak(written)) RefuseLineBreak("不在理由の一行");
    ForEachCrLfLine(written, [](std::string_view line, bool last) {
        if (!last && line.ends_with('"'))
            throw ERefusedValue("不在理由", "不在理由の途中の行を \" で終えることはできません。");
    });

    CheckDatagramValue("人物ファイルのパス", WithoutFileExt(person.FilePath));
    CheckDatagramValue("戻り日付", person.ModoriDate);
    CheckDatagramValue("戻り時刻", person.ModoriTime);
    CheckDatagramValue("不在理由", person.Huzairiyu);
}

std::string ReasonAsRead(std::string_view reason) {
    std::string out(ReasonBetweenQuotes(reason));
    out += CRLF;
    return out;
}
