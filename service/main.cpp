// quorwell: with no switch, runs in the foreground as the service until
// SIGTERM or SIGINT (SIGUSR1 pauses, SIGUSR2 continues, SIGHUP reopens the
// logs); INSTALL and UNINSTALL register or remove the systemd unit; --help,
// --version and --check answer and end (see command_line.h).
//
// The event log goes to syslog, warnings and errors also to standard error
// when that is a terminal, so a start by hand shows why it failed.
// QUORWELL_EVENT_LOG=stderr sends every entry to standard error instead, one
// line per entry, for tests and for a machine without a syslog daemon.

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <sstream>
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
#include "service/command_line.h"
#include "service/svc_main.h"

namespace {

class TStandardErrorEventSink : public TEventSink {
public:
    void Report(const TEventEntry& entry) override {
        const std::string line =
            std::string("QUOR ") + TypeWord(entry.Type) + ": " + Cp932ToUtf8(entry.Text, TBadBytes::Replace) + "\n";
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

// syslog, and the warnings and errors also on the terminal.
class TTerminalEchoEventSink : public TEventSink {
public:
    TTerminalEchoEventSink(TEventSink& system, TEventSink& terminal) : System_(system), Terminal_(terminal) {}
    void Open() override { System_.Open(); }
    void Report(const TEventEntry& entry) override {
        if (entry.Type != TEventType::Information) {
            try {
                Terminal_.Report(entry);
            } catch (...) {
                // The system's log still counts.
            }
        }
        System_.Report(entry);
    }

private:
    TEventSink& System_;
    TEventSink& Terminal_;
};

TEventSink& ChosenEventSink() {
    static TStandardErrorEventSink standardError;
    static TTerminalEchoEventSink echo(SystemEventSink(), standardError);
    const char* choice = std::getenv("QUORWELL_EVENT_LOG");
    if (choice != nullptr && std::strcmp(choice, "stderr") == 0) return standardError;
    if (::isatty(STDERR_FILENO) == 1) return echo;
    return SystemEventSink();
}

void WriteOut(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// The answers that start nothing and write no log; -1 for the others.
int Answer(TCommand command) {
    switch (command) {
        case TCommand::Help:
            WriteOut(STDOUT_FILENO, UsageText());
            return 0;
        case TCommand::Version:
            WriteOut(STDOUT_FILENO, VersionText());
            return 0;
        case TCommand::Check: {
            std::ostringstream out;
            int code = 1;
            try {
                InitializeImageCatalogue();
                code = RunCheck(HomeDirectory(), out);
            } catch (const std::exception& e) {
                out << Cp932ToUtf8(e.what(), TBadBytes::Replace) << "\n";
            }
            WriteOut(STDOUT_FILENO, out.str());
            return code;
        }
        case TCommand::Usage:
            WriteOut(STDERR_FILENO, UsageText());
            return 2;
        default:
            return -1;
    }
}

int RunService() {
    TSvcMain service(HomeDirectory());
    // The framework's own reports: under their own source where the platform
    // has one (the Windows event log), else in the server's log.
    TServiceHost host(service, ServiceName, [](const std::string& source, const std::string& text) {
        if (!ReportErrorUnderSource(source, text)) WriteEventLog(text, EventError, 0);
    });
    host.SetOnHangUp(ReopenLogFiles);
    const int code = host.Run();
    if (!service.StoppedCleanly()) {
        // Handlers that never returned still use what the statics hold: end
        // here rather than run the destructors under them.
        FinalizeLogging();
        std::_Exit(code);
    }
    return code;
}

int Main(const std::vector<std::string>& args) {
    InitializeImageCatalogue();
    RegisterEventLogSource();
    const TServiceSwitches switches = ParseServiceSwitches(args);
    if (switches.Any()) return RunServiceInstall(switches, TServiceInstallEnv::System());
    return RunService();
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    const int answered = Answer(ParseCommand(args));
    if (answered >= 0) return answered;
    // Before any thread exists, so that only the host's signal thread takes them.
    BlockServiceSignals();
    InitializeLogging(ChosenEventSink());
    int code = 1;
    try {
        code = Main(args);
    } catch (const std::exception& e) {
        WriteEventLog(std::string("次のエラーが発生しました。") + e.what(), EventError, 0);
        WriteEventLog("処理を継続できません。サービスを異常終了します。", EventInformation, 0);
    }
    FinalizeLogging();
    return code;
}
