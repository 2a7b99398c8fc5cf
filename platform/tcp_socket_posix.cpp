#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace {

int Fd(TSocketHandle h) { return static_cast<int>(h); }

ESocketError Failure(const std::string& what, int error) {
    return ESocketError(what + ": " + std::strerror(error), error);
}

}  // namespace

void TTcpSocket::Close() noexcept {
    if (Handle_ != InvalidSocketHandle) {
        ::close(Fd(Handle_));
        Handle_ = InvalidSocketHandle;
    }
}

TTcpSocket TTcpSocket::Connect(const std::string& ipv4, std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, ipv4.c_str(), &addr.sin_addr) != 1) throw ESocketError("Not an IPv4 address: " + ipv4);
    TTcpSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.IsOpen()) throw Failure("socket", errno);
    int rc;
    do {
        rc = ::connect(Fd(s.Handle_), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) throw Failure("connect to " + ipv4 + ":" + std::to_string(port), errno);
    return s;
}

void TTcpSocket::SetReceiveTimeout(int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    if (::setsockopt(Fd(Handle_), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) throw Failure("setsockopt", errno);
}

TIoResult TTcpSocket::Receive(char* buffer, std::size_t size) noexcept {
    for (;;) {
        ssize_t n = ::recv(Fd(Handle_), buffer, size, 0);
        if (n > 0) return {TIoStatus::Ok, static_cast<std::size_t>(n)};
        if (n == 0) return {TIoStatus::Closed, 0};
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return {TIoStatus::WouldBlock, 0};
        return {TIoStatus::Failed, 0};
    }
}

TIoResult TTcpSocket::Send(std::span<const std::string_view> parts) noexcept {
    constexpr std::size_t MaxParts = 8;
    iovec iov[MaxParts];
    std::size_t count = 0;
    for (std::string_view p : parts) {
        if (p.empty()) continue;
        if (count == MaxParts) break;  // the rest goes with the next call
        iov[count].iov_base = const_cast<char*>(p.data());
        iov[count].iov_len = p.size();
        ++count;
    }
    if (count == 0) return {TIoStatus::Ok, 0};
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = count;
    for (;;) {
        ssize_t n = ::sendmsg(Fd(Handle_), &msg, MSG_NOSIGNAL);
        if (n >= 0) return {TIoStatus::Ok, static_cast<std::size_t>(n)};
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return {TIoStatus::WouldBlock, 0};
        if (errno == EPIPE || errno == ECONNRESET) return {TIoStatus::Closed, 0};
        return {TIoStatus::Failed, 0};
    }
}

void TTcpSocket::ShutdownSend() noexcept {
    if (IsOpen()) ::shutdown(Fd(Handle_), SHUT_WR);
}

void TTcpListener::Open(std::uint16_t port, int backlog) {
    Close();
    TTcpSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s.IsOpen()) throw Failure("Could not create socket", errno);
    // A restart must not wait for the old connections' TIME_WAIT.
    int one = 1;
    ::setsockopt(Fd(s.Handle()), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (::bind(Fd(s.Handle()), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw Failure("Could not bind socket to port " + std::to_string(port), errno);
    if (::listen(Fd(s.Handle()), backlog) != 0)
        throw Failure("Could not listen on port " + std::to_string(port), errno);
    socklen_t len = sizeof addr;
    if (::getsockname(Fd(s.Handle()), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw Failure("getsockname", errno);
    Port_ = ntohs(addr.sin_port);
#ifdef TCP_DEFER_ACCEPT
    // Wake us when the request has come, not at the handshake: one wake-up and
    // no poller registration per connection instead of two, and a connection
    // that never sends waits in the kernel, not in our connection table.
    int deferSeconds = 1;
    ::setsockopt(Fd(s.Handle()), IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds, sizeof deferSeconds);
#endif
    Socket_ = std::move(s);
}

void TTcpListener::Shutdown() noexcept {
    if (Socket_.IsOpen()) ::shutdown(Fd(Socket_.Handle()), SHUT_RDWR);
}

TAcceptStatus TTcpListener::Accept(TAcceptedConnection& out) noexcept {
    for (;;) {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        int fd =
            ::accept4(Fd(Socket_.Handle()), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            out.Socket = TTcpSocket(fd);
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
            out.RemoteAddress.assign(text);
            out.RemotePort = ntohs(addr.sin_port);
            return TAcceptStatus::Accepted;
        }
        switch (errno) {
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
                continue;
            case EMFILE:
            case ENFILE:
            case ENOBUFS:
            case ENOMEM:
                return TAcceptStatus::Exhausted;
            default:
                return TAcceptStatus::None;
        }
    }
}
