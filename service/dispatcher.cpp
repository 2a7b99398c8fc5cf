#include "service/dispatcher.h"

#include <exception>
#include <memory>
#include <thread>  // the steady clock; <chrono> itself breaks under CP932

#include "api/api_handler.h"
#include "api/live.h"

#include "data/kavel_env.h"
#include "data/person_status.h"
#include "data/store_gate.h"
#include "http/http_body_stream.h"
#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "http/http_text.h"
#include "images/jpeg_image.h"
#include "images/jpeg_list.h"
#include "images/resource_module.h"
#include "log/event_log.h"
#include "log/log_file.h"
#include "pages/html_escape.h"
#include "pages/page_maker.h"
#include "platform/sjis_text.h"
#include "service/svc_main.h"
#include "views/views.h"

namespace {

constexpr std::string_view ImageSuffix = ".jpg";
constexpr size_t MaxImageName = 255;

using http_text::IsBlank;

// The catalogue first; a status mark of the same name would only add a
// second JPEG file behind the first, which no browser shows.
const TJPEGImage* FindImage(TKavelEnv& env, const std::string& name) {
    if (const TJPEGImage* image = TJPEGList::Instance().Find(name)) return image;
    const TPersonStatusCollection& statuses = env.Statuses();
    return statuses.HasImage(name) ? statuses.FindImage(name) : nullptr;
}

// Bytes built into the executable, tagged with the start time: 304 when the
// browser already holds them. False when it answered 304.
bool AnswerBuiltInBytes(const TDispatchContext& context, const TIdHTTPRequestInfo& request,
                        TIdHTTPResponseInfo& response, std::shared_ptr<const std::string> bytes,
                        const char* cacheControl, const char* contentType) {
    const std::string tag = ImageEntityTag(context.StartTimeText);
    response.CustomHeaders.push_back({"ETag", tag});
    response.CustomHeaders.push_back({"Cache-Control", cacheControl});
    if (RequestHoldsTag(request, tag)) {
        response.SetStatus(304);
        return false;
    }
    response.ContentType = contentType;
    response.BodyText.clear();
    response.BodyStream = std::make_unique<TBodyStream>(std::move(bytes));
    return true;
}

void AnswerImage(const TDispatchContext& context, const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
    const std::string& path = request.DocumentPath;
    const std::string name = path.substr(path.empty() ? 0 : 1, MaxImageName);
    const TJPEGImage* image = FindImage(context.Env, name);
    if (image == nullptr) {
        WriteLogFile(request.RemoteAddress + " " + EscapeLogText(path) + "が見つかりませんでした。", EventWarning);
        response.SetStatus(404);
        return;
    }
    // Encoded once per image; the answer shares the bytes instead of copying them.
    // Stored, but confirmed before each use: a restart changes the tag.
    if (AnswerBuiltInBytes(context, request, response, image->SharedBytes(), "no-cache", "image/jpeg"))
        response.ResponseCookies.AddCookie("Last-Modified=" + context.StartTimeText + "; path=" + path);
}

// The browser's tab icon: the "present" mark, the icon file as it is built in. It changes only with the
// executable, so the browser keeps it a day before it asks again.
constexpr std::string_view FaviconPath = "/favicon.ico";

void AnswerFavicon(const TDispatchContext& context, const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
    static const std::shared_ptr<const std::string> bytes = [] {
        const auto icon = MainModule().Find(TResourceKind::Icon, "POWERON");
        return icon ? std::make_shared<const std::string>(*icon) : nullptr;
    }();
    if (!bytes) {
        response.SetStatus(404);
        return;
    }
    AnswerBuiltInBytes(context, request, response, bytes, "max-age=86400", "image/x-icon");
}

// The body of a failed page. Without one the browser leaves the frame blank,
// and the pages that write (message send, absence submit) answer into a frame.
std::string FailurePage(const std::string& errorText) {
    return "<HTML>\r\n"
           "  <HEAD><TITLE>エラー</TITLE></HEAD>\r\n"
           "  <BODY>\r\n"
           "    <CENTER>\r\n"
           "      <BR><BR><BR><BR>リクエストの処理中にエラーが発生しました。<BR><BR>\r\n"
           "      " +
           HtmlEscape(errorText) +
           "\r\n"
           "    </CENTER>\r\n"
           "  </BODY>\r\n"
           "</HTML>";
}

// Drops whatever a failed handler had put into the answer.
void ClearAnswer(TIdHTTPResponseInfo& response) {
    response.BodyText.clear();
    response.BodyStream.reset();
    response.ContentLength = -1;
    response.ResponseCookies.clear();
    response.CustomHeaders.clear();
}

void AnswerPage(const TDispatchContext& context, const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
    TKavelPageMaker maker(context.Env, context.ContentsCache);
    maker.MakePage(request, response);
}

}  // namespace

std::string ImageEntityTag(const std::string& startTimeText) { return "\"" + startTimeText + "\""; }

bool IsSlowRequest(const TIdHTTPRequestInfo& request) {
    const std::string& path = request.DocumentPath;
    if (path == "/udengoncheck" || path == "/udengonsendresult") return true;
    // A person's view reads the message files too.
    if (path.starts_with("/m/p/")) return true;
    return path.starts_with("/api/v1/persons/") && (path.ends_with("/messages") || path.ends_with("/history"));
}

namespace {

void AnswerRequest(const TDispatchContext& context, const TIdHTTPRequestInfo& ARequestInfo,
                   TIdHTTPResponseInfo& AResponseInfo);

}  // namespace

void webMainCommandGet(const TDispatchContext& context, TIdPeerThread& /*ASender*/,
                       const TIdHTTPRequestInfo& ARequestInfo, TIdHTTPResponseInfo& AResponseInfo) {
    AResponseInfo.ServerHeader = ServerSoftwareText;
    if (!context.Live) {
        AnswerRequest(context, ARequestInfo, AResponseInfo);
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    const std::string& path = ARequestInfo.DocumentPath;
    if (IsApiPath(path)) {
        // Health and metrics are polled every few seconds: no log line each.
        if (!IsQuietPath(path)) WriteLogFile(ARequestInfo.RemoteAddress + " " + EscapeLogText(path), EventInformation);
        AnswerApi(*context.Live, context.ContentsCache, ServerSoftwareText, ARequestInfo, AResponseInfo);
    } else if (context.Views && IsViewPath(path)) {
        // The views' assets come with each page: no log line each.
        if (!path.starts_with("/m/s/"))
            WriteLogFile(ARequestInfo.RemoteAddress + " " + EscapeLogText(path), EventInformation);
        AnswerView(*context.Live, *context.Views, ARequestInfo, AResponseInfo);
    } else {
        AnswerRequest(context, ARequestInfo, AResponseInfo);
    }
    context.Live->Requests().Observe(IsViewPath(path) ? ViewRouteLabel(path) : RouteLabel(path),
                                     AResponseInfo.StatusCode,
                                     std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

namespace {

void AnswerRequest(const TDispatchContext& context, const TIdHTTPRequestInfo& ARequestInfo,
                   TIdHTTPResponseInfo& AResponseInfo) {
    // The path is the request's own text: keep its control bytes off the line.
    WriteLogFile(ARequestInfo.RemoteAddress + " " + EscapeLogText(ARequestInfo.DocumentPath), EventInformation);

    const std::string& path = ARequestInfo.DocumentPath;
    const bool image = path.size() >= ImageSuffix.size() &&
                       path.compare(path.size() - ImageSuffix.size(), ImageSuffix.size(), ImageSuffix) == 0;
    try {
        if (path == FaviconPath)
            AnswerFavicon(context, ARequestInfo, AResponseInfo);
        else if (image)
            AnswerImage(context, ARequestInfo, AResponseInfo);
        else
            AnswerPage(context, ARequestInfo, AResponseInfo);
    } catch (const ERefusedValue& e) {
        // The user's own input, refused before anything was stored or sent.
        WriteEventLog(ARequestInfo.RemoteAddress + " " + EscapeLogText(path) + " " + e.what(), EventWarning, 0);
        ClearAnswer(AResponseInfo);
        AResponseInfo.SetStatus(400);
        AResponseInfo.BodyText = FailurePage(e.what());
    } catch (const std::exception& e) {
        WriteEventLog(ARequestInfo.RemoteAddress + " " + EscapeLogText(path) +
                          "リクエストの処理中にエラーが発生しました。" + e.what(),
                      EventError, 0);
        ClearAnswer(AResponseInfo);
        AResponseInfo.SetStatus(500);
        if (!image) AResponseInfo.BodyText = FailurePage(e.what());
    }
}

}  // namespace
