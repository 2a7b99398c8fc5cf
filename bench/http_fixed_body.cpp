// A server on the HTTP layer that answers every request with one fixed body
// of about 14 KB (shared, not copied) and appends one access-log line per
// request under a mutex, for comparing with other servers under load
// (bench/http_vs_nginx.sh). Runs until SIGINT or SIGTERM.
//
//   http_fixed_body [--port N] [--bytes N] [--workers N] [--backlog N] [--log FILE] [--cpu-report FILE]
#include <fcntl.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "http/http_server.h"

namespace {

std::string MakeBody(std::size_t bytes) {
    std::string body = "<!DOCTYPE html>\n<html><head><title>Office board</title></head><body><table>\n";
    for (int i = 1; body.size() < bytes; ++i)
        body += "<tr><td>" + std::to_string(i) + "</td><td>Person " + std::to_string(i) +
                "</td><td class=\"in\">In</td><td>Room 101</td><td>09:00</td></tr>\n";
    body.resize(bytes > 16 ? bytes - 16 : bytes);
    body += "\n</table></body>";
    body.resize(bytes, '\n');
    return body;
}

class TAccessLog {
public:
    explicit TAccessLog(const char* path) : Fd_(::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {
        if (Fd_ < 0) {
            std::perror(path);
            std::exit(1);
        }
    }
    void Write(const TIdHTTPRequestInfo& req, int status, std::size_t bytes) {
        // Like nginx, the time text is made once a second (per thread here).
        thread_local std::time_t last = 0;
        thread_local char stamp[64];
        std::time_t now = std::time(nullptr);
        if (now != last) {
            std::tm tm{};
            ::localtime_r(&now, &tm);
            std::strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S %z", &tm);
            last = now;
        }
        std::string line = req.RemoteAddress + " - - [" + stamp + "] \"" + req.Method + " " + req.Target + " " +
                           req.ProtocolVersion + "\" " + std::to_string(status) + " " + std::to_string(bytes) + "\n";
        std::lock_guard lock(Mutex_);
        [[maybe_unused]] ssize_t n = ::write(Fd_, line.data(), line.size());
    }

private:
    int Fd_;
    std::mutex Mutex_;
};

}  // namespace

int main(int argc, char** argv) {
    int port = 18090;
    std::size_t bytes = 14109;
    int workers = 4;
    int backlog = -1;  // the server's own default
    const char* log = "/tmp/http_fixed_body-access.log";
    const char* cpuReport = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--port"))
            port = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--bytes"))
            bytes = std::strtoul(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--workers"))
            workers = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--backlog"))
            backlog = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--log"))
            log = argv[i + 1];
        else if (!std::strcmp(argv[i], "--cpu-report"))
            cpuReport = argv[i + 1];
        else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }

    // Signals are taken by sigwait below; every worker inherits the mask.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    auto body = std::make_shared<const std::string>(MakeBody(bytes));
    TAccessLog accessLog(log);
    TIdHTTPServer server;
    server.DefaultPort = static_cast<std::uint16_t>(port);
    server.ServerSoftware = "Quorwell 0.7";
    server.WorkerCount = workers;
    if (backlog > 0) server.ListenQueue = backlog;
    server.OnCommandGet = [&](TIdPeerThread&, const TIdHTTPRequestInfo& req, TIdHTTPResponseInfo& res) {
        res.BodyStream = std::make_unique<TBodyStream>(body);
        accessLog.Write(req, res.StatusCode, body->size());
    };
    try {
        server.Activate();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "listening on port %u, %zu-byte body, %d workers\n", server.BoundPort(), body->size(),
                 workers);
    int sig = 0;
    sigwait(&stop, &sig);
    server.Deactivate();
    THttpServerStatistics s = server.Statistics();
    std::fprintf(stderr, "accepted %llu answered %llu rejected %llu timed out %llu evicted %llu\n",
                 static_cast<unsigned long long>(s.Accepted), static_cast<unsigned long long>(s.Answered),
                 static_cast<unsigned long long>(s.Rejected), static_cast<unsigned long long>(s.TimedOut),
                 static_cast<unsigned long long>(s.Evicted));
    if (cpuReport) {
        // Own CPU time, for the per-response figure of the comparison script.
        std::FILE* f = std::fopen(cpuReport, "w");
        if (f) {
            std::timespec ts{};
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
            std::fprintf(f, "%.6f %llu\n", ts.tv_sec + ts.tv_nsec / 1e9, static_cast<unsigned long long>(s.Answered));
            std::fclose(f);
        }
    }
    return 0;
}
