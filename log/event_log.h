#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "log/log_file.h"
#include "platform/clock.h"
#include "platform/event_sink.h"

// Text the logger reports when QUOR.LOG cannot be opened or created.
inline constexpr const char* LogFileOpenFailedText =
    "ログファイルを作成することができませんでした。ログは出力されません。";
// Text the logger writes to standard output when a log write fails.
inline constexpr const char* EventLogWriteFailedText = "イベントログへの書込みに失敗しました。";

TEventType EventTypeOf(uint32_t kind);

// The event log plus QUOR.LOG. Safe to use from any number of threads.
// Failures are never passed to the caller: a log file that cannot be opened
// is reported once through the event log and then skipped; a failing write
// puts EventLogWriteFailedText on the console.
class TLogger {
public:
    // Gets Shift-JIS text for the console (standard output in UTF-8 unless
    // replaced).
    using TConsoleWriter = std::function<void(const std::string& text)>;

    // Opens homeDirectory + "QUOR.LOG" for appending; an empty homeDirectory
    // means no file can be had.
    TLogger(const std::string& homeDirectory, const TClock& clock, TEventSink& sink, TConsoleWriter console = {});
    TLogger(const TLogger&) = delete;
    TLogger& operator=(const TLogger&) = delete;

    // Makes the event source known; called once at program start.
    void RegisterEventLogSource();
    // Event-log entry, then the log-file line. Every caller passes category 0.
    void WriteEventLog(const std::string& text, uint32_t kind, uint16_t category = 0);
    void WriteLogFile(const std::string& text, uint32_t kind);

    bool HasLogFile() const { return File_.IsOpen(); }
    const std::string& LogFilePath() const { return Path_; }

    // Starts or ends a copy of every QUOR.LOG line, in UTF-8 with LF line
    // ends, in QUOR.UTF8.LOG beside it (for grep and friends). Off at first.
    void SetUtf8Copy(bool on);
    // After a rotation moved the files away: opens them again by name.
    void Reopen();

private:
    void ReportWriteFailure();

    std::string Path_;
    std::string Utf8Path_;
    TLogFile Utf8File_;
    const TClock& Clock_;
    TEventSink& Sink_;
    TConsoleWriter Console_;
    TLogFile File_;
};

// The process's logger, which the free functions below write through. There
// is none until InitializeLogging or a TScopedLogger installs one; until then
// they write nothing, so a test that installs none never touches the
// machine's log.
//
// Opens QUOR.LOG in the home directory with the system clock, reporting
// events to sink (syslog unless a test says otherwise). Called first thing
// in main, before any other part of the program runs.
void InitializeLogging(TEventSink& sink = SystemEventSink());
// Releases the logger InitializeLogging made, at the end of the process when
// no other thread writes any more.
void FinalizeLogging();

// Installs logger (may be null) and returns the previous one. The logger
// must outlive every write that can reach it.
TLogger* InstallLogger(TLogger* logger);
TLogger* CurrentLogger();

// Installs a logger for its own lifetime.
class TScopedLogger {
public:
    explicit TScopedLogger(TLogger& logger) : Previous_(InstallLogger(&logger)) {}
    ~TScopedLogger() { InstallLogger(Previous_); }
    TScopedLogger(const TScopedLogger&) = delete;
    TScopedLogger& operator=(const TScopedLogger&) = delete;

private:
    TLogger* Previous_;
};

void RegisterEventLogSource();
// The current logger's SetUtf8Copy and Reopen.
void SetLogUtf8Copy(bool on);
void ReopenLogFiles();
void WriteEventLog(const std::string& text, uint32_t kind, uint16_t category = 0);
void WriteLogFile(const std::string& text, uint32_t kind);
