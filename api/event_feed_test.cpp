#include "api/event_feed.h"

#include <gtest/gtest.h>

#include <random>

#include "http/http_held_stream.h"

namespace {

struct TEvent {
    std::uint64_t Id;
    std::string Type;
};

// The events of a stretch of the stream, in order (retry and comments aside).
std::vector<TEvent> Events(const std::string& text) {
    std::vector<TEvent> out;
    for (size_t at = 0, end; (end = text.find("\n\n", at)) != std::string::npos; at = end + 2) {
        const std::string block = "\n" + text.substr(at, end - at) + "\n";
        const size_t id = block.find("\nid: "), type = block.find("\nevent: ");
        if (id == std::string::npos) continue;
        out.push_back(
            {std::stoull(block.substr(id + 5)), block.substr(type + 8, block.find('\n', type + 1) - type - 8)});
    }
    return out;
}

std::vector<TEvent> Greeting(TEventFeed& feed, std::optional<std::uint64_t> last) {
    std::string text;
    feed.Open(last, text);
    return Events(text);
}

}  // namespace

TEST(EventFeed, AReconnectGetsWhatItMissedOrTheVersionAloneWhenThatIsGone) {
    auto feed = std::make_shared<TEventFeed>(4, 1000);
    for (int i = 0; i < 3; ++i) feed->Publish({"k" + std::to_string(i)});
    std::vector<TEvent> missed = Greeting(*feed, 1001);
    ASSERT_EQ(missed.size(), 3u);
    EXPECT_EQ(missed[0].Id, 1002u);
    EXPECT_EQ(missed[0].Type, "change");
    EXPECT_EQ(missed[1].Id, 1003u);
    EXPECT_EQ(missed[2].Id, 1003u);
    EXPECT_EQ(missed[2].Type, "version");

    for (int i = 0; i < 4; ++i) feed->Publish({});
    // 1002 and 1003 are no longer kept; an id of another start, or one never
    // sent, is no id.
    for (std::optional<std::uint64_t> last : {std::optional<std::uint64_t>(1001), std::optional<std::uint64_t>(7),
                                              std::optional<std::uint64_t>(99999), std::optional<std::uint64_t>()}) {
        std::vector<TEvent> fresh = Greeting(*feed, last);
        ASSERT_EQ(fresh.size(), 1u);
        EXPECT_EQ(fresh[0].Id, 1007u);
        EXPECT_EQ(fresh[0].Type, "version");
    }
}

TEST(EventFeed, OnlyDecimalDigitsAreAnEventId) {
    EXPECT_EQ(ParseEventId("1702345678901234"), 1702345678901234u);
    EXPECT_EQ(ParseEventId("18446744073709551615"), UINT64_MAX);
    for (const char* bad :
         {"", "-1", "+1", " 1", "1 ", "7x", "0x10", "1.5", "18446744073709551616", "99999999999999999999"})
        EXPECT_EQ(ParseEventId(bad), std::nullopt) << bad;
}

// Watchers that come and go (each back with the last id it saw) while
// changes are published: none ever sees an id lower than one it saw, and none
// passes over a change without a version event, its cue to read everything
// again.
TEST(EventFeed, NoWatcherGoesBackOrMissesAChangeUnawares) {
    std::mt19937 random(18);
    auto feed = std::make_shared<TEventFeed>(8, 5000);
    struct TWatcher {
        std::shared_ptr<THeldStream> Stream;
        std::optional<std::uint64_t> Last;
        int Wakes = 0;
    };
    std::vector<TWatcher> watchers(6);
    auto see = [](TWatcher& w, const std::string& text) {
        for (const TEvent& e : Events(text)) {
            if (w.Last) {
                ASSERT_GE(e.Id, *w.Last);
                if (e.Id > *w.Last + 1) {
                    ASSERT_EQ(e.Type, "version") << *w.Last << " -> " << e.Id;
                }
            }
            w.Last = e.Id;
        }
    };
    for (int step = 0; step < 20000 && !::testing::Test::HasFatalFailure(); ++step) {
        TWatcher& w = watchers[random() % watchers.size()];
        switch (random() % 4) {
            case 0:
                feed->Publish({"k"});
                break;
            case 1: {  // a (re)connect
                std::string greeting;
                w.Stream = feed->Open(w.Last, greeting);
                w.Stream->Attach([&w] { ++w.Wakes; });
                see(w, greeting);
                break;
            }
            default:
                if (w.Stream) {
                    std::string out;
                    ASSERT_TRUE(w.Stream->Poll(out));
                    see(w, out);
                    ASSERT_EQ(w.Last.value_or(0), feed->Version());
                }
        }
    }
    for (const TWatcher& w : watchers) EXPECT_GT(w.Wakes, 0);
}
