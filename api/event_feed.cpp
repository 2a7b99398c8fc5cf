#include "api/event_feed.h"

#include <functional>
#include <nlohmann/json.hpp>

#include "http/http_held_stream.h"

struct TEventFeed::TWatcher {
    std::mutex M;
    std::function<void()> Wake;
};

namespace {

class TFeedStream : public THeldStream {
public:
    TFeedStream(std::shared_ptr<TEventFeed> feed, std::uint64_t sent)
        : Feed_(std::move(feed)), Sent_(sent), Watcher_(std::make_shared<TEventFeed::TWatcher>()) {}

    void Attach(std::function<void()> wake) override {
        {
            std::lock_guard l(Watcher_->M);
            Watcher_->Wake = std::move(wake);
        }
        Feed_->Attach(Watcher_);
        // A change published before we were attached woke nobody.
        if (Feed_->Version() != Sent_) {
            std::lock_guard l(Watcher_->M);
            Watcher_->Wake();
        }
    }

    bool Poll(std::string& out) override {
        if (Feed_->Version() == Sent_) return true;
        std::uint64_t last = Sent_;
        if (!Feed_->EventsAfter(Sent_, out, last)) {
            last = Feed_->Version();
            out += Feed_->VersionEvent(last);
        }
        Sent_ = last;
        return true;
    }

    std::string Heartbeat() const override { return ": keep-alive\n\n"; }

private:
    std::shared_ptr<TEventFeed> Feed_;
    std::uint64_t Sent_;
    std::shared_ptr<TEventFeed::TWatcher> Watcher_;
};

std::string EventText(std::uint64_t id, const char* type, const nlohmann::json& data) {
    return "id: " + std::to_string(id) + "\nevent: " + type + "\ndata: " + data.dump() + "\n\n";
}

}  // namespace

void TEventFeed::Publish(const std::vector<std::string>& keys) {
    std::vector<std::shared_ptr<TWatcher>> wake;
    {
        std::lock_guard l(M_);
        const std::uint64_t version = Version_.load() + 1;
        Events_.emplace_back(version, EventText(version, "change", {{"version", version}, {"keys", keys}}));
        while (Events_.size() > Kept_) Events_.pop_front();
        Version_.store(version, std::memory_order_release);
        std::erase_if(Watchers_, [](const std::weak_ptr<TWatcher>& w) { return w.expired(); });
        for (const auto& w : Watchers_)
            if (auto live = w.lock()) wake.push_back(std::move(live));
    }
    for (const auto& w : wake) {
        std::lock_guard l(w->M);
        if (w->Wake) w->Wake();
    }
}

std::shared_ptr<THeldStream> TEventFeed::Open(std::optional<std::uint64_t> lastEventId, std::string& greeting) {
    std::uint64_t version = Version();
    greeting = "retry: 2000\n";
    // The missed events end at the version they were taken at, maybe a later one.
    if (lastEventId && *lastEventId < version && !EventsAfter(*lastEventId, greeting, version)) version = Version();
    greeting += VersionEvent(version);
    return std::make_shared<TFeedStream>(shared_from_this(), version);
}

std::string TEventFeed::VersionEvent(std::uint64_t version) const {
    return EventText(version, "version", {{"version", version}});
}

bool TEventFeed::EventsAfter(std::uint64_t after, std::string& out, std::uint64_t& last) const {
    std::lock_guard l(M_);
    last = after;
    if (after >= Version_.load()) return true;
    if (Events_.empty() || Events_.front().first > after + 1) return false;
    for (const auto& [id, text] : Events_)
        if (id > after) {
            out += text;
            last = id;
        }
    return true;
}

std::optional<std::uint64_t> ParseEventId(std::string_view id) {
    std::uint64_t value = 0;
    if (id.empty() || id.size() > 20) return std::nullopt;
    for (char c : id) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::uint64_t next = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (next / 10 != value) return std::nullopt;  // beyond 64 bits
        value = next;
    }
    return value;
}

void TEventFeed::Attach(const std::shared_ptr<TWatcher>& watcher) {
    std::lock_guard l(M_);
    std::erase_if(Watchers_, [](const std::weak_ptr<TWatcher>& w) { return w.expired(); });
    Watchers_.push_back(watcher);
}

size_t TEventFeed::Watchers() {
    std::lock_guard l(M_);
    std::erase_if(Watchers_, [](const std::weak_ptr<TWatcher>& w) { return w.expired(); });
    return Watchers_.size();
}
