#include "views/views.h"

#include <exception>
#include <random>

#include "api/live.h"
#include "data/kavel_env.h"
#include "data/store_gate.h"
#include "http/http_body_stream.h"
#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "platform/sjis_text.h"
#include "views/view_assets.h"
#include "views/view_parts.h"

namespace {

constexpr std::string_view TokenCookie = "quor_m";
constexpr size_t TokenLength = 32;

bool IsToken(std::string_view text) {
    if (text.size() != TokenLength) return false;
    for (const char c : text)
        if (HexDigitValue(c) < 0) return false;
    return true;
}

std::string NewToken() {
    static thread_local std::mt19937_64 random{(std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}()};
    char text[TokenLength + 1];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return text;
}

std::string TokenOf(const TIdHTTPRequestInfo& request) {
    const TIdCookie* cookie = request.RequestCookies.Find(TokenCookie);
    return cookie && IsToken(cookie->Value) ? cookie->Value : std::string();
}

void AnswerAsset(const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response, std::string_view version,
                 std::string_view name) {
    const TViewAsset* asset = FindViewAsset(name);
    if (!asset) {
        AnswerMessagePage(response, 404, "見つかりません", "このページはありません。");
        return;
    }
    const std::string tag = "\"" + ViewAssetVersion() + "\"";
    response.CustomHeaders.push_back({"ETag", tag});
    // The URL names this build's assets: kept for good. An old page asking
    // for an old version still gets the current bytes, to be checked again.
    response.CustomHeaders.push_back(
        {"Cache-Control", version == ViewAssetVersion() ? "public, max-age=31536000, immutable" : "no-cache"});
    if (RequestHoldsTag(request, tag)) {
        response.SetStatus(304);
        return;
    }
    response.ContentType = name.ends_with(".css") ? "text/css; charset=utf-8" : "text/javascript; charset=utf-8";
    response.BodyText.assign(asset->Text());
}

}  // namespace

// A form of ours is posted by a page of ours. A browser names the page's
// origin in Origin on every POST it sends today, and one that leaves Origin
// out still tells Sec-Fetch-Site; older browsers and text browsers send
// neither, and they must carry the token of their cookie in the form: a
// foreign page can neither read our pages nor set our cookie.
bool CrossSiteWrite(const TIdHTTPRequestInfo& request, std::string& why) {
    const std::string origin = request.RawHeaders.Values("Origin");
    const std::string host = request.RawHeaders.Values("Host");
    if (!origin.empty()) {
        if (origin == "http://" + host || origin == "https://" + host) return false;
        why = "他のサイトのページからの書き込みは受け付けません。";
        return true;
    }
    const std::string site = request.RawHeaders.Values("Sec-Fetch-Site");
    if (site == "same-origin") return false;
    if (!site.empty()) {
        why = "他のサイトのページからの書き込みは受け付けません。";
        return true;
    }
    const std::string token = TokenOf(request);
    if (!token.empty() && request.QueryFields.ValueOf("t") == token) return false;
    why = "書き込みを確かめられませんでした。ページを開き直してから送ってください。";
    return true;
}

bool IsViewPath(std::string_view path) { return path == "/m" || path.starts_with("/m/"); }

std::string ViewRouteLabel(std::string_view path) {
    if (path == "/m" || path == "/m/" || path == "/m/board" || path == "/m/wall" || path == "/m/wall/part")
        return std::string(path);
    if (path.starts_with("/m/s/")) return "/m/s/{asset}";
    if (path.starts_with("/m/p/")) {
        for (const char* tail : {"/part", "/message", "/absence"})
            if (path.ends_with(tail)) return std::string("/m/p/{key}") + tail;
        return "/m/p/{key}";
    }
    return "/m/other";
}

const char* StateClass(TReturnState state) {
    switch (state) {
        case rsPowerOff:
            return "off";
        case rsPresent:
            return "in";
        case rsOverdue:
            return "over";
        case rsToday:
            return "today";
        case rsTomorrow:
        case rsDayAfterTomorrow:
        case rsLater:
            return "later";
        default:
            return "unknown";
    }
}

std::string ReturnTextOf(const TKavelPerson& person, TDateTime now) {
    return std::string(TrimControls(person.ReturnText(now)));
}

void PageStart(TViewText& out, std::string_view title, std::string_view bodyClass, std::string_view extraHead) {
    const std::string& v = ViewAssetVersion();
    out +=
        "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>";
    out.Escaped(title);
    out += "</title><link rel=\"stylesheet\" href=\"/m/s/" + v + "/m.css\"><script src=\"/m/s/" + v +
           "/m.js\" defer></script>";
    out += extraHead;
    out += "</head>\n<body class=\"";
    out += bodyClass;
    out += "\">\n";
}

void PageEnd(TViewText& out) { out += "</body></html>\n"; }

void AnswerHtml(TIdHTTPResponseInfo& response, int status, std::string utf8) {
    response.SetStatus(status);
    response.ContentType = "text/html; charset=utf-8";
    response.CustomHeaders.push_back({"Cache-Control", "no-cache"});
    response.CustomHeaders.push_back({"X-Content-Type-Options", "nosniff"});
    // No script but our own file: a value that slipped through escaping
    // still cannot run.
    response.CustomHeaders.push_back(
        {"Content-Security-Policy",
         "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self'; "
         "frame-ancestors 'self'; form-action 'self'; base-uri 'none'"});
    response.BodyText = std::move(utf8);
}

void AnswerMessagePage(TIdHTTPResponseInfo& response, int status, std::string_view heading, std::string_view text) {
    TViewText out;
    PageStart(out, heading, "v-message");
    out += "<main><h1>";
    out.Escaped(heading);
    out += "</h1><p role=\"alert\">";
    out.Escaped(text);
    out += "</p><p><a href=\"/m/\">在席表へ</a></p></main>\n";
    PageEnd(out);
    AnswerHtml(response, status, out.Finish());
}

void AnswerView(TLive& live, const TViewSettings& settings, const TIdHTTPRequestInfo& request,
                TIdHTTPResponseInfo& response) {
    const std::string& path = request.DocumentPath;
    try {
        if (path.starts_with("/m/s/")) {
            const std::string_view rest = std::string_view(path).substr(5);
            const size_t slash = rest.find('/');
            if (slash == std::string_view::npos)
                return AnswerMessagePage(response, 404, "見つかりません", "このページはありません。");
            return AnswerAsset(request, response, rest.substr(0, slash), rest.substr(slash + 1));
        }
        const bool get = request.Method == "GET" || request.Method == "HEAD";
        TViewCall call{live, settings, request, response, TokenOf(request)};
        if (call.Token.empty()) {
            call.Token = NewToken();
            response.CustomHeaders.push_back(
                {"Set-Cookie", std::string(TokenCookie) + "=" + call.Token + "; Path=/m; SameSite=Strict; HttpOnly"});
        }
        if (path == "/m") {
            response.SetStatus(301);
            response.CustomHeaders.push_back({"Location", "/m/"});
            return;
        }
        if (path.starts_with("/m/p/")) {
            // The key as sent, percent-decoded here: a '/' or '%2F' in it is no key of a file.
            std::string_view target = request.Target;
            target = target.substr(0, target.find('?'));
            const size_t at = target.find("/m/p/");
            std::string_view piece = at == std::string_view::npos ? std::string_view() : target.substr(at + 5);
            const size_t slash = piece.find('/');
            const std::string_view rest = slash == std::string_view::npos ? std::string_view() : piece.substr(slash);
            piece = piece.substr(0, slash);
            const bool post = rest == "/message" || rest == "/absence";
            if (post ? request.Method != "POST" : !get)
                return AnswerMessagePage(response, 405, "受け付けられません", "この操作はできません。");
            if (rest.empty() || rest == "/part" || post) return AnswerPerson(call, KeyOfPathPiece(piece), rest);
        } else if (!get) {
            return AnswerMessagePage(response, 405, "受け付けられません", "この操作はできません。");
        } else if (path == "/m/" || path == "/m/board") {
            return AnswerBoard(call, path == "/m/board");
        } else if (path == "/m/wall" || path == "/m/wall/part") {
            return AnswerWall(call, path == "/m/wall/part");
        }
        AnswerMessagePage(response, 404, "見つかりません", "このページはありません。");
    } catch (const ERefusedValue& e) {
        response.CustomHeaders.clear();
        AnswerMessagePage(response, 422, "保存できませんでした", e.what());
    } catch (const std::exception& e) {
        response.CustomHeaders.clear();
        AnswerMessagePage(response, 500, "エラー",
                          std::string("リクエストの処理中にエラーが発生しました。") + e.what());
    }
}
