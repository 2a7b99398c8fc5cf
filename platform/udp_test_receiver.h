#pragma once

// A UDP socket on 127.0.0.1 with a port the system picks, for tests that
// need to see what was sent. Receive gives up after a few seconds so a
// missing datagram fails the test instead of hanging it.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

// A datagram socket bound to one loopback address, on either system.
class TTestUdpSocket {
public:
    TTestUdpSocket() {
#ifdef _WIN32
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
        Socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (Socket_ == INVALID_SOCKET) throw std::runtime_error("socket failed");
#else
        Socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (Socket_ < 0) throw std::runtime_error("socket failed");
#endif
    }
    ~TTestUdpSocket() {
#ifdef _WIN32
        ::closesocket(Socket_);
        WSACleanup();
#else
        ::close(Socket_);
#endif
    }
    TTestUdpSocket(const TTestUdpSocket&) = delete;
    TTestUdpSocket& operator=(const TTestUdpSocket&) = delete;

    // Binds to address and port (0: the system picks); false when it cannot.
    bool Bind(const std::string& address, uint16_t port) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) return false;
        socklen_t length = sizeof local;
        if (::bind(Socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::getsockname(Socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            return false;
        Port_ = ntohs(local.sin_port);
        return true;
    }
    uint16_t Port() const { return Port_; }

    void SetReceiveTimeout(int seconds) {
#ifdef _WIN32
        const DWORD wait = seconds * 1000;
#else
        const timeval wait{seconds, 0};
#endif
        ::setsockopt(Socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
    }
    void SetReceiveBuffer(int bytes) {
        ::setsockopt(Socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
    }

    // The next datagram into buffer (resized to it); false when none came in time.
    bool Receive(std::string& buffer, std::string* fromAddress = nullptr, uint16_t* fromPort = nullptr) {
        buffer.assign(70000, '\0');
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const auto got = ::recvfrom(Socket_, buffer.data(), static_cast<int>(buffer.size()), 0,
                                    reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) {
            buffer.clear();
            return false;
        }
        buffer.resize(static_cast<size_t>(got));
        if (fromAddress) {
            char address[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
            *fromAddress = address;
        }
        if (fromPort) *fromPort = ntohs(from.sin_port);
        return true;
    }

    // True when a datagram is waiting right now.
    bool Pending() {
#ifdef _WIN32
        fd_set read;
        FD_ZERO(&read);
        FD_SET(Socket_, &read);
        timeval none{0, 0};
        return ::select(0, &read, nullptr, nullptr, &none) > 0;
#else
        char byte;
        return ::recv(Socket_, &byte, 1, MSG_DONTWAIT | MSG_PEEK) >= 0;
#endif
    }

private:
#ifdef _WIN32
    SOCKET Socket_ = INVALID_SOCKET;
#else
    int Socket_ = -1;
#endif
    uint16_t Port_ = 0;
};

class TUdpTestReceiver {
public:
    struct TDatagram {
        std::string Bytes;
        uint16_t SourcePort = 0;
        std::string SourceAddress;
    };

    TUdpTestReceiver() {
        if (!Socket_.Bind("127.0.0.1", 0)) throw std::runtime_error("bind failed");
        Socket_.SetReceiveBuffer(1 << 20);
        Socket_.SetReceiveTimeout(5);
    }

    uint16_t Port() const { return Socket_.Port(); }

    // The next datagram, or nothing when none came in time.
    std::optional<TDatagram> Receive() {
        TDatagram got;
        if (!Socket_.Receive(got.Bytes, &got.SourceAddress, &got.SourcePort)) return std::nullopt;
        return got;
    }

    // True when no datagram is waiting right now.
    bool Empty() { return !Socket_.Pending(); }

private:
    TTestUdpSocket Socket_;
};
