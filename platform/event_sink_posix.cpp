#include <iconv.h>
#include <syslog.h>

#include <cerrno>

#include "platform/event_sink.h"

namespace {

constexpr char ReplacementCharacter[] = "\xEF\xBF\xBD";

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932) {
    std::string out;
    const iconv_t convert = ::iconv_open("UTF-8", "CP932");
    if (convert == reinterpret_cast<iconv_t>(-1)) {
        // No converter on this host: keep ASCII, mark the rest.
        for (const char c : cp932) {
            if (static_cast<unsigned char>(c) < 0x80)
                out += c;
            else
                out += ReplacementCharacter;
        }
        return out;
    }
    out.reserve(cp932.size() * 3 / 2);
    char* in = const_cast<char*>(cp932.data());
    size_t inLeft = cp932.size();
    char buffer[512];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t done = ::iconv(convert, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr - buffer);
        if (done == static_cast<size_t>(-1) && errno != E2BIG) {
            // An invalid or cut-off character: mark it and go on after its first byte.
            out += ReplacementCharacter;
            ++in;
            --inLeft;
            ::iconv(convert, nullptr, nullptr, nullptr, nullptr);
        }
    }
    ::iconv_close(convert);
    return out;
}

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
    std::call_once(opened_, [] { ::openlog("QUOR", LOG_PID, LOG_DAEMON); });
}

void TSyslogEventSink::Report(const TEventEntry& entry) {
    Open();
    const std::string text = Cp932ToUtf8(entry.Text);
    ::syslog(LOG_DAEMON | SyslogPriority(entry.Type), "%s", text.c_str());
}

TEventSink& SystemEventSink() {
    static TSyslogEventSink sink;
    return sink;
}

bool ReportErrorUnderSource(const std::string& /*source*/, const std::string& /*text*/) { return false; }
