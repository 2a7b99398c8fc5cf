// The command line of the built server: the answers that start nothing, the
// check of the settings, and the hang-up that follows a log rotation.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>  // also brings the clocks; <chrono> itself breaks under CP932

#include "platform/sjis_text.h"
#include "tests/server_harness.h"

extern char** environ;

namespace {

std::string Utf8(const char* cp932) { return Cp932ToUtf8(cp932, TBadBytes::Replace); }

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct TRun {
    int Code = -1;
    std::string Out;
    std::string Err;
};

// The executable with args and the files' home; killed when it outlives the patience.
TRun RunQuorwell(const TServerFiles& files, std::vector<std::string> args) {
    const char* other = std::getenv("QUORWELL_TEST_EXECUTABLE");
    args.insert(args.begin(), other != nullptr && *other != '\0' ? other : QUORWELL_EXECUTABLE);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"QUORWELL_HOME=" + files.Home(), "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string out = files.Path("run.out"), err = files.Path("run.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    TRun run;
    if (rc != 0) return run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PatienceMs);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = Slurp(out);
    run.Err = Slurp(err);
    return run;
}

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

TEST(ServerCommandLine, AnswersStartNothingAndUnknownArgumentsGiveTheUsage) {
    TServerFiles files;
    const TRun help = RunQuorwell(files, {"--help"});
    EXPECT_EQ(help.Code, 0);
    EXPECT_EQ(help.Out.rfind(Utf8("使い方: quorwell"), 0), 0u) << help.Out;
    EXPECT_EQ(RunQuorwell(files, {"-h"}).Out, help.Out);
    EXPECT_EQ(RunQuorwell(files, {"/?"}).Out, help.Out);
    const TRun version = RunQuorwell(files, {"--version"});
    EXPECT_EQ(version.Code, 0);
    EXPECT_EQ(version.Out, "Quorwell 0.7\n");
    // Not switches, or a switch with something unknown beside it.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"install"}, {"/INSTALL", "/BOGUS"}, {"--help", "--version"}, {"--check", "x"}, {""}}) {
        const TRun usage = RunQuorwell(files, args);
        EXPECT_EQ(usage.Code, 2) << args[0];
        EXPECT_EQ(usage.Out, "");
        EXPECT_EQ(usage.Err, help.Out);
    }
    EXPECT_FALSE(std::filesystem::exists(files.Home() + "QUOR.LOG")) << "something started";
}

TEST(ServerCommandLine, CheckPrintsTheValuesAndEveryProblem) {
    TServerFiles files;
    TRun check = RunQuorwell(files, {"--check"});
    EXPECT_EQ(check.Code, 0) << check.Out;
    EXPECT_TRUE(HasLine(check.Out, "QUOR_CommonDirectory: " + files.Office())) << check.Out;
    EXPECT_TRUE(HasLine(check.Out, "QUOR_Port: " + std::to_string(files.Port()))) << check.Out;
    EXPECT_TRUE(HasLine(check.Out, "UDPMessage,Port: 19900")) << check.Out;
    EXPECT_TRUE(HasLine(check.Out, Utf8("問題はありません。"))) << check.Out;

    std::string directory = files.Office();
    directory.pop_back();
    files.WriteQuorIni("QUOR_CommonDirectory=" + directory + "\r\n");
    check = RunQuorwell(files, {"--check"});
    EXPECT_EQ(check.Code, 0) << check.Out;
    EXPECT_TRUE(HasLine(check.Out, "QUOR_CommonDirectory: " + files.Office())) << check.Out;

    files.SetHttpPort(0);
    check = RunQuorwell(files, {"--check"});
    EXPECT_EQ(check.Code, 1);
    EXPECT_TRUE(
        HasLine(check.Out, Utf8("問題: kavel.iniのQUOR_Port=0はポート番号として使えません。ポート80を使います。")))
        << check.Out;
    EXPECT_TRUE(HasLine(check.Out, "QUOR_Port: 80")) << check.Out;
    EXPECT_TRUE(HasLine(check.Out, Utf8("問題が1件あります。"))) << check.Out;

    files.WriteQuorIni("QUOR_CommonDirectory = " + files.Office() + "\r\n");
    check = RunQuorwell(files, {"--check"});
    EXPECT_EQ(check.Code, 1);
    EXPECT_TRUE(HasLine(check.Out, Utf8("問題: ") + files.Home() +
                                       Utf8("quor.iniにQUOR_CommonDirectory=の行がありません。"
                                            "「=」の前後に空白を置かないでください。")))
        << check.Out;
    EXPECT_FALSE(std::filesystem::exists(files.Home() + "QUOR.LOG")) << "the check logs nothing";
}

TEST(ServerCommandLine, HangUpReopensTheLogMovedAwayAndKeepsServing) {
    TServerFiles files;
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady());
    std::filesystem::rename(files.Home() + "QUOR.LOG", files.Home() + "QUOR.LOG.1");
    server.Signal(SIGHUP);
    // The signal is taken on its own thread: ask until the new file is there.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PatienceMs);
    while (!std::filesystem::exists(files.Home() + "QUOR.LOG") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(HttpGet(files.Port(), "/").Status, 200);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(), std::optional<int>(0));
    const std::string moved = Slurp(files.Home() + "QUOR.LOG.1");
    const std::string fresh = Slurp(files.Home() + "QUOR.LOG");
    EXPECT_NE(moved.find("サービスの起動を完了しました。"), std::string::npos);
    EXPECT_EQ(moved.find("127.0.0.1 /"), std::string::npos);
    EXPECT_NE(fresh.find("127.0.0.1 /"), std::string::npos);
    EXPECT_NE(fresh.find("サービスの停止を完了しました。"), std::string::npos);
}

}  // namespace
