#include <syslog.h>

#include <cerrno>

#include "platform/event_sink.h"
#include "platform/sjis_text.h"

namespace {}  // namespace

int SyslogPriority(TEventType type) {
    switch (type) {
        case TEventType::Warning:
            return LOG_WARNING;
        case TEventType::Error:
            return LOG_ERR;
        case TEventType::Information:
            break;
    }
    return LOG_INFO;
}

void TSyslogEventSink::Open() {
    std::call_once(Opened_, [] { ::openlog("QUOR", LOG_PID, LOG_DAEMON); });
}

void TSyslogEventSink::Report(const TEventEntry& entry) {
    Open();
    const std::string text = Cp932ToUtf8(entry.Text, TBadBytes::Replace);
    ::syslog(LOG_DAEMON | SyslogPriority(entry.Type), "%s", text.c_str());
}

TEventSink& SystemEventSink() {
    static TSyslogEventSink sink;
    return sink;
}

bool ReportErrorUnderSource(const std::string& /*source*/, const std::string& /*text*/) { return false; }
