#include "data/kavel_person.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "data/store_gate.h"
#include "data/text_file.h"
#include "platform/file_system.h"
#include "platform/locale.h"
#include "protocol/kavel_protocol.h"

namespace {

const char* const CRLF = "\r\n";

// Calls line(text) for each line: breaks are CR LF, LF or CR; text after a
// zero byte is not read and a break at the very end adds no empty line.
template <typename F>
void ForEachLine(std::string_view content, F line) {
    const size_t zero = content.find('\0');
    if (zero != std::string_view::npos) content = content.substr(0, zero);
    const char* const data = content.data();
    const size_t end = content.size();
    // Next CR and next LF at or after start, each found once and reused.
    auto next = [&](char c, size_t from) {
        const void* hit = from < end ? std::memchr(data + from, c, end - from) : nullptr;
        return hit ? static_cast<size_t>(static_cast<const char*>(hit) - data) : end;
    };
    size_t start = 0, cr = next('\r', 0), lf = next('\n', 0);
    while (start < end) {
        if (cr < start) cr = next('\r', start);
        if (lf < start) lf = next('\n', start);
        size_t pos = cr < lf ? cr : lf;
        line(std::string_view(data + start, pos - start));
        if (pos < end) pos += (pos == cr && pos + 1 == lf) ? 2 : 1;
        start = pos;
    }
}

// Decimal integer with optional blanks before and a sign; 0 for anything
// else, including values outside 32 bits.
int32_t IntOrZero(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return 0;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return 0;
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL) return 0;
    }
    if (negative) v = -v;
    if (v > 2147483647LL || v < -2147483648LL) return 0;
    return static_cast<int32_t>(v);
}

// The reader strips one quote from each end of a value and undoubles
// nothing, so a value goes between its quotes as it is.
std::string Quoted(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    out += '"';
    out += value;
    out += '"';
    return out;
}

}  // namespace

TKavelPerson::TKavelPerson(const std::string& path) {
    thread_local std::string content;
    ReadWholeFile(path, content);
    Parse(path, content);
}

TKavelPerson::TKavelPerson(const std::string& path, int lockWaitMs) {
    thread_local std::string content;
    ReadWholeFile(path, content, lockWaitMs);
    Parse(path, content);
}

void TKavelPerson::LoadPersonFile(const std::string& path) {
    thread_local std::string content;
    ReadWholeFile(path, content);
    Clear();
    Parse(path, content);
}

void TKavelPerson::Parse(const std::string& path, std::string_view content) {
    std::string* const textValues[] = {&Furigana, &Name, &Group, &Memo, nullptr,
                                       &ModoriDate, &ModoriTime, &Tel, &IP};
    int v = 1;
    bool inQuotes = false;
    ForEachLine(content, [&](std::string_view raw) {
        std::string_view value = raw;
        if (!inQuotes && !value.empty() && value.front() == '"') {
            value.remove_prefix(1);
            inQuotes = true;
        }
        if (inQuotes && !value.empty() && value.back() == '"') {
            value.remove_suffix(1);
            inQuotes = false;
        }
        if (v <= 9 && v != 5) {
            textValues[v - 1]->append(value);
        } else if (v == 5) {
            Huzairiyu.append(value);
            Huzairiyu += CRLF;
        } else if (v == 10) {
            StatusIcon = IntOrZero(value);
        } else {
            Unknown.emplace_back(raw);
        }
        if (!inQuotes) ++v;
    });
    FilePath = path;
    thread_local std::string marker;
    marker.assign(WithoutFileExt(path));
    marker += ".off";
    PowerOFF = FileExists(marker);
}

std::string TKavelPerson::PersonFileText() const {
    std::string text;
    for (const std::string* value : {&Furigana, &Name, &Group, &Memo}) {
        text += Quoted(*value);
        text += CRLF;
    }
    text += Quoted(ReasonBetweenQuotes(Huzairiyu));
    text += CRLF;
    for (const std::string* value : {&ModoriDate, &ModoriTime, &Tel, &IP}) {
        text += Quoted(*value);
        text += CRLF;
    }
    text += Quoted(std::to_string(StatusIcon));
    text += CRLF;
    for (const std::string& line : Unknown) {
        text += line;
        text += CRLF;
    }
    return text;
}

void TKavelPerson::SavePersonFile() const {
    CheckStorable(*this);
    WriteTextFile(FilePath, PersonFileText());
}

void TKavelPerson::Clear() { *this = TKavelPerson(); }

void TKavelPerson::Assign(const TKavelPerson& source) {
    if (this != &source) *this = source;
}

std::string TKavelPerson::FileName() const { return ExtractFileBaseName(FilePath); }

TDatagramPerson TKavelPerson::Datagram() const {
    return {FilePath, IP, ModoriDate, ModoriTime, Huzairiyu, StatusIcon};
}

bool TKavelPerson::ReturnMoment(TDateTime& moment) const {
    const std::string& time = ModoriTime.empty() ? std::string("23:59:59") : ModoriTime;
    if (TryStrToDateTime(ModoriDate + " " + time, moment)) return true;
    return TryStrToDate(ModoriDate, moment);
}

TReturnState TKavelPerson::ReturnState(TDateTime now) const {
    if (ModoriDate.empty()) return PowerOFF ? rsPowerOff : rsPresent;
    TDateTime d;
    if (!ReturnMoment(d)) return rsUnparsable;
    if (d < now) return rsOverdue;
    const double today = std::trunc(now);
    if (today <= d && d < today + 1) return rsToday;
    if (today + 1 <= d && d < today + 2) return rsTomorrow;
    if (today + 2 <= d && d < today + 3) return rsDayAfterTomorrow;
    return rsLater;
}

std::string TKavelPerson::ReturnText(TDateTime now) const {
    std::string day;
    switch (ReturnState(now)) {
    case rsPowerOff:
    case rsPresent: break;
    case rsToday: day = "本日"; break;
    case rsTomorrow: day = "明日"; break;
    case rsDayAfterTomorrow: day = "明後日"; break;
    case rsOverdue:
    case rsLater: {
        TDateTime d;
        ReturnMoment(d);
        day = FormatDateTime("m\"/\"d\"(\"ddd\")\"", d);
        break;
    }
    case rsUnparsable: day = ModoriDate; break;
    }
    return day + " " + ModoriTime;
}

std::string TKavelPerson::ReasonHead(int n) const { return HeadOfText(Huzairiyu, n); }

std::string TKavelPerson::MemoHead(int n) const { return HeadOfText(Memo, n); }

std::string_view ReasonBetweenQuotes(std::string_view reason) {
    if (reason.ends_with(CRLF)) reason.remove_suffix(2);
    return reason;
}

bool IsDateTimeText(const std::string& text) {
    TDateTime d;
    return TryStrToDateTime(text, d);
}
