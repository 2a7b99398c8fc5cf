#include <windows.h>

#include <stdexcept>
#include <string>

#include "platform/event_sink.h"
#include "platform/sjis_text.h"

// On Windows the machine's log is the application event log, source "QUOR";
// the sink keeps its portable name.

namespace {

constexpr const char* SourceKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QUOR";

// Own open of the key for each value, creating it when missing.
void SetSourceValue(const char* name, DWORD type, const BYTE* data, DWORD size) {
    HKEY key;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, SourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                              nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExA(key, name, 0, type, data, size);
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS)
        throw std::runtime_error(std::string("Cannot write the registry value ") + name + " (error " +
                                 std::to_string(rc) + ").");
}

// The texts are Shift-JIS whatever the system's ANSI code page: the log is
// given them as UTF-16.
std::wstring FromCp932(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// One entry through a handle of its own: nothing is kept open between
// messages. False when it could not be written.
bool ReportUnder(const wchar_t* source, WORD type, WORD category, DWORD id, const std::string& text, DWORD& error) {
    HANDLE handle = RegisterEventSourceW(nullptr, source);
    if (handle == nullptr) {
        error = GetLastError();
        return false;
    }
    const std::wstring wide = FromCp932(text);
    const wchar_t* strings[1] = {wide.c_str()};
    const BOOL ok = ReportEventW(handle, type, category, id, nullptr, 1, 0, strings, nullptr);
    error = ok ? 0 : GetLastError();
    DeregisterEventSource(handle);
    return ok != FALSE;
}

WORD EntryType(TEventType type) {
    switch (type) {
        case TEventType::Warning:
            return EVENTLOG_WARNING_TYPE;
        case TEventType::Error:
            return EVENTLOG_ERROR_TYPE;
        case TEventType::Information:
            break;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

int SyslogPriority(TEventType type) {
    // The syslog numbers, kept so the portable code means the same everywhere.
    switch (type) {
        case TEventType::Warning:
            return 4;
        case TEventType::Error:
            return 3;
        case TEventType::Information:
            break;
    }
    return 6;
}

// The message table lives in the executable, so the event viewer shows the
// texts from there. Written anew at every start.
void TSyslogEventSink::Open() {
    char path[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) throw std::runtime_error("Cannot tell the executable's path.");
    SetSourceValue("EventMessageFile", REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path), length + 1);
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    SetSourceValue("TypesSupported", REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
}

void TSyslogEventSink::Report(const TEventEntry& entry) {
    DWORD error = 0;
    if (!ReportUnder(L"QUOR", EntryType(entry.Type), entry.Category, entry.EventId, entry.Text, error))
        throw std::runtime_error("ReportEvent failed: " + std::to_string(error));
}

bool ReportErrorUnderSource(const std::string& source, const std::string& text) {
    DWORD error = 0;
    return ReportUnder(FromCp932(source).c_str(), EVENTLOG_ERROR_TYPE, 0, 0, text, error);
}

TEventSink& SystemEventSink() {
    static TSyslogEventSink sink;
    return sink;
}
