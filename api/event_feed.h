#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class THeldStream;

// The change feed's events (Server-Sent Events, UTF-8): each change of the
// persons list gets the next version as its id, and every open feed is woken
// to send it. The last events are kept so that a feed reconnecting with
// Last-Event-ID gets what it missed; one that missed more gets the current
// version, its cue to read the whole list again.
class TEventFeed : public std::enable_shared_from_this<TEventFeed> {
public:
    // Versions count on from first: each start of the server begins above
    // the last one's, so a feed reconnecting to it never goes back.
    explicit TEventFeed(size_t kept = 256, std::uint64_t first = 0) : Kept_(kept), Version_(first) {}

    std::uint64_t Version() const { return Version_.load(std::memory_order_acquire); }
    // A new version whose event names the changed persons' keys (UTF-8).
    void Publish(const std::vector<std::string>& keys);
    // A feed. greeting gets what it sends first: the events after
    // lastEventId when they are all still kept, then the current version;
    // the stream sends every later event.
    std::shared_ptr<THeldStream> Open(std::optional<std::uint64_t> lastEventId, std::string& greeting);
    // Feeds still attached.
    size_t Watchers();

    // The events after version `after`, appended to out, and the last one's
    // id in last; false (nothing appended) when some are no longer kept.
    bool EventsAfter(std::uint64_t after, std::string& out, std::uint64_t& last) const;
    // The greeting: the current version as an event of its own.
    std::string VersionEvent(std::uint64_t version) const;

    struct TWatcher;
    void Attach(const std::shared_ptr<TWatcher>& watcher);

private:
    const size_t Kept_;
    mutable std::mutex M_;
    std::deque<std::pair<std::uint64_t, std::string>> Events_;
    std::vector<std::weak_ptr<TWatcher>> Watchers_;
    std::atomic<std::uint64_t> Version_;
};

// A Last-Event-ID as sent back: decimal digits only, else none.
std::optional<std::uint64_t> ParseEventId(std::string_view id);
