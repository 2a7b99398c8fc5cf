#pragma once

#include <span>

#include "platform/tcp_socket.h"

// Readiness events of a set of sockets, waited for on one thread; Wake may be
// called from any thread.
enum TPollFlags : unsigned {
    PollRead = 1u << 0,
    PollWrite = 1u << 1,
    PollHangup = 1u << 2,  // reported only
    PollError = 1u << 3,   // reported only
};

struct TPollEvent {
    void* Tag = nullptr;
    unsigned Events = 0;
};

// A one-shot timer that pollers can watch: readable once it has expired,
// until it is consumed or armed again.
class TPollTimer {
public:
    TPollTimer();  // throws ESocketError
    TPollTimer(const TPollTimer&) = delete;
    TPollTimer& operator=(const TPollTimer&) = delete;
    ~TPollTimer();

    void Arm(int ms) noexcept;
    void Disarm() noexcept { Arm(0); }
    // True when it had expired (and was not consumed by someone else first).
    bool Consume() noexcept;
    TSocketHandle Handle() const noexcept { return Handle_; }

private:
    TSocketHandle Handle_;
};

class TTcpPoller {
public:
    TTcpPoller();  // throws ESocketError
    TTcpPoller(const TTcpPoller&) = delete;
    TTcpPoller& operator=(const TTcpPoller&) = delete;
    ~TTcpPoller();

    // Exclusive: of several pollers watching one listener, only one is woken per
    // connection.
    void Add(TSocketHandle socket, unsigned events, void* tag, bool exclusive = false);
    void Modify(TSocketHandle socket, unsigned events, void* tag);
    void Remove(TSocketHandle socket) noexcept;

    // Waits up to timeoutMs (-1: no limit). Returns the number of events
    // filled; a Wake returns early with possibly none.
    int Wait(std::span<TPollEvent> out, int timeoutMs);
    void Wake() noexcept;

private:
    struct TImpl;
    TImpl* Impl_;
};
