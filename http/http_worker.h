#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>  // also brings the clocks; <chrono> itself breaks under CP932
#include <vector>

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
    std::atomic<std::uint64_t> Stalled{0};
    std::atomic<std::uint64_t> CutAtStop{0};
    std::atomic<std::int64_t> InService{0};  // connections open in every worker
    std::atomic<std::int64_t> HeldBytes{0};  // answer bytes that are their connection's alone
    std::atomic<std::int64_t> Held{0};       // held answers open, apart from InService
    std::atomic<std::uint64_t> HeldRefused{0};
};

// Threads that run the handlers of slow requests, one job each at a time.
class THttpLane {
public:
    THttpLane(int threads, std::function<void()> onExit);
    ~THttpLane();
    THttpLane(const THttpLane&) = delete;
    THttpLane& operator=(const THttpLane&) = delete;

    void Post(std::function<void()> job);
    // No job starts from here on; those still queued are dropped.
    void Stop();
    // Every thread has ended (only after Stop).
    bool Finished() const;
    void Join();

private:
    void Run();

    std::function<void()> OnExit_;
    mutable std::mutex M_;
    std::condition_variable Posted_;
    std::deque<std::function<void()>> Jobs_;
    bool Stopping_ = false;
    int Running_ = 0;
    std::vector<std::thread> Threads_;
};

// What the workers of one activation share; fixed while they run.
struct THttpWorkerConfig {
    std::string ServerSoftware;
    TIdHTTPCommandEvent OnCommandGet;
    THttpLimits Limits;
    int MaxConnections = 1024;  // in service in all workers together
    std::chrono::milliseconds ReadTimeout{30000};
    std::chrono::milliseconds SendStallTimeout{10000};
    std::int64_t MaxHeldBytes = 128ll << 20;
    std::chrono::milliseconds LingerTimeout{2000};
    int MaxHeldStreams = 4096;
    std::chrono::milliseconds Heartbeat{25000};
    TSlowRequestTest IsSlowRequest;
    THttpLane* Lane = nullptr;
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
    // From any thread: cut connections still reading, finish the answers in
    // flight, then end the loop.
    void BeginDrain();
    bool Finished() const { return Finished_.load(std::memory_order_acquire); }
    void Join();

private:
    using TClock = std::chrono::steady_clock;
    enum class TState { Reading, Handling, Writing, Lingering, Holding };
    struct TConnection;
    using TList = std::list<TConnection>;
    struct TMailbox;

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
    void HandOver(TList::iterator c, TIdHTTPRequestInfo request);
    void TakeFinishedHandlers(TClock::time_point now);
    void StartAnswer(TList::iterator c, TIdHTTPResponseInfo& response, TClock::time_point now);
    void BoundHeldBytes(TClock::time_point now);
    bool Drained();
    void Finish(TList::iterator c, TClock::time_point now);
    void Drain(TList::iterator c);
    void ReleaseAnswer(TConnection& c);
    void Move(TList::iterator c, TState state, TList& to, TClock::time_point deadline);
    void Watch(TList::iterator c, unsigned events);
    void Close(TList::iterator c);
    void ExpireDeadlines(TClock::time_point now);
    void CloseAll();
    void Hold(TList::iterator c, TClock::time_point now);
    void Pump(TList::iterator c, bool quiet, TClock::time_point now);
    void PumpWoken(TClock::time_point now);

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
    std::atomic<bool> Draining_{false};
    std::shared_ptr<TMailbox> Mailbox_;
    std::uint64_t Serial_ = 0;

    // Holding_: held answers waiting for more, in order of their heartbeat.
    TList Reading_, Handling_, Writing_, Lingering_, Holding_, Free_;
    bool ListenerWatched_ = false;
    TClock::time_point ResumeAcceptAt_{};
    TClock::time_point LastRescueArm_{};
};
