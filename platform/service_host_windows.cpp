#include <windows.h>

#include <condition_variable>
#include <mutex>

#include "platform/service_host.h"

// The host under the service control manager: a dispatcher thread hands the
// manager's requests to the host, whose own thread runs every handler, and
// each state the host enters is reported back. Started by hand instead, the
// dispatcher call fails and the host runs in the console, Ctrl+C stopping it.

namespace {

constexpr const char* WindowsServiceName = "svcMain";
constexpr DWORD WaitHintMs = 5000;

enum class TMode { Connecting, Manager, Console };

struct TDispatch {
    std::mutex Lock;
    std::condition_variable Changed;
    TServiceHost* Host = nullptr;
    TMode Mode = TMode::Connecting;
    SERVICE_STATUS_HANDLE Status = nullptr;
    DWORD CheckPoint = 0;
    TServiceState Last = TServiceState::Stopped;
    bool Started = false;   // reached running at least once
    bool Finished = false;  // the host is done: the service routine may return
};

TDispatch dispatch;

DWORD ManagerState(TServiceState state) {
    switch (state) {
        case TServiceState::Stopped:
            return SERVICE_STOPPED;
        case TServiceState::StartPending:
            return SERVICE_START_PENDING;
        case TServiceState::Running:
            return SERVICE_RUNNING;
        case TServiceState::StopPending:
            return SERVICE_STOP_PENDING;
        case TServiceState::PausePending:
            return SERVICE_PAUSE_PENDING;
        case TServiceState::Paused:
            return SERVICE_PAUSED;
        case TServiceState::ContinuePending:
            return SERVICE_CONTINUE_PENDING;
    }
    return SERVICE_STOPPED;
}

// Under dispatch.Lock.
void ReportLocked(TServiceState state) {
    dispatch.Last = state;
    if (state == TServiceState::Running) dispatch.Started = true;
    if (dispatch.Status == nullptr) return;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = ManagerState(state);
    const bool settled =
        state == TServiceState::Running || state == TServiceState::Paused || state == TServiceState::Stopped;
    if (state == TServiceState::Running || state == TServiceState::Paused)
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    status.dwCheckPoint = settled ? 0 : ++dispatch.CheckPoint;
    if (settled) dispatch.CheckPoint = 0;
    status.dwWaitHint = settled ? 0 : WaitHintMs;
    if (state == TServiceState::Stopped && !dispatch.Started) {
        // The start failed: let the manager say so instead of a clean stop.
        status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = 1;
    }
    SetServiceStatus(dispatch.Status, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD /*eventType*/, void* /*eventData*/, void* /*context*/) {
    std::lock_guard<std::mutex> hold(dispatch.Lock);
    TServiceHost* host = dispatch.Host;
    switch (control) {
        case SERVICE_CONTROL_STOP:
            if (host) host->Post(TServiceControl::Stop);
            return NO_ERROR;
        case SERVICE_CONTROL_SHUTDOWN:
            if (host) host->Post(TServiceControl::Shutdown);
            return NO_ERROR;
        case SERVICE_CONTROL_PAUSE:
            if (host) host->Post(TServiceControl::Pause);
            return NO_ERROR;
        case SERVICE_CONTROL_CONTINUE:
            if (host) host->Post(TServiceControl::Continue);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            ReportLocked(dispatch.Last);
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD /*argc*/, char** /*argv*/) {
    std::unique_lock<std::mutex> hold(dispatch.Lock);
    dispatch.Status = RegisterServiceCtrlHandlerExA(WindowsServiceName, ControlHandler, nullptr);
    dispatch.Mode = dispatch.Status ? TMode::Manager : TMode::Console;
    if (dispatch.Status) ReportLocked(TServiceState::StartPending);
    dispatch.Changed.notify_all();
    // The host runs on its own thread; this routine only keeps the service
    // registered until the host is done.
    dispatch.Changed.wait(hold, [] { return dispatch.Finished; });
}

BOOL WINAPI ConsoleHandler(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT && event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    std::lock_guard<std::mutex> hold(dispatch.Lock);
    if (dispatch.Host)
        dispatch.Host->Post(event == CTRL_SHUTDOWN_EVENT ? TServiceControl::Shutdown : TServiceControl::Stop);
    return TRUE;
}

}  // namespace

void BlockServiceSignals() {
    // Nothing to block: controls arrive through the manager or the console.
}

void ReportServiceState(TServiceState state) {
    std::lock_guard<std::mutex> hold(dispatch.Lock);
    ReportLocked(state);
}

TServiceSignalThread::TServiceSignalThread(TServiceHost& host) {
    {
        std::lock_guard<std::mutex> hold(dispatch.Lock);
        dispatch.Host = &host;
        dispatch.Mode = TMode::Connecting;
        dispatch.Status = nullptr;
        dispatch.CheckPoint = 0;
        dispatch.Started = false;
        dispatch.Finished = false;
    }
    Thread_ = std::thread([this, &host] { Loop(host); });
    std::unique_lock<std::mutex> hold(dispatch.Lock);
    dispatch.Changed.wait(hold, [] { return dispatch.Mode != TMode::Connecting; });
    if (dispatch.Mode == TMode::Console) {
        SetConsoleCtrlHandler(ConsoleHandler, TRUE);
        Source_ = 1;
    }
}

TServiceSignalThread::~TServiceSignalThread() {
    {
        std::lock_guard<std::mutex> hold(dispatch.Lock);
        // The dispatcher returns only once the service has stopped.
        if (dispatch.Mode == TMode::Manager && dispatch.Last != TServiceState::Stopped)
            ReportLocked(TServiceState::Stopped);
        dispatch.Finished = true;
        dispatch.Host = nullptr;
        dispatch.Changed.notify_all();
    }
    Thread_.join();
    if (Source_ == 1) SetConsoleCtrlHandler(ConsoleHandler, FALSE);
    std::lock_guard<std::mutex> hold(dispatch.Lock);
    dispatch.Status = nullptr;
}

void TServiceSignalThread::Loop(TServiceHost& /*host*/) {
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(WindowsServiceName), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) {
        std::lock_guard<std::mutex> hold(dispatch.Lock);
        dispatch.Mode = TMode::Console;
        dispatch.Changed.notify_all();
    }
}

bool NotifyServiceManager(const std::string& /*path*/, const std::string& /*state*/) { return false; }
