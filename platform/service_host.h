#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// The handlers of a service module. Each tells through its flag whether the
// state change succeeded. An exception that escapes one is reported by the
// host, which then keeps the state that held before. A start that leaves
// Started false ends the service: Run returns 1, so main can return it and
// the process ends through its normal exit path.
class TService {
public:
    virtual ~TService() = default;
    virtual void ServiceStart(bool& Started) = 0;
    virtual void ServiceStop(bool& Stopped) = 0;
    virtual void ServicePause(bool& Paused) = 0;
    virtual void ServiceContinue(bool& Continued) = 0;
    virtual void ServiceShutdown() = 0;
    // False once a stop or shutdown has ended abnormally (work was left
    // running); Run then returns 1 although the service stopped.
    virtual bool StoppedCleanly() const { return true; }
};

enum class TServiceControl { Stop, Pause, Continue, Shutdown };

enum class TServiceState {
    Stopped,
    StartPending,
    Running,
    StopPending,
    PausePending,
    Paused,
    ContinuePending,
};

// Gets a failure the host caught: the source to report it under and the text.
using TServiceFailureSink = std::function<void(const std::string& source, const std::string& text)>;
// Gets a state line for the service manager ("READY=1", "STOPPING=1").
using TServiceNotifier = std::function<void(const std::string& state)>;

// Runs a service in the foreground: the start handler first, then each
// control request in turn, all on the thread that calls Run. Signals become
// requests: SIGTERM and SIGINT stop, SIGUSR1 pauses, SIGUSR2 continues;
// SIGHUP calls the hang-up handler.
class TServiceHost {
public:
    // source names the service in failure reports. The notifier defaults to
    // the service manager named by NOTIFY_SOCKET (none when it is not set).
    TServiceHost(TService& service, std::string source, TServiceFailureSink failures);
    TServiceHost(const TServiceHost&) = delete;
    TServiceHost& operator=(const TServiceHost&) = delete;

    void SetNotifier(TServiceNotifier notifier) { Notifier_ = std::move(notifier); }
    // Off for tests that post their requests themselves.
    void SetHandleSignals(bool handle) { HandleSignals_ = handle; }
    // Called on the signal thread for SIGHUP (log rotation), whatever the
    // state; set before Run.
    void SetOnHangUp(std::function<void()> handler) { OnHangUp_ = std::move(handler); }
    void HangUp() {
        if (OnHangUp_) OnHangUp_();
    }

    // Until the service has stopped. Returns the process's exit code: 1 when
    // the start failed or the stop ended abnormally, 0 after a clean stop or
    // shutdown.
    int Run();

    // Queues a request; safe from any thread, also before Run.
    void Post(TServiceControl control);
    TServiceState State() const;

private:
    TServiceControl Take();
    void SetState(TServiceState state);
    void Notify(const std::string& state);
    void ReportFailure(const char* operation, const std::string& text);
    // Runs one handler; false when it raised.
    bool Call(const char* operation, const std::function<void()>& handler);
    bool Stop(TServiceControl control);
    void Pause();
    void Continue();

    TService& Service_;
    const std::string Source_;
    TServiceFailureSink Failures_;
    TServiceNotifier Notifier_;
    bool HandleSignals_ = true;
    std::function<void()> OnHangUp_;

    mutable std::mutex Lock_;
    std::condition_variable Posted_;
    std::deque<TServiceControl> Requests_;
    TServiceState State_ = TServiceState::Stopped;
};

// Blocks the control signals in the calling thread, which threads made from
// it afterwards inherit, and ignores SIGPIPE. Run does it too; call it first
// thing in main so that no thread can take a signal away from the host.
void BlockServiceSignals();

// Turns the control signals into requests on host while it exists.
class TServiceSignalThread {
public:
    explicit TServiceSignalThread(TServiceHost& host);
    ~TServiceSignalThread();
    TServiceSignalThread(const TServiceSignalThread&) = delete;
    TServiceSignalThread& operator=(const TServiceSignalThread&) = delete;

private:
    void Loop(TServiceHost& host);
    // Where the controls arrive, -1 for none of ours: a descriptor of the
    // signals, or the console handler (1) when no service manager runs us.
    int Source_ = -1;
    int Wake_ = -1;  // a descriptor that ends the loop, where it needs one
    std::thread Thread_;
};

// Tells the platform's service manager the state the host has entered; does
// nothing when it has none to tell (systemd hears through the notifier).
void ReportServiceState(TServiceState state);

// Sends state to the service manager's datagram socket at path ("@..." for
// the abstract namespace). False when it could not be sent.
bool NotifyServiceManager(const std::string& path, const std::string& state);
