#include "data/kavel_person.h"

#include <cmath>
#include <string_view>

#include "data/store_gate.h"
#include "data/text_file.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "protocol/kavel_protocol.h"

namespace {

const char* const CRLF = "\r\n";

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
    std::string* const textValues[] = {&Furigana, &Name, &Group, &Memo, nullptr, &ModoriDate, &ModoriTime, &Tel, &IP};
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
            StatusIcon = ParseInt32(value, {.LeadingBlanks = true}).value_or(0);
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

TDatagramPerson TKavelPerson::Datagram() const { return {FilePath, IP, ModoriDate, ModoriTime, Huzairiyu, StatusIcon}; }

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
        case rsPresent:
            break;
        case rsToday:
            day = "本日";
            break;
        case rsTomorrow:
            day = "明日";
            break;
        case rsDayAfterTomorrow:
            day = "明後日";
            break;
        case rsOverdue:
        case rsLater: {
            TDateTime d;
            ReturnMoment(d);
            day = FormatDateTime("m\"/\"d\"(\"ddd\")\"", d);
            break;
        }
        case rsUnparsable:
            day = ModoriDate;
            break;
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
