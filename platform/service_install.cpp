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

}  // namespace

bool FindCmdLineSwitch(const std::vector<std::string>& args, std::string_view name) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!arg.empty() && (arg[0] == '/' || arg[0] == '-') &&
            SameText(std::string_view(arg).substr(1), name))
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
    return std::string("[Unit]\n") + "Description=" + ServiceDisplayName + "\n" +
           "Wants=network-online.target\n"
           "After=network-online.target remote-fs.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "ExecStart=" +
           ExecStartWord(executablePath) + "\n" +
           "Restart=on-failure\n"
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
        *env.Err << Cp932ToUtf8(FillIn(install ? InstallFailedText : UninstallFailedText, ServiceDisplayName,
                                       e.what()),
                                TBadBytes::Keep)
                 << std::endl;
        return 1;
    }
    if (!switches.Silent)
        *env.Out << Cp932ToUtf8(install ? InstalledText : UninstalledText, TBadBytes::Keep) << std::endl;
    return 0;
}
