#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/date_time.h"

// Event identifiers; they double as the severity.
constexpr uint32_t EventInformation = 0x40000000;
constexpr uint32_t EventWarning = 0x80000002;
constexpr uint32_t EventError = 0xC0000001;

// The 7-byte word a log-file line carries for kind; unknown kinds count as
// information.
std::string_view LevelWord(uint32_t kind);

// One whole line of QUOR.LOG: "yyyy/mm/dd hh:nn:ss ", the level word, the
// text unchanged, CR LF.
std::string LogLine(TDateTime now, uint32_t kind, std::string_view text);

// Text from a request made safe for one log line: every byte below 0x20 and
// 0x7F becomes %XX (upper-case hex), so CR and LF cannot start a forged line.
// Shift-JIS characters pass whole: no trail byte is a control byte.
std::string EscapeLogText(std::string_view text);

// A log file we create: we write it, the account's group (the admins, when
// the home is shared with them) reads it, nobody else. The unit's UMask=0002
// is for the clients' files, not the log, which holds every address and path.
constexpr unsigned NewLogFileMode = 0640;

// QUOR.LOG: opened for appending, kept for the life of the object, held
// against other writers by an exclusive advisory lock. Each line goes to the
// end of the file whole, under one lock, before Write returns.
class TLogFile {
public:
    TLogFile() = default;
    ~TLogFile();
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    // Opens path, creating it empty when it does not exist (on POSIX with
    // NewLogFileMode whatever the umask; a file already there keeps its
    // mode). False when the file cannot be opened or created, or another
    // writer holds it; the object then stays closed.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return Fd_.load() >= 0; }
    // Opens the path again, for a file moved away by a log rotation: later
    // lines go to the file now at the path, created when there is none.
    // False, the old file kept, when it cannot be had. Nothing while closed.
    bool Reopen();

    // Appends bytes; false when the system refuses or writes less. Does
    // nothing (and returns true) while closed.
    bool Write(std::string_view bytes);

private:
    std::atomic<int> Fd_{-1};
    std::string Path_;
    std::mutex Lock_;
};
