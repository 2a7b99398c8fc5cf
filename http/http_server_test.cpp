#include "http/http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"

namespace {

// A blocking loopback client; every read gives up after 15 s so that a
// server fault fails the test instead of hanging it.
class TClient {
public:
    explicit TClient(std::uint16_t port) : Socket_(TTcpSocket::Connect("127.0.0.1", port)) {
        Socket_.SetReceiveTimeout(15000);
    }
    void Send(std::string_view bytes) {
        while (!bytes.empty()) {
            TIoResult r = Socket_.Send(bytes);
            ASSERT_EQ(r.Status, TIoStatus::Ok);
            bytes.remove_prefix(r.Bytes);
        }
    }
    void HalfClose() { Socket_.ShutdownSend(); }
    // Everything until the server closes; Closed tells whether it did.
    std::string ReadAll() {
        std::string got;
        char buf[65536];
        for (;;) {
            TIoResult r = Socket_.Receive(buf, sizeof buf);
            if (r.Status != TIoStatus::Ok) {
                Closed = r.Status == TIoStatus::Closed;
                Reset = r.Status == TIoStatus::Failed;
                return got;
            }
            got.append(buf, r.Bytes);
        }
    }
    bool Closed = false;
    bool Reset = false;

private:
    TTcpSocket Socket_;
};

std::string Exchange(std::uint16_t port, std::string_view request, bool halfClose = false) {
    TClient c(port);
    c.Send(request);
    if (halfClose) c.HalfClose();
    std::string answer = c.ReadAll();
    EXPECT_TRUE(c.Closed) << "the server must close every connection after its answer";
    return answer;
}

std::string BodyOf(const std::string& answer) {
    std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

class HttpServer : public ::testing::Test {
protected:
    HttpServer() {
        Server.DefaultPort = 0;
        Server.ServerSoftware = "Quorwell 0.7";
        Server.OnCommandGet = [this](TIdPeerThread& sender, const TIdHTTPRequestInfo& req, TIdHTTPResponseInfo& res) {
            {
                std::lock_guard l(Mutex);
                Seen.push_back(req);
                Senders.push_back(sender.RemoteAddress);
            }
            Handler(req, res);
        };
    }

    std::uint16_t Start() {
        Server.Activate();
        return Server.BoundPort();
    }

    std::size_t SeenCount() {
        std::lock_guard l(Mutex);
        return Seen.size();
    }

    TIdHTTPServer Server;
    std::function<void(const TIdHTTPRequestInfo&, TIdHTTPResponseInfo&)> Handler =
        [](const TIdHTTPRequestInfo& req, TIdHTTPResponseInfo& res) { res.BodyText = "<p>" + req.DocumentPath; };
    std::mutex Mutex;
    std::vector<TIdHTTPRequestInfo> Seen;
    std::vector<std::string> Senders;
};

}  // namespace

TEST_F(HttpServer, AnswersOnceAndClosesEvenWhenKeepAliveIsAsked) {
    Handler = [](const TIdHTTPRequestInfo& req, TIdHTTPResponseInfo& res) {
        res.ContentType = "text/html; charset=SJIS";
        res.BodyText = "<p>" + req.DocumentPath;
    };
    std::uint16_t port = Start();
    ASSERT_NE(port, 0);
    EXPECT_EQ(Exchange(port, "GET /keiziban?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html; charset=SJIS\r\n"
              "Content-Length: 12\r\nServer: Quorwell 0.7\r\n\r\n<p>/keiziban");
    ASSERT_EQ(SeenCount(), 1u);
    EXPECT_EQ(Seen[0].RemoteAddress, "127.0.0.1");
    EXPECT_EQ(Senders[0], "127.0.0.1");
    EXPECT_EQ(Seen[0].RawQuery, "x=1");
    EXPECT_EQ(Seen[0].RawHeaders.Values("Connection"), "keep-alive");
}

TEST_F(HttpServer, HeadIsAnsweredLikeGetBodyIncluded) {
    std::uint16_t port = Start();
    EXPECT_EQ(BodyOf(Exchange(port, "HEAD /x HTTP/1.1\r\n\r\n")), "<p>/x");
    ASSERT_EQ(SeenCount(), 1u);
    EXPECT_EQ(Seen[0].Method, "HEAD");
}

TEST_F(HttpServer, PostBodiesByLengthAndUntilTheClose) {
    Handler = [](const TIdHTTPRequestInfo& req, TIdHTTPResponseInfo& res) {
        res.BodyText = req.RawBody + "|" + req.QueryFields.ValueOf("msg");
    };
    std::uint16_t port = Start();
    EXPECT_EQ(BodyOf(Exchange(port,
                              "POST /s HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: 9\r\n\r\nmsg=a+b&z")),
              "msg=a+b&z|a b");
    EXPECT_EQ(BodyOf(Exchange(port, "POST /s HTTP/1.1\r\n\r\nmsg=1", true)), "msg=1|");
}

// One worker, so every connection takes over the kept state of an earlier
// one: a request bigger than the first read buffer, a long answer, then short
// ones must each see only their own bytes.
TEST_F(HttpServer, ReusedConnectionsCarryNothingOfTheirLastRequestOrAnswer) {
    Server.WorkerCount = 1;
    Handler = [](const TIdHTTPRequestInfo& req, TIdHTTPResponseInfo& res) {
        if (req.DocumentPath == "/long")
            res.BodyText = std::string(100000, 'l');
        else
            res.BodyText = req.DocumentPath + "|" + std::to_string(req.RawBody.size());
    };
    std::uint16_t port = Start();
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(
            BodyOf(Exchange(port, "POST /post HTTP/1.1\r\nContent-Length: 30000\r\n\r\n" + std::string(30000, 'm'))),
            "/post|30000");
        EXPECT_EQ(BodyOf(Exchange(port, "GET /long HTTP/1.1\r\n\r\n")), std::string(100000, 'l'));
        const std::string answer = Exchange(port, "GET /s HTTP/1.1\r\n\r\n");
        EXPECT_EQ(BodyOf(answer), "/s|0");
        EXPECT_NE(answer.find("\r\nContent-Length: 4\r\n"), std::string::npos) << answer;
    }
}

TEST_F(HttpServer, RequestsThatFailToParseAreClosedWithoutAnswer) {
    std::uint16_t port = Start();
    const std::string tooLong = "GET /" + std::string(16400, 'a') + " HTTP/1.1\r\n\r\n";
    for (const std::string& bad : {std::string("NONSENSE\r\n\r\n"), std::string("PUT / HTTP/1.1\r\n\r\n"), tooLong,
                                   std::string("GET / HTTP/1.1\r\nAuthorization: Digest x\r\n\r\n"),
                                   std::string("GET / HTTP/1.1\r\nHost: cut")}) {
        EXPECT_EQ(Exchange(port, bad, true), "") << bad.substr(0, 40);
    }
    EXPECT_EQ(SeenCount(), 0u);
    EXPECT_EQ(Server.Statistics().Rejected, 5u);
}

TEST_F(HttpServer, HandlerErrorBecomes500WithItsText) {
    Handler = [](const TIdHTTPRequestInfo&, TIdHTTPResponseInfo& res) {
        res.ContentType = "text/html; charset=SJIS";
        res.ContentLength = 99999;
        throw std::runtime_error("page failed");
    };
    std::uint16_t port = Start();
    EXPECT_EQ(Exchange(port, "GET /uinfo HTTP/1.1\r\n\r\n"),
              "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\nContent-Type: text/html; charset=SJIS\r\n"
              "Content-Length: 11\r\nServer: Quorwell 0.7\r\n\r\npage failed");
}

TEST_F(HttpServer, LargeSharedBodyArrivesWhole) {
    auto image = std::make_shared<const std::string>(std::string(16 << 20, 'j'));
    Handler = [image](const TIdHTTPRequestInfo&, TIdHTTPResponseInfo& res) {
        res.ContentType = "image/jpeg";
        res.BodyStream = std::make_unique<TBodyStream>(image);
    };
    std::uint16_t port = Start();
    std::string answer = Exchange(port, "GET /bg.jpg HTTP/1.1\r\n\r\n");
    EXPECT_NE(answer.find("Content-Length: 16777216\r\n"), std::string::npos);
    EXPECT_TRUE(BodyOf(answer) == *image);
}

// Bytes the client sent beyond its request must not reset the connection
// before the client has read the answer.
TEST_F(HttpServer, BytesBeyondTheRequestDoNotCutTheAnswer) {
    std::string page(1 << 20, 'p');
    Handler = [&page](const TIdHTTPRequestInfo&, TIdHTTPResponseInfo& res) { res.BodyText = page; };
    std::uint16_t port = Start();
    TClient c(port);
    c.Send("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n" + std::string(100000, 'x'));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the answer be sent before reading it
    std::string answer = c.ReadAll();
    EXPECT_FALSE(c.Reset);
    EXPECT_TRUE(c.Closed);
    EXPECT_TRUE(BodyOf(answer) == page);
    EXPECT_EQ(SeenCount(), 1u);
}

TEST_F(HttpServer, ReadTimeoutClosesWithoutAnswer) {
    Server.ReadTimeoutMs = 200;
    std::uint16_t port = Start();
    TClient c(port);
    c.Send("GET / HTTP/1.1\r\n");
    EXPECT_EQ(c.ReadAll(), "");
    EXPECT_TRUE(c.Closed);
    EXPECT_EQ(Server.Statistics().TimedOut, 1u);
    EXPECT_EQ(SeenCount(), 0u);
}

TEST_F(HttpServer, IdleAndDribblingClientsDoNotBlockOthers) {
    std::uint16_t port = Start();
    std::vector<std::unique_ptr<TClient>> idle, dribblers;
    for (int i = 0; i < 300; ++i) idle.push_back(std::make_unique<TClient>(port));
    for (int i = 0; i < 50; ++i) dribblers.push_back(std::make_unique<TClient>(port));
    const std::string slow = "GET /slow HTTP/1.1\r\n";
    for (std::size_t b = 0; b < 2; ++b) {
        for (auto& d : dribblers) d->Send(slow.substr(b, 1));
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    EXPECT_EQ(BodyOf(Exchange(port, "GET /normal HTTP/1.1\r\n\r\n")), "<p>/normal");
    for (auto& d : dribblers) d->Send(slow.substr(2) + "\r\n");
    for (auto& d : dribblers) EXPECT_EQ(BodyOf(d->ReadAll()), "<p>/slow");
    EXPECT_EQ(Server.Statistics().Evicted, 0u);
    EXPECT_EQ(SeenCount(), 51u);
}

TEST_F(HttpServer, OldestUnreadConnectionMakesRoomAtTheBound) {
    Server.WorkerCount = 1;
    Server.MaxConnections = 8;
    std::uint16_t port = Start();
    std::vector<std::unique_ptr<TClient>> idle;
    for (int i = 0; i < 20; ++i) {
        idle.push_back(std::make_unique<TClient>(port));
        idle.back()->Send("GET /");
    }
    EXPECT_EQ(BodyOf(Exchange(port, "GET /normal HTTP/1.1\r\n\r\n")), "<p>/normal");
    EXPECT_EQ(idle.front()->ReadAll(), "");
    EXPECT_TRUE(idle.front()->Closed);
    EXPECT_GE(Server.Statistics().Evicted, 12u);
}

TEST_F(HttpServer, ConcurrentClientsGetTheirOwnAnswers) {
    Server.WorkerCount = 3;
    std::uint16_t port = Start();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                std::string path = "/p" + std::to_string(t) + "_" + std::to_string(i);
                if (BodyOf(Exchange(port, "GET " + path + " HTTP/1.1\r\n\r\n")) != "<p>" + path) ++wrong;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(SeenCount(), 240u);
}

TEST_F(HttpServer, DeactivateClosesThePortCutsConnectionsAndActivatesAgain) {
    std::uint16_t port = Start();
    TClient waiting(port);
    waiting.Send("GET /");
    EXPECT_EQ(BodyOf(Exchange(port, "GET /a HTTP/1.1\r\n\r\n")), "<p>/a");
    Server.Deactivate();
    EXPECT_FALSE(Server.Active());
    EXPECT_EQ(waiting.ReadAll(), "");
    EXPECT_THROW(TTcpSocket::Connect("127.0.0.1", port), ESocketError);

    Server.DefaultPort = port;
    Server.Activate();
    Server.Activate();  // already active: nothing happens
    EXPECT_EQ(Server.BoundPort(), port);
    EXPECT_EQ(BodyOf(Exchange(port, "GET /b HTTP/1.1\r\n\r\n")), "<p>/b");
}

TEST_F(HttpServer, BusyPortFailsActivation) {
    TTcpListener other;
    other.Open(0, 15);
    Server.DefaultPort = other.Port();
    EXPECT_THROW(Server.Activate(), std::runtime_error);
    EXPECT_FALSE(Server.Active());
}

TEST_F(HttpServer, HandlerOutlivingTheWaitGivesTerminateThreadTimeout) {
    std::mutex m;
    std::condition_variable cv;
    bool entered = false, release = false, left = false;
    Handler = [&](const TIdHTTPRequestInfo&, TIdHTTPResponseInfo& res) {
        std::unique_lock l(m);
        entered = true;
        cv.notify_all();
        cv.wait(l, [&] { return release; });
        res.BodyText = "late";
        left = true;
        cv.notify_all();
    };
    Server.DrainTimeoutMs = 200;
    Server.TerminateWaitMs = 300;
    Server.TerminateCheckMs = 50;
    std::uint16_t port = Start();
    TClient c(port);
    c.Send("GET /stuck HTTP/1.1\r\n\r\n");
    {
        std::unique_lock l(m);
        ASSERT_TRUE(cv.wait_for(l, std::chrono::seconds(15), [&] { return entered; }));
    }
    try {
        Server.Deactivate();
        ADD_FAILURE() << "deactivation did not time out";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Terminate Thread Timeout");
    }
    EXPECT_FALSE(Server.Active());
    {
        std::lock_guard l(m);
        release = true;
    }
    cv.notify_all();
    EXPECT_EQ(c.ReadAll(), "");  // cut: the answer of a deactivated server is not sent
    {
        std::unique_lock l(m);
        ASSERT_TRUE(cv.wait_for(l, std::chrono::seconds(15), [&] { return left; }));
    }

    // The port can be taken again even before the old workers are reaped.
    Server.DefaultPort = port;
    Handler = [](const TIdHTTPRequestInfo&, TIdHTTPResponseInfo& res) { res.BodyText = "again"; };
    Server.Activate();
    EXPECT_EQ(BodyOf(Exchange(port, "GET / HTTP/1.1\r\n\r\n")), "again");
}

TEST_F(HttpServer, HandlerBlockingOneWorkerLeavesTheOthersServing) {
    std::mutex m;
    std::condition_variable cv;
    bool entered = false, release = false;
    Handler = [&](const TIdHTTPRequestInfo& req, TIdHTTPResponseInfo& res) {
        res.BodyText = req.DocumentPath;
        if (req.DocumentPath != "/slow") return;
        std::unique_lock l(m);
        entered = true;
        cv.notify_all();
        cv.wait(l, [&] { return release; });
    };
    Server.WorkerCount = 2;
    std::uint16_t port = Start();
    TClient slow(port);
    slow.Send("GET /slow HTTP/1.1\r\n\r\n");
    {
        std::unique_lock l(m);
        ASSERT_TRUE(cv.wait_for(l, std::chrono::seconds(15), [&] { return entered; }));
    }
    for (int i = 0; i < 5; ++i) EXPECT_EQ(BodyOf(Exchange(port, "GET /fast HTTP/1.1\r\n\r\n")), "/fast");
    {
        std::lock_guard l(m);
        release = true;
    }
    cv.notify_all();
    EXPECT_EQ(BodyOf(slow.ReadAll()), "/slow");
}

// Between bursts the listener moves from worker to worker; no connection may
// be left waiting in the queue when it does.
TEST_F(HttpServer, RequestsAfterIdlePausesAreAllAnswered) {
    Server.WorkerCount = 4;
    std::uint16_t port = Start();
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(BodyOf(Exchange(port, "GET /r HTTP/1.1\r\n\r\n")), "<p>/r") << i;
    }
}
