#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "platform/system_windows.h"
#include "platform/tcp_socket.h"

namespace {

SOCKET Sock(TSocketHandle h) { return static_cast<SOCKET>(h); }

ESocketError Failure(const std::string& what, int error) {
    std::string message = WindowsMessage(static_cast<unsigned long>(error));
    if (message.empty()) message = "error " + std::to_string(error);
    return ESocketError(what + ": " + message, error);
}

TSocketHandle NewSocket() {
    if (!StartWinsock()) throw ESocketError("WSAStartup failed");
    // Not inherited by processes we start.
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    return s == INVALID_SOCKET ? InvalidSocketHandle : static_cast<TSocketHandle>(s);
}

bool SetNonBlocking(SOCKET s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

}  // namespace

// tcp_poller_windows.cpp: takes the handle out of every poller.
void ForgetPolledSocket(TSocketHandle socket) noexcept;

void TTcpSocket::Close() noexcept {
    if (Handle_ != InvalidSocketHandle) {
        ForgetPolledSocket(Handle_);
        ::closesocket(Sock(Handle_));
        Handle_ = InvalidSocketHandle;
    }
}

TTcpSocket TTcpSocket::Connect(const std::string& ipv4, std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, ipv4.c_str(), &addr.sin_addr) != 1) throw ESocketError("Not an IPv4 address: " + ipv4);
    TTcpSocket s(NewSocket());
    if (!s.IsOpen()) throw Failure("socket", WSAGetLastError());
    if (::connect(Sock(s.Handle_), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw Failure("connect to " + ipv4 + ":" + std::to_string(port), WSAGetLastError());
    return s;
}

void TTcpSocket::SetReceiveTimeout(int ms) {
    const DWORD wait = static_cast<DWORD>(ms);
    if (::setsockopt(Sock(Handle_), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait) != 0)
        throw Failure("setsockopt", WSAGetLastError());
}

TIoResult TTcpSocket::Receive(char* buffer, std::size_t size) noexcept {
    const int want = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    const int n = ::recv(Sock(Handle_), buffer, want, 0);
    if (n > 0) return {TIoStatus::Ok, static_cast<std::size_t>(n)};
    if (n == 0) return {TIoStatus::Closed, 0};
    switch (WSAGetLastError()) {
        case WSAEWOULDBLOCK:
        case WSAETIMEDOUT:  // the receive timeout of a blocking socket
        case WSAEINTR:
            return {TIoStatus::WouldBlock, 0};
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAESHUTDOWN:
            return {TIoStatus::Failed, 0};
        default:
            return {TIoStatus::Failed, 0};
    }
}

TIoResult TTcpSocket::Send(std::span<const std::string_view> parts) noexcept {
    constexpr std::size_t MaxParts = 8;
    WSABUF bufs[MaxParts];
    DWORD count = 0;
    for (std::string_view p : parts) {
        if (p.empty()) continue;
        if (count == MaxParts) break;  // the rest goes with the next call
        bufs[count].buf = const_cast<char*>(p.data());
        bufs[count].len = static_cast<ULONG>(p.size());
        ++count;
    }
    if (count == 0) return {TIoStatus::Ok, 0};
    DWORD sent = 0;
    if (::WSASend(Sock(Handle_), bufs, count, &sent, 0, nullptr, nullptr) == 0)
        return {TIoStatus::Ok, static_cast<std::size_t>(sent)};
    switch (WSAGetLastError()) {
        case WSAEWOULDBLOCK:
        case WSAEINTR:
            return {TIoStatus::WouldBlock, 0};
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAESHUTDOWN:
        case WSAENOTCONN:
            return {TIoStatus::Closed, 0};
        default:
            return {TIoStatus::Failed, 0};
    }
}

void TTcpSocket::ShutdownSend() noexcept {
    if (IsOpen()) ::shutdown(Sock(Handle_), SD_SEND);
}

void TTcpListener::Open(std::uint16_t port, int backlog) {
    Close();
    TTcpSocket s(NewSocket());
    if (!s.IsOpen()) throw Failure("Could not create socket", WSAGetLastError());
    // SO_REUSEADDR would let another program take the port from under us;
    // TIME_WAIT does not block a restart on Windows anyway.
    BOOL on = TRUE;
    ::setsockopt(Sock(s.Handle()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    if (!SetNonBlocking(Sock(s.Handle()))) throw Failure("Could not create socket", WSAGetLastError());
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    // With the exclusive option a connection of ours that is still closing
    // (a straggler of a stop that timed out) holds the port for a moment:
    // a reopen waits that long before it gives up.
    for (int waited = 0;; waited += 20) {
        if (::bind(Sock(s.Handle()), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
        const int error = WSAGetLastError();
        if (port == 0 || (error != WSAEACCES && error != WSAEADDRINUSE) || waited >= 2000)
            throw Failure("Could not bind socket to port " + std::to_string(port), error);
        Sleep(20);
    }
    if (::listen(Sock(s.Handle()), backlog) != 0)
        throw Failure("Could not listen on port " + std::to_string(port), WSAGetLastError());
    int len = sizeof addr;
    if (::getsockname(Sock(s.Handle()), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw Failure("getsockname", WSAGetLastError());
    Port_ = ntohs(addr.sin_port);
    Socket_ = std::move(s);
}

void TTcpListener::Shutdown() noexcept {
    // WinSock cannot shut a listening socket down; the workers are woken by
    // their own stop, and the handle stays ours until Close.
    if (Socket_.IsOpen()) ::shutdown(Sock(Socket_.Handle()), SD_BOTH);
}

TAcceptStatus TTcpListener::Accept(TAcceptedConnection& out) noexcept {
    for (;;) {
        sockaddr_in addr{};
        int len = sizeof addr;
        const SOCKET s = ::accept(Sock(Socket_.Handle()), reinterpret_cast<sockaddr*>(&addr), &len);
        if (s != INVALID_SOCKET) {
            // Accepted sockets inherit the listener's mode; say so anyway.
            SetNonBlocking(s);
            SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
            out.Socket = TTcpSocket(static_cast<TSocketHandle>(s));
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
            out.RemoteAddress.assign(text);
            out.RemotePort = ntohs(addr.sin_port);
            return TAcceptStatus::Accepted;
        }
        switch (WSAGetLastError()) {
            case WSAEINTR:
            case WSAECONNRESET:
                continue;
            case WSAEMFILE:
            case WSAENOBUFS:
                return TAcceptStatus::Exhausted;
            default:
                return TAcceptStatus::None;
        }
    }
}
