#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/socket_error.h"

// Native socket handle: an int on POSIX, a SOCKET (pointer-sized) on Windows.
using TSocketHandle = std::intptr_t;
inline constexpr TSocketHandle InvalidSocketHandle = -1;

enum class TIoStatus {
    Ok,          // Bytes moved (at least one)
    WouldBlock,  // nothing to do right now
    Closed,      // the peer closed its side (receive) or the connection is gone
    Failed,      // reset or another hard error
};

struct TIoResult {
    TIoStatus Status = TIoStatus::Failed;
    std::size_t Bytes = 0;
};

// Owns one TCP socket handle; move-only, closed on destruction.
class TTcpSocket {
public:
    TTcpSocket() noexcept = default;
    explicit TTcpSocket(TSocketHandle handle) noexcept : Handle_(handle) {}
    TTcpSocket(TTcpSocket&& other) noexcept : Handle_(other.Release()) {}
    TTcpSocket& operator=(TTcpSocket&& other) noexcept;
    TTcpSocket(const TTcpSocket&) = delete;
    TTcpSocket& operator=(const TTcpSocket&) = delete;
    ~TTcpSocket() { Close(); }

    TSocketHandle Handle() const noexcept { return Handle_; }
    bool IsOpen() const noexcept { return Handle_ != InvalidSocketHandle; }
    TSocketHandle Release() noexcept;
    void Close() noexcept;

    // Blocking IPv4 connect (tests and tools); throws ESocketError.
    static TTcpSocket Connect(const std::string& ipv4, std::uint16_t port);

    // A blocking Receive gives up after this long with WouldBlock.
    void SetReceiveTimeout(int ms);
    // Non-blocking when the socket is; never raises SIGPIPE.
    TIoResult Receive(char* buffer, std::size_t size) noexcept;
    // Gathers the parts into one send call.
    TIoResult Send(std::span<const std::string_view> parts) noexcept;
    TIoResult Send(std::string_view bytes) noexcept { return Send(std::span(&bytes, 1)); }
    void ShutdownSend() noexcept;

private:
    TSocketHandle Handle_ = InvalidSocketHandle;
};

struct TAcceptedConnection {
    TTcpSocket Socket;          // non-blocking
    std::string RemoteAddress;  // dotted decimal
    std::uint16_t RemotePort = 0;
};

enum class TAcceptStatus {
    Accepted,
    None,       // no connection is waiting
    Exhausted,  // out of descriptors or memory: back off before trying again
};

// IPv4 listening socket on every local address.
class TTcpListener {
public:
    TTcpListener() = default;
    TTcpListener(const TTcpListener&) = delete;
    TTcpListener& operator=(const TTcpListener&) = delete;
    ~TTcpListener() { Close(); }

    // Port 0 picks a free port; Port() tells which. Throws ESocketError.
    void Open(std::uint16_t port, int backlog);
    void Close() noexcept;
    // Stops taking connections and wakes every waiter; the handle (and the
    // port) stay valid until Close, so threads still using it cannot hit a
    // reused descriptor.
    void Shutdown() noexcept;
    bool IsOpen() const noexcept { return Socket_.IsOpen(); }
    std::uint16_t Port() const noexcept { return Port_; }
    TSocketHandle Handle() const noexcept { return Socket_.Handle(); }

    TAcceptStatus Accept(TAcceptedConnection& out) noexcept;

private:
    TTcpSocket Socket_;
    std::uint16_t Port_ = 0;
};
