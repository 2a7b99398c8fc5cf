#include "platform/service_install.h"
#include "platform/sjis_text.h"

#include <ostream>
#include <stdexcept>

#include "platform/file_system.h"

namespace {

const char* const InstalledText = "サービスを登録しました。";
const char* const InstallFailedText = "\"%1:s\" : サービス \"%0:s\" の登録は失敗しました。";
const char* const UninstalledText = "サービスの登録を解除しました。";
const char* const UninstallFailedText = "\"%1:s\" : サービス \"%0:s\" の登録解除に失敗しました。";

// Fills %0:s and %1:s in one pass, so an error text holding either stays as it is.
std::string FillIn(std::string_view format, const std::string& arg0, const std::string& arg1) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format.compare(i, 4, "%0:s") == 0 || format.compare(i, 4, "%1:s") == 0) {
            out += format[i + 1] == '0' ? arg0 : arg1;
            i += 3;
        } else {
            out += format[i];
        }
    }
    return out;
}

// A word of an ExecStart line: "%" and "$" would be expanded by systemd and
// blanks, quotes or backslashes would split or escape it.
std::string ExecStartWord(const std::string& path) {
    if (path.find_first_of("\r\n") != std::string::npos)
        throw std::runtime_error("The executable path holds a line break.");
    bool quote = path.empty();
    std::string word;
    for (char c : path) {
        if (c == '%' || c == '$') word += c;
        if (c == '"' || c == '\\') word += '\\';
        if (c == ' ' || c == '\t' || c == '"' || c == '\\' || c == '\'' || c == ';') quote = true;
        word += c;
    }
    return quote ? "\"" + word + "\"" : word;
}

// What installing did, as it was: without systemd the unit is only written.
std::string InstalledTextFor(const TServiceInstallEnv& env) {
#ifdef _WIN32
    (void)env;
    return InstalledText;
#else
    const std::string unit = IncludeTrailingPathDelimiter(env.UnitDirectory) + ServiceUnitName + ".service";
    std::string text = env.SystemdRunning()
                           ? unit + "を書き、systemctl daemon-reloadとenableを実行しました。" + InstalledText
                           : unit + "を書きました。systemdが動いていないため、有効にはしていません。";
    if (env.UserExists && !env.UserExists("quorwell"))
        text += "\nユーザーquorwellがありません。サービスを始める前に作ってください（man quorwell）。";
    return text;
#endif
}

}  // namespace

bool FindCmdLineSwitch(const std::vector<std::string>& args, std::string_view name) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!arg.empty() && (arg[0] == '/' || arg[0] == '-') && SameText(std::string_view(arg).substr(1), name))
            return true;
    }
    return false;
}

TServiceSwitches ParseServiceSwitches(const std::vector<std::string>& args) {
    TServiceSwitches switches;
    switches.Install = FindCmdLineSwitch(args, "INSTALL");
    switches.Uninstall = FindCmdLineSwitch(args, "UNINSTALL");
    switches.Silent = FindCmdLineSwitch(args, "SILENT");
    return switches;
}

std::string MakeUnitText(const std::string& executablePath) {
    // Confined to what the server does: serve TCP, send UDP, read and write
    // its home and the clients' directory (a drop-in adds that one to
    // ReadWritePaths=), log to syslog. Each line lowers the exposure that
    // `systemd-analyze security` reports; the package's copy of this text
    // is checked against it.
    return std::string("[Unit]\n") + "Description=" + ServiceDisplayName + "\n" +
           "Documentation=man:quorwell(8) man:quor.ini(5)\n"
           "Wants=network-online.target\n"
           "After=network-online.target remote-fs.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "ExecStart=" +
           ExecStartWord(executablePath) + "\n" +
           "ExecReload=/bin/kill -HUP $MAINPID\n"
           "Restart=on-failure\n"
           "User=quorwell\n"
           "Group=quorwell\n"
           "Environment=QUORWELL_HOME=/var/lib/quorwell\n"
           "StateDirectory=quorwell\n"
           "StateDirectoryMode=0750\n"
           "# Files the server creates stay writable for the clients' group.\n"
           "UMask=0002\n"
           "# Ports below 1024 without root, and nothing else.\n"
           "AmbientCapabilities=CAP_NET_BIND_SERVICE\n"
           "CapabilityBoundingSet=CAP_NET_BIND_SERVICE\n"
           "NoNewPrivileges=yes\n"
           "ProtectSystem=strict\n"
           "ProtectHome=yes\n"
           "PrivateTmp=yes\n"
           "PrivateDevices=yes\n"
           "PrivateMounts=yes\n"
           "ProtectKernelTunables=yes\n"
           "ProtectKernelModules=yes\n"
           "ProtectKernelLogs=yes\n"
           "ProtectControlGroups=yes\n"
           "ProtectClock=yes\n"
           "ProtectHostname=yes\n"
           "ProtectProc=invisible\n"
           "ProcSubset=pid\n"
           "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
           "RestrictNamespaces=yes\n"
           "RestrictRealtime=yes\n"
           "RestrictSUIDSGID=yes\n"
           "LockPersonality=yes\n"
           "MemoryDenyWriteExecute=yes\n"
           "RemoveIPC=yes\n"
           "SystemCallArchitectures=native\n"
           "SystemCallFilter=@system-service\n"
           "SystemCallFilter=~@privileged @resources\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

int RunServiceInstall(const TServiceSwitches& switches, const TServiceInstallEnv& env) {
    if (!switches.Any()) return 0;
    const bool install = switches.Install;
    try {
        if (install)
            InstallService(env);
        else
            UninstallService(env);
    } catch (const std::exception& e) {
        *env.Err << Cp932ToUtf8(FillIn(install ? InstallFailedText : UninstallFailedText, ServiceDisplayName, e.what()),
                                TBadBytes::Keep)
                 << std::endl;
        return 1;
    }
    if (!switches.Silent)
        *env.Out << Cp932ToUtf8(install ? InstalledTextFor(env) : UninstalledText, TBadBytes::Keep) << std::endl;
    return 0;
}
