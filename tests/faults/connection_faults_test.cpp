// Clients that connect and then send nothing, or half a request, must not
// take the server from everybody else: with 2,000 of them open, ordinary
// requests are still answered, and the server holds a bounded number of
// connections and threads instead of one of each per client. And the
// opposite: on a quiet server each lone request is answered by itself.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>  // also the clocks; <chrono> itself does not compile for CP932
#include <vector>

#include <gtest/gtest.h>

#include "tests/server_harness.h"

namespace {

constexpr size_t IdleCount = 2000;
constexpr size_t OurSpareFiles = 200;
// The server's bound on connections in service (its default).
constexpr size_t ServerMaxConnections = 1024;

// Raises the soft limit of open files (the server inherits it) to what the
// test needs; false when the hard limit does not allow it.
bool EnoughFileDescriptors() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    const rlim_t need = IdleCount + OurSpareFiles;
    if (limit.rlim_cur >= need) return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < need) return false;
    limit.rlim_cur = need;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

// Non-blocking connections to the port, each opened, none used.
class TIdleClients {
public:
    explicit TIdleClients(std::uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (size_t i = 0; i < IdleCount; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0) break;
            Fds_.push_back(fd);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS)
                ++Refused_;
        }
    }
    ~TIdleClients() {
        for (int fd : Fds_) ::close(fd);
    }
    TIdleClients(const TIdleClients&) = delete;
    TIdleClients& operator=(const TIdleClients&) = delete;

    // Waits until every connection is made (or patience ends); returns how many are.
    size_t WaitConnected() {
        std::vector<bool> done(Fds_.size(), false);
        size_t connected = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PatienceMs);
        while (connected + Refused_ < Fds_.size() && std::chrono::steady_clock::now() < deadline) {
            std::vector<pollfd> waiting;
            std::vector<size_t> which;
            for (size_t i = 0; i < Fds_.size(); ++i)
                if (!done[i]) {
                    waiting.push_back({Fds_[i], POLLOUT, 0});
                    which.push_back(i);
                }
            if (::poll(waiting.data(), waiting.size(), 100) <= 0) continue;
            for (size_t k = 0; k < waiting.size(); ++k) {
                if (waiting[k].revents == 0) continue;
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(waiting[k].fd, SOL_SOCKET, SO_ERROR, &error, &length);
                done[which[k]] = true;
                if (error == 0)
                    ++connected;
                else
                    ++Refused_;
            }
        }
        return connected;
    }

    // Every step-th connection sends the start of a request and stops there.
    void SendHalfRequests(size_t step) {
        const std::string half = "GET /keiziban HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html";
        for (size_t i = 0; i < Fds_.size(); i += step) ::send(Fds_[i], half.data(), half.size(), MSG_NOSIGNAL);
    }

    size_t Opened() const { return Fds_.size(); }

    // How many the server has closed: none of them was ever answered, so
    // anything readable is the end of the stream or a reset.
    size_t ClosedByServer() const {
        std::vector<pollfd> all;
        for (int fd : Fds_) all.push_back({fd, POLLIN, 0});
        if (::poll(all.data(), all.size(), 0) < 0) return 0;
        size_t closed = 0;
        for (const pollfd& p : all)
            if (p.revents != 0) ++closed;
        return closed;
    }

private:
    std::vector<int> Fds_;
    size_t Refused_ = 0;
};

size_t OpenFilesOf(pid_t pid) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        ++n;
    return n;
}

int ThreadsOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
    return -1;
}

TEST(IdleConnections, TwoThousandDoNotStopAnOrdinaryRequest) {
    if (!EnoughFileDescriptors()) GTEST_SKIP() << "the open-file limit is below " << IdleCount + OurSpareFiles;
    TServerFiles files;
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady()) << server.EventText();

    TIdleClients idle(files.Port());
    ASSERT_EQ(idle.Opened(), IdleCount);
    ASSERT_EQ(idle.WaitConnected(), IdleCount);
    idle.SendHalfRequests(4);
    // Beyond its bound the server cuts the oldest unfinished connections to
    // make room. Wait until it has cut all it will: every connection beyond
    // the bound, or fewer when the kernel turned some clients away while a
    // slow (sanitized) server let its accept queue fill; those never reach it.
    size_t closed = 0;
    int unchangedMs = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PatienceMs);
    while (closed < IdleCount - ServerMaxConnections && !(closed > 0 && unchangedMs >= 2000) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const size_t now = idle.ClosedByServer();
        unchangedMs = now == closed ? unchangedMs + 100 : 0;
        closed = now;
    }
    EXPECT_GT(closed, 0u) << "no connection beyond the bound reached the server";

    for (int i = 0; i < 10; ++i) {
        const THttpAnswer board = HttpGet(files.Port(), "/keiziban");
        EXPECT_EQ(board.Status, 200);
        EXPECT_NE(board.Body.find("</HTML>"), std::string::npos);
        EXPECT_EQ(HttpGet(files.Port(), "/bg.jpg").Status, 200);
    }
    // Bounded, not one per client.
    EXPECT_LT(OpenFilesOf(server.Pid()), ServerMaxConnections + 64);
    EXPECT_LT(ThreadsOf(server.Pid()), 64);

    const std::string events = server.EventText();
    EXPECT_EQ(events.find("Sanitizer"), std::string::npos) << events;
}

// A quiet office: one request now and then, each on a fresh connection. Every
// one is answered without waiting for the next client to come along.
TEST(IdleConnections, SparseRequestsAreEachAnsweredOnTheirOwn) {
    TServerFiles files;
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady()) << server.EventText();
    const int pausesMs[] = {0, 1, 3, 10, 30, 100};
    for (int i = 0; i < 36; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pausesMs[i % std::size(pausesMs)]));
        EXPECT_EQ(HttpGet(files.Port(), i % 2 ? "/bg.jpg" : "/uinfo?user=yamada").Status, 200) << "request " << i;
    }
}

}  // namespace
