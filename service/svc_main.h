#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/service_host.h"
#include "views/views.h"

class TKavelEnv;
class TIdHTTPServer;
class TContentsCache;
class TLive;

inline constexpr const char* ServerSoftwareText = "Quorwell 0.7";
// Name the service host reports the handlers' failures under.
inline constexpr const char* ServiceName = "svcMain";

// The service module: owns the environment, the HTTP server and the page
// cache, and brings them up and down in the service's order. Every handler
// runs on the service host's one thread.
class TSvcMain : public TService {
public:
    // homeDirectory holds quor.ini (with its trailing separator). The clock
    // gives StartTimeText and is handed to the environment.
    explicit TSvcMain(std::string homeDirectory, const TClock& clock = SystemClock());
    ~TSvcMain() override;
    TSvcMain(const TSvcMain&) = delete;
    TSvcMain& operator=(const TSvcMain&) = delete;

    // A start that fails logs why and leaves Started false, which ends the
    // process with exit code 1.
    void ServiceStart(bool& Started) override;
    void ServiceStop(bool& Stopped) override;
    void ServicePause(bool& Paused) override;
    void ServiceContinue(bool& Continued) override;
    void ServiceShutdown() override;
    bool StoppedCleanly() const override { return !Abandoned_; }

    // Closes the server, lets the answers in flight finish for StopWaitMs,
    // then releases the server and the cache. The environment stays until
    // the module goes. Handlers that outlive the cut keep what they use:
    // the stop is then logged as abnormal and nothing of it is released.
    void StopServing();

    // Local date-time of now at second resolution, without blanks:
    // "2026/12/08-10:15:30".
    static std::string StartTimeTextOf(TDateTime now);

    static constexpr int StopWaitMs = 3000;

    // Owned; Env lives as long as the module, the other two for one start.
    std::unique_ptr<TKavelEnv> Env;
    std::unique_ptr<TIdHTTPServer> HttpServer;
    // Fixed before the server is activated; only read afterwards.
    std::string StartTimeText;
    std::unique_ptr<TContentsCache> ContentsCache;
    // The detector, the feed and the history; for one start, like the server.
    std::unique_ptr<TLive> Live;
    // What quor.ini decides for the views under /m/.
    TViewSettings Views;

    // The port to listen on instead of kavel.ini's, 0 for any free one; for tests.
    std::optional<std::uint16_t> ListenPortOverride;

    const std::string& HomeDirectory() const { return HomeDirectory_; }

private:
    void Start();

    const std::string HomeDirectory_;
    const TClock& Clock_;
    bool Abandoned_ = false;
};
