// The Samba set-up of docs/admin.md 3b, for real: Debian's smbd on a loopback
// port with the guide's own smb.conf lines, smbclient as the clients, and the
// built server on the share's directory. Exit 77 (a skip) only when smbd
// cannot start, with the reason.

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <thread>

#include "platform/sjis_text.h"
#include "tests/server_harness.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Exit code and both output streams of a shell command.
std::pair<int, std::string> Run(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return {-1, "popen failed"};
    std::string output;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// The guide's smb.conf lines as an admin copies them: the indented block after
// "In `/etc/samba/smb.conf`:".
std::string GuideSmbConf() {
    const std::string guide = ReadAll(QUOR_ADMIN_GUIDE);
    const std::string intro = "In `/etc/samba/smb.conf`:\n\n";
    size_t at = guide.find(intro);
    if (at == std::string::npos) throw std::runtime_error("docs/admin.md has no smb.conf lines");
    std::string conf;
    for (at += intro.size(); at < guide.size();) {
        const size_t end = guide.find('\n', at);
        const std::string line = guide.substr(at, end - at);
        if (!line.empty() && line.rfind("    ", 0) != 0) break;
        conf += (line.empty() ? line : line.substr(4)) + "\n";
        at = end + 1;
    }
    return conf;
}

void ReplaceOnce(std::string& text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("the guide's smb.conf lacks \"" + from + "\"");
    text.replace(at, from.size(), to);
}

// One smbd of our own. The guide's lines, with the test's directory and group,
// plus what keeps this smbd off the machine's own: its port, loopback, its
// state under dir. The clients log in as the guest, a user of the clients'
// side other than the server's (nobody, when we are root).
class TSamba {
public:
    TSamba(const std::string& dir, const std::string& share, const std::string& group, const std::string& guest)
        : Dir_(dir), Port_(FreePort()) {
        for (const char* sub : {"private", "lock", "state", "cache", "pid"})
            std::filesystem::create_directories(dir + sub);
        std::string conf = GuideSmbConf();
        ReplaceOnce(conf, "path = /srv/kavel", "path = " + share);
        ReplaceOnce(conf, "force group = kavel", "force group = " + group);
        std::string own = "[global]\n";
        for (const std::string& line :
             {"smb ports = " + std::to_string(Port_), std::string("interfaces = 127.0.0.1"),
              std::string("bind interfaces only = yes"), std::string("disable netbios = yes"),
              std::string("load printers = no"), std::string("printcap name = /dev/null"),
              std::string("map to guest = Bad User"), "guest account = " + guest, "private dir = " + dir + "private",
              "lock directory = " + dir + "lock", "state directory = " + dir + "state",
              "cache directory = " + dir + "cache", "pid directory = " + dir + "pid",
              "ncalrpc dir = " + dir + "lock/ncalrpc", "log file = " + dir + "smbd.log"})
            own += "   " + line + "\n";
        ReplaceOnce(conf, "[global]\n", own);
        conf += "   guest ok = yes\n";
        WriteAll(dir + "smb.conf", conf);
        // What a Windows client sends: Unicode names, from UTF-8 here.
        WriteAll(dir + "client.conf", "[global]\n   unix charset = UTF-8\n   client min protocol = SMB2\n");

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir + "smbd.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const std::string confArg = "--configfile=" + dir + "smb.conf";
        // Without --no-process-group it makes a session of its own: at its
        // end smbd signals its whole process group, which must not be ours.
        const char* argv[] = {"smbd", "--foreground", "--debug-stdout", confArg.c_str(), nullptr};
        const int err = ::posix_spawnp(&Pid_, "smbd", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (err != 0) {
            Pid_ = -1;
            Error = "smbd cannot be run: " + std::string(std::strerror(err));
            return;
        }
        for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(PatienceMs);;) {
            if (!ConnectionRefused(Port_)) return;
            if (::waitpid(Pid_, nullptr, WNOHANG) == Pid_) {
                Pid_ = -1;
                break;
            }
            if (std::chrono::steady_clock::now() > until) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Error = "smbd did not listen on 127.0.0.1:" + std::to_string(Port_) + ":\n" + ReadAll(dir + "smbd.out");
    }
    ~TSamba() {
        if (Pid_ <= 0) return;
        ::kill(Pid_, SIGTERM);
        ::waitpid(Pid_, nullptr, 0);
    }

    // smbclient's commands against the share; the output on failure.
    std::string Client(const std::string& commands) const {
        const auto [code, output] = Run("smbclient --configfile=" + Quote(Dir_ + "client.conf") +
                                        " //127.0.0.1/kavel -p " + std::to_string(Port_) + " -N -c " + Quote(commands));
        return code == 0 && output.find("NT_STATUS_") == std::string::npos ? "" : output;
    }

    std::string Error;

private:
    std::string Dir_;
    std::uint16_t Port_;
    pid_t Pid_ = -1;
};

TServerFiles* Files;
TSamba* Samba;
gid_t ShareGroup;

const std::string Aoki = "青木";  // CP932: 90 C2 96 D8
std::string Key(const std::string& name) {
    return PercentEncode(name, [](unsigned char c) { return c >= 0x80; });
}
std::string Utf8(const std::string& cp932) { return Cp932ToUtf8(cp932, TBadBytes::Replace); }

void ExpectGuideMode(const std::string& name) {
    struct stat info {};
    ASSERT_EQ(::stat((Files->Office() + name).c_str(), &info), 0) << Utf8(name);
    EXPECT_EQ(info.st_mode & 07777, 0664u) << Utf8(name);
    EXPECT_EQ(info.st_gid, ShareGroup) << Utf8(name);
}

// What the share hands a client is the file on disk, byte for byte.
void ExpectSameThroughTheShare(const std::string& name) {
    const std::string copy = Files->Path("copy");
    ASSERT_EQ(Samba->Client("get " + Utf8(name) + " " + copy), "");
    EXPECT_EQ(ReadAll(copy), ReadAll(Files->Office() + name)) << Utf8(name);
}

TEST(SambaShare, TheClientsFilesReachTheServerAndItsWritesReadBackWithTheGuidesModes) {
    const std::string person =
        "\"ｱｵｷ\"\r\n\"青木 新\"\r\n\"営業部\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"127.0.0.1\"\r\n\"0\"\r\n";
    const std::string message = "○共有から\r\n窓口で受け取りました\r\n\r\n";
    WriteAll(Files->Path("person"), person);
    WriteAll(Files->Path("message"), message);
    ASSERT_EQ(Samba->Client("put " + Files->Path("person") + " " + Utf8(Aoki) + ".kvl; put " + Files->Path("message") +
                            " " + Utf8(Aoki) + ".mil"),
              "");
    // Unicode names on the wire are Shift-JIS bytes on disk.
    EXPECT_EQ(ReadAll(Files->Office() + Aoki + ".kvl"), person);
    EXPECT_EQ(ReadAll(Files->Office() + Aoki + ".mil"), message);
    for (const char* suffix : {".kvl", ".mil"}) ExpectGuideMode(Aoki + suffix);

    TServerProcess server(*Files);
    ASSERT_TRUE(server.WaitReady());
    EXPECT_NE(HttpGet(Files->Port(), "/keiziban").Body.find("青木 新"), std::string::npos);
    EXPECT_NE(HttpGet(Files->Port(), "/udengoncheck?user=" + Key(Aoki)).Body.find("窓口で受け取りました"),
              std::string::npos);

    // A prepend and an absence on the clients' files, and a first message
    // that makes a new file.
    EXPECT_EQ(HttpGet(Files->Port(),
                      "/udengonsendresult?user=" + Key(Aoki) + "&sender=s&dengonmessage=" + Key("折り返してください"))
                  .Status,
              200);
    EXPECT_EQ(HttpGet(Files->Port(), "/uhuzaisetsubmit?user=" + Key(Aoki) +
                                         "&modoritype=nolimit&statusicon=1&huzairiyu=" + Key("外出"))
                  .Status,
              200);
    EXPECT_EQ(HttpGet(Files->Port(), "/udengonsendresult?user=mori&sender=s&dengonmessage=first").Status, 200);
    const std::string mil = ReadAll(Files->Office() + Aoki + ".mil");
    EXPECT_NE(mil.find("折り返してください"), std::string::npos);
    EXPECT_EQ(mil.substr(mil.size() - message.size()), message);
    EXPECT_NE(ReadAll(Files->Office() + Aoki + ".kvl").find("外出"), std::string::npos);
    for (const std::string& name : {Aoki + ".kvl", Aoki + ".mil", std::string("mori.mil")}) {
        ExpectGuideMode(name);
        ExpectSameThroughTheShare(name);
    }
}

// The server's prepend is kept in flight (a reader of ours holds the file)
// while a client adds a message at the end through the share; then it goes
// through. The client's user may write the file the server made only through
// the group.
TEST(SambaShare, APrependInFlightWhileAClientAppendsKeepsBoth) {
    TServerProcess server(*Files);
    ASSERT_TRUE(server.WaitReady());
    const std::string path = Files->Office() + "katou.mil";
    ASSERT_EQ(HttpGet(Files->Port(), "/udengonsendresult?user=katou&sender=s&dengonmessage=one").Status, 200);
    ExpectGuideMode("katou.mil");

    const int held = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_SH), 0);
    auto prepend = std::async(std::launch::async, [&] {
        return HttpGet(Files->Port(), "/udengonsendresult?user=katou&sender=s&dengonmessage=two").Status;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let it reach the lock; either way it must hold
    const std::string appended = "○client\r\nappended through the share\r\n\r\n";
    WriteAll(Files->Path("local"), ReadAll(path) + appended);
    // The client writes the file with its message at the end, in place (its
    // reput would append, but writes at offset 0 on Samba 4.17).
    const std::string clientError = Samba->Client("put " + Files->Path("local") + " katou.mil");
    ::close(held);
    EXPECT_EQ(prepend.get(), 200);
    ASSERT_EQ(clientError, "");

    const std::string mil = ReadAll(path);
    const size_t two = mil.find("two"), one = mil.find("one"), client = mil.find(appended);
    EXPECT_TRUE(two < one && one < client && client != std::string::npos) << Utf8(mil);
    ExpectGuideMode("katou.mil");
    ExpectSameThroughTheShare("katou.mil");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // As the unit runs the service.
    ::umask(0002);
    TServerFiles files;
    Files = &files;
    // The clients' side: another user when we may (root), else ourselves;
    // the share's group one the guest is not in, so only the guide's group
    // bits let it write what the server made.
    const bool root = ::geteuid() == 0;
    const passwd* me = ::getpwuid(::geteuid());
    const group* shared = root ? ::getgrnam("users") : ::getgrgid(::getegid());
    if (!me || !shared) {
        std::cout << "no user or group entry for the share\n";
        return 1;
    }
    ShareGroup = shared->gr_gid;
    std::filesystem::permissions(files.Path(""), std::filesystem::perms(0755));
    if (::chown(files.Office().c_str(), ::geteuid(), ShareGroup) != 0 || ::chmod(files.Office().c_str(), 02775) != 0) {
        std::cout << "the share's directory cannot be given its group\n";
        return 1;
    }
    std::filesystem::create_directory(files.Path("samba"));
    TSamba samba(files.Path("samba/"), files.Office(), shared->gr_name, root ? "nobody" : me->pw_name);
    if (!samba.Error.empty()) {
        std::cout << "SKIP: " << samba.Error << "\n";
        return 77;
    }
    Samba = &samba;
    return RUN_ALL_TESTS();
}
