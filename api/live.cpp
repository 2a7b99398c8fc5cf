#include "api/live.h"

#include <cstdio>
#include <thread>

#include "api/api_handler.h"
#include "data/kavel_env.h"
#include "data/persons_list.h"

void TRequestMetrics::Observe(const std::string& route, int status, double seconds) {
    std::lock_guard l(M_);
    ++Answers_[{route, status}];
    size_t b = 0;
    while (b < BucketCount && seconds > Buckets[b]) ++b;
    ++Counts_[b];
    Sum_ += seconds;
    ++Total_;
}

std::string TRequestMetrics::Text() const {
    std::lock_guard l(M_);
    std::string out =
        "# HELP quor_http_requests_total Answers by route and status.\n"
        "# TYPE quor_http_requests_total counter\n";
    for (const auto& [key, count] : Answers_)
        out += "quor_http_requests_total{route=\"" + key.first + "\",status=\"" + std::to_string(key.second) + "\"} " +
               std::to_string(count) + "\n";
    out +=
        "# HELP quor_http_request_duration_seconds Time from request read to answer ready.\n"
        "# TYPE quor_http_request_duration_seconds histogram\n";
    std::uint64_t cumulative = 0;
    char number[32];
    for (size_t b = 0; b < BucketCount; ++b) {
        cumulative += Counts_[b];
        std::snprintf(number, sizeof number, "%g", Buckets[b]);
        out += std::string("quor_http_request_duration_seconds_bucket{le=\"") + number + "\"} " +
               std::to_string(cumulative) + "\n";
    }
    out += "quor_http_request_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(Total_) + "\n";
    std::snprintf(number, sizeof number, "%.6f", Sum_);
    out += std::string("quor_http_request_duration_seconds_sum ") + number + "\n";
    out += "quor_http_request_duration_seconds_count " + std::to_string(Total_) + "\n";
    return out;
}

TLive::TLive(TKavelEnv& env, const std::string& homeDirectory, const TClock& clock)
    : Env_(env),
      Feed_(std::make_shared<TEventFeed>()),
      History_(homeDirectory + "history.jsonl", clock),
      Clock_(clock) {
    env.SetOnStored([this](const TKavelEnv::TStoredChange& change) { History_.OnStored(change); });
    env.SetOnRescanned(
        [this](const TKavelPersonsList& before, const TKavelPersonsList& after, const std::vector<std::string>& keys) {
            // The first scan finds everybody: nothing has changed yet.
            if (!Primed_.load()) return;
            History_.OnRescanned(Env_, before, after, keys);
            std::vector<std::string> utf8;
            // A key with no UTF-8 form is left out, as the API leaves it out.
            for (const std::string& key : keys)
                if (std::optional<std::string> u = StrictUtf8(key)) utf8.push_back(std::move(*u));
            LastChange_.store(Clock_.Now());
            Feed_->Publish(utf8);
        });
}

TLive::~TLive() {
    StopWatching();
    Env_.SetOnStored(nullptr);
    Env_.SetOnRescanned(nullptr);
}

void TLive::StartWatching() {
    Primed_.store(true);
    if (Watcher_) return;
    Watcher_ = std::make_unique<TDirectoryWatcher>(
        Env_.CommonDirectory(), std::vector<std::string>{".kvl", ".off", ".mil"}, Env_.WatchMode(), Env_.WatchPollMs(),
        [this](const TDirChanges& changes) { OnDetected(changes); });
}

void TLive::StopWatching() { Watcher_.reset(); }

bool TLive::Notifying() const { return Watcher_ && Watcher_->Notifying(); }

// On the detector's thread: the rescan runs here, so the feed hears of the
// change without waiting for a page to ask.
void TLive::OnDetected(const TDirChanges& changes) {
    Env_.ForceReload(changes);
    for (int tries = 0; tries < 200; ++tries) {
        try {
            if (Env_.RescanIfDue()) return;
        } catch (const std::exception&) {
            return;  // the next request or notice tries again
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
