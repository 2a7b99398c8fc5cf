#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/system_windows.h"
#include "platform/udp_socket.h"

namespace {

// WinSock reports through WSAGetLastError; the portable code reads errno.
// The few values it acts on become their errno names, the rest stay
// WinSock codes.
int ErrnoFromWinsock(int error) {
    switch (error) {
        case WSAEMSGSIZE:
            return EMSGSIZE;
        case WSAEINTR:
            return EINTR;
        default:
            return error;
    }
}

}  // namespace

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

ESocketError SystemSocketError(int errorCode) {
    // errno values are small; WinSock's start at 10000.
    const std::error_category& category = errorCode < WSABASEERR ? std::generic_category() : std::system_category();
    std::string text = category.message(errorCode);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return SocketError(errorCode, text);
}

TInet4Address SystemResolve(const std::string& hostName) {
    if (!StartWinsock()) throw SocketError(0, "WSAStartup failed");
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

void TUdpSocket::Open() {
    if (IsOpen()) return;
    std::lock_guard<std::mutex> hold(OpenLock_);
    if (IsOpen()) return;
    if (!StartWinsock()) throw SocketError(0, "WSAStartup failed");
    const SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) throw SystemSocketError(WSAGetLastError());
    const BOOL off = FALSE;
    if (::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&off), sizeof off) != 0) {
        const int error = WSAGetLastError();
        ::closesocket(s);
        throw SystemSocketError(error);
    }
    // Socket handles are kernel handles, which fit in 32 bits.
    Fd_.store(static_cast<int>(s), std::memory_order_release);
}

void TUdpSocket::Close() {
    std::lock_guard<std::mutex> hold(OpenLock_);
    const int fd = Fd_.exchange(-1);
    if (fd >= 0) ::closesocket(static_cast<SOCKET>(fd));
}
