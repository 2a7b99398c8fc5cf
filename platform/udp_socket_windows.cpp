#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/udp_socket.h"

namespace {

void StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw SocketError(0, "WSAStartup failed");
}

// WinSock reports through WSAGetLastError; the portable code reads errno.
// The few values it acts on become their errno names, the rest stay
// WinSock codes.
int ErrnoFromWinsock(int error) {
    switch (error) {
        case WSAEMSGSIZE: return EMSGSIZE;
        case WSAEINTR: return EINTR;
        default: return error;
    }
}

long SystemSendTo(int fd, const void* data, size_t size, const TInet4Address& address, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    std::memcpy(&to.sin_addr.s_addr, address.Octets.data(), 4);
    const int sent = ::sendto(static_cast<SOCKET>(fd), static_cast<const char*>(data), static_cast<int>(size), 0,
                              reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent == SOCKET_ERROR) {
        errno = ErrnoFromWinsock(WSAGetLastError());
        return -1;
    }
    return sent;
}

}  // namespace

ESocketError SystemSocketError(int errorCode) {
    // errno values are small; WinSock's start at 10000.
    const std::error_category& category = errorCode < WSABASEERR ? std::generic_category() : std::system_category();
    std::string text = category.message(errorCode);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return SocketError(errorCode, text);
}

TInet4Address SystemResolve(const std::string& hostName) {
    StartWinsock();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(hostName.c_str(), nullptr, &hints, &found);
    if (result != 0) throw SystemSocketError(result);
    TInet4Address address;
    bool any = false;
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        if (at->ai_family != AF_INET || at->ai_addr == nullptr) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(at->ai_addr);
        std::memcpy(address.Octets.data(), &in->sin_addr.s_addr, 4);
        any = true;
        break;
    }
    ::freeaddrinfo(found);
    if (!any) throw SystemSocketError(WSAHOST_NOT_FOUND);
    return address;
}

TUdpSocket::~TUdpSocket() { Close(); }

void TUdpSocket::Open() {
    if (IsOpen()) return;
    std::lock_guard<std::mutex> hold(openLock_);
    if (IsOpen()) return;
    StartWinsock();
    const SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) throw SystemSocketError(WSAGetLastError());
    const BOOL off = FALSE;
    if (::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&off), sizeof off) != 0) {
        const int error = WSAGetLastError();
        ::closesocket(s);
        throw SystemSocketError(error);
    }
    // Socket handles are kernel handles, which fit in 32 bits.
    fd_.store(static_cast<int>(s), std::memory_order_release);
}

void TUdpSocket::Close() {
    std::lock_guard<std::mutex> hold(openLock_);
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::closesocket(static_cast<SOCKET>(fd));
}

void TUdpSocket::SendTo(const TInet4Address& address, int32_t port, std::string_view bytes) {
    if (port < 0 || port > 65535) throw SystemSocketError(EINVAL);
    Open();
    const int fd = Handle();
    long sent;
    do {
        sent = sendTo_ ? sendTo_(fd, bytes.data(), bytes.size(), address, static_cast<uint16_t>(port))
                       : SystemSendTo(fd, bytes.data(), bytes.size(), address, static_cast<uint16_t>(port));
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        const int error = errno;
        if (error == EMSGSIZE) throw ESocketError("Package Size Too Big.", error);
        throw SystemSocketError(error);
    }
    if (static_cast<size_t>(sent) != bytes.size()) throw ESocketError("Not all bytes sent.", 0);
}
