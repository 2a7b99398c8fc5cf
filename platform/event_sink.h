#pragma once

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Severity of an event-log entry.
enum class TEventType { Information, Warning, Error };

// One entry as the server reports it: the text is Shift-JIS.
struct TEventEntry {
    TEventType Type = TEventType::Information;
    uint16_t Category = 0;
    uint32_t EventId = 0;
    std::string Text;
};

// Where event-log entries go. Report may be called from many threads at
// once and raises when the entry could not be recorded.
class TEventSink {
public:
    virtual ~TEventSink() = default;
    // Makes the source known to the log; reporting before it is allowed.
    virtual void Open() {}
    virtual void Report(const TEventEntry& entry) = 0;
};

// The machine's log: syslog, ident "QUOR", facility daemon, the text in
// UTF-8. Information, warning and error become the priorities of the same
// names.
class TSyslogEventSink : public TEventSink {
public:
    void Open() override;
    void Report(const TEventEntry& entry) override;

private:
    std::once_flag Opened_;
};

// The process's one syslog sink.
TEventSink& SystemEventSink();

// Writes an error entry under a source of the given name rather than the
// server's own: the service framework's reports, under "svcMain". False
// where the platform keeps no such sources (one syslog ident); the caller
// then writes it to the server's log.
bool ReportErrorUnderSource(const std::string& source, const std::string& text);

// syslog priority for a type (LOG_INFO, LOG_WARNING, LOG_ERR).
int SyslogPriority(TEventType type);

// Keeps what it is given, for tests. Can be told to fail.
class TCapturingEventSink : public TEventSink {
public:
    void Open() override;
    void Report(const TEventEntry& entry) override;

    std::vector<TEventEntry> Entries() const;
    int OpenCount() const;
    // While set, Report raises std::runtime_error and records nothing.
    void SetFailing(bool failing);

private:
    mutable std::mutex Lock_;
    std::vector<TEventEntry> Entries_;
    int Opens_ = 0;
    bool Failing_ = false;
};
