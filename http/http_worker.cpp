#include "http/http_worker.h"

#include <algorithm>
#include <exception>

#include "platform/memory.h"

struct THttpWorker::TConnection {
    TList::iterator Self;
    TList* Owner = nullptr;
    TState State = TState::Reading;
    TClock::time_point Deadline{};
    unsigned Watched = 0;  // events registered with the poller; 0: not registered

    TTcpSocket Socket;
    std::string RemoteAddress;
    std::uint16_t RemotePort = 0;

    std::unique_ptr<char[]> Buffer;
    std::size_t Size = 0;
    std::size_t Capacity = 0;
    bool PeerClosed = false;
    TRequestParser Parser;

    std::string Header;
    std::string BodyText;
    std::unique_ptr<TBodyStream> BodyStream;
    std::string_view Body;
    std::size_t Sent = 0;
    std::int64_t Held = 0;     // of HeldBytes
    std::uint64_t Serial = 0;  // tells a handler's late result from a reused connection
    // A held answer: counted in Held instead of InService until closed;
    // Stream goes once it has ended.
    bool IsHeld = false;
    std::shared_ptr<THeldStream> Stream;

    std::string_view Input() const { return {Buffer.get(), Size}; }
};

namespace {

// A connection kept for reuse keeps a read buffer of this size at most; the
// rare larger request (a message sent) gets its own and gives it back.
constexpr std::size_t FirstBuffer = 4096;
constexpr std::size_t KeptFreeConnections = 64;
constexpr int AcceptBatchSize = 16;
constexpr auto AcceptBackoff = std::chrono::milliseconds(100);
// How long the owner may stay away from its event loop (in a handler, say)
// before another worker accepts in its place. Re-armed at most once per
// RescueRearm: arming a timer costs a system call, often a slow one in a VM.
constexpr int RescueAfterMs = 4;
constexpr auto RescueRearm = std::chrono::milliseconds(1);
// Over the bound on bytes held, only readers that have taken nothing for this
// long are cut: the others are reading and will let go soon.
constexpr auto SlowReaderAfter = std::chrono::milliseconds(1000);
// A held answer refused at its cap tells the client when to try again.
constexpr int HeldRetryAfterSeconds = 10;
// After an answer this large the freed pages go back to the system at once.
constexpr std::size_t GiveBackAfter = 8u << 20;

void RunHandler(const THttpWorkerConfig& config, const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                int index) {
    try {
        TIdPeerThread sender(request.RemoteAddress, request.RemotePort, index);
        if (config.OnCommandGet) config.OnCommandGet(sender, request, response);
    } catch (const std::exception& e) {
        response.SetStatus(500);
        response.BodyText = e.what();
        response.ContentLength = -1;  // the length of the error text, not of what the handler meant to send
    } catch (...) {
        response.SetStatus(500);
        response.BodyText = "Unknown error.";
        response.ContentLength = -1;
    }
}

}  // namespace

// Handlers finished on the lane, for the worker that owns their connections.
struct THttpWorker::TMailbox {
    struct TDone {
        TList::iterator Connection;
        std::uint64_t Serial;
        std::unique_ptr<TIdHTTPResponseInfo> Response;
    };
    std::mutex M;
    std::vector<TDone> Done;
    bool StreamsWoken = false;  // a held answer has more to send
    THttpWorker* Worker;        // null once the worker has ended
};

THttpLane::THttpLane(int threads, std::function<void()> onExit) : OnExit_(std::move(onExit)) {
    std::lock_guard l(M_);
    for (int i = 0; i < threads; ++i) {
        Threads_.emplace_back([this] { Run(); });
        ++Running_;
    }
}

THttpLane::~THttpLane() {
    Stop();
    Join();
}

void THttpLane::Post(std::function<void()> job) {
    {
        std::lock_guard l(M_);
        if (Stopping_) return;
        Jobs_.push_back(std::move(job));
    }
    Posted_.notify_one();
}

void THttpLane::Stop() {
    {
        std::lock_guard l(M_);
        Stopping_ = true;
        Jobs_.clear();
    }
    Posted_.notify_all();
}

bool THttpLane::Finished() const {
    std::lock_guard l(M_);
    return Running_ == 0;
}

void THttpLane::Join() {
    for (auto& t : Threads_)
        if (t.joinable()) t.join();
}

void THttpLane::Run() {
    std::unique_lock l(M_);
    for (;;) {
        Posted_.wait(l, [this] { return Stopping_ || !Jobs_.empty(); });
        if (Stopping_) break;
        std::function<void()> job = std::move(Jobs_.front());
        Jobs_.pop_front();
        l.unlock();
        job();
        job = nullptr;
        l.lock();
    }
    --Running_;
    l.unlock();
    if (OnExit_) OnExit_();
}

THttpWorker::THttpWorker(const THttpWorkerConfig& config, TTcpListener& listener, THttpCounters& counters, int index,
                         std::atomic<int>& acceptOwner, const TPeers& peers, std::function<void()> onExit)
    : Config_(config),
      Listener_(listener),
      Counters_(counters),
      Index_(index),
      AcceptOwner_(acceptOwner),
      Peers_(peers),
      OnExit_(std::move(onExit)),
      Mailbox_(std::make_shared<TMailbox>()) {
    Mailbox_->Worker = this;
}

THttpWorker::~THttpWorker() { Join(); }

void THttpWorker::Start() {
    for (const auto& peer : Peers_)
        if (peer.get() != this) Poller_.Add(peer->Rescue_.Handle(), PollRead, &peer->Rescue_, true);
    Thread_ = std::thread([this] { Run(); });
}

void THttpWorker::Stop() {
    Stopping_.store(true, std::memory_order_release);
    Poller_.Wake();
}

void THttpWorker::BeginDrain() {
    Draining_.store(true, std::memory_order_release);
    Poller_.Wake();
}

void THttpWorker::Join() {
    if (Thread_.joinable()) Thread_.join();
}

void THttpWorker::Run() {
    while (!Stopping_.load(std::memory_order_acquire) && !Drained()) {
        try {
            Loop();
        } catch (const std::exception&) {
            // Only the poller itself can fail here; give the system a moment.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    {
        std::lock_guard l(Mailbox_->M);
        Mailbox_->Worker = nullptr;
        Mailbox_->Done.clear();
    }
    if (!Drained()) Counters_.CutAtStop.fetch_add(Writing_.size() + Handling_.size(), std::memory_order_relaxed);
    CloseAll();
    Finished_.store(true, std::memory_order_release);
    OnExit_();
}

// While draining: nothing new is read, and once no answer is left the loop ends.
bool THttpWorker::Drained() {
    if (!Draining_.load(std::memory_order_acquire)) return false;
    while (!Reading_.empty()) Close(Reading_.begin());
    while (!Holding_.empty()) Close(Holding_.begin());
    return Handling_.empty() && Writing_.empty() && Lingering_.empty();
}

void THttpWorker::Loop() {
    TPollEvent events[64];
    while (!Stopping_.load(std::memory_order_acquire) && !Drained()) {
        auto now = TClock::now();
        bool accepting = IsOwner() && now >= ResumeAcceptAt_ && !Draining_.load(std::memory_order_relaxed);
        if (accepting != ListenerWatched_) WatchListener(accepting);
        int n = Poller_.Wait(events, NextTimeoutMs(now));
        now = TClock::now();
        // An expiry while we wait idle hands the listener to another worker: harmless.
        if (n > 0 && Peers_.size() > 1 && IsOwner() && now - LastRescueArm_ >= RescueRearm) {
            Rescue_.Arm(RescueAfterMs);
            LastRescueArm_ = now;
        }
        for (int i = 0; i < n && !Stopping_.load(std::memory_order_relaxed); ++i) {
            if (events[i].Tag == &Listener_) {
                if (!Draining_.load(std::memory_order_relaxed)) AcceptBatch(now);
                continue;
            }
            if (events[i].Tag == nullptr) continue;  // a wake-up
            if (THttpWorker* stuck = PeerOfTimer(events[i].Tag)) {
                TakeOver(*stuck, now);
                continue;
            }
            TConnection& conn = *static_cast<TConnection*>(events[i].Tag);
            // A connection closed earlier in this batch waits in Free_; its event is stale.
            if (conn.Owner == &Free_) continue;
            TList::iterator c = conn.Self;
            try {
                switch (conn.State) {
                    case TState::Reading:
                        OnReadable(c, now);
                        break;
                    case TState::Handling:
                        break;
                    case TState::Writing:
                        OnWritable(c, now);
                        break;
                    case TState::Lingering:
                    case TState::Holding:
                        Drain(c);
                        break;
                }
            } catch (const std::exception&) {
                if (c->Owner != &Free_) Close(c);
            }
        }
        TakeFinishedHandlers(now);
        PumpWoken(TClock::now());
        ExpireDeadlines(TClock::now());
        BoundHeldBytes(TClock::now());
        while (Free_.size() > KeptFreeConnections) Free_.pop_back();
    }
}

int THttpWorker::NextTimeoutMs(TClock::time_point now) const {
    TClock::time_point next = TClock::time_point::max();
    for (const TList* list : {&Reading_, &Writing_, &Lingering_, &Holding_})
        if (!list->empty()) next = std::min(next, list->front().Deadline);
    if (!ListenerWatched_ && ResumeAcceptAt_ > now) next = std::min(next, ResumeAcceptAt_);
    if (next == TClock::time_point::max()) return -1;
    if (next <= now) return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::min<decltype(ms)>(ms, 60000));
}

THttpWorker* THttpWorker::PeerOfTimer(const void* tag) const {
    for (const auto& peer : Peers_)
        if (tag == &peer->Rescue_) return peer.get();
    return nullptr;
}

void THttpWorker::TakeOver(THttpWorker& stuck, TClock::time_point now) {
    // Another worker may have consumed the expiry first, or the owner moved on.
    if (!stuck.Rescue_.Consume()) return;
    int expected = stuck.Index_;
    if (!AcceptOwner_.compare_exchange_strong(expected, Index_)) return;
    ResumeAcceptAt_ = {};
    WatchListener(true);
    stuck.Poller_.Wake();  // to stop watching when it is back
    AcceptBatch(now);
}

void THttpWorker::HandOff() {
    if (Peers_.size() < 2) return;
    THttpWorker& next = *Peers_[(static_cast<std::size_t>(Index_) + 1) % Peers_.size()];
    AcceptOwner_.store(next.Index_, std::memory_order_release);
    next.Poller_.Wake();
}

void THttpWorker::WatchListener(bool on) {
    if (on == ListenerWatched_) return;
    if (on)
        Poller_.Add(Listener_.Handle(), PollRead, &Listener_, true);
    else
        Poller_.Remove(Listener_.Handle());
    ListenerWatched_ = on;
}

bool THttpWorker::MakeRoom() {
    if (!Lingering_.empty()) {
        Close(Lingering_.begin());
        return true;
    }
    if (!Reading_.empty()) {
        Counters_.Evicted.fetch_add(1, std::memory_order_relaxed);
        Close(Reading_.begin());
        return true;
    }
    // Slow readers must not keep everybody else out. A held answer holds no
    // request's place: cutting it would make no room.
    for (TList::iterator c = Writing_.begin(); c != Writing_.end(); ++c)
        if (!c->IsHeld) {
            Counters_.Evicted.fetch_add(1, std::memory_order_relaxed);
            Close(c);
            return true;
        }
    return false;
}

void THttpWorker::AcceptBatch(TClock::time_point now) {
    TAcceptedConnection accepted;
    // Whoever is woken for the listener accepts, owner or not: the kernel wakes
    // one watcher per connection, and a former owner may still be watching.
    for (int i = 0; i < AcceptBatchSize && !Stopping_.load(std::memory_order_relaxed); ++i) {
        if (Counters_.InService.load(std::memory_order_relaxed) >= Config_.MaxConnections && !MakeRoom()) {
            // Nothing of ours to cut: perhaps another worker holds the idle ones.
            WatchListener(false);
            ResumeAcceptAt_ = now + AcceptBackoff;
            HandOff();
            return;
        }
        TAcceptStatus status = Listener_.Accept(accepted);
        if (status == TAcceptStatus::None) return;
        if (status == TAcceptStatus::Exhausted) {
            WatchListener(false);
            ResumeAcceptAt_ = now + AcceptBackoff;
            return;
        }
        if (Free_.empty()) Free_.emplace_back();
        TList::iterator c = Free_.begin();
        c->Self = c;
        c->Owner = &Free_;
        c->Socket = std::move(accepted.Socket);
        c->RemoteAddress = accepted.RemoteAddress;
        c->RemotePort = accepted.RemotePort;
        c->Size = 0;
        c->PeerClosed = false;
        c->Parser = TRequestParser(Config_.Limits);
        c->Watched = 0;
        Counters_.InService.fetch_add(1, std::memory_order_relaxed);
        Counters_.Accepted.fetch_add(1, std::memory_order_relaxed);
        Move(c, TState::Reading, Reading_, now + Config_.ReadTimeout);
        // The request has usually arrived with the handshake: try before waiting for it.
        try {
            OnReadable(c, now);
        } catch (const std::exception&) {
            if (c->Owner != &Free_) Close(c);
        }
    }
}

void THttpWorker::OnReadable(TList::iterator c, TClock::time_point now) {
    const std::size_t maxInput = Config_.Limits.MaxHeadBytes + Config_.Limits.MaxBodyBytes + FirstBuffer;
    for (;;) {
        if (c->Size == c->Capacity) {
            if (c->Capacity >= maxInput) break;
            std::size_t capacity = std::min(maxInput, std::max(FirstBuffer, c->Capacity * 2));
            std::unique_ptr<char[]> bigger(new char[capacity]);
            std::copy_n(c->Buffer.get(), c->Size, bigger.get());
            c->Buffer = std::move(bigger);
            c->Capacity = capacity;
        }
        TIoResult r = c->Socket.Receive(c->Buffer.get() + c->Size, c->Capacity - c->Size);
        if (r.Status == TIoStatus::Ok) {
            c->Size += r.Bytes;
            if (c->Size < c->Capacity) break;  // short read: nothing more waiting
            continue;
        }
        if (r.Status == TIoStatus::WouldBlock) break;
        if (r.Status == TIoStatus::Closed) {
            c->PeerClosed = true;
            break;
        }
        Counters_.Rejected.fetch_add(1, std::memory_order_relaxed);
        Close(c);
        return;
    }
    switch (c->Parser.Advance(c->Input(), c->PeerClosed)) {
        case TRequestStatus::Incomplete:
            Watch(c, PollRead);
            return;
        case TRequestStatus::Rejected:
            Counters_.Rejected.fetch_add(1, std::memory_order_relaxed);
            Close(c);
            return;
        case TRequestStatus::Complete:
            Respond(c, now);
            return;
    }
}

void THttpWorker::Respond(TList::iterator c, TClock::time_point now) {
    TIdHTTPRequestInfo request;
    c->Parser.TakeRequest(c->Input(), request);
    request.RemoteAddress = c->RemoteAddress;
    request.RemotePort = c->RemotePort;
    if (Config_.Lane && Config_.IsSlowRequest && Config_.IsSlowRequest(request)) {
        HandOver(c, std::move(request));
        return;
    }
    TIdHTTPResponseInfo response(Config_.ServerSoftware);
    RunHandler(Config_, request, response, Index_);
    if (Stopping_.load(std::memory_order_acquire)) {
        Close(c);
        return;
    }
    StartAnswer(c, response, now);
}

// The connection waits, unwatched and without deadline, for the lane's
// result; this worker meanwhile serves the others.
void THttpWorker::HandOver(TList::iterator c, TIdHTTPRequestInfo request) {
    if (c->Watched != 0) {
        Poller_.Remove(c->Socket.Handle());
        c->Watched = 0;
    }
    c->Serial = ++Serial_;
    Move(c, TState::Handling, Handling_, TClock::time_point::max());
    auto shared = std::make_shared<TIdHTTPRequestInfo>(std::move(request));
    Config_.Lane->Post([mailbox = Mailbox_, config = &Config_, index = Index_, c, serial = c->Serial, shared] {
        auto response = std::make_unique<TIdHTTPResponseInfo>(config->ServerSoftware);
        RunHandler(*config, *shared, *response, index);
        std::lock_guard l(mailbox->M);
        if (!mailbox->Worker) return;
        mailbox->Done.push_back({c, serial, std::move(response)});
        mailbox->Worker->Poller_.Wake();
    });
}

void THttpWorker::TakeFinishedHandlers(TClock::time_point now) {
    std::vector<TMailbox::TDone> done;
    {
        std::lock_guard l(Mailbox_->M);
        done.swap(Mailbox_->Done);
    }
    for (TMailbox::TDone& d : done) {
        if (d.Connection->Owner != &Handling_ || d.Connection->Serial != d.Serial) continue;
        try {
            StartAnswer(d.Connection, *d.Response, now);
        } catch (const std::exception&) {
            if (d.Connection->Owner != &Free_) Close(d.Connection);
        }
        d.Response.reset();
    }
}

void THttpWorker::StartAnswer(TList::iterator c, TIdHTTPResponseInfo& response, TClock::time_point now) {
    if (response.HeldStream) {
        if (Counters_.Held.fetch_add(1, std::memory_order_relaxed) >= Config_.MaxHeldStreams) {
            Counters_.Held.fetch_sub(1, std::memory_order_relaxed);
            Counters_.HeldRefused.fetch_add(1, std::memory_order_relaxed);
            response.HeldStream.reset();
            response.BodyStream.reset();
            response.SetStatus(503);
            response.CustomHeaders.push_back({"Retry-After", std::to_string(HeldRetryAfterSeconds)});
            response.ContentType = "text/plain";
            response.BodyText = "Too many open feeds.";
            response.ContentLength = -1;
        } else {
            c->IsHeld = true;
            c->Header = response.WriteHeader();  // while the stream is in it: a held head has no length
            c->Stream = std::move(response.HeldStream);
            Counters_.InService.fetch_sub(1, std::memory_order_relaxed);
            c->Stream->Attach([mailbox = Mailbox_] {
                std::lock_guard l(mailbox->M);
                if (!mailbox->Worker || mailbox->StreamsWoken) return;
                mailbox->StreamsWoken = true;
                mailbox->Worker->Poller_.Wake();
            });
        }
    }
    if (!response.HeaderHasBeenWritten()) c->Header = response.WriteHeader();
    c->BodyText = std::move(response.BodyText);
    c->BodyStream = std::move(response.BodyStream);
    std::int64_t owned = 0;
    if (!c->BodyText.empty()) {
        c->Body = c->BodyText;
        owned = static_cast<std::int64_t>(c->BodyText.size());
    } else if (c->BodyStream) {
        c->Body = c->BodyStream->View();
        if (!c->BodyStream->IsShared()) owned = static_cast<std::int64_t>(c->Body.size());
    } else {
        c->Body = {};
    }
    c->Held = static_cast<std::int64_t>(c->Header.size()) + owned;
    const std::int64_t held = Counters_.HeldBytes.fetch_add(c->Held, std::memory_order_relaxed) + c->Held;
    c->Sent = 0;
    Move(c, TState::Writing, Writing_, now + Config_.SendStallTimeout);
    OnWritable(c, now);
    if (held > Config_.MaxHeldBytes) {
        BoundHeldBytes(now);
        // Others may hold the slow readers: let them look too.
        for (const auto& peer : Peers_)
            if (peer.get() != this) peer->Poller_.Wake();
    }
}

void THttpWorker::OnWritable(TList::iterator c, TClock::time_point now) {
    bool progressed = false;
    for (;;) {
        std::string_view header = c->Header;
        std::string_view parts[2] = {header.substr(std::min(c->Sent, header.size())),
                                     c->Body.substr(c->Sent > header.size() ? c->Sent - header.size() : 0)};
        if (parts[0].empty() && parts[1].empty()) {
            Finish(c, now);
            return;
        }
        TIoResult r = c->Socket.Send(parts);
        if (r.Status == TIoStatus::Ok) {
            c->Sent += r.Bytes;
            progressed = progressed || r.Bytes > 0;
            continue;
        }
        if (r.Status == TIoStatus::WouldBlock) {
            // Writing_ stays in order of last progress: its front is the slowest reader.
            if (progressed) Move(c, TState::Writing, Writing_, now + Config_.SendStallTimeout);
            Watch(c, PollWrite);
            return;
        }
        Close(c);  // the peer went away: nothing more to do for it
        return;
    }
}

void THttpWorker::BoundHeldBytes(TClock::time_point now) {
    while (Counters_.HeldBytes.load(std::memory_order_relaxed) > Config_.MaxHeldBytes && !Writing_.empty() &&
           Writing_.front().Deadline - Config_.SendStallTimeout + SlowReaderAfter <= now) {
        Counters_.Stalled.fetch_add(1, std::memory_order_relaxed);
        Close(Writing_.begin());
    }
}

void THttpWorker::Finish(TList::iterator c, TClock::time_point now) {
    if (c->IsHeld) {
        if (c->Stream && !Draining_.load(std::memory_order_relaxed))
            Hold(c, now);
        else
            Close(c);
        return;
    }
    Counters_.Answered.fetch_add(1, std::memory_order_relaxed);
    // Closing with unread bytes would reset the connection and could destroy the
    // answer before the client has read it: let the client see our close first.
    if (c->PeerClosed || c->Size <= c->Parser.RequestLength()) {
        Close(c);
        return;
    }
    c->Socket.ShutdownSend();
    ReleaseAnswer(*c);
    Move(c, TState::Lingering, Lingering_, now + Config_.LingerTimeout);
    Watch(c, PollRead);
    Drain(c);
}

// Waits for more of a held answer, watching only for the peer's going.
void THttpWorker::Hold(TList::iterator c, TClock::time_point now) {
    ReleaseAnswer(*c);
    Move(c, TState::Holding, Holding_, now + Config_.Heartbeat);
    Watch(c, PollRead);
    // A wake-up while this answer was being written found it busy and
    // passed it by: what came meanwhile goes now, not at the heartbeat.
    Pump(c, false, now);
}

void THttpWorker::PumpWoken(TClock::time_point now) {
    {
        std::lock_guard l(Mailbox_->M);
        if (!Mailbox_->StreamsWoken) return;
        Mailbox_->StreamsWoken = false;
    }
    std::vector<TList::iterator> held;
    held.reserve(Holding_.size());
    for (auto c = Holding_.begin(); c != Holding_.end(); ++c) held.push_back(c);
    for (TList::iterator c : held) {
        try {
            if (c->Owner == &Holding_) Pump(c, false, now);
        } catch (const std::exception&) {
            if (c->Owner != &Free_) Close(c);
        }
    }
}

// Sends what the held answer has now, or its heartbeat after a quiet spell.
void THttpWorker::Pump(TList::iterator c, bool quiet, TClock::time_point now) {
    std::string out;
    bool more = false;
    try {
        more = c->Stream->Poll(out);
    } catch (const std::exception&) {
        more = false;
    }
    if (out.empty() && quiet && more) out = c->Stream->Heartbeat();
    if (!more) c->Stream.reset();
    if (out.empty()) {
        if (!more)
            Close(c);
        else if (quiet)
            Move(c, TState::Holding, Holding_, now + Config_.Heartbeat);
        return;
    }
    c->Header.clear();
    c->BodyText = std::move(out);
    c->Body = c->BodyText;
    c->Held = static_cast<std::int64_t>(c->BodyText.size());
    Counters_.HeldBytes.fetch_add(c->Held, std::memory_order_relaxed);
    c->Sent = 0;
    Move(c, TState::Writing, Writing_, now + Config_.SendStallTimeout);
    OnWritable(c, now);
}

void THttpWorker::Drain(TList::iterator c) {
    for (;;) {
        TIoResult r = c->Socket.Receive(c->Buffer.get(), c->Capacity);
        if (r.Status == TIoStatus::Ok) continue;
        if (r.Status == TIoStatus::WouldBlock) return;
        Close(c);
        return;
    }
}

// Each answer brings strings of its own (they are moved in), so a kept
// capacity would never be reused: let it go as soon as the answer is sent.
void THttpWorker::ReleaseAnswer(TConnection& c) {
    const bool large = c.Body.size() >= GiveBackAfter;
    std::string().swap(c.Header);
    std::string().swap(c.BodyText);
    c.BodyStream.reset();
    c.Body = {};
    Counters_.HeldBytes.fetch_sub(c.Held, std::memory_order_relaxed);
    c.Held = 0;
    if (large) ReleaseFreeMemory();
}

void THttpWorker::Move(TList::iterator c, TState state, TList& to, TClock::time_point deadline) {
    c->State = state;
    c->Deadline = deadline;
    to.splice(to.end(), *c->Owner, c);
    c->Owner = &to;
}

void THttpWorker::Watch(TList::iterator c, unsigned events) {
    if (c->Watched == events) return;
    if (c->Watched == 0)
        Poller_.Add(c->Socket.Handle(), events, &*c);
    else
        Poller_.Modify(c->Socket.Handle(), events, &*c);
    c->Watched = events;
}

void THttpWorker::Close(TList::iterator c) {
    c->Socket.Close();  // also leaves the poller
    c->Watched = 0;
    ReleaseAnswer(*c);
    if (c->Capacity > FirstBuffer) {
        c->Buffer.reset();
        c->Capacity = 0;
    }
    c->Size = 0;
    Free_.splice(Free_.begin(), *c->Owner, c);
    c->Owner = &Free_;
    if (c->IsHeld)
        Counters_.Held.fetch_sub(1, std::memory_order_relaxed);
    else
        Counters_.InService.fetch_sub(1, std::memory_order_relaxed);
    c->IsHeld = false;
    c->Stream.reset();
}

void THttpWorker::ExpireDeadlines(TClock::time_point now) {
    while (!Reading_.empty() && Reading_.front().Deadline <= now) {
        Counters_.TimedOut.fetch_add(1, std::memory_order_relaxed);
        Close(Reading_.begin());
    }
    while (!Writing_.empty() && Writing_.front().Deadline <= now) {
        Counters_.Stalled.fetch_add(1, std::memory_order_relaxed);
        Close(Writing_.begin());
    }
    while (!Lingering_.empty() && Lingering_.front().Deadline <= now) Close(Lingering_.begin());
    while (!Holding_.empty() && Holding_.front().Deadline <= now) {
        TList::iterator c = Holding_.begin();
        try {
            Pump(c, true, now);
        } catch (const std::exception&) {
            if (c->Owner != &Free_) Close(c);
        }
    }
}

void THttpWorker::CloseAll() {
    for (TList* list : {&Reading_, &Handling_, &Writing_, &Lingering_, &Holding_})
        while (!list->empty()) Close(list->begin());
    Free_.clear();
}
