#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/http_request_info.h"
#include "http/http_request_parser.h"
#include "http/http_response_info.h"

// The connection a request came on, handed to the handler as ASender.
class TIdPeerThread {
public:
    TIdPeerThread(const std::string& remoteAddress, std::uint16_t remotePort, int workerIndex)
        : RemoteAddress(remoteAddress), RemotePort(remotePort), WorkerIndex(workerIndex) {}
    const std::string& RemoteAddress;
    const std::uint16_t RemotePort;
    const int WorkerIndex;
};

using TIdHTTPCommandEvent = std::function<void(TIdPeerThread& ASender, const TIdHTTPRequestInfo& ARequestInfo,
                                               TIdHTTPResponseInfo& AResponseInfo)>;

struct THttpServerStatistics {
    std::uint64_t Accepted = 0;
    std::uint64_t Answered = 0;
    std::uint64_t Rejected = 0;     // closed without an answer: parse failures and peers gone
    std::uint64_t TimedOut = 0;     // request not read (or answer not taken) in time
    std::uint64_t Evicted = 0;      // cut to make room for a newer connection
    std::uint64_t Stalled = 0;      // answers cut: no progress, or over the bound on bytes held
    std::uint64_t CutAtStop = 0;    // answers still in flight when the drain bound ran out
    std::int64_t Held = 0;          // held answers (event feeds) open now
    std::uint64_t HeldRefused = 0;  // held answers refused at their cap
};

// Tells whether a request may keep its handler busy for long (a page built
// from a large file); such requests run on a lane of their own.
using TSlowRequestTest = std::function<bool(const TIdHTTPRequestInfo& request)>;

// HTTP/1.1 server: one request per connection, then the connection is closed.
// A fixed pool of worker threads, each with its own event loop, reads the
// request, runs OnCommandGet on its own thread and writes the answer.
// Properties are read when the server is activated.
class TIdHTTPServer {
public:
    TIdHTTPServer();
    ~TIdHTTPServer();
    TIdHTTPServer(const TIdHTTPServer&) = delete;
    TIdHTTPServer& operator=(const TIdHTTPServer&) = delete;

    std::uint16_t DefaultPort = 80;  // 0: any free port, see BoundPort
    std::string ServerSoftware;
    TIdHTTPCommandEvent OnCommandGet;

    // A page brings a burst of image requests from every browser showing it;
    // connections beyond a short queue have their SYN dropped and come back
    // only after the client's one-second retransmit.
    int ListenQueue = 511;
    // Handlers may block on file I/O for milliseconds; with several workers a
    // blocked one delays only the connections it already holds.
    int WorkerCount = 4;
    // In service at once; beyond, the oldest unread one makes room, else the
    // answer whose reader has taken nothing for longest.
    int MaxConnections = 1024;
    // Held answers (see http/http_held_stream.h) open at once, apart from
    // MaxConnections; beyond it such a request is answered 503 with
    // Retry-After.
    int MaxHeldStreams = 4096;
    // A held answer with nothing to send for this long sends its heartbeat.
    int HeartbeatMs = 25000;
    int ReadTimeoutMs = 30000;  // for the whole request
    // An answer the client takes nothing of for this long is cut: a reader
    // keeps its connection only while it reads.
    int SendStallTimeoutMs = 10000;
    // Bytes held by answers in flight that are theirs alone (bodies shared
    // with the page cache or the images do not count). Beyond it the answers
    // whose readers have taken nothing for longest are cut first.
    std::int64_t MaxHeldAnswerBytes = 128ll << 20;
    int LingerTimeoutMs = 2000;  // draining what a client sent beyond its request
    // Deactivation lets answers in flight and running handlers finish for
    // this long, then cuts what remains and waits TerminateWaitMs more for
    // the handlers.
    int DrainTimeoutMs = 3000;
    int TerminateWaitMs = 500;
    int TerminateCheckMs = 250;
    THttpLimits Limits;
    // Requests it holds for run on SlowLaneThreads threads of their own, so
    // that however many wait there, the workers go on serving everybody else.
    TSlowRequestTest IsSlowRequest;
    int SlowLaneThreads = 2;

    // Opens the listener on all local IPv4 addresses and starts the workers;
    // does nothing when active. Throws when the port cannot be opened.
    void Activate();
    // Closes the listener and cuts connections still reading their request;
    // answers in flight get DrainTimeoutMs to finish, then are cut too.
    // Raises "Terminate Thread Timeout" when a handler has not returned
    // TerminateWaitMs after that.
    void Deactivate();
    void SetActive(bool active) { active ? Activate() : Deactivate(); }
    bool Active() const;
    // The port listened on while active (DefaultPort, or the one picked for 0).
    std::uint16_t BoundPort() const;

    THttpServerStatistics Statistics() const;

    struct TActivation;

private:
    void ReapRetired(bool wait);

    mutable std::mutex Mutex_;
    std::unique_ptr<TActivation> Current_;
    std::vector<std::unique_ptr<TActivation>> Retired_;  // workers that outlived a deactivation
    std::shared_ptr<struct THttpCounters> Counters_;
};
