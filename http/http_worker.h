#pragma once

#include <atomic>
#include <thread>  // also brings the clocks; <chrono> itself breaks under CP932
#include <vector>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>

#include "http/http_request_parser.h"
#include "http/http_server.h"
#include "platform/tcp_poller.h"
#include "platform/tcp_socket.h"

struct THttpCounters {
    std::atomic<std::uint64_t> Accepted{0};
    std::atomic<std::uint64_t> Answered{0};
    std::atomic<std::uint64_t> Rejected{0};
    std::atomic<std::uint64_t> TimedOut{0};
    std::atomic<std::uint64_t> Evicted{0};
    std::atomic<std::int64_t> InService{0};  // connections open in every worker
};

// What the workers of one activation share; fixed while they run.
struct THttpWorkerConfig {
    std::string ServerSoftware;
    TIdHTTPCommandEvent OnCommandGet;
    THttpLimits Limits;
    int MaxConnections = 1024;  // in service in all workers together
    std::chrono::milliseconds ReadTimeout{30000};
    std::chrono::milliseconds WriteTimeout{30000};
    std::chrono::milliseconds LingerTimeout{2000};
};

// One worker thread with its own event loop: reads requests, runs the
// handler and writes the answers of the connections it accepted.
//
// One worker at a time (the owner) accepts: waking several threads per
// connection on one busy core costs more than the request itself. While the
// owner works through its events it keeps a short timer armed; should it stay
// away from its loop too long (a blocking handler), the timer wakes an idle
// worker, which takes the listener over.
class THttpWorker {
public:
    using TPeers = std::vector<std::unique_ptr<THttpWorker>>;

    THttpWorker(const THttpWorkerConfig& config, TTcpListener& listener, THttpCounters& counters, int index,
                std::atomic<int>& acceptOwner, const TPeers& peers, std::function<void()> onExit);
    ~THttpWorker();
    THttpWorker(const THttpWorker&) = delete;
    THttpWorker& operator=(const THttpWorker&) = delete;

    // Once every peer exists.
    void Start();
    // From any thread: cut every connection and end the loop.
    void Stop();
    bool Finished() const { return Finished_.load(std::memory_order_acquire); }
    void Join();

private:
    using TClock = std::chrono::steady_clock;
    enum class TState { Reading, Writing, Lingering };
    struct TConnection;
    using TList = std::list<TConnection>;

    void Run();
    void Loop();
    int NextTimeoutMs(TClock::time_point now) const;
    void AcceptBatch(TClock::time_point now);
    void WatchListener(bool on);
    bool MakeRoom();
    bool IsOwner() const { return AcceptOwner_.load(std::memory_order_acquire) == Index_; }
    void HandOff();
    void TakeOver(THttpWorker& stuck, TClock::time_point now);
    THttpWorker* PeerOfTimer(const void* tag) const;
    void OnReadable(TList::iterator c, TClock::time_point now);
    void OnWritable(TList::iterator c, TClock::time_point now);
    void Respond(TList::iterator c, TClock::time_point now);
    void Finish(TList::iterator c, TClock::time_point now);
    void Drain(TList::iterator c);
    static void ReleaseAnswer(TConnection& c);
    void Move(TList::iterator c, TState state, TList& to, TClock::time_point deadline);
    void Watch(TList::iterator c, unsigned events);
    void Close(TList::iterator c);
    void ExpireDeadlines(TClock::time_point now);
    void CloseAll();

    const THttpWorkerConfig& Config_;
    TTcpListener& Listener_;
    THttpCounters& Counters_;
    const int Index_;
    std::atomic<int>& AcceptOwner_;
    const TPeers& Peers_;
    std::function<void()> OnExit_;
    TTcpPoller Poller_;
    TPollTimer Rescue_;
    std::thread Thread_;
    std::atomic<bool> Stopping_{false};
    std::atomic<bool> Finished_{false};

    TList Reading_, Writing_, Lingering_, Free_;
    bool ListenerWatched_ = false;
    TClock::time_point ResumeAcceptAt_{};
    TClock::time_point LastRescueArm_{};
};
