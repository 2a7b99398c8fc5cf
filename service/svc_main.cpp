#include "service/svc_main.h"

#include <exception>
#include <stdexcept>
#include <thread>  // also brings the clocks; <chrono> itself breaks under CP932

#include "api/live.h"
#include "data/kavel_env.h"
#include "http/http_server.h"
#include "log/event_log.h"
#include "pages/contents_cache.h"
#include "platform/date_time.h"
#include "service/dispatcher.h"
#include "service/quor_ini.h"

namespace {

void LogInformation(const std::string& text) { WriteEventLog(text, EventInformation, 0); }

void LogFailure(const std::exception& error, const char* consequence) {
    WriteEventLog(std::string("次のエラーが発生しました。") + error.what(), EventError, 0);
    LogInformation(consequence);
}

// The listener takes a 16-bit port; a larger number must not wrap onto another one.
std::uint16_t ListenPortOf(int port) {
    if (port < 0 || port > 65535) throw std::runtime_error("ポート番号" + std::to_string(port) + "はありません。");
    return static_cast<std::uint16_t>(port);
}

}  // namespace

TSvcMain::TSvcMain(std::string homeDirectory, const TClock& clock)
    : HomeDirectory_(std::move(homeDirectory)), Clock_(clock) {}

TSvcMain::~TSvcMain() {
    // Left to handlers that never returned; the process is about to end.
    if (Abandoned_) (void)Env.release();
    // The server's threads use the cache and the environment: they go first.
    HttpServer.reset();
    Live.reset();
    ContentsCache.reset();
    Env.reset();
}

std::string TSvcMain::StartTimeTextOf(TDateTime now) { return FormatDateTime("yyyy/mm/dd-hh:nn:ss", now); }

void TSvcMain::ServiceStart(bool& Started) {
    LogInformation("サービスの起動処理を開始しました。");
    try {
        Start();
    } catch (const std::exception& e) {
        LogFailure(e, "処理を継続できません。サービスを異常終了します。");
        Started = false;
        return;
    }
    Started = true;
    LogInformation("サービスの起動を完了しました。");
}

void TSvcMain::Start() {
    StartTimeText = StartTimeTextOf(Clock_.Now());
    Env = std::make_unique<TKavelEnv>(Clock_);
    ContentsCache = std::make_unique<TContentsCache>();

    const TQuorIni ini = ReadQuorIni(HomeDirectory_ + "quor.ini");
    SetLogUtf8Copy(ini.LogUtf8);
    Views.WallDetails = ini.WallDetails;
    Env->SetOnLoaded([](TKavelEnv&) {});
    Env->SetOnShareChanged([this](bool reachable, const std::string& detail) {
        if (reachable)
            WriteEventLog("Kavel達の環境" + Env->CommonDirectory() + "を再び読めるようになりました。", EventWarning, 0);
        else
            WriteEventLog("Kavel達の環境" + Env->CommonDirectory() +
                              "を読めません。最後に読込んだ情報を表示し続けます。" + detail,
                          EventWarning, 0);
    });
    Live = std::make_unique<TLive>(*Env, HomeDirectory_, Clock_);
    Env->SetCommonDirectory(ini.CommonDirectory);
    for (const std::string& warning : Env->SettingWarnings()) WriteEventLog(warning, EventWarning, 0);
    Live->StartWatching();

    HttpServer = std::make_unique<TIdHTTPServer>();
    HttpServer->ServerSoftware = ServerSoftwareText;
    HttpServer->DefaultPort = ListenPortOverride.value_or(ListenPortOf(Env->HttpPort()));
    HttpServer->OnCommandGet = [this](TIdPeerThread& sender, const TIdHTTPRequestInfo& request,
                                      TIdHTTPResponseInfo& response) {
        webMainCommandGet(TDispatchContext{*Env, *ContentsCache, StartTimeText, Live.get(), &Views}, sender, request,
                          response);
    };
    Live->WatchersNow = [server = HttpServer.get()] { return server->Statistics().Held; };
    HttpServer->IsSlowRequest = IsSlowRequest;
    HttpServer->DrainTimeoutMs = StopWaitMs;
    HttpServer->Activate();

    LogInformation(std::string("サーバ名は、") + ServerSoftwareText + "です。");
    LogInformation("Kavel達の環境は、" + Env->CommonDirectory() + "を参照します。");
    LogInformation("Kavel達が使用しているポート番号は、" + std::to_string(Env->UdpPort()) + "です。");
    // The bound port: the same as configured, unless the override was 0 (any free port).
    LogInformation("HTTPリクエストの待ち受けポート番号として、" + std::to_string(HttpServer->BoundPort()) +
                   "を開きました。");
    HttpServer->Activate();
}

void TSvcMain::StopServing() {
    LogInformation("サービスの停止処理を開始しました。");
    try {
        // The drain is the stop's wait: it ends as soon as the answers are out.
        if (HttpServer) HttpServer->Deactivate();
        HttpServer.reset();
        Live.reset();
        ContentsCache.reset();
        LogInformation("サービスの停止を完了しました。");
    } catch (const std::exception& e) {
        LogFailure(e, "停止処理を継続できません。サービスを異常終了します。");
        Abandoned_ = true;
        (void)HttpServer.release();
        (void)Live.release();
        (void)ContentsCache.release();
    }
}

void TSvcMain::ServiceStop(bool& Stopped) {
    StopServing();
    Stopped = true;
}

void TSvcMain::ServicePause(bool& Paused) {
    if (HttpServer) HttpServer->Deactivate();
    Paused = true;
    LogInformation("サービスを一時停止しました。");
}

void TSvcMain::ServiceContinue(bool& Continued) {
    if (!HttpServer) throw std::runtime_error("The HTTP server has been released.");
    HttpServer->Activate();
    Continued = true;
    LogInformation("サービスを再開しました。");
}

void TSvcMain::ServiceShutdown() { StopServing(); }
