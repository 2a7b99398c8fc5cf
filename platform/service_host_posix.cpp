#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "platform/service_host.h"

namespace {

sigset_t ControlSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    // Reopens the logs after a rotation; never ends the service without its stop.
    sigaddset(&set, SIGHUP);
    return set;
}

[[noreturn]] void ThrowSystem(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

void BlockServiceSignals() {
    const sigset_t set = ControlSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A peer that hangs up must cost a failed write, not the process.
    signal(SIGPIPE, SIG_IGN);
}

TServiceSignalThread::TServiceSignalThread(TServiceHost& host) {
    BlockServiceSignals();
    const sigset_t set = ControlSignals();
    Source_ = signalfd(-1, &set, SFD_CLOEXEC);
    if (Source_ < 0) ThrowSystem("signalfd");
    Wake_ = eventfd(0, EFD_CLOEXEC);
    if (Wake_ < 0) {
        const int err = errno;
        close(Source_);
        errno = err;
        ThrowSystem("eventfd");
    }
    Thread_ = std::thread([this, &host] { Loop(host); });
}

TServiceSignalThread::~TServiceSignalThread() {
    const uint64_t one = 1;
    while (write(Wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    Thread_.join();
    close(Wake_);
    close(Source_);
}

void TServiceSignalThread::Loop(TServiceHost& host) {
    pollfd fds[2] = {{Source_, POLLIN, 0}, {Wake_, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if (fds[0].revents == 0) continue;
        signalfd_siginfo info;
        const ssize_t got = read(Source_, &info, sizeof info);
        if (got != static_cast<ssize_t>(sizeof info)) continue;
        switch (info.ssi_signo) {
            case SIGTERM:
            case SIGINT:
                host.Post(TServiceControl::Stop);
                break;
            case SIGUSR1:
                host.Post(TServiceControl::Pause);
                break;
            case SIGUSR2:
                host.Post(TServiceControl::Continue);
                break;
            case SIGHUP:
                host.HangUp();
                break;
            default:
                break;
        }
    }
}

void ReportServiceState(TServiceState /*state*/) {}

bool NotifyServiceManager(const std::string& path, const std::string& state) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() < 2 || path.size() >= sizeof address.sun_path || (path[0] != '/' && path[0] != '@')) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (path[0] == '@') address.sun_path[0] = '\0';
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (path[0] == '@' ? 0 : 1));
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ssize_t sent;
    do sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), length);
    while (sent < 0 && errno == EINTR);
    close(fd);
    return sent == static_cast<ssize_t>(state.size());
}
