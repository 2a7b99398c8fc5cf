#pragma once

// Runs the built quorwell executable against a temporary home and common
// directory and talks to it over loopback.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/test_temp_dir.h"

// Upper bound for anything the server is waited for; reached only when it hangs.
inline constexpr int PatienceMs = 20000;

// A port nobody listens on right now: bound on loopback with port 0, then let go.
std::uint16_t FreePort();

// One line of QUOR.LOG: the 7-byte level word and the text (which may hold
// CR LF, as the missing-quor.ini message does).
struct TLogRecord {
    std::string Level;
    std::string Text;
};

// home/quor.ini naming office/, a copy of the sample office whose kavel.ini
// listens on a free port.
class TServerFiles {
public:
    TServerFiles();

    std::string Home() const { return Temp_.File("home/"); }
    std::string Office() const { return Temp_.File("office/"); }
    std::string Path(const std::string& name) const { return Temp_.File(name); }
    std::uint16_t Port() const { return Port_; }

    void WriteQuorIni(const std::string& bytes) const;
    // kavel.ini of the sample with QUOR_Port replaced.
    void SetHttpPort(std::uint16_t port);
    void RemoveFile(const std::string& path) const;

    std::vector<TLogRecord> LogRecords() const;
    // Texts of the records, in order.
    std::vector<std::string> LogTexts() const;
    // Waits until a record holds text; false when none did in time.
    bool WaitForLog(const std::string& text) const;
    int CountLog(const std::string& text) const;

private:
    TTestTempDir Temp_;
    std::uint16_t Port_ = 0;
};

// The executable, started with the files' home. Its event log goes to a file
// (never to syslog), and it reports to a service-manager socket of its own.
class TServerProcess {
public:
    explicit TServerProcess(const TServerFiles& files);
    // A server still running is killed: no test waits for a graceful stop it
    // does not look at.
    ~TServerProcess();
    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;

    pid_t Pid() const { return Pid_; }
    void Signal(int signal) const;
    // The exit code; nullopt when it did not end in time or died of a signal.
    std::optional<int> WaitExit();
    // The next state line sent to the service manager ("READY=1"); empty when
    // none came in time.
    std::string NextNotification();
    // Blocks until READY=1 came, the process ended, or patience ran out.
    bool WaitReady();
    // Event-log entries in UTF-8, one "QUOR <type>: <text>" line each.
    std::string EventText() const;

private:
    const TServerFiles& Files_;
    int Notify_ = -1;
    pid_t Pid_ = -1;
    bool Ended_ = false;
};

struct THttpAnswer {
    int Status = 0;
    std::string StatusLine;
    std::vector<std::pair<std::string, std::string>> Headers;  // in order
    std::string Body;

    // Value of the first header of that name (exact spelling); nullopt when absent.
    std::optional<std::string> Header(const std::string& name) const;
    // Position of the header in the answer; -1 when absent.
    int HeaderIndex(const std::string& name) const;
};

// One GET with the given extra header lines; throws when the server cannot be
// reached or does not answer in time.
THttpAnswer HttpGet(std::uint16_t port, const std::string& target, const std::vector<std::string>& headers = {});

// A connection on loopback that has sent "GET target" with the given extra
// header lines and read nothing yet; the caller reads (blocking) and closes it.
int OpenRequest(std::uint16_t port, const std::string& target, const std::vector<std::string>& headers = {});

// Resident memory of the process in bytes (0 when it cannot be read).
std::size_t ResidentBytes(pid_t pid);

// Whether a connection to the port on loopback is refused.
bool ConnectionRefused(std::uint16_t port);
