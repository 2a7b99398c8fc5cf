#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/udp_socket.h"

namespace {

sockaddr_in SocketAddress(const TInet4Address& address, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    std::memcpy(&to.sin_addr.s_addr, address.Octets.data(), 4);
    return to;
}

}  // namespace

long SystemSendTo(int fd, const void* data, size_t size, const TInet4Address& address, uint16_t port) {
    const sockaddr_in to = SocketAddress(address, port);
    return ::sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

ESocketError SystemSocketError(int errorCode) {
    return SocketError(errorCode, std::system_category().message(errorCode));
}

TInet4Address SystemResolve(const std::string& hostName) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(hostName.c_str(), nullptr, &hints, &found);
    if (result != 0) {
        if (result == EAI_SYSTEM) throw SystemSocketError(errno);
        throw SocketError(result, ::gai_strerror(result));
    }
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
    if (!any) throw SocketError(EAI_NONAME, ::gai_strerror(EAI_NONAME));
    return address;
}

void TUdpSocket::Open() {
    if (IsOpen()) return;
    std::lock_guard<std::mutex> hold(OpenLock_);
    if (IsOpen()) return;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw SystemSocketError(errno);
    const int off = 0;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &off, sizeof off) != 0) {
        const int error = errno;
        ::close(fd);
        throw SystemSocketError(error);
    }
    Fd_.store(fd, std::memory_order_release);
}

void TUdpSocket::Close() {
    std::lock_guard<std::mutex> hold(OpenLock_);
    const int fd = Fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}
