#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/socket_error.h"

// "Socket Error # <code>\r\n<text>".
ESocketError SocketError(int errorCode, const std::string& text);
// SocketError with the system's text for an errno value.
ESocketError SystemSocketError(int errorCode);

struct TInet4Address {
    std::array<uint8_t, 4> Octets{};
    std::string ToString() const;  // dotted quad
    bool operator==(const TInet4Address&) const = default;
};

// Four dot-separated decimal numbers, each 0 to 255, nothing else.
bool ParseDottedQuad(std::string_view text, TInet4Address& address);

// Looks a host name up; raises ESocketError when it cannot.
using TNameResolver = std::function<TInet4Address(const std::string& hostName)>;

// The system resolver: the first IPv4 address of the name.
TInet4Address SystemResolve(const std::string& hostName);

// "localhost" in any case is 127.0.0.1, a dotted quad stands for itself,
// anything else (an empty text too) goes to resolver.
TInet4Address ResolveAddress(const std::string& text, const TNameResolver& resolver);

// What the socket hands a datagram to: returns the bytes sent or -1 with
// errno set, as sendto does. Tests stand in for the system with it.
using TSendToCall = std::function<long(int fd, const void* data, size_t size, const TInet4Address& to, uint16_t port)>;
// The system's own, which sockets use unless told otherwise.
long SystemSendTo(int fd, const void* data, size_t size, const TInet4Address& to, uint16_t port);

// An IPv4 datagram socket, never bound, broadcast off. It opens on the
// first send; two first sends at once still open one socket. Sends need no
// lock of their own. Closing is not safe while another thread sends.
class TUdpSocket {
public:
    TUdpSocket() = default;
    ~TUdpSocket();
    TUdpSocket(const TUdpSocket&) = delete;
    TUdpSocket& operator=(const TUdpSocket&) = delete;

    bool IsOpen() const { return Fd_.load(std::memory_order_acquire) >= 0; }
    int Handle() const { return Fd_.load(std::memory_order_acquire); }
    // Opens unless open; raises ESocketError.
    void Open();
    void Close();

    // The whole of bytes as one datagram. Raises ESocketError:
    // "Package Size Too Big." when it is too long for the transport,
    // "Not all bytes sent." when the system sends less, the socket error
    // text otherwise (a port outside 0..65535 included).
    void SendTo(const TInet4Address& address, int32_t port, std::string_view bytes);

    void SetSendToCall(TSendToCall call) { SendTo_ = std::move(call); }

private:
    std::atomic<int> Fd_{-1};
    std::mutex OpenLock_;
    TSendToCall SendTo_;
};
