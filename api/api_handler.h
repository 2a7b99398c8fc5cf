#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TContentsCache;
class TLive;
class TIdHTTPRequestInfo;
class TIdHTTPResponseInfo;

// True for the paths answered here: /api/..., /healthz and /metrics.
bool IsApiPath(std::string_view path);
// Whether a request of that path writes no line to QUOR.LOG.
bool IsQuietPath(std::string_view path);
// The route label of a request path for the metrics (a person key never
// becomes a label).
std::string RouteLabel(std::string_view path);

// Answers one request of IsApiPath: UTF-8 JSON (the feed: Server-Sent
// Events; the metrics: Prometheus text). Never raises: failures are JSON
// errors. The lists and persons are kept in cache, the pages' own, under
// keys no page uses. version is the server's, for /healthz.
void AnswerApi(TLive& live, TContentsCache& cache, const std::string& version, const TIdHTTPRequestInfo& request,
               TIdHTTPResponseInfo& response);

// UTF-8 of Shift-JIS text, or nothing when some byte has no UTF-8 form:
// such text is refused, never guessed at.
std::optional<std::string> StrictUtf8(std::string_view cp932);

// Each character of UTF-8 text that has no Shift-JIS form, in order.
std::vector<std::string> Unencodable(std::string_view utf8);

// The messages of a message file (.mil unread, .old read), newest first as
// the file holds them: objects of sender, time, text (UTF-8) and read.
nlohmann::json MessageEntries(const std::string& path, bool read);

// The API's description (OpenAPI 3.1).
extern const char* const OpenApiDocument;
