#include "service/command_line.h"

#include <exception>
#include <ostream>

#include "data/kavel_env.h"
#include "data/persons_list.h"
#include "platform/service_install.h"
#include "platform/sjis_text.h"
#include "service/quor_ini.h"
#include "service/svc_main.h"

namespace {

bool IsServiceSwitch(const std::string& arg) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return false;
    const std::string_view name = std::string_view(arg).substr(1);
    return SameText(name, "INSTALL") || SameText(name, "UNINSTALL") || SameText(name, "SILENT");
}

// Texts are Shift-JIS in the program; the terminal gets UTF-8.
std::string Utf8(const std::string& text) { return Cp932ToUtf8(text, TBadBytes::Replace); }

}  // namespace

TCommand ParseCommand(const std::vector<std::string>& args) {
    if (args.size() == 2) {
        const std::string& arg = args[1];
        if (arg == "--help" || arg == "-h" || arg == "/?") return TCommand::Help;
        if (arg == "--version") return TCommand::Version;
        if (arg == "--check") return TCommand::Check;
    }
    for (size_t i = 1; i < args.size(); ++i)
        if (!IsServiceSwitch(args[i])) return TCommand::Usage;
    return ParseServiceSwitches(args).Any() ? TCommand::ServiceSwitches : TCommand::Serve;
}

std::string UsageText() {
    return Utf8(
        "使い方: quorwell [--help | --version | --check | /INSTALL [/SILENT] | /UNINSTALL [/SILENT]]\n"
        "\n"
        "  (なし)        サービスとして前面で動きます。SIGTERMとSIGINTで停止、SIGUSR1で一時停止、\n"
        "                SIGUSR2で再開、SIGHUPでログファイルを開き直します。\n"
        "  --check       quor.iniとkavel.iniと共通ディレクトリを起動時と同じく読み、使う値と問題を\n"
        "                表示します。問題がなければ終了コード0、あれば1です。\n"
        "  --version     版を表示します。\n"
        "  --help        この説明を表示します。\n"
        "  /INSTALL      systemdのユニットを書き、有効にします。/UNINSTALLで取り除きます。\n"
        "                /SILENTは成功の表示を省きます。\"-install\"とも書け、大文字小文字を問いません。\n"
        "\n"
        "quor.iniとQUOR.LOGの場所は環境変数QUORWELL_HOME、なければ実行ファイルのディレクトリです。\n"
        "詳しくは man quorwell を参照してください。\n");
}

std::string VersionText() { return Utf8(std::string(ServerSoftwareText) + "\n"); }

int RunCheck(const std::string& homeDirectory, std::ostream& out) {
    int problems = 0;
    std::string text;
    auto value = [&](const std::string& name, const std::string& v) { text += name + ": " + v + "\n"; };
    auto problem = [&](const std::string& what) {
        ++problems;
        text += "問題: " + what + "\n";
    };
    value("quor.ini", homeDirectory + "quor.ini");
    value("QUOR.LOG", homeDirectory + "QUOR.LOG");
    try {
        const TQuorIni ini = ReadQuorIni(homeDirectory + "quor.ini");
        value("QUOR_CommonDirectory", ini.CommonDirectory);
        value("QUOR_LogUtf8", ini.LogUtf8 ? "1 (" + homeDirectory + "QUOR.UTF8.LOG)" : "0");
        value("QUOR_WallDetails", ini.WallDetails ? "1" : "0");
        TKavelEnv env;
        try {
            env.SetCommonDirectory(ini.CommonDirectory);
        } catch (const std::exception& e) {
            problem(e.what());
        }
        for (const std::string& warning : env.SettingWarnings()) problem(warning);
        if (!env.CommonDirectory().empty()) {
            value("kavel.ini", env.CommonDirectory() + "kavel.ini");
            value("QUOR_Port", std::to_string(env.HttpPort()));
            value("UDPMessage,Port", std::to_string(env.UdpPort()));
            value("QUOR_SiteName", env.SiteName());
            value("QUOR_Interval,ReloadAllFile", std::to_string(env.ReloadInterval()));
            for (const TCustomIcon& icon : env.CustomIcons())
                value("CustomIcon", icon.Name + " " + icon.YellowIcon + " " + icon.RedIcon);
            for (const std::string& row : env.TimeTable()) value("TimeTable", row);
            value("人物ファイル", std::to_string(env.GetPersons()->Count()) + "件");
        }
    } catch (const std::exception& e) {
        problem(e.what());
    }
    text += problems == 0 ? "問題はありません。\n" : "問題が" + std::to_string(problems) + "件あります。\n";
    out << Utf8(text) << std::flush;
    return problems == 0 ? 0 : 1;
}
