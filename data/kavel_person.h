#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/date_time.h"

struct TDatagramPerson;

// Return state of a person at a moment. The values are compared by number
// (overdue or less, later than today), so their order matters.
enum TReturnState : int {
    rsUnparsable = -1,
    rsPowerOff = 0,
    rsPresent = 1,
    rsOverdue = 2,
    rsToday = 3,
    rsTomorrow = 4,
    rsDayAfterTomorrow = 5,
    rsLater = 6,
};

// One person as read from a person file (.kvl) of the common directory.
// All texts are Shift-JIS bytes as they stand in the file.
class TKavelPerson {
public:
    std::string FilePath;  // common directory followed by the file name
    bool PowerOFF = true;  // a .off marker lay beside the file at load time
    std::string Furigana;  // reading, half-width katakana
    std::string Name;
    std::string Group;
    std::string Tel;
    std::string Huzairiyu;   // absence reason, lines each ended by CR LF
    std::string ModoriDate;  // return date text; empty = not away
    std::string ModoriTime;  // return time text; empty = end of the day
    std::string Memo;
    std::string IP;
    int32_t StatusIcon = 0;            // 0 built-in absent icon, n = n-th custom icon
    std::vector<std::string> Unknown;  // raw lines after the tenth value

    TKavelPerson() = default;
    // Reads the person file at path; raises EFOpenError when it cannot.
    explicit TKavelPerson(const std::string& path);
    // The same, giving up on a file held by others after lockWaitMs: for
    // the directory scan, which skips such a file.
    TKavelPerson(const std::string& path, int lockWaitMs);

    // Fills the record from the file at path. The record is left untouched
    // when the file cannot be read.
    void LoadPersonFile(const std::string& path);
    // Writes the record to FilePath; raises ERefusedValue for a record that
    // would not read back as itself (see data/store_gate.h), EInOutError.
    void SavePersonFile() const;
    // The bytes SavePersonFile writes.
    std::string PersonFileText() const;

    void Clear();
    void Assign(const TKavelPerson& source);

    // Person key: the file name of FilePath without directory and extension.
    std::string FileName() const;
    // The values the clients' datagrams carry (protocol/kavel_protocol.h).
    TDatagramPerson Datagram() const;

    TReturnState ReturnState(TDateTime now) const;
    // Day text ("本日", "明日", "明後日", m/d(ddd) or the raw date), a blank,
    // then ModoriTime.
    std::string ReturnText(TDateTime now) const;

    // The characters of Huzairiyu / Memo that begin within the first n bytes.
    std::string ReasonHead(int n) const;
    std::string MemoHead(int n) const;

private:
    void Parse(const std::string& path, std::string_view content);
    // The return moment, or false when ModoriDate does not convert.
    bool ReturnMoment(TDateTime& moment) const;
};

// The reason as it stands between its quotes in the file: without the CR LF
// that ends the last line, which the reader adds back. Written whole, that
// break would put the closing quote on a line of its own and the reason would
// grow by an empty line at every save.
std::string_view ReasonBetweenQuotes(std::string_view reason);

// True when text converts as a date with optional time (the first
// conversion ReturnState tries).
bool IsDateTimeText(const std::string& text);
