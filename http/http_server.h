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

using TIdHTTPCommandEvent =
    std::function<void(TIdPeerThread& ASender, const TIdHTTPRequestInfo& ARequestInfo,
                       TIdHTTPResponseInfo& AResponseInfo)>;

struct THttpServerStatistics {
    std::uint64_t Accepted = 0;
    std::uint64_t Answered = 0;
    std::uint64_t Rejected = 0;  // closed without an answer: parse failures and peers gone
    std::uint64_t TimedOut = 0;  // request not read (or answer not taken) in time
    std::uint64_t Evicted = 0;   // cut to make room for a newer connection
};

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
    int MaxConnections = 1024;  // in service at once; beyond, the oldest unread one makes room
    int ReadTimeoutMs = 30000;  // for the whole request
    int WriteTimeoutMs = 30000; // for the whole answer
    int LingerTimeoutMs = 2000; // draining what a client sent beyond its request
    int TerminateWaitMs = 5000;
    int TerminateCheckMs = 250;
    THttpLimits Limits;

    // Opens the listener on all local IPv4 addresses and starts the workers;
    // does nothing when active. Throws when the port cannot be opened.
    void Activate();
    // Closes the listener, cuts open connections and waits for the workers;
    // raises "Terminate Thread Timeout" when they do not end in time.
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
