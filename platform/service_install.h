#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* ServiceDisplayName = "Quorwell";
inline constexpr const char* ServiceUnitName = "quorwell";

// A switch is an argument after the program name that starts with "/" or "-"
// and is followed by name, without regard to ASCII case.
bool FindCmdLineSwitch(const std::vector<std::string>& args, std::string_view name);

struct TServiceSwitches {
    bool Install = false;
    bool Uninstall = false;
    bool Silent = false;
    bool Any() const { return Install || Uninstall; }
};

// args[0] is the program name.
TServiceSwitches ParseServiceSwitches(const std::vector<std::string>& args);

// What installing touches, so a test can stand in for the system.
struct TServiceInstallEnv {
    std::string UnitDirectory;   // where the unit file goes
    std::string ExecutablePath;  // started by the unit
    std::function<bool()> SystemdRunning;
    // Runs a program (argv[0] looked up in PATH) and returns its exit status;
    // raises std::runtime_error when it cannot be started.
    std::function<int(const std::vector<std::string>& argv)> RunCommand;
    // Whether the account the unit runs as exists; unset where nothing asks.
    std::function<bool(const std::string& name)> UserExists;
    std::ostream* Out = nullptr;  // success texts
    std::ostream* Err = nullptr;  // failure texts

    // The machine's: $QUORWELL_UNIT_DIR or /etc/systemd/system, the running
    // executable, systemctl, the user database, the terminal.
    static TServiceInstallEnv System();
};

// The systemd unit that runs executablePath as the service.
std::string MakeUnitText(const std::string& executablePath);

// The platform's registration of the service (the systemd unit here, the
// service control manager on Windows); raise std::runtime_error with the
// reason.
void InstallService(const TServiceInstallEnv& env);
void UninstallService(const TServiceInstallEnv& env);

// Carries out INSTALL (tested first) or UNINSTALL and tells the outcome on
// the terminal, SILENT keeping the success text back. Returns the exit code;
// does nothing when the switches name neither.
int RunServiceInstall(const TServiceSwitches& switches, const TServiceInstallEnv& env);
