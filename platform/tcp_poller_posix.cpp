#include "platform/tcp_poller.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

struct TTcpPoller::TImpl {
    int Epoll = -1;
    int WakeFd = -1;
};

namespace {

// The wake descriptor's events carry this tag; it never reaches the caller.
char WakeTag;

std::uint32_t ToEpoll(unsigned events) {
    std::uint32_t e = 0;
    if (events & PollRead) e |= EPOLLIN | EPOLLRDHUP;
    if (events & PollWrite) e |= EPOLLOUT;
    return e;
}

unsigned FromEpoll(std::uint32_t e) {
    unsigned events = 0;
    if (e & EPOLLIN) events |= PollRead;
    if (e & EPOLLOUT) events |= PollWrite;
    if (e & (EPOLLHUP | EPOLLRDHUP)) events |= PollHangup;
    if (e & EPOLLERR) events |= PollError;
    return events;
}

[[noreturn]] void Fail(const char* what) {
    const int error = errno;
    throw ESocketError(std::string(what) + ": " + std::strerror(error), error);
}

}  // namespace

TTcpPoller::TTcpPoller() : Impl_(new TImpl) {
    Impl_->Epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (Impl_->Epoll < 0) {
        delete Impl_;
        Fail("epoll_create1");
    }
    Impl_->WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = &WakeTag;
    if (Impl_->WakeFd < 0 || ::epoll_ctl(Impl_->Epoll, EPOLL_CTL_ADD, Impl_->WakeFd, &ev) != 0) {
        int saved = errno;
        if (Impl_->WakeFd >= 0) ::close(Impl_->WakeFd);
        ::close(Impl_->Epoll);
        delete Impl_;
        errno = saved;
        Fail("eventfd");
    }
}

TTcpPoller::~TTcpPoller() {
    ::close(Impl_->WakeFd);
    ::close(Impl_->Epoll);
    delete Impl_;
}

void TTcpPoller::Add(TSocketHandle socket, unsigned events, void* tag, bool exclusive) {
    epoll_event ev{};
    // An exclusive wait takes no other flags than in/out.
    ev.events = exclusive ? (ToEpoll(events) & (EPOLLIN | EPOLLOUT)) | EPOLLEXCLUSIVE : ToEpoll(events);
    ev.data.ptr = tag;
    if (::epoll_ctl(Impl_->Epoll, EPOLL_CTL_ADD, static_cast<int>(socket), &ev) != 0) Fail("epoll_ctl add");
}

void TTcpPoller::Modify(TSocketHandle socket, unsigned events, void* tag) {
    epoll_event ev{};
    ev.events = ToEpoll(events);
    ev.data.ptr = tag;
    if (::epoll_ctl(Impl_->Epoll, EPOLL_CTL_MOD, static_cast<int>(socket), &ev) != 0) Fail("epoll_ctl mod");
}

void TTcpPoller::Remove(TSocketHandle socket) noexcept {
    epoll_event ev{};
    ::epoll_ctl(Impl_->Epoll, EPOLL_CTL_DEL, static_cast<int>(socket), &ev);
}

int TTcpPoller::Wait(std::span<TPollEvent> out, int timeoutMs) {
    constexpr int MaxEvents = 64;
    epoll_event events[MaxEvents];
    int limit = static_cast<int>(out.size() < MaxEvents ? out.size() : MaxEvents);
    int n = ::epoll_wait(Impl_->Epoll, events, limit, timeoutMs);
    if (n < 0) {
        if (errno == EINTR) return 0;
        Fail("epoll_wait");
    }
    int filled = 0;
    for (int i = 0; i < n; ++i) {
        if (events[i].data.ptr == &WakeTag) {
            std::uint64_t count;
            while (::read(Impl_->WakeFd, &count, sizeof count) > 0) {
            }
            continue;
        }
        out[filled].Tag = events[i].data.ptr;
        out[filled].Events = FromEpoll(events[i].events);
        ++filled;
    }
    return filled;
}

void TTcpPoller::Wake() noexcept {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(Impl_->WakeFd, &one, sizeof one);
}

TPollTimer::TPollTimer() : Handle_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    if (Handle_ < 0) Fail("timerfd_create");
}

TPollTimer::~TPollTimer() { ::close(static_cast<int>(Handle_)); }

void TPollTimer::Arm(int ms) noexcept {
    itimerspec when{};
    when.it_value.tv_sec = ms / 1000;
    when.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    ::timerfd_settime(static_cast<int>(Handle_), 0, &when, nullptr);
}

bool TPollTimer::Consume() noexcept {
    std::uint64_t expirations = 0;
    return ::read(static_cast<int>(Handle_), &expirations, sizeof expirations) == sizeof expirations && expirations > 0;
}
