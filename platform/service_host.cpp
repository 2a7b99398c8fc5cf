#include "platform/service_host.h"

#include <cstdlib>
#include <exception>
#include <optional>

TServiceHost::TServiceHost(TService& service, std::string source, TServiceFailureSink failures)
    : Service_(service), Source_(std::move(source)), Failures_(std::move(failures)) {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (socket != nullptr && *socket != '\0') {
        Notifier_ = [path = std::string(socket)](const std::string& state) { NotifyServiceManager(path, state); };
    }
}

void TServiceHost::Post(TServiceControl control) {
    {
        std::lock_guard<std::mutex> hold(Lock_);
        Requests_.push_back(control);
    }
    Posted_.notify_one();
}

TServiceControl TServiceHost::Take() {
    std::unique_lock<std::mutex> hold(Lock_);
    Posted_.wait(hold, [this] { return !Requests_.empty(); });
    const TServiceControl control = Requests_.front();
    Requests_.pop_front();
    return control;
}

TServiceState TServiceHost::State() const {
    std::lock_guard<std::mutex> hold(Lock_);
    return State_;
}

void TServiceHost::SetState(TServiceState state) {
    {
        std::lock_guard<std::mutex> hold(Lock_);
        State_ = state;
    }
    ReportServiceState(state);
}

void TServiceHost::Notify(const std::string& state) {
    if (Notifier_) Notifier_(state);
}

void TServiceHost::ReportFailure(const char* operation, const std::string& text) {
    if (!Failures_) return;
    try {
        Failures_(Source_, std::string("サービス失敗 ") + operation + ": " + text);
    } catch (...) {
        // Reporting must not take the service down.
    }
}

bool TServiceHost::Call(const char* operation, const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        ReportFailure(operation, e.what());
    } catch (...) {
        ReportFailure(operation, "unknown error");
    }
    return false;
}

int TServiceHost::Run() {
    BlockServiceSignals();
    std::optional<TServiceSignalThread> signals;
    try {
        if (HandleSignals_) signals.emplace(*this);
    } catch (const std::exception& e) {
        ReportFailure("開始", e.what());
        return 1;
    }

    SetState(TServiceState::StartPending);
    bool started = false;
    if (!Call("開始", [&] { Service_.ServiceStart(started); }) || !started) {
        SetState(TServiceState::Stopped);
        return 1;
    }
    SetState(TServiceState::Running);
    Notify("READY=1");

    try {
        for (;;) {
            switch (Take()) {
                case TServiceControl::Stop:
                    if (Stop(TServiceControl::Stop)) return Service_.StoppedCleanly() ? 0 : 1;
                    break;
                case TServiceControl::Shutdown:
                    if (Stop(TServiceControl::Shutdown)) return Service_.StoppedCleanly() ? 0 : 1;
                    break;
                case TServiceControl::Pause:
                    Pause();
                    break;
                case TServiceControl::Continue:
                    Continue();
                    break;
            }
        }
    } catch (const std::exception& e) {
        ReportFailure("実行", e.what());
    }
    SetState(TServiceState::Stopped);
    return 1;
}

bool TServiceHost::Stop(TServiceControl control) {
    const TServiceState before = State();
    Notify("STOPPING=1");
    SetState(TServiceState::StopPending);
    bool stopped = false;
    if (control == TServiceControl::Shutdown)
        stopped = Call("シャットダウン", [&] { Service_.ServiceShutdown(); });
    else
        stopped = Call("停止", [&] { Service_.ServiceStop(stopped); }) && stopped;
    if (!stopped) {
        SetState(before);
        return false;
    }
    SetState(TServiceState::Stopped);
    return true;
}

void TServiceHost::Pause() {
    if (State() != TServiceState::Running) return;
    SetState(TServiceState::PausePending);
    bool paused = false;
    const bool done = Call("一時停止", [&] { Service_.ServicePause(paused); }) && paused;
    SetState(done ? TServiceState::Paused : TServiceState::Running);
}

void TServiceHost::Continue() {
    if (State() != TServiceState::Paused) return;
    SetState(TServiceState::ContinuePending);
    bool continued = false;
    const bool done = Call("続行", [&] { Service_.ServiceContinue(continued); }) && continued;
    SetState(done ? TServiceState::Running : TServiceState::Paused);
}
