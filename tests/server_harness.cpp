#include "tests/server_harness.h"
#include "platform/unique_fd_posix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

constexpr int PollStepMs = 20;

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(PollStepMs)); }

std::string ReadFile(const std::string& path) {
    TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) return {};
    std::string out;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    TUniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.Get() < 0) Fail("open " + path);
    if (::write(fd.Get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) Fail("write " + path);
}

// "yyyy/mm/dd hh:nn:ss " opens every record.
bool StartsRecord(const std::string& line) {
    static const char shape[] = "0000/00/00 00:00:00 ";
    if (line.size() < sizeof shape - 1 + 7) return false;
    for (size_t i = 0; i + 1 < sizeof shape; ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == '0' ? !digit : line[i] != shape[i]) return false;
    }
    return true;
}

}  // namespace

std::uint16_t FreePort() {
    TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) Fail("socket");
    sockaddr_in address = Loopback(0);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
    socklen_t length = sizeof address;
    if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail("getsockname");
    return ntohs(address.sin_port);
}

TServerFiles::TServerFiles() {
    std::filesystem::create_directory(Home());
    std::filesystem::copy(QUORWELL_SAMPLE_OFFICE, Office());
    SetHttpPort(FreePort());
    // A section header line is no hindrance, and the quotes go.
    WriteQuorIni("[Quorwell]\r\nQUOR_CommonDirectory=\"" + Office() + "\"\r\n");
}

void TServerFiles::WriteQuorIni(const std::string& bytes) const { WriteFile(Home() + "quor.ini", bytes); }

void TServerFiles::SetHttpPort(std::uint16_t port) {
    const std::string path = Office() + "kavel.ini";
    std::string ini = ReadFile(path);
    const size_t at = ini.find("QUOR_Port=");
    if (at == std::string::npos) throw std::runtime_error("the sample kavel.ini names no QUOR_Port");
    const size_t end = ini.find("\r\n", at);
    ini.replace(at, end - at, "QUOR_Port=" + std::to_string(port));
    WriteFile(path, ini);
    Port_ = port;
}

void TServerFiles::RemoveFile(const std::string& path) const { std::filesystem::remove(path); }

std::vector<TLogRecord> TServerFiles::LogRecords() const {
    const std::string log = ReadFile(Home() + "QUOR.LOG");
    std::vector<TLogRecord> records;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find("\r\n", at);
        if (end == std::string::npos) break;  // a line still being written
        const std::string line = log.substr(at, end - at);
        at = end + 2;
        if (StartsRecord(line))
            records.push_back({line.substr(20, 7), line.substr(27)});
        else if (!records.empty())
            records.back().Text += "\r\n" + line;
    }
    return records;
}

std::vector<std::string> TServerFiles::LogTexts() const {
    std::vector<std::string> texts;
    for (const TLogRecord& r : LogRecords()) texts.push_back(r.Text);
    return texts;
}

int TServerFiles::CountLog(const std::string& text) const {
    int count = 0;
    for (const TLogRecord& r : LogRecords()) count += r.Text.find(text) != std::string::npos;
    return count;
}

bool TServerFiles::WaitForLog(const std::string& text) const {
    for (int waited = 0; waited < PatienceMs; waited += PollStepMs) {
        if (CountLog(text) > 0) return true;
        Pause();
    }
    return false;
}

TServerProcess::TServerProcess(const TServerFiles& files) : Files_(files) {
    const std::string notifyPath = files.Path("notify");
    Notify_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (Notify_ < 0) Fail("socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (notifyPath.size() >= sizeof address.sun_path) throw std::runtime_error("temp path too long");
    std::memcpy(address.sun_path, notifyPath.c_str(), notifyPath.size() + 1);
    std::filesystem::remove(notifyPath);
    if (::bind(Notify_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind " + notifyPath);

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("QUORWELL_", 0) == 0 || entry.rfind("NOTIFY_SOCKET=", 0) == 0) continue;
        env.push_back(entry);
    }
    env.push_back("QUORWELL_HOME=" + files.Home());
    env.push_back("QUORWELL_EVENT_LOG=stderr");
    env.push_back("NOTIFY_SOCKET=" + notifyPath);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const std::string out = files.Path("stdout");
    const std::string err = files.Path("stderr");
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // QUORWELL_TEST_EXECUTABLE runs the tests against another build.
    const char* other = std::getenv("QUORWELL_TEST_EXECUTABLE");
    std::string program = other != nullptr && *other != '\0' ? other : QUORWELL_EXECUTABLE;
    char* argv[] = {program.data(), nullptr};
    const int rc = posix_spawn(&Pid_, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        errno = rc;
        Fail("posix_spawn " + program);
    }
}

TServerProcess::~TServerProcess() {
    if (!Ended_ && Pid_ > 0) {
        ::kill(Pid_, SIGKILL);
        int status = 0;
        while (::waitpid(Pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (Notify_ >= 0) ::close(Notify_);
}

void TServerProcess::Signal(int signal) const {
    if (!Ended_) ::kill(Pid_, signal);
}

std::optional<int> TServerProcess::WaitExit() {
    for (int waited = 0; waited < PatienceMs; waited += PollStepMs) {
        int status = 0;
        const pid_t got = ::waitpid(Pid_, &status, WNOHANG);
        if (got == Pid_) {
            Ended_ = true;
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return std::nullopt;
        }
        Pause();
    }
    return std::nullopt;
}

std::string TServerProcess::NextNotification() {
    for (int waited = 0; waited < PatienceMs; waited += PollStepMs) {
        pollfd fd{Notify_, POLLIN, 0};
        if (::poll(&fd, 1, PollStepMs) > 0) {
            char buffer[512];
            const ssize_t n = ::recv(Notify_, buffer, sizeof buffer, 0);
            if (n >= 0) return std::string(buffer, static_cast<size_t>(n));
        }
        if (!Ended_) {
            siginfo_t info{};
            // Gone (left for WaitExit to collect): anything it sent is already queued.
            if (::waitid(P_PID, static_cast<id_t>(Pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == Pid_ && ::poll(&fd, 1, 0) <= 0)
                return {};
        }
    }
    return {};
}

bool TServerProcess::WaitReady() { return NextNotification() == "READY=1"; }

std::string TServerProcess::EventText() const { return ReadFile(Files_.Path("stderr")); }

std::optional<std::string> THttpAnswer::Header(const std::string& name) const {
    for (const auto& [n, v] : Headers)
        if (n == name) return v;
    return std::nullopt;
}

int THttpAnswer::HeaderIndex(const std::string& name) const {
    for (size_t i = 0; i < Headers.size(); ++i)
        if (Headers[i].first == name) return static_cast<int>(i);
    return -1;
}

int OpenRequest(std::uint16_t port, const std::string& target, const std::vector<std::string>& headers) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) Fail("socket");
    sockaddr_in address = Loopback(port);
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const std::string& h : headers) request += h + "\r\n";
    request += "\r\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        const int err = errno;
        ::close(fd);
        errno = err;
        Fail("request to port " + std::to_string(port));
    }
    return fd;
}

std::size_t ResidentBytes(pid_t pid) {
    const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmRSS:");
    if (at == std::string::npos) return 0;
    return std::stoull(status.substr(at + 6)) * 1024;
}

THttpAnswer HttpGet(std::uint16_t port, const std::string& target, const std::vector<std::string>& headers) {
    TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) Fail("socket");
    timeval timeout{PatienceMs / 1000, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address = Loopback(port);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        Fail("connect to port " + std::to_string(port));
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    for (const std::string& h : headers) request += h + "\r\n";
    request += "\r\n";
    if (::send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        Fail("send");
    std::string raw;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("recv");
        }
        raw.append(buffer, static_cast<size_t>(n));
    }

    THttpAnswer answer;
    const size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos) throw std::runtime_error("no complete answer head: " + raw);
    answer.Body = raw.substr(headEnd + 4);
    size_t at = raw.find("\r\n");
    answer.StatusLine = raw.substr(0, at);
    if (answer.StatusLine.rfind("HTTP/1.1 ", 0) != 0) throw std::runtime_error("bad status line: " + answer.StatusLine);
    answer.Status = std::stoi(answer.StatusLine.substr(9, 3));
    while (at < headEnd) {
        const size_t next = raw.find("\r\n", at + 2);
        const std::string line = raw.substr(at + 2, next - at - 2);
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) answer.Headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
        at = next;
    }
    return answer;
}

bool ConnectionRefused(std::uint16_t port) {
    TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) Fail("socket");
    sockaddr_in address = Loopback(port);
    return ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == ECONNREFUSED;
}
