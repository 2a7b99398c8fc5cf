#include "platform/service_host.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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
        std::lock_guard<std::mutex> hold(lock_);
        script_[handler] = std::deque<std::string>(outcomes.begin(), outcomes.end());
    }
    void ServiceStart(bool& Started) override { Started = Do("Start"); }
    void ServiceStop(bool& Stopped) override { Stopped = Do("Stop"); }
    void ServicePause(bool& Paused) override { Paused = Do("Pause"); }
    void ServiceContinue(bool& Continued) override { Continued = Do("Continue"); }
    void ServiceShutdown() override { Do("Shutdown"); }

    // Hang guard only: a broken host fails the test instead of blocking it.
    bool WaitForCalls(size_t count) {
        std::unique_lock<std::mutex> hold(lock_);
        return called_.wait_for(hold, std::chrono::seconds(30), [&] { return calls_.size() >= count; });
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> hold(lock_);
        return calls_;
    }
    std::vector<std::thread::id> Threads() {
        std::lock_guard<std::mutex> hold(lock_);
        return threads_;
    }

private:
    bool Do(const std::string& handler) {
        std::string outcome = "ok";
        {
            std::lock_guard<std::mutex> hold(lock_);
            calls_.push_back(handler);
            threads_.push_back(std::this_thread::get_id());
            auto& queue = script_[handler];
            if (!queue.empty()) {
                outcome = queue.front();
                queue.pop_front();
            }
        }
        called_.notify_all();
        if (outcome.rfind("throw:", 0) == 0) throw std::runtime_error(outcome.substr(6));
        return outcome == "ok";
    }

    std::mutex lock_;
    std::condition_variable called_;
    std::map<std::string, std::deque<std::string>> script_;
    std::vector<std::string> calls_;
    std::vector<std::thread::id> threads_;
};

struct TRecorder {
    std::vector<std::string> failures;
    std::vector<std::string> notices;
    TServiceFailureSink Sink() {
        return [this](const std::string& source, const std::string& text) {
            failures.push_back(source + "|" + text);
        };
    }
    TServiceNotifier Notifier() {
        return [this](const std::string& state) { notices.push_back(state); };
    }
};

class ServiceHost : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("NOTIFY_SOCKET");
        host_.SetHandleSignals(false);
        host_.SetNotifier(recorder_.Notifier());
    }
    TFakeService service_;
    TRecorder recorder_;
    TServiceHost host_{service_, "svcMain", recorder_.Sink()};
};

TEST_F(ServiceHost, StartFailureEndsWithExitCodeOne) {
    service_.Script("Start", {"false"});
    host_.Post(TServiceControl::Stop);
    EXPECT_EQ(host_.Run(), 1);
    EXPECT_EQ(service_.Calls(), (std::vector<std::string>{"Start"}));
    EXPECT_TRUE(recorder_.notices.empty());  // never reported ready
    EXPECT_TRUE(recorder_.failures.empty());
    EXPECT_EQ(host_.State(), TServiceState::Stopped);
}

TEST_F(ServiceHost, ErrorEscapingTheStartIsReported) {
    service_.Script("Start", {"throw:no port"});
    EXPECT_EQ(host_.Run(), 1);
    EXPECT_EQ(recorder_.failures, (std::vector<std::string>{"svcMain|サービス失敗 開始: no port"}));
}

TEST_F(ServiceHost, RequestsRunInTurnOnTheRunThread) {
    // Queued before the start; a request that does not fit the state is dropped.
    for (TServiceControl c : {TServiceControl::Continue, TServiceControl::Pause, TServiceControl::Pause,
                              TServiceControl::Continue, TServiceControl::Stop, TServiceControl::Pause})
        host_.Post(c);
    std::thread::id runner;
    int code = -1;
    std::thread thread([&] {
        runner = std::this_thread::get_id();
        code = host_.Run();
    });
    thread.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(service_.Calls(), (std::vector<std::string>{"Start", "Pause", "Continue", "Stop"}));
    for (const auto& id : service_.Threads()) EXPECT_EQ(id, runner);
    EXPECT_EQ(recorder_.notices, (std::vector<std::string>{"READY=1", "STOPPING=1"}));
    EXPECT_EQ(host_.State(), TServiceState::Stopped);
}

TEST_F(ServiceHost, FailedHandlersKeepTheStateThatHeldBefore) {
    service_.Script("Pause", {"throw:Terminate Thread Timeout", "ok"});
    service_.Script("Continue", {"false", "ok"});
    service_.Script("Stop", {"throw:busy", "false", "ok"});
    service_.Script("Shutdown", {"throw:stuck"});
    for (TServiceControl c :
         {TServiceControl::Pause, TServiceControl::Continue,  // still running: continue dropped
          TServiceControl::Pause, TServiceControl::Continue,  // continue refused: still paused
          TServiceControl::Stop, TServiceControl::Continue, TServiceControl::Shutdown,
          TServiceControl::Stop, TServiceControl::Stop})
        host_.Post(c);
    EXPECT_EQ(host_.Run(), 0);
    EXPECT_EQ(service_.Calls(), (std::vector<std::string>{"Start", "Pause", "Pause", "Continue", "Stop",
                                                           "Continue", "Shutdown", "Stop", "Stop"}));
    EXPECT_EQ(recorder_.failures,
              (std::vector<std::string>{"svcMain|サービス失敗 一時停止: Terminate Thread Timeout",
                                        "svcMain|サービス失敗 停止: busy",
                                        "svcMain|サービス失敗 シャットダウン: stuck"}));
}

TEST_F(ServiceHost, ShutdownEndsTheService) {
    host_.Post(TServiceControl::Pause);
    host_.Post(TServiceControl::Shutdown);
    EXPECT_EQ(host_.Run(), 0);
    EXPECT_EQ(service_.Calls(), (std::vector<std::string>{"Start", "Pause", "Shutdown"}));
}

TEST_F(ServiceHost, SignalsBecomeRequests) {
    BlockServiceSignals();  // before any thread exists, so none can take the signals
    service_.Script("Stop", {"false", "ok"});
    host_.SetHandleSignals(true);
    int code = -1;
    std::thread thread([&] { code = host_.Run(); });
    ASSERT_TRUE(service_.WaitForCalls(1));
    size_t calls = 1;
    // A hang-up neither ends the process nor reaches a handler.
    ASSERT_EQ(kill(getpid(), SIGHUP), 0);
    for (int signal : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM}) {
        ASSERT_EQ(kill(getpid(), signal), 0);
        ASSERT_TRUE(service_.WaitForCalls(++calls)) << "no handler for signal " << signal;
    }
    thread.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(service_.Calls(), (std::vector<std::string>{"Start", "Pause", "Continue", "Stop", "Stop"}));
}

class NotifySocket : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/service_host_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/notify";
        fd_ = Bind(path_);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override {
        close(fd_);
        unlink(path_.c_str());
        rmdir(dir_.c_str());
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
    std::string dir_, path_;
    int fd_ = -1;
};

TEST_F(NotifySocket, HostReportsReadyAndStoppingToTheManager) {
    setenv("NOTIFY_SOCKET", path_.c_str(), 1);
    TFakeService service;
    TServiceHost host(service, "svcMain", nullptr);
    host.SetHandleSignals(false);
    host.Post(TServiceControl::Stop);
    EXPECT_EQ(host.Run(), 0);
    EXPECT_EQ(Receive(fd_), "READY=1");
    EXPECT_EQ(Receive(fd_), "STOPPING=1");
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
    EXPECT_FALSE(NotifyServiceManager(dir_ + "/nobody", "READY=1"));
}

}  // namespace
