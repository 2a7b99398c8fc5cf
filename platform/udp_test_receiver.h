#pragma once

// A UDP socket on 127.0.0.1 with a port the system picks, for tests that
// need to see what was sent. Receive gives up after a few seconds so a
// missing datagram fails the test instead of hanging it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

class TUdpTestReceiver {
public:
    struct TDatagram {
        std::string Bytes;
        uint16_t SourcePort = 0;
        std::string SourceAddress;
    };

    TUdpTestReceiver() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) throw std::runtime_error("socket failed");
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        local.sin_port = 0;
        socklen_t length = sizeof local;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
            ::close(fd_);
            throw std::runtime_error("bind failed");
        }
        port_ = ntohs(local.sin_port);
        const int buffer = 1 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        timeval wait{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~TUdpTestReceiver() { ::close(fd_); }
    TUdpTestReceiver(const TUdpTestReceiver&) = delete;
    TUdpTestReceiver& operator=(const TUdpTestReceiver&) = delete;

    uint16_t Port() const { return port_; }

    // The next datagram, or nothing when none came in time.
    std::optional<TDatagram> Receive() {
        std::string buffer(70000, '\0');
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) return std::nullopt;
        buffer.resize(static_cast<size_t>(got));
        char address[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
        return TDatagram{buffer, ntohs(from.sin_port), address};
    }

    // True when no datagram is waiting right now.
    bool Empty() {
        char byte;
        return ::recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_PEEK) < 0;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};
