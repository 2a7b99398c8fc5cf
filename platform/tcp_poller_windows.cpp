#include "platform/tcp_poller.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system_windows.h"

// WSAPoll over the registered sockets. WinSock has no timer handle a poll can
// watch, so a timer is a placeholder socket (for a unique handle) whose
// deadline the pollers look up and fold into their wait.

namespace {

[[noreturn]] void Fail(const char* what) {
    const int error = WSAGetLastError();
    throw ESocketError(std::string(what) + ": WinSock error " + std::to_string(error), error);
}

std::int64_t NowMs() { return static_cast<std::int64_t>(GetTickCount64()); }

// What a byte on a poller's wake socket asks for: Wake() ends the wait; a
// change of the watched set or of a timer's deadline only makes the poller
// look again, as a change under epoll would.
constexpr char WakeByte = 'w';
constexpr char RefreshByte = 'r';

void Signal(SOCKET wake, char byte) { ::send(wake, &byte, 1, 0); }

struct TTimerState {
    std::atomic<std::int64_t> Deadline{0};  // 0: not armed
};

// Shared: a poller's copy of its entries may still read a timer that is
// being destroyed.
std::mutex timersLock;
std::map<TSocketHandle, std::shared_ptr<TTimerState>>& Timers() {
    static auto* timers = new std::map<TSocketHandle, std::shared_ptr<TTimerState>>;
    return *timers;
}

std::shared_ptr<TTimerState> FindTimer(TSocketHandle handle) {
    std::lock_guard<std::mutex> hold(timersLock);
    auto it = Timers().find(handle);
    return it == Timers().end() ? nullptr : it->second;
}

SOCKET PlaceholderSocket() {
    if (!StartWinsock()) throw ESocketError("WSAStartup failed");
    return WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

struct TEntry {
    TSocketHandle Socket;
    unsigned Events;
    void* Tag;
    std::shared_ptr<TTimerState> Timer;  // set for a TPollTimer
};

short ToPoll(unsigned events) {
    short e = 0;
    if (events & PollRead) e |= POLLRDNORM;
    if (events & PollWrite) e |= POLLWRNORM;
    return e;
}

unsigned FromPoll(short e) {
    unsigned events = 0;
    if (e & (POLLRDNORM | POLLRDBAND)) events |= PollRead;
    if (e & POLLWRNORM) events |= PollWrite;
    if (e & POLLHUP) events |= PollHangup;
    if (e & (POLLERR | POLLNVAL)) events |= PollError;
    return events;
}

// What a poller watches, apart from the rest of it.
struct TWatchSet {
    std::mutex Lock;
    std::vector<TEntry> Entries;
    SOCKET Wake = INVALID_SOCKET;  // a loopback datagram socket talking to itself
};

}  // namespace

struct TTcpPoller::TImpl : TWatchSet {
    std::atomic<bool> Waiting{false};
    // Counts changes to Entries. A waiter that took its copy before a change
    // it was not told of (Waiting not yet set) sees the count move and looks
    // again instead of sleeping without the new socket.
    std::atomic<std::uint64_t> Changes{0};
};

namespace {

// Every poller, so that a closing socket can leave them all: closing a
// socket takes it out of an epoll set, and the callers rely on that. A handle
// left behind could come back as another thread's new socket.
std::mutex pollersLock;
std::vector<TWatchSet*>& Pollers() {
    static auto* pollers = new std::vector<TWatchSet*>;
    return *pollers;
}

bool Watches(TWatchSet& impl, SOCKET socket, void* tag) {
    std::lock_guard<std::mutex> hold(impl.Lock);
    for (const TEntry& e : impl.Entries)
        if (static_cast<SOCKET>(e.Socket) == socket && e.Tag == tag) return true;
    return false;
}

// A poller already waiting computed its timeout before the timer was armed:
// wake those that watch it so they wait again with the new deadline.
void WakeWatchersOf(TSocketHandle timer) {
    std::lock_guard<std::mutex> hold(pollersLock);
    for (TWatchSet* set : Pollers()) {
        bool watching = false;
        {
            std::lock_guard<std::mutex> holdSet(set->Lock);
            for (const TEntry& e : set->Entries) watching = watching || e.Socket == timer;
        }
        if (watching) Signal(set->Wake, RefreshByte);
    }
}

}  // namespace

// Called by TTcpSocket::Close before the handle is released.
void ForgetPolledSocket(TSocketHandle socket) noexcept {
    std::lock_guard<std::mutex> hold(pollersLock);
    for (TWatchSet* impl : Pollers()) {
        std::lock_guard<std::mutex> holdImpl(impl->Lock);
        std::erase_if(impl->Entries, [&](const TEntry& e) { return e.Socket == socket; });
    }
}

TTcpPoller::TTcpPoller() : Impl_(new TImpl) {
    Impl_->Wake = PlaceholderSocket();
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof self;
    u_long on = 1;
    if (Impl_->Wake == INVALID_SOCKET || ::bind(Impl_->Wake, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        ::getsockname(Impl_->Wake, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
        ::connect(Impl_->Wake, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        ::ioctlsocket(Impl_->Wake, FIONBIO, &on) != 0) {
        const int error = WSAGetLastError();
        if (Impl_->Wake != INVALID_SOCKET) ::closesocket(Impl_->Wake);
        delete Impl_;
        WSASetLastError(error);
        Fail("wake socket");
    }
    std::lock_guard<std::mutex> hold(pollersLock);
    Pollers().push_back(Impl_);
}

TTcpPoller::~TTcpPoller() {
    {
        std::lock_guard<std::mutex> hold(pollersLock);
        std::erase(Pollers(), static_cast<TWatchSet*>(Impl_));
    }
    ::closesocket(Impl_->Wake);
    delete Impl_;
}

void TTcpPoller::Add(TSocketHandle socket, unsigned events, void* tag, bool /*exclusive*/) {
    // Every poller of a shared listener is woken; the losers' accepts find
    // nothing and they wait again.
    {
        std::lock_guard<std::mutex> hold(Impl_->Lock);
        for (const TEntry& e : Impl_->Entries)
            if (e.Socket == socket) {
                WSASetLastError(WSAEINVAL);
                Fail("poll add");
            }
        Impl_->Entries.push_back({socket, events, tag, FindTimer(socket)});
        Impl_->Changes.fetch_add(1);
    }
    if (Impl_->Waiting.load()) Signal(Impl_->Wake, RefreshByte);
}

void TTcpPoller::Modify(TSocketHandle socket, unsigned events, void* tag) {
    {
        std::lock_guard<std::mutex> hold(Impl_->Lock);
        auto it = std::find_if(Impl_->Entries.begin(), Impl_->Entries.end(),
                               [&](const TEntry& e) { return e.Socket == socket; });
        if (it == Impl_->Entries.end()) {
            WSASetLastError(WSAENOTSOCK);
            Fail("poll modify");
        }
        it->Events = events;
        it->Tag = tag;
        Impl_->Changes.fetch_add(1);
    }
    if (Impl_->Waiting.load()) Signal(Impl_->Wake, RefreshByte);
}

void TTcpPoller::Remove(TSocketHandle socket) noexcept {
    std::lock_guard<std::mutex> hold(Impl_->Lock);
    std::erase_if(Impl_->Entries, [&](const TEntry& e) { return e.Socket == socket; });
}

int TTcpPoller::Wait(std::span<TPollEvent> out, int timeoutMs) {
    const std::int64_t start = NowMs();
    for (;;) {
        std::vector<TEntry> entries;
        std::uint64_t changes;
        {
            std::lock_guard<std::mutex> hold(Impl_->Lock);
            entries = Impl_->Entries;
            changes = Impl_->Changes.load();
        }
        std::vector<WSAPOLLFD> fds;
        std::vector<const TEntry*> owners;
        fds.push_back({Impl_->Wake, POLLRDNORM, 0});
        owners.push_back(nullptr);
        const std::int64_t now = NowMs();
        std::int64_t nearest = -1;
        int filled = 0;
        auto expiredTimers = [&](std::int64_t at) {
            for (const TEntry& e : entries) {
                if (!e.Timer || !(e.Events & PollRead) || filled == static_cast<int>(out.size())) continue;
                const std::int64_t deadline = e.Timer->Deadline.load();
                if (deadline != 0 && deadline <= at) out[filled++] = {e.Tag, PollRead};
            }
        };
        for (const TEntry& e : entries) {
            if (e.Timer) {
                const std::int64_t deadline = e.Timer->Deadline.load();
                if ((e.Events & PollRead) && deadline != 0 && (nearest < 0 || deadline < nearest)) nearest = deadline;
                continue;
            }
            fds.push_back({static_cast<SOCKET>(e.Socket), ToPoll(e.Events), 0});
            owners.push_back(&e);
        }
        int wait = timeoutMs < 0 ? -1 : static_cast<int>(std::max<std::int64_t>(0, start + timeoutMs - now));
        if (nearest >= 0) {
            const std::int64_t untilTimer = std::max<std::int64_t>(0, nearest - now);
            if (wait < 0 || untilTimer < wait) wait = static_cast<int>(untilTimer);
        }
        Impl_->Waiting.store(true);
        if (Impl_->Changes.load() != changes) {
            Impl_->Waiting.store(false);
            continue;
        }
        const int n = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), wait);
        Impl_->Waiting.store(false);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEINTR) return 0;
            Fail("WSAPoll");
        }
        bool woken = false;
        if (fds[0].revents != 0) {
            char drain[64];
            for (int got; (got = ::recv(Impl_->Wake, drain, sizeof drain, 0)) > 0;)
                woken = woken || std::find(drain, drain + got, WakeByte) != drain + got;
        }
        for (size_t i = 1; i < fds.size() && filled < static_cast<int>(out.size()); ++i) {
            if (fds[i].revents == 0) continue;
            // Left the poller (closed or removed) while we waited: not ours to report.
            if (!Watches(*Impl_, fds[i].fd, owners[i]->Tag)) continue;
            out[filled].Tag = owners[i]->Tag;
            out[filled].Events = FromPoll(fds[i].revents);
            ++filled;
        }
        const std::int64_t after = NowMs();
        expiredTimers(after);
        // Otherwise a refresh, a poll that ended a tick before the timer's
        // deadline, or only sockets that left meanwhile: look again.
        if (filled > 0 || woken || (timeoutMs >= 0 && after - start >= timeoutMs)) return filled;
    }
}

void TTcpPoller::Wake() noexcept { Signal(Impl_->Wake, WakeByte); }

TPollTimer::TPollTimer() {
    const SOCKET s = PlaceholderSocket();
    if (s == INVALID_SOCKET) Fail("timer socket");
    Handle_ = static_cast<TSocketHandle>(s);
    std::lock_guard<std::mutex> hold(timersLock);
    Timers()[Handle_] = std::make_shared<TTimerState>();
}

TPollTimer::~TPollTimer() {
    // Like a closing socket, it leaves every poller before its handle goes.
    ForgetPolledSocket(Handle_);
    {
        std::lock_guard<std::mutex> hold(timersLock);
        Timers().erase(Handle_);
    }
    ::closesocket(static_cast<SOCKET>(Handle_));
}

void TPollTimer::Arm(int ms) noexcept {
    const std::shared_ptr<TTimerState> timer = FindTimer(Handle_);
    if (!timer) return;
    timer->Deadline.store(ms > 0 ? NowMs() + ms : 0);
    if (ms > 0) WakeWatchersOf(Handle_);
}

bool TPollTimer::Consume() noexcept {
    const std::shared_ptr<TTimerState> timer = FindTimer(Handle_);
    if (!timer) return false;
    std::int64_t deadline = timer->Deadline.load();
    while (deadline != 0 && deadline <= NowMs()) {
        if (timer->Deadline.compare_exchange_weak(deadline, 0)) return true;
    }
    return false;
}
