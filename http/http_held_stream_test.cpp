#include "http/http_held_stream.h"

#include <gtest/gtest.h>

#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "http/http_server.h"
#include "platform/tcp_socket.h"

namespace {

// A stream fed from the test's thread, as the event feed is fed from a scan's.
class TPushedStream : public THeldStream {
public:
    void Attach(std::function<void()> wake) override {
        std::lock_guard l(M_);
        Wake_ = std::move(wake);
        if (!Queue_.empty()) Wake_();
    }
    bool Poll(std::string& out) override {
        std::lock_guard l(M_);
        for (; !Queue_.empty(); Queue_.pop_front()) out += Queue_.front();
        return !Ended_;
    }
    std::string Heartbeat() const override { return ": beat\n\n"; }
    void Push(std::string text, bool end = false) {
        std::lock_guard l(M_);
        Queue_.push_back(std::move(text));
        Ended_ = end;
        if (Wake_) Wake_();
    }

private:
    std::mutex M_;
    std::deque<std::string> Queue_;
    bool Ended_ = false;
    std::function<void()> Wake_;
};

class TWatcher {
public:
    explicit TWatcher(std::uint16_t port, const std::string& path = "/events")
        : Socket_(TTcpSocket::Connect("127.0.0.1", port)) {
        Socket_.SetReceiveTimeout(15000);
        Socket_.Send("GET " + path + " HTTP/1.1\r\n\r\n");
    }
    // Reads until text has come (true) or the server closed or went quiet.
    bool ReadUntil(std::string_view text) {
        char buf[1 << 16];
        for (size_t from = 0; Got.find(text, from) == std::string::npos;) {
            from = Got.size() < text.size() ? 0 : Got.size() - text.size();
            TIoResult r = Socket_.Receive(buf, sizeof buf);
            if (r.Status != TIoStatus::Ok) {
                Closed = r.Status == TIoStatus::Closed || r.Status == TIoStatus::Failed;
                return false;
            }
            Got.append(buf, r.Bytes);
        }
        return true;
    }
    void Close() { Socket_.Close(); }
    std::string Got;
    bool Closed = false;

private:
    TTcpSocket Socket_;
};

class HeldStream : public ::testing::Test {
protected:
    HeldStream() {
        Server.DefaultPort = 0;
        Server.OnCommandGet = [this](TIdPeerThread&, const TIdHTTPRequestInfo& req, TIdHTTPResponseInfo& res) {
            if (req.DocumentPath != "/events") return Ordinary(req, res);
            auto stream = std::make_shared<TPushedStream>();
            {
                std::lock_guard l(M);
                Streams.push_back(stream);
            }
            res.ContentType = "text/event-stream";
            res.BodyText = "hello\n";
            res.HeldStream = stream;
        };
    }
    std::uint16_t Start() {
        Server.Activate();
        return Server.BoundPort();
    }
    std::shared_ptr<TPushedStream> Stream(size_t i) {
        std::lock_guard l(M);
        return Streams.at(i);
    }
    // Statistics are eventual: the workers count on their own threads.
    template <class F>
    bool Eventually(F f) {
        for (int i = 0; i < 1500 && !f(Server.Statistics()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return f(Server.Statistics());
    }

    TIdHTTPServer Server;
    std::function<void(const TIdHTTPRequestInfo&, TIdHTTPResponseInfo&)> Ordinary =
        [](const TIdHTTPRequestInfo&, TIdHTTPResponseInfo& res) { res.BodyText = "page"; };
    std::mutex M;
    std::vector<std::shared_ptr<TPushedStream>> Streams;
};

}  // namespace

TEST_F(HeldStream, PushedBytesArriveAQuietSpellBringsTheHeartbeatAndTheStreamsEndCloses) {
    Server.HeartbeatMs = 20;
    TWatcher w(Start());
    ASSERT_TRUE(w.ReadUntil("hello\n"));
    EXPECT_EQ(w.Got.find("Content-Length"), std::string::npos) << w.Got;
    EXPECT_EQ(Server.Statistics().Held, 1);
    Stream(0)->Push("one\n");
    ASSERT_TRUE(w.ReadUntil("one\n"));
    ASSERT_TRUE(w.ReadUntil("one\n: beat\n\n"));
    Stream(0)->Push("bye\n", true);
    EXPECT_TRUE(w.ReadUntil("bye\n"));
    EXPECT_FALSE(w.ReadUntil("never"));
    EXPECT_TRUE(w.Closed);
    EXPECT_TRUE(Eventually([](const THttpServerStatistics& s) { return s.Held == 0; }));
}

// A wake-up while the last event is still being written must not be lost
// until the next heartbeat (an hour here).
TEST_F(HeldStream, WhatComesWhileAnEventIsStillBeingWrittenFollowsIt) {
    Server.HeartbeatMs = 3600000;
    TWatcher w(Start());
    ASSERT_TRUE(w.ReadUntil("hello\n"));
    Stream(0)->Push(std::string(16 << 20, 'x') + "\n");  // more than the socket takes
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Stream(0)->Push("after\n");
    EXPECT_TRUE(w.ReadUntil("\nafter\n"));
}

TEST_F(HeldStream, ASlowOrGoneReaderIsCutWhileTheOthersGetEveryEvent) {
    Server.SendStallTimeoutMs = 200;
    const std::uint16_t port = Start();
    TWatcher slow(port), gone(port), reader(port);
    for (TWatcher* w : {&slow, &gone, &reader}) ASSERT_TRUE(w->ReadUntil("hello\n"));
    gone.Close();
    const std::string big(1 << 20, 'x');
    for (int i = 0; i < 16; ++i) {
        for (size_t s = 0; s < 3; ++s) Stream(s)->Push(big + "<" + std::to_string(i) + ">");
        ASSERT_TRUE(reader.ReadUntil("x<" + std::to_string(i) + ">")) << i;
    }
    // The gone reader may count as stalled too when its reset comes late (a loaded machine).
    EXPECT_TRUE(Eventually([](const THttpServerStatistics& s) { return s.Held == 1 && s.Stalled >= 1; }))
        << "held " << Server.Statistics().Held << ", stalled " << Server.Statistics().Stalled;
    Stream(2)->Push("last\n");
    EXPECT_TRUE(reader.ReadUntil("last\n"));
}

TEST_F(HeldStream, TheNextPastTheCapGets503WithRetryAfterAndAClosedOneFreesItsPlace) {
    ASSERT_EQ(Server.MaxHeldStreams, 4096);
#ifdef _WIN32
    Server.MaxHeldStreams = 32;  // Wine takes minutes over 4,096 connections, and its sockets a while after
#endif
    const int cap = Server.MaxHeldStreams;
    const std::uint16_t port = Start();
    std::vector<std::unique_ptr<TWatcher>> open;
    for (int i = 0; i < cap; ++i) {
        open.push_back(std::make_unique<TWatcher>(port));
        ASSERT_TRUE(open.back()->ReadUntil("hello\n")) << i;
    }
    TWatcher refused(port);
    EXPECT_FALSE(refused.ReadUntil("hello\n"));
    EXPECT_TRUE(refused.Closed);
    EXPECT_EQ(refused.Got.rfind("HTTP/1.1 503 ", 0), 0u) << refused.Got;
    EXPECT_NE(refused.Got.find("\r\nRetry-After: "), std::string::npos) << refused.Got;
    EXPECT_EQ(Server.Statistics().HeldRefused, 1u);
    open.front()->Close();
    EXPECT_TRUE(Eventually([cap](const THttpServerStatistics& s) { return s.Held == cap - 1; }));
    EXPECT_TRUE(TWatcher(port).ReadUntil("hello\n"));
}

TEST_F(HeldStream, AStopEndsEveryHeldStreamAsADrainedAnswer) {
    Server.DrainTimeoutMs = 60000;  // a stop that waited for the streams would take a minute
    const std::uint16_t port = Start();
    TWatcher a(port), b(port);
    ASSERT_TRUE(a.ReadUntil("hello\n"));
    ASSERT_TRUE(b.ReadUntil("hello\n"));
    Stream(0)->Push("one\n");
    ASSERT_TRUE(a.ReadUntil("one\n"));
    EXPECT_NO_THROW(Server.Deactivate());
    for (TWatcher* w : {&a, &b}) {
        EXPECT_FALSE(w->ReadUntil("never"));
        EXPECT_TRUE(w->Closed);
    }
    EXPECT_EQ(Server.Statistics().Held, 0);
    EXPECT_EQ(Server.Statistics().CutAtStop, 0u);
}

// At the bound on request connections a held answer being written is no
// request's place: cutting it would make no room.
TEST_F(HeldStream, AFullTableOfRequestsNeverCutsAFeed) {
#ifdef _WIN32
    // Under Wine about one run in two never greets the feed or never reads /slow at a bound of one
    // connection; not yet understood, so not held there until it is.
    GTEST_SKIP() << "flaky under Wine at MaxConnections = 1";
#endif
    Server.MaxConnections = 1;
    Server.IsSlowRequest = [](const TIdHTTPRequestInfo& req) { return req.DocumentPath == "/slow"; };
    std::promise<void> release, entered;
    std::shared_future<void> released = release.get_future().share();
    std::future<void> slowEntered = entered.get_future();
    Ordinary = [released, &entered](const TIdHTTPRequestInfo& req, TIdHTTPResponseInfo& res) {
        if (req.DocumentPath == "/slow") {
            entered.set_value();
            released.wait();
        }
        res.BodyText = "page";
    };
    const std::uint16_t port = Start();
    TWatcher feed(port);
    ASSERT_TRUE(feed.ReadUntil("hello\n"));
    Stream(0)->Push(std::string(16 << 20, 'x'));  // more than the socket takes: being written
    TWatcher slow(port, "/slow");
    // Read and being answered, so no longer the oldest unread connection the bound may cut.
    ASSERT_EQ(slowEntered.wait_for(std::chrono::seconds(15)), std::future_status::ready);
    TWatcher next(port, "/next");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the next one waits at the bound
    release.set_value();
    EXPECT_TRUE(slow.ReadUntil("page"));
    EXPECT_TRUE(next.ReadUntil("page"));
    Stream(0)->Push("after\n");
    EXPECT_TRUE(feed.ReadUntil("xafter\n"));
}
