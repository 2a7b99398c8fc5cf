#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "api/change_history.h"
#include "api/event_feed.h"
#include "platform/clock.h"
#include "platform/dir_watch.h"

class TKavelEnv;

// Counters for /metrics: answers by route and status, and their latency.
class TRequestMetrics {
public:
    static constexpr double Buckets[] = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1, 5};
    static constexpr size_t BucketCount = sizeof Buckets / sizeof Buckets[0];

    void Observe(const std::string& route, int status, double seconds);
    // Prometheus text of these counters.
    std::string Text() const;

private:
    mutable std::mutex M_;
    std::map<std::pair<std::string, int>, std::uint64_t> Answers_;
    std::uint64_t Counts_[BucketCount + 1] = {};
    double Sum_ = 0;
    std::uint64_t Total_ = 0;
};

// What makes the board live: the change detector on the common directory,
// the event feed and the change history, hooked into the environment.
class TLive {
public:
    // Hooks env; call before env scans its directory for the first time.
    TLive(TKavelEnv& env, const std::string& homeDirectory, const TClock& clock = SystemClock());
    ~TLive();
    TLive(const TLive&) = delete;
    TLive& operator=(const TLive&) = delete;

    // Starts the detector as kavel.ini asks (once the directory is read).
    void StartWatching();
    void StopWatching();
    bool Notifying() const;

    TKavelEnv& Env() const { return Env_; }
    TEventFeed& Feed() const { return *Feed_; }
    TChangeHistory& History() { return History_; }
    TRequestMetrics& Requests() { return Requests_; }
    // When the feed last told of a change (0: not since the start).
    TDateTime LastChange() const { return LastChange_.load(); }
    // Held feeds open now, as the server counts them; set by its owner.
    std::function<std::int64_t()> WatchersNow;

private:
    void OnDetected(const TDirChanges& changes);

    TKavelEnv& Env_;
    std::shared_ptr<TEventFeed> Feed_;
    TChangeHistory History_;
    TRequestMetrics Requests_;
    std::unique_ptr<TDirectoryWatcher> Watcher_;
    std::atomic<bool> Primed_{false};  // the first scan is behind us
    const TClock& Clock_;
    std::atomic<TDateTime> LastChange_{0};
};
