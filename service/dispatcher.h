#pragma once

#include <string>
#include <string_view>

class TKavelEnv;
class TContentsCache;
class TLive;
struct TViewSettings;
class TIdPeerThread;
class TIdHTTPRequestInfo;
class TIdHTTPResponseInfo;

// What the dispatcher reads of the service module for one request.
struct TDispatchContext {
    TKavelEnv& Env;
    TContentsCache& ContentsCache;
    const std::string& StartTimeText;
    // The API, the feed, health and metrics; without it those paths are
    // unknown pages.
    TLive* Live = nullptr;
    // The views under /m/ (they need Live too); without them those paths
    // are unknown pages.
    const TViewSettings* Views = nullptr;
};

// The entity tag of every image for one service start: StartTimeText quoted.
std::string ImageEntityTag(const std::string& startTimeText);

// The server's one request handler: images from the catalogue and the
// status marks (answered 304 when the browser already holds this start's
// version), /favicon.ico from the built-in icons, every other path through
// the page maker. Failures of an image
// or a page are logged and answered 500, a page's with a short page saying
// that the request failed and why; they never reach the caller.
// Pages whose handling grows with a message file (reading or prepending to
// one): they run apart from the workers, so one huge file never holds the board.
bool IsSlowRequest(const TIdHTTPRequestInfo& request);

void webMainCommandGet(const TDispatchContext& context, TIdPeerThread& ASender, const TIdHTTPRequestInfo& ARequestInfo,
                       TIdHTTPResponseInfo& AResponseInfo);
