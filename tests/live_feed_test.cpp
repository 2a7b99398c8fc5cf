// The feed across reconnects and a restart, and the history across a log
// rotation, as a whole server.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/server_harness.h"

namespace {

struct TEvent {
    std::uint64_t Id;
    std::string Type;
};

// A feed read as it comes.
class TFeed {
public:
    TFeed(std::uint16_t port, std::optional<std::uint64_t> last)
        : Fd_(OpenRequest(port, "/api/v1/events",
                          last ? std::vector<std::string>{"Last-Event-ID: " + std::to_string(*last)}
                               : std::vector<std::string>{})) {}
    ~TFeed() { ::close(Fd_); }
    // Until the events so far satisfy done; false when they did not in time.
    bool ReadUntil(const std::function<bool(const std::vector<TEvent>&)>& done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(PatienceMs);
        while (!done(Events()) && std::chrono::steady_clock::now() < until) {
            pollfd p{Fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(Fd_, buf, sizeof buf);
            if (n <= 0) break;
            Got.append(buf, n);
        }
        return done(Events());
    }
    // The whole events come so far.
    std::vector<TEvent> Events() const {
        std::vector<TEvent> out;
        const size_t body = Got.find("\r\n\r\n");
        if (body == std::string::npos) return out;
        for (size_t at = body + 4, end; (end = Got.find("\n\n", at)) != std::string::npos; at = end + 2) {
            std::istringstream lines(Got.substr(at, end - at));
            TEvent e{0, ""};
            for (std::string line; std::getline(lines, line);) {
                if (line.starts_with("id: ")) e.Id = std::stoull(line.substr(4));
                if (line.starts_with("event: ")) e.Type = line.substr(7);
            }
            if (!e.Type.empty()) out.push_back(e);
        }
        return out;
    }
    std::string Got;

private:
    int Fd_;
};

class LiveFeed : public ::testing::Test {
protected:
    void SetUp() override { Start(); }
    void Start() {
        server.reset();
        server = std::make_unique<TServerProcess>(files);
        ASSERT_TRUE(server->WaitReady());
    }
    // A change of aoki's reason through the classic page.
    void Submit() {
        ASSERT_EQ(HttpGet(files.Port(), "/uhuzaisetsubmit?user=aoki&modoritype=nolimit&statusicon=0&huzairiyu=r" +
                                            std::to_string(++changes))
                      .Status,
                  200);
    }
    TServerFiles files;
    std::unique_ptr<TServerProcess> server;
    int changes = 0;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

// A watcher that reconnects with the last id it saw never hears a lower one,
// also from a restarted server; it passes over a change only with a version
// event, its cue to read the board again; and it hears of every change made
// on the server it is connected to, live or on its return.
TEST_F(LiveFeed, AWatcherNeverGoesBackAcrossReconnectsAndARestart) {
    std::optional<std::uint64_t> last;
    std::set<std::uint64_t> heard;  // changes heard of from this start
    size_t made = 0;                // changes made since this start
    for (int round = 0; round < 6; ++round) {
        if (round == 3) {
            ASSERT_NO_FATAL_FAILURE(Start());
            heard.clear();
            made = 0;
        }
        TFeed feed(files.Port(), last);
        ASSERT_NO_FATAL_FAILURE(Submit());
        ++made;
        const bool all = feed.ReadUntil([&](const std::vector<TEvent>& events) {
            std::set<std::uint64_t> ids = heard;
            for (const TEvent& e : events)
                if (e.Type == "change") ids.insert(e.Id);
            return ids.size() == made;
        });
        ASSERT_TRUE(all) << round << "\n" << feed.Got;
        for (const TEvent& e : feed.Events()) {
            if (last) {
                ASSERT_GE(e.Id, *last) << round;
                if (e.Id > *last + 1) {
                    EXPECT_EQ(e.Type, "version") << round;
                }
            }
            last = e.Id;
            if (e.Type == "change") heard.insert(e.Id);
        }
        ASSERT_NO_FATAL_FAILURE(Submit());  // while away
        ++made;
    }
}

// logrotate moves the history away and sends SIGHUP: later records go to a
// new file, none is lost, and the API still shows the last ones of both.
TEST_F(LiveFeed, HistoryRecordsAfterARotationGoToANewFileAndNoneIsLost) {
    const std::string history = files.Home() + "history.jsonl";
    for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Submit());
    const std::string log = files.Home() + "QUOR.LOG";
    ASSERT_EQ(std::rename(history.c_str(), (history + ".1").c_str()), 0);
    ASSERT_EQ(std::rename(log.c_str(), (log + ".1").c_str()), 0);
    server->Signal(SIGHUP);
    for (int i = 0; i < PatienceMs / 10 && ::access(log.c_str(), F_OK) != 0; ++i) ::usleep(10000);
    for (int i = 0; i < 2; ++i) ASSERT_NO_FATAL_FAILURE(Submit());
    auto reasons = [](const std::string& text) {
        std::vector<std::string> out;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            out.push_back(nlohmann::json::parse(line)["after"]["reason"]);
        return out;
    };
    EXPECT_EQ(reasons(ReadFile(history + ".1")), (std::vector<std::string>{"r1", "r2", "r3"}));
    EXPECT_EQ(reasons(ReadFile(history)), (std::vector<std::string>{"r4", "r5"}));
    std::vector<std::string> shown;
    for (const auto& r : nlohmann::json::parse(HttpGet(files.Port(), "/api/v1/persons/aoki/history").Body))
        shown.push_back(r["after"]["reason"]);
    EXPECT_EQ(shown, (std::vector<std::string>{"r1", "r2", "r3", "r4", "r5"}));
    EXPECT_EQ(files.CountLog("/uhuzaisetsubmit"), 2);  // the requests after the reopen, in the new log
}
