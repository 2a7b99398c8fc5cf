#include "platform/service_host.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <atomic>

#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Records every handler call; each handler's outcomes can be scripted:
// "ok", "false" (flag left false) or "throw:<text>".
class TFakeService : public TService {
public:
    void Script(const std::string& handler, std::vector<std::string> outcomes) {
        std::lock_guard<std::mutex> hold(Lock_);
        Script_[handler] = std::deque<std::string>(outcomes.begin(), outcomes.end());
    }
    void ServiceStart(bool& Started) override { Started = Do("Start"); }
    void ServiceStop(bool& Stopped) override { Stopped = Do("Stop"); }
    void ServicePause(bool& Paused) override { Paused = Do("Pause"); }
    void ServiceContinue(bool& Continued) override { Continued = Do("Continue"); }
    void ServiceShutdown() override { Do("Shutdown"); }

    // Hang guard only: a broken host fails the test instead of blocking it.
    bool WaitForCalls(size_t count) {
        std::unique_lock<std::mutex> hold(Lock_);
        return Called_.wait_for(hold, std::chrono::seconds(30), [&] { return Calls_.size() >= count; });
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> hold(Lock_);
        return Calls_;
    }
    std::vector<std::thread::id> Threads() {
        std::lock_guard<std::mutex> hold(Lock_);
        return Threads_;
    }

private:
    bool Do(const std::string& handler) {
        std::string outcome = "ok";
        {
            std::lock_guard<std::mutex> hold(Lock_);
            Calls_.push_back(handler);
            Threads_.push_back(std::this_thread::get_id());
            auto& queue = Script_[handler];
            if (!queue.empty()) {
                outcome = queue.front();
                queue.pop_front();
            }
        }
        Called_.notify_all();
        if (outcome.rfind("throw:", 0) == 0) throw std::runtime_error(outcome.substr(6));
        return outcome == "ok";
    }

    std::mutex Lock_;
    std::condition_variable Called_;
    std::map<std::string, std::deque<std::string>> Script_;
    std::vector<std::string> Calls_;
    std::vector<std::thread::id> Threads_;
};

struct TRecorder {
    std::vector<std::string> failures;
    std::vector<std::string> notices;
    TServiceFailureSink Sink() {
        return [this](const std::string& source, const std::string& text) { failures.push_back(source + "|" + text); };
    }
    TServiceNotifier Notifier() {
        return [this](const std::string& state) { notices.push_back(state); };
    }
};

class ServiceHost : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("NOTIFY_SOCKET");
        Host_.SetHandleSignals(false);
        Host_.SetNotifier(Recorder_.Notifier());
    }
    TFakeService Service_;
    TRecorder Recorder_;
    TServiceHost Host_{Service_, "svcMain", Recorder_.Sink()};
};

TEST_F(ServiceHost, StartFailureEndsWithExitCodeOne) {
    Service_.Script("Start", {"false"});
    Host_.Post(TServiceControl::Stop);
    EXPECT_EQ(Host_.Run(), 1);
    EXPECT_EQ(Service_.Calls(), (std::vector<std::string>{"Start"}));
    EXPECT_TRUE(Recorder_.notices.empty());  // never reported ready
    EXPECT_TRUE(Recorder_.failures.empty());
    EXPECT_EQ(Host_.State(), TServiceState::Stopped);
}

TEST_F(ServiceHost, ErrorEscapingTheStartIsReported) {
    Service_.Script("Start", {"throw:no port"});
    EXPECT_EQ(Host_.Run(), 1);
    EXPECT_EQ(Recorder_.failures, (std::vector<std::string>{"svcMain|サービス失敗 開始: no port"}));
}

TEST_F(ServiceHost, RequestsRunInTurnOnTheRunThread) {
    // Queued before the start; a request that does not fit the state is dropped.
    for (TServiceControl c : {TServiceControl::Continue, TServiceControl::Pause, TServiceControl::Pause,
                              TServiceControl::Continue, TServiceControl::Stop, TServiceControl::Pause})
        Host_.Post(c);
    std::thread::id runner;
    int code = -1;
    std::thread thread([&] {
        runner = std::this_thread::get_id();
        code = Host_.Run();
    });
    thread.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Service_.Calls(), (std::vector<std::string>{"Start", "Pause", "Continue", "Stop"}));
    for (const auto& id : Service_.Threads()) EXPECT_EQ(id, runner);
    EXPECT_EQ(Recorder_.notices, (std::vector<std::string>{"READY=1", "STOPPING=1"}));
    EXPECT_EQ(Host_.State(), TServiceState::Stopped);
}

TEST_F(ServiceHost, FailedHandlersKeepTheStateThatHeldBefore) {
    Service_.Script("Pause", {"throw:Terminate Thread Timeout", "ok"});
    Service_.Script("Continue", {"false", "ok"});
    Service_.Script("Stop", {"throw:busy", "false", "ok"});
    Service_.Script("Shutdown", {"throw:stuck"});
    for (TServiceControl c : {TServiceControl::Pause, TServiceControl::Continue,  // still running: continue dropped
                              TServiceControl::Pause, TServiceControl::Continue,  // continue refused: still paused
                              TServiceControl::Stop, TServiceControl::Continue, TServiceControl::Shutdown,
                              TServiceControl::Stop, TServiceControl::Stop})
        Host_.Post(c);
    EXPECT_EQ(Host_.Run(), 0);
    EXPECT_EQ(Service_.Calls(), (std::vector<std::string>{"Start", "Pause", "Pause", "Continue", "Stop", "Continue",
                                                          "Shutdown", "Stop", "Stop"}));
    EXPECT_EQ(Recorder_.failures, (std::vector<std::string>{"svcMain|サービス失敗 一時停止: Terminate Thread Timeout",
                                                            "svcMain|サービス失敗 停止: busy",
                                                            "svcMain|サービス失敗 シャットダウン: stuck"}));
}

TEST_F(ServiceHost, ShutdownEndsTheService) {
    Host_.Post(TServiceControl::Pause);
    Host_.Post(TServiceControl::Shutdown);
    EXPECT_EQ(Host_.Run(), 0);
    EXPECT_EQ(Service_.Calls(), (std::vector<std::string>{"Start", "Pause", "Shutdown"}));
}

TEST_F(ServiceHost, SignalsBecomeRequests) {
    BlockServiceSignals();  // before any thread exists, so none can take the signals
    Service_.Script("Stop", {"false", "ok"});
    Host_.SetHandleSignals(true);
    std::atomic<int> hangUps{0};
    Host_.SetOnHangUp([&] { ++hangUps; });
    int code = -1;
    std::thread thread([&] { code = Host_.Run(); });
    ASSERT_TRUE(Service_.WaitForCalls(1));
    size_t calls = 1;
    // A hang-up neither ends the process nor reaches a handler: it reopens the logs.
    ASSERT_EQ(kill(getpid(), SIGHUP), 0);
    for (int signal : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM}) {
        ASSERT_EQ(kill(getpid(), signal), 0);
        ASSERT_TRUE(Service_.WaitForCalls(++calls)) << "no handler for signal " << signal;
    }
    thread.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Service_.Calls(), (std::vector<std::string>{"Start", "Pause", "Continue", "Stop", "Stop"}));
    EXPECT_EQ(hangUps.load(), 1);  // the lowest signal: taken before the others
}

class NotifySocket : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/service_host_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        Dir_ = pattern;
        Path_ = Dir_ + "/notify";
        Fd_ = Bind(Path_);
        ASSERT_GE(Fd_, 0);
    }
    void TearDown() override {
        close(Fd_);
        unlink(Path_.c_str());
        rmdir(Dir_.c_str());
        unsetenv("NOTIFY_SOCKET");
    }
    static int Bind(const std::string& path) {
        const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.data(), path.size());
        socklen_t length = offsetof(sockaddr_un, sun_path) + path.size();
        if (path[0] == '@')
            address.sun_path[0] = '\0';
        else
            ++length;
        timeval guard{30, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }
    static std::string Receive(int fd) {
        char buffer[256];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        return got < 0 ? "(nothing)" : std::string(buffer, got);
    }
    std::string Dir_, Path_;
    int Fd_ = -1;
};

TEST_F(NotifySocket, HostReportsReadyAndStoppingToTheManager) {
    setenv("NOTIFY_SOCKET", Path_.c_str(), 1);
    TFakeService service;
    TServiceHost host(service, "svcMain", nullptr);
    host.SetHandleSignals(false);
    host.Post(TServiceControl::Stop);
    EXPECT_EQ(host.Run(), 0);
    EXPECT_EQ(Receive(Fd_), "READY=1");
    EXPECT_EQ(Receive(Fd_), "STOPPING=1");
}

TEST_F(NotifySocket, AbstractAndUnusableAddresses) {
    const std::string abstract = "@quorwell-notify-test-" + std::to_string(getpid());
    const int fd = Bind(abstract);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(NotifyServiceManager(abstract, "READY=1"));
    EXPECT_EQ(Receive(fd), "READY=1");
    close(fd);

    EXPECT_FALSE(NotifyServiceManager("", "READY=1"));
    EXPECT_FALSE(NotifyServiceManager("relative/notify", "READY=1"));
    EXPECT_FALSE(NotifyServiceManager("/" + std::string(200, 'x'), "READY=1"));
    EXPECT_FALSE(NotifyServiceManager(Dir_ + "/nobody", "READY=1"));
}

}  // namespace
