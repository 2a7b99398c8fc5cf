#include "platform/service_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

TEST(ServiceSwitches, SlashOrHyphenAnyCaseAnywhere) {
    auto parse = [](std::vector<std::string> args) { return ParseServiceSwitches(args); };
    TServiceSwitches s = parse({"quorwell", "/INSTALL", "/SILENT"});
    EXPECT_TRUE(s.Install);
    EXPECT_FALSE(s.Uninstall);
    EXPECT_TRUE(s.Silent);
    s = parse({"quorwell", "extra", "-uninstall"});
    EXPECT_TRUE(s.Uninstall);
    EXPECT_FALSE(s.Install);
    EXPECT_FALSE(s.Silent);
    // Not switches: no prefix, a longer word, the program's own name.
    EXPECT_FALSE(parse({"/install", "install", "/INSTALLX", "--install", "-"}).Any());
    EXPECT_FALSE(parse({"quorwell"}).Any());
}

#ifdef QUOR_PACKAGED_UNIT
// The package installs the unit as a file; /INSTALL must write the same one.
TEST(ServiceUnit, TheSameAsThePackagedUnit) {
    std::ifstream file(QUOR_PACKAGED_UNIT, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    EXPECT_EQ(MakeUnitText("/usr/sbin/quorwell"), content.str());
}
#endif

TEST(ServiceUnit, NotifyServiceStartedByTheExecutable) {
    const std::string unit = MakeUnitText("/opt/quorwell/quorwell");
    for (const char* line :
         {"Type=notify\n", "ExecStart=/opt/quorwell/quorwell\n", "Restart=on-failure\n", "User=quorwell\n",
          "StateDirectory=quorwell\n", "UMask=0002\n", "ProtectSystem=strict\n", "WantedBy=multi-user.target\n"})
        EXPECT_NE(unit.find(std::string("\n") + line), std::string::npos) << line;
}

TEST(ServiceUnit, ExecutablePathIsQuotedAndEscaped) {
    auto execStart = [](const std::string& path) {
        const std::string unit = MakeUnitText(path);
        const size_t at = unit.find("ExecStart=") + 10;
        return unit.substr(at, unit.find('\n', at) - at);
    };
    EXPECT_EQ(execStart("/opt/my board/quorwell"), "\"/opt/my board/quorwell\"");
    EXPECT_EQ(execStart("/opt/100%/$HOME/q"), "/opt/100%%/$$HOME/q");
    EXPECT_EQ(execStart("/opt/a\"b\\c/q"), "\"/opt/a\\\"b\\\\c/q\"");
    EXPECT_THROW(MakeUnitText("/opt/x\nExecStartPre=/bin/evil"), std::runtime_error);
}

class ServiceInstall : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/service_install_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        Dir_ = pattern;
        Env_.UnitDirectory = Dir_;
        Env_.ExecutablePath = "/opt/quorwell/quorwell";
        Env_.SystemdRunning = [this] { return Systemd_; };
        Env_.RunCommand = [this](const std::vector<std::string>& argv) {
            std::string line;
            for (const auto& arg : argv) line += (line.empty() ? "" : " ") + arg;
            Commands_.push_back(line);
            return line == Failing_ ? 1 : 0;
        };
        Env_.Out = &Out_;
        Env_.Err = &Err_;
    }
    void TearDown() override {
        ::unlink(UnitPath().c_str());
        ::rmdir(Dir_.c_str());
    }
    std::string UnitPath() const { return Dir_ + "/quorwell.service"; }
    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), "quorwell");
        return RunServiceInstall(ParseServiceSwitches(args), Env_);
    }

    std::string Dir_;
    TServiceInstallEnv Env_;
    bool Systemd_ = true;
    std::string Failing_;
    std::vector<std::string> Commands_;
    std::ostringstream Out_, Err_;
};

TEST_F(ServiceInstall, InstallWritesTheUnitAndEnablesIt) {
    EXPECT_EQ(Run({"/install"}), 0);
    std::ifstream file(UnitPath(), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    EXPECT_EQ(content.str(), MakeUnitText("/opt/quorwell/quorwell"));
    struct stat info {};
    ASSERT_EQ(stat(UnitPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_EQ(Commands_, (std::vector<std::string>{"systemctl daemon-reload", "systemctl enable quorwell"}));
    EXPECT_EQ(Out_.str(), UnitPath() + Utf8(u8"を書き、systemctl daemon-reloadとenableを実行しました。"
                                            u8"サービスを登録しました。\n"));
    EXPECT_EQ(Err_.str(), "");
    EXPECT_EQ(Run({"-INSTALL", "-UNINSTALL"}), 0);  // install is tested first
    EXPECT_EQ(access(UnitPath().c_str(), F_OK), 0);
}

TEST_F(ServiceInstall, WithoutSystemdOnlyTheFileIsWrittenAndSaysSoSilentKeepsQuiet) {
    Systemd_ = false;
    EXPECT_EQ(Run({"/INSTALL", "/SILENT"}), 0);
    EXPECT_TRUE(Commands_.empty());
    EXPECT_EQ(Out_.str(), "");
    EXPECT_EQ(access(UnitPath().c_str(), F_OK), 0);
    Env_.UserExists = [](const std::string& name) { return name != "quorwell"; };
    EXPECT_EQ(Run({"/INSTALL"}), 0);
    EXPECT_EQ(Out_.str(), UnitPath() + Utf8(u8"を書きました。systemdが動いていないため、有効にはしていません。\n"
                                            u8"ユーザーquorwellがありません。サービスを始める前に作ってください"
                                            u8"（man quorwell）。\n"));
}

TEST_F(ServiceInstall, FailuresGoToStandardErrorEvenWhenSilent) {
    Failing_ = "systemctl enable quorwell";
    EXPECT_EQ(Run({"/install", "/silent"}), 1);
    EXPECT_EQ(Err_.str(), Utf8(u8"\"systemctl enable quorwell ended with status 1.\" : サービス "
                               u8"\"Quorwell\" の登録は失敗しました。\n"));
    EXPECT_EQ(Out_.str(), "");

    Err_.str("");
    Env_.UnitDirectory = Dir_ + "/missing";
    EXPECT_EQ(Run({"/install"}), 1);
    EXPECT_EQ(Err_.str().rfind(Utf8(u8"\"ファイル \"") + Dir_ + "/missing/quorwell.service\".", 0), 0u) << Err_.str();
    EXPECT_NE(Err_.str().find(Utf8(u8"\" : サービス \"Quorwell\" の登録は失敗しました。\n")), std::string::npos);
    EXPECT_EQ(Out_.str(), "");
}

TEST_F(ServiceInstall, UninstallDisablesAndRemoves) {
    ASSERT_EQ(Run({"/install", "/silent"}), 0);
    Commands_.clear();
    EXPECT_EQ(Run({"-uninstall"}), 0);
    EXPECT_NE(access(UnitPath().c_str(), F_OK), 0);
    EXPECT_EQ(Commands_, (std::vector<std::string>{"systemctl disable quorwell", "systemctl daemon-reload"}));
    EXPECT_EQ(Out_.str(), Utf8(u8"サービスの登録を解除しました。\n"));

    // Nothing installed: a failure, and systemd is left alone.
    Commands_.clear();
    Out_.str("");
    EXPECT_EQ(Run({"/UNINSTALL", "/SILENT"}), 1);
    EXPECT_TRUE(Commands_.empty());
    EXPECT_EQ(Out_.str(), "");
    EXPECT_NE(Err_.str().find(Utf8(u8"\" : サービス \"Quorwell\" の登録解除に失敗しました。\n")), std::string::npos);
    EXPECT_EQ(Err_.str().front(), '"');
}

}  // namespace
