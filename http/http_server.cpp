#include "http/http_server.h"

#include <algorithm>
#include <condition_variable>
#include <stdexcept>

#include "http/http_worker.h"

struct TIdHTTPServer::TActivation {
    THttpWorkerConfig Config;
    TTcpListener Listener;
    std::atomic<int> AcceptOwner{0};
    std::mutex Mutex;
    std::condition_variable WorkerEnded;
    std::unique_ptr<THttpLane> Lane;
    THttpWorker::TPeers Workers;

    ~TActivation() {
        if (Lane) Lane->Join();
        for (auto& w : Workers) w->Join();
    }

    bool AllFinished() const {
        return std::all_of(Workers.begin(), Workers.end(), [](const auto& w) { return w->Finished(); }) &&
               (!Lane || Lane->Finished());
    }
    // Joins the workers (blocking) and releases the port. Every thread ends
    // before any worker goes: they watch each other's timers.
    void Release() {
        if (Lane) Lane->Join();
        for (auto& w : Workers) w->Join();
        Workers.clear();
        Lane.reset();
        Listener.Close();
    }
    // Until every thread has ended or the time is up; false when some still run.
    bool WaitFinished(int timeoutMs, int checkMs) {
        std::unique_lock l(Mutex);
        auto check = std::chrono::milliseconds(std::max(1, checkMs));
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!AllFinished() && std::chrono::steady_clock::now() < until)
            WorkerEnded.wait_for(
                l, std::min<std::chrono::steady_clock::duration>(check, until - std::chrono::steady_clock::now()));
        return AllFinished();
    }
};

TIdHTTPServer::TIdHTTPServer() : Counters_(std::make_shared<THttpCounters>()) {}

TIdHTTPServer::~TIdHTTPServer() {
    try {
        Deactivate();
    } catch (const std::exception&) {
        // Workers still busy in a handler: wait for them below.
    }
    ReapRetired(true);
}

void TIdHTTPServer::Activate() {
    std::lock_guard lock(Mutex_);
    if (Current_) return;
    ReapRetired(false);
    auto a = std::make_unique<TActivation>();
    int workers = std::max(1, WorkerCount);
    a->Config.ServerSoftware = ServerSoftware;
    a->Config.OnCommandGet = OnCommandGet;
    a->Config.Limits = Limits;
    a->Config.MaxConnections = std::max(1, MaxConnections);
    a->Config.ReadTimeout = std::chrono::milliseconds(ReadTimeoutMs);
    a->Config.SendStallTimeout = std::chrono::milliseconds(SendStallTimeoutMs);
    a->Config.MaxHeldBytes = MaxHeldAnswerBytes;
    a->Config.LingerTimeout = std::chrono::milliseconds(LingerTimeoutMs);
    a->Config.MaxHeldStreams = std::max(0, MaxHeldStreams);
    a->Config.Heartbeat = std::chrono::milliseconds(std::max(1, HeartbeatMs));
    a->Config.IsSlowRequest = IsSlowRequest;
    a->Listener.Open(DefaultPort, ListenQueue);
    TActivation* raw = a.get();
    auto onExit = [raw] {
        std::lock_guard l(raw->Mutex);
        raw->WorkerEnded.notify_all();
    };
    if (IsSlowRequest && SlowLaneThreads > 0) {
        a->Lane = std::make_unique<THttpLane>(SlowLaneThreads, onExit);
        a->Config.Lane = a->Lane.get();
    }
    for (int i = 0; i < workers; ++i)
        a->Workers.push_back(
            std::make_unique<THttpWorker>(a->Config, a->Listener, *Counters_, i, a->AcceptOwner, a->Workers, onExit));
    try {
        for (auto& w : a->Workers) w->Start();
    } catch (...) {
        for (auto& w : a->Workers) w->Stop();
        throw;
    }
    Current_ = std::move(a);
}

void TIdHTTPServer::Deactivate() {
    std::lock_guard lock(Mutex_);
    if (!Current_) return;
    std::unique_ptr<TActivation> a = std::move(Current_);
    // No new connections from here on; the port stays ours until the workers are gone.
    a->Listener.Shutdown();
    for (auto& w : a->Workers) w->BeginDrain();
    {
        // A worker ends once its answers are out, those from the lane
        // included; the lane's threads then merely wait for work.
        std::unique_lock l(a->Mutex);
        a->WorkerEnded.wait_for(l, std::chrono::milliseconds(std::max(0, DrainTimeoutMs)), [&a] {
            return std::all_of(a->Workers.begin(), a->Workers.end(), [](const auto& w) { return w->Finished(); });
        });
    }
    for (auto& w : a->Workers) w->Stop();
    if (a->Lane) a->Lane->Stop();
    if (!a->WaitFinished(std::max(0, TerminateWaitMs), TerminateCheckMs)) {
        Retired_.push_back(std::move(a));
        throw std::runtime_error("Terminate Thread Timeout");
    }
    a->Release();
}

void TIdHTTPServer::ReapRetired(bool wait) {
    for (auto it = Retired_.begin(); it != Retired_.end();) {
        if (wait || (*it)->AllFinished()) {
            (*it)->Release();
            it = Retired_.erase(it);
        } else {
            ++it;
        }
    }
}

bool TIdHTTPServer::Active() const {
    std::lock_guard lock(Mutex_);
    return Current_ != nullptr;
}

std::uint16_t TIdHTTPServer::BoundPort() const {
    std::lock_guard lock(Mutex_);
    return Current_ ? Current_->Listener.Port() : 0;
}

THttpServerStatistics TIdHTTPServer::Statistics() const {
    THttpServerStatistics s;
    s.Accepted = Counters_->Accepted.load();
    s.Answered = Counters_->Answered.load();
    s.Rejected = Counters_->Rejected.load();
    s.TimedOut = Counters_->TimedOut.load();
    s.Evicted = Counters_->Evicted.load();
    s.Stalled = Counters_->Stalled.load();
    s.CutAtStop = Counters_->CutAtStop.load();
    s.Held = Counters_->Held.load();
    s.HeldRefused = Counters_->HeldRefused.load();
    return s;
}
