#include "log/event_log.h"

#include <atomic>
#include <cstdio>
#include <memory>

#include "platform/file_system.h"
#include "platform/home_dir.h"
#include "platform/sjis_text.h"

namespace {

void WriteToStandardOutput(const std::string& text) {
    const std::string utf8 = Cp932ToUtf8(text, TBadBytes::Replace);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

std::atomic<TLogger*> processLogger{nullptr};
std::unique_ptr<TLogger> ownedLogger;

}  // namespace

TEventType EventTypeOf(uint32_t kind) {
    switch (kind) {
        case EventWarning:
            return TEventType::Warning;
        case EventError:
            return TEventType::Error;
        default:
            return TEventType::Information;
    }
}

TLogger::TLogger(const std::string& homeDirectory, const TClock& clock, TEventSink& sink, TConsoleWriter console)
    : Path_(homeDirectory.empty() ? std::string() : IncludeTrailingPathDelimiter(homeDirectory) + "QUOR.LOG"),
      Utf8Path_(homeDirectory.empty() ? std::string() : IncludeTrailingPathDelimiter(homeDirectory) + "QUOR.UTF8.LOG"),
      Clock_(clock),
      Sink_(sink),
      Console_(console ? std::move(console) : TConsoleWriter(WriteToStandardOutput)) {
    if (Path_.empty() || !File_.Open(Path_)) WriteEventLog(LogFileOpenFailedText, EventError, 0);
}

void TLogger::RegisterEventLogSource() { Sink_.Open(); }

void TLogger::WriteEventLog(const std::string& text, uint32_t kind, uint16_t category) {
    try {
        Sink_.Report(TEventEntry{EventTypeOf(kind), category, kind, text});
    } catch (...) {
        // The file line below is still worth writing.
        ReportWriteFailure();
    }
    WriteLogFile(text, kind);
}

void TLogger::WriteLogFile(const std::string& text, uint32_t kind) {
    try {
        const std::string line = LogLine(Clock_.Now(), kind, text);
        if (File_.IsOpen() && !File_.Write(line)) ReportWriteFailure();
        if (Utf8File_.IsOpen()) {
            std::string copy = Cp932ToUtf8(std::string_view(line).substr(0, line.size() - 2), TBadBytes::Replace);
            copy += '\n';
            if (!Utf8File_.Write(copy)) ReportWriteFailure();
        }
    } catch (...) {
        ReportWriteFailure();
    }
}

void TLogger::SetUtf8Copy(bool on) {
    if (!on) {
        Utf8File_.Close();
    } else if (!Utf8File_.IsOpen() && (Utf8Path_.empty() || !Utf8File_.Open(Utf8Path_))) {
        WriteEventLog(LogFileOpenFailedText, EventError, 0);
    }
}

void TLogger::Reopen() {
    const bool main = File_.Reopen();
    const bool copy = Utf8File_.Reopen();
    if (!main || !copy)
        WriteEventLog("ログファイルを開き直せませんでした。元のファイルに出力を続けます。", EventError, 0);
}

void TLogger::ReportWriteFailure() {
    try {
        Console_(EventLogWriteFailedText);
    } catch (...) {
        // Nowhere left to tell.
    }
}

void InitializeLogging(TEventSink& sink) {
    if (ownedLogger) return;
    std::string home;
    try {
        home = HomeDirectory();
    } catch (...) {
        // Without a home there is no file; the logger reports that itself.
    }
    ownedLogger = std::make_unique<TLogger>(home, SystemClock(), sink);
    InstallLogger(ownedLogger.get());
}

void FinalizeLogging() {
    if (!ownedLogger) return;
    TLogger* expected = ownedLogger.get();
    processLogger.compare_exchange_strong(expected, nullptr);
    ownedLogger.reset();
}

TLogger* InstallLogger(TLogger* logger) { return processLogger.exchange(logger); }

TLogger* CurrentLogger() { return processLogger.load(); }

void RegisterEventLogSource() {
    if (TLogger* logger = processLogger.load()) logger->RegisterEventLogSource();
}

void SetLogUtf8Copy(bool on) {
    if (TLogger* logger = processLogger.load()) logger->SetUtf8Copy(on);
}

void ReopenLogFiles() {
    if (TLogger* logger = processLogger.load()) logger->Reopen();
}

void WriteEventLog(const std::string& text, uint32_t kind, uint16_t category) {
    if (TLogger* logger = processLogger.load()) logger->WriteEventLog(text, kind, category);
}

void WriteLogFile(const std::string& text, uint32_t kind) {
    if (TLogger* logger = processLogger.load()) logger->WriteLogFile(text, kind);
}
