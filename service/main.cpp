// quorwell: with no switch, runs in the foreground as the service until
// SIGTERM or SIGINT (SIGUSR1 pauses, SIGUSR2 continues); INSTALL and
// UNINSTALL register or remove the systemd unit.
//
// The event log goes to syslog. QUORWELL_EVENT_LOG=stderr sends it to
// standard error instead, one line per entry, for tests and for running by
// hand on a machine without a syslog daemon.

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "images/jpeg_list.h"
#include "log/event_log.h"
#include "platform/event_sink.h"
#include "platform/home_dir.h"
#include "platform/service_host.h"
#include "platform/service_install.h"
#include "platform/sjis_text.h"
#include "service/svc_main.h"

namespace {

class TStandardErrorEventSink : public TEventSink {
public:
    void Report(const TEventEntry& entry) override {
        const std::string line = std::string("QUOR ") + TypeWord(entry.Type) + ": " +
                                 Cp932ToUtf8(entry.Text, TBadBytes::Replace) + "\n";
        std::lock_guard<std::mutex> hold(Lock_);
        size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw std::runtime_error("standard error is closed");
            done += static_cast<size_t>(n);
        }
    }

private:
    static const char* TypeWord(TEventType type) {
        switch (type) {
            case TEventType::Warning:
                return "warning";
            case TEventType::Error:
                return "error";
            default:
                return "information";
        }
    }
    std::mutex Lock_;
};

TEventSink& ChosenEventSink() {
    static TStandardErrorEventSink standardError;
    const char* choice = std::getenv("QUORWELL_EVENT_LOG");
    if (choice != nullptr && std::strcmp(choice, "stderr") == 0) return standardError;
    return SystemEventSink();
}

int RunService() {
    TSvcMain service(HomeDirectory());
    // The framework's own reports: under their own source where the platform
    // has one (the Windows event log), else in the server's log.
    TServiceHost host(service, ServiceName, [](const std::string& source, const std::string& text) {
        if (!ReportErrorUnderSource(source, text)) WriteEventLog(text, EventError, 0);
    });
    const int code = host.Run();
    if (!service.StoppedCleanly()) {
        // Handlers that never returned still use what the statics hold: end
        // here rather than run the destructors under them.
        FinalizeLogging();
        std::_Exit(code);
    }
    return code;
}

int Main(int argc, char** argv) {
    InitializeImageCatalogue();
    RegisterEventLogSource();
    const std::vector<std::string> args(argv, argv + argc);
    const TServiceSwitches switches = ParseServiceSwitches(args);
    if (switches.Any()) return RunServiceInstall(switches, TServiceInstallEnv::System());
    return RunService();
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so that only the host's signal thread takes them.
    BlockServiceSignals();
    InitializeLogging(ChosenEventSink());
    int code = 1;
    try {
        code = Main(argc, argv);
    } catch (const std::exception& e) {
        WriteEventLog(std::string("次のエラーが発生しました。") + e.what(), EventError, 0);
        WriteEventLog("処理を継続できません。サービスを異常終了します。", EventInformation, 0);
    }
    FinalizeLogging();
    return code;
}
