#include "api/api_handler.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "api/live.h"
#include "data/kavel_env.h"
#include "data/kavel_person.h"
#include "data/person_status.h"
#include "data/persons_list.h"
#include "data/store_gate.h"
#include "http/http_body_stream.h"
#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "pages/absence_page.h"
#include "pages/contents_cache.h"
#include "pages/message_send_page.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "protocol/kavel_protocol.h"

using nlohmann::json;

namespace {

constexpr std::string_view Prefix = "/api/v1/";
constexpr size_t HistoryShown = 50;

// A refusal the client can act on: status, message and the field at fault.
struct EApiError : std::runtime_error {
    EApiError(int status, const std::string& message, std::string field = std::string(),
              std::vector<std::string> characters = {})
        : std::runtime_error(message), Status(status), Field(std::move(field)), Characters(std::move(characters)) {}
    int Status;
    std::string Field;
    std::vector<std::string> Characters;
};

void AnswerJson(TIdHTTPResponseInfo& response, int status, const json& body) {
    response.SetStatus(status);
    response.ContentType = "application/json";
    response.BodyText = body.dump();
}

void AnswerError(TIdHTTPResponseInfo& response, const EApiError& e) {
    json body = {{"error", e.what()}};
    if (!e.Field.empty()) body["field"] = e.Field;
    if (!e.Characters.empty()) body["characters"] = e.Characters;
    response.CustomHeaders.clear();
    response.BodyStream.reset();
    response.HeldStream.reset();
    AnswerJson(response, e.Status, body);
}

// The path's segments after the prefix, each percent-decoded as bytes ('+'
// stays itself), from the target as sent.
std::vector<std::string> Segments(const TIdHTTPRequestInfo& request) {
    std::string_view target = request.Target;
    if (const size_t q = target.find('?'); q != std::string_view::npos) target = target.substr(0, q);
    if (const size_t p = target.find(Prefix); p != std::string_view::npos)
        target = target.substr(p + Prefix.size());
    else
        target = {};
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= target.size()) {
        size_t end = target.find('/', start);
        if (end == std::string_view::npos) end = target.size();
        out.push_back(PercentDecode(target.substr(start, end - start)));
        start = end + 1;
    }
    return out;
}

// A text field of the request body in Shift-JIS; empty when absent.
std::string TextField(const json& body, const char* name) {
    const auto it = body.find(name);
    if (it == body.end() || it->is_null()) return std::string();
    if (!it->is_string()) throw EApiError(422, std::string(name) + " must be a string", name);
    const std::string& utf8 = it->get_ref<const std::string&>();
    std::optional<std::string> cp932 = Utf8ToCp932(utf8);
    if (!cp932)
        throw EApiError(422, std::string(name) + " holds characters Shift-JIS cannot carry", name, Unencodable(utf8));
    return *cp932;
}

// The JSON field a store-gate label belongs to.
std::string FieldOfLabel(const std::string& label) {
    static const std::map<std::string, std::string> fields = {
        {"戻り日付", "date"},       {"戻り時刻", "time"},   {"不在理由", "reason"},
        {"送信者の名前", "sender"}, {"伝言の内容", "text"},
    };
    const auto it = fields.find(label);
    if (it != fields.end()) return it->second;
    return StrictUtf8(label).value_or("value");
}

json Text(const std::string& cp932) {
    std::optional<std::string> utf8 = StrictUtf8(cp932);
    return utf8 ? json(*utf8) : json(nullptr);
}

const char* StateName(TReturnState state) {
    switch (state) {
        case rsPowerOff:
            return "powerOff";
        case rsPresent:
            return "present";
        case rsOverdue:
            return "overdue";
        case rsToday:
            return "today";
        case rsTomorrow:
            return "tomorrow";
        case rsDayAfterTomorrow:
            return "dayAfterTomorrow";
        case rsLater:
            return "later";
        default:
            return "unparsable";
    }
}

// The return moment as ISO 8601 where the stored texts convert.
json IsoReturn(const TKavelPerson& p) {
    TDateTime day = 0;
    if (p.ModoriDate.empty() || !TryStrToDateTime(p.ModoriDate, day)) return nullptr;
    std::string iso = FormatDateTime("yyyy\"-\"mm\"-\"dd", day);
    const std::string& t = p.ModoriTime;
    const size_t colon = t.find(':');
    if (colon != std::string::npos) {
        const auto h = ParseInt32(t.substr(0, colon));
        const auto m = ParseInt32(t.substr(colon + 1));
        if (h && m && *h >= 0 && *h < 24 && *m >= 0 && *m < 60) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "T%02d:%02d:00", *h, *m);
            iso += buf;
        }
    }
    return iso;
}

// A person as the API shows it, or null when its key has no UTF-8 form.
json PersonJson(const TKavelPerson& p, const TPersonStatusCollection& statuses, TDateTime now) {
    std::optional<std::string> key = StrictUtf8(p.FileName());
    if (!key) return nullptr;
    const TReturnState state = p.ReturnState(now);
    return {{"key", *key},
            {"name", Text(p.Name)},
            {"reading", Text(p.Furigana)},
            {"group", Text(p.Group)},
            {"memo", Text(p.Memo)},
            {"returnDate", Text(p.ModoriDate)},
            {"returnTime", Text(p.ModoriTime)},
            {"returnAt", IsoReturn(p)},
            {"state", StateName(state)},
            {"mark", p.StatusIcon},
            {"markCaption", Text(statuses.StatusFor(p, now).Caption)},
            {"markImage", "/" + statuses.StatusImageName(p, now)},
            {"powerOff", p.PowerOFF},
            {"reason", Text(std::string(ReasonBetweenQuotes(p.Huzairiyu)))}};
}

std::uint64_t TagOf(const std::string& body) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : body) h = (h ^ c) * 1099511628211ull;
    return h;
}

// A GET answer of the list's version, kept in the pages' cache beside the
// pages (one bound, one stamp rule): its JSON and tag are made once per
// version and key, and every answer shares the bytes; 304 when the client
// holds the tag.
void AnswerCached(TContentsCache& cache, TIdHTTPResponseInfo& response, const TIdHTTPRequestInfo& request,
                  const std::string& key, TDateTime stamp, const std::function<json()>& build) {
    std::optional<TContents> found = cache.FindContents(key, stamp);
    if (!found) {
        // One builder at a time: a new version is built once, not once per caller.
        static std::mutex building;
        std::lock_guard l(building);
        found = cache.FindContents(key, stamp);
        if (!found) {
            found.emplace(build().dump(), stamp);
            found->Tag = TagOf(*found->Text);
            cache.AddObject(key, *found);
        }
    }
    // The tag's 16 hex digits in quotes, without printf's set-up on every hit.
    char tag[18];
    tag[0] = tag[17] = '"';
    for (int i = 0; i < 16; ++i) tag[16 - i] = "0123456789abcdef"[(found->Tag >> (4 * i)) & 0xF];
    const std::string_view tagText(tag, sizeof tag);
    response.CustomHeaders.reserve(response.CustomHeaders.size() + 2);
    response.CustomHeaders.push_back({"ETag", std::string(tagText)});
    response.CustomHeaders.push_back({"Cache-Control", "no-cache"});
    response.ContentType = "application/json";
    if (RequestHoldsTag(request, tagText)) {
        response.SetStatus(304);
        return;
    }
    response.BodyText.clear();
    response.BodyStream = std::make_unique<TBodyStream>(std::move(found->Text));
}

// A person's answer in the cache: the key's every byte escaped, so that keys
// differing in letter case never fold onto one entry.
std::string PersonCacheKey(const std::string& key) {
    std::string out = "/api/v1/persons/";
    AppendPercentEncoded(out, key, [](unsigned char) { return true; });
    return out;
}

const TKavelPerson& FindKey(const TKavelPersonsList& persons, const std::string& keyUtf8) {
    std::optional<std::string> key = Utf8ToCp932(keyUtf8);
    const TKavelPerson* person = key ? persons.FindPerson(*key) : nullptr;
    if (!person) throw EApiError(404, "no such person", "key");
    return *person;
}

json ParseBody(const TIdHTTPRequestInfo& request) {
    json body = json::parse(request.RawBody, nullptr, false);
    if (body.is_discarded() || !body.is_object()) throw EApiError(400, "the body is no JSON object");
    return body;
}

// A browser's cross-site request can neither send JSON as such nor hide
// where it comes from.
void CheckWrite(const TIdHTTPRequestInfo& request) {
    const std::string type = request.RawHeaders.Values("Content-Type");
    const std::string_view media = std::string_view(type).substr(0, type.find(';'));
    if (!SameText(TrimControls(media), "application/json"))
        throw EApiError(415, "Content-Type must be application/json");
    const std::string origin = request.RawHeaders.Values("Origin");
    const std::string host = request.RawHeaders.Values("Host");
    if (!origin.empty() && origin != "http://" + host && origin != "https://" + host)
        throw EApiError(403, "cross-site writes are refused");
}

// The history's source of a write: "web" when our own views' script sent it
// (its header cannot come from another site's page without a preflight we
// never grant, and CheckWrite has seen the Origin), else "api".
const char* SourceOf(const TIdHTTPRequestInfo& request) {
    return request.RawHeaders.Values("X-Quor-View") == "1" && !request.RawHeaders.Values("Origin").empty() ? "web"
                                                                                                           : "api";
}

void CheckShare(TKavelEnv& env) {
    if (!env.ShareReadable()) throw EApiError(503, "the common directory cannot be read");
}

void AnswerEvents(TLive& live, const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
    // An id we never sent ("-1", "7x") is none: stoull took both as ids.
    const std::optional<std::uint64_t> last = ParseEventId(request.RawHeaders.Values("Last-Event-ID"));
    std::string greeting;
    response.HeldStream = live.Feed().Open(last, greeting);
    response.ContentType = "text/event-stream; charset=utf-8";
    response.CustomHeaders.push_back({"Cache-Control", "no-cache"});
    response.BodyText = std::move(greeting);
}

void AnswerHealth(TLive& live, const std::string& version, TIdHTTPResponseInfo& response) {
    TKavelEnv& env = live.Env();
    const bool reachable = env.ShareReadable();
    const TKavelEnv::TPersonsPtr persons = env.GetPersons();
    json body = {{"status", reachable ? "ok" : "unavailable"},
                 {"persons", persons->Count()},
                 {"directoryReachable", reachable},
                 {"version", version}};
    const TDateTime loaded = persons->LoadTime();
    body["lastRescan"] =
        loaded > 0 ? json(FormatDateTime("yyyy\"-\"mm\"-\"dd\"T\"hh\":\"nn\":\"ss", loaded)) : json(nullptr);
    AnswerJson(response, reachable ? 200 : 503, body);
}

void AnswerMetrics(TLive& live, TIdHTTPResponseInfo& response) {
    TKavelEnv& env = live.Env();
    std::string out = live.Requests().Text();
    auto metric = [&out](const char* name, const char* type, const char* help, const std::string& value) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name + " " +
               value + "\n";
    };
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6f", env.RescanSeconds());
    metric("quor_rescans_total", "counter", "Rescans of the common directory.", std::to_string(env.Rescans()));
    metric("quor_rescan_seconds_total", "counter", "Time spent in rescans.", seconds);
    metric("quor_person_files_read_total", "counter", "Person files read by rescans.", std::to_string(env.FilesRead()));
    metric("quor_watchers", "gauge", "Open event feeds.", std::to_string(live.WatchersNow ? live.WatchersNow() : 0));
    metric("quor_writes_total", "counter", "Person and message files written.", std::to_string(env.Writes.load()));
    metric("quor_write_failures_total", "counter", "Writes that failed.", std::to_string(env.WriteFailures.load()));
    metric("quor_datagrams_sent_total", "counter", "Datagrams sent to the clients.",
           std::to_string(env.Protocol().SentCount()));
    metric("quor_datagrams_failed_total", "counter", "Datagrams that could not be sent.",
           std::to_string(env.Protocol().FailedCount()));
    metric("quor_history_failures_total", "counter", "History records that could not be written.",
           std::to_string(live.History().Failures()));
    response.ContentType = "text/plain; version=0.0.4; charset=utf-8";
    response.BodyText = std::move(out);
}

void AnswerAbsence(TLive& live, const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                   const std::string& keyUtf8) {
    TKavelEnv& env = live.Env();
    CheckWrite(request);
    const json body = ParseBody(request);
    TAbsenceFields fields;
    fields.Kind = TextField(body, "type");
    if (fields.Kind != "datetime" && fields.Kind != "nolimit" && fields.Kind != "reset")
        throw EApiError(422, "type must be datetime, nolimit or reset", "type");
    fields.Date = TextField(body, "date");
    // ISO dates are stored as the clients write them.
    if (fields.Date.size() == 10 && fields.Date[4] == '-' && fields.Date[7] == '-') {
        fields.Date[4] = '/';
        fields.Date[7] = '/';
    }
    fields.Time = TextField(body, "time");
    fields.Reason = TextField(body, "reason");
    if (const auto mark = body.find("mark"); mark != body.end() && !mark->is_null()) {
        if (!mark->is_number_integer()) throw EApiError(422, "mark must be an integer", "mark");
        fields.Mark = std::to_string(mark->get<long long>());
    }
    CheckShare(env);
    const TKavelEnv::TPersonsPtr persons = env.GetPersons();
    const TKavelPerson& person = FindKey(*persons, keyUtf8);
    TKavelPerson changed;
    try {
        changed = ApplyAbsence(person, fields, env.Statuses());
    } catch (const std::out_of_range&) {
        throw EApiError(422, "mark names no status mark", "mark");
    }
    StoreAbsence(env, *persons, person, changed, SourceOf(request), request.RemoteAddress);
    AnswerJson(response, 200, PersonJson(changed, env.Statuses(), env.Clock().Now()));
}

void AnswerMessage(TLive& live, const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                   const std::string& keyUtf8) {
    TKavelEnv& env = live.Env();
    CheckWrite(request);
    const json body = ParseBody(request);
    const std::string sender = TextField(body, "sender");
    const std::string text = TextField(body, "text");
    if (IsBlankText(text)) throw EApiError(422, "text is empty", "text");
    CheckShare(env);
    const TKavelEnv::TPersonsPtr persons = env.GetPersons();
    const TKavelPerson& person = FindKey(*persons, keyUtf8);
    const std::string stored = SendMessage(env, person, sender, text, SourceOf(request), request.RemoteAddress);
    AnswerJson(response, 200, {{"key", keyUtf8}, {"sender", Text(stored)}, {"stored", true}});
}

void Route(TLive& live, TContentsCache& cache, const std::string& version, const TIdHTTPRequestInfo& request,
           TIdHTTPResponseInfo& response) {
    const std::string& path = request.DocumentPath;
    const bool get = request.Method == "GET" || request.Method == "HEAD";
    if (path == "/healthz" || path == "/metrics") {
        if (!get) throw EApiError(405, "method not allowed");
        path == "/healthz" ? AnswerHealth(live, version, response) : AnswerMetrics(live, response);
        return;
    }
    TKavelEnv& env = live.Env();
    // A name of one segment (the lists, most asked for) is read off the
    // decoded path; longer ones are split from the target as sent.
    const std::string_view rest = std::string_view(path).substr(std::min(path.size(), Prefix.size()));
    const bool one = path.starts_with(Prefix) && rest.find('/') == std::string_view::npos;
    const std::vector<std::string> s = one ? std::vector<std::string>() : Segments(request);
    const size_t n = one ? 1 : s.size();
    const std::string_view first = one ? rest : n >= 1 ? std::string_view(s[0]) : std::string_view();
    auto want = [&](bool post) {
        if (post ? request.Method != "POST" : !get) throw EApiError(405, "method not allowed");
    };
    if (n == 1 && first == "openapi.json") {
        want(false);
        response.ContentType = "application/json";
        response.BodyText = OpenApiDocument;
        return;
    }
    if (n == 1 && first == "events") {
        want(false);
        AnswerEvents(live, request, response);
        return;
    }
    const TKavelEnv::TPersonsPtr persons = n >= 1 ? env.GetPersons() : nullptr;
    const TDateTime stamp = persons ? persons->LoadTime() : 0;
    if (n == 1 && first == "persons") {
        want(false);
        AnswerCached(cache, response, request, "/api/v1/persons", stamp, [&] {
            json list = json::array();
            const TDateTime now = env.Clock().Now();
            for (int i = 0; i < persons->Count(); ++i)
                if (json p = PersonJson((*persons)[i], env.Statuses(), now); !p.is_null()) list.push_back(p);
            return list;
        });
        return;
    }
    if (n == 1 && first == "groups") {
        want(false);
        AnswerCached(cache, response, request, "/api/v1/groups", stamp, [&] {
            json list = json::array();
            const TGroupList& groups = persons->Groups();
            for (int i = 0; i < groups.Count(); ++i)
                list.push_back({{"name", Text(groups.Names(i))}, {"count", groups.MemberCount(groups.Names(i))}});
            return list;
        });
        return;
    }
    if (n == 1 && first == "statuses") {
        want(false);
        AnswerCached(cache, response, request, "/api/v1/statuses", stamp, [&] {
            json list = json::array();
            const TPersonStatusCollection& statuses = env.Statuses();
            for (int i = 0; i < statuses.Count(); ++i) {
                const TPersonStatus& status = statuses.Items(i);
                json images = json::array();
                for (int k = 0; k < status.ImageCount(); ++k) images.push_back("/" + status.ImageNames(k));
                const int mark = i - TPersonStatusCollection::AbsentEntry;
                list.push_back({{"mark", mark >= 0 ? json(mark) : json(nullptr)},
                                {"caption", Text(status.Caption)},
                                {"images", images}});
            }
            return list;
        });
        return;
    }
    if (n >= 2 && first == "persons") {
        const std::string& key = s[1];
        if (n == 2) {
            want(false);
            const TKavelPerson& person = FindKey(*persons, key);
            AnswerCached(cache, response, request, PersonCacheKey(key), stamp,
                         [&] { return PersonJson(person, env.Statuses(), env.Clock().Now()); });
            return;
        }
        if (n == 3 && s[2] == "messages") {
            if (request.Method == "POST") return AnswerMessage(live, request, response, key);
            want(false);
            const TKavelPerson& person = FindKey(*persons, key);
            json list = MessageEntries(ChangeFileExt(person.FilePath, ".mil"), false);
            for (json& entry : MessageEntries(ChangeFileExt(person.FilePath, ".old"), true)) list.push_back(entry);
            AnswerJson(response, 200, list);
            return;
        }
        if (n == 3 && s[2] == "absence") {
            want(true);
            return AnswerAbsence(live, request, response, key);
        }
        if (n == 3 && s[2] == "history") {
            want(false);
            const TKavelPerson& person = FindKey(*persons, key);
            json list = json::array();
            for (const std::string& line : live.History().Last(person.FileName(), HistoryShown))
                list.push_back(json::parse(line, nullptr, false));
            AnswerJson(response, 200, list);
            return;
        }
    }
    throw EApiError(404, "no such resource");
}

}  // namespace

std::optional<std::string> StrictUtf8(std::string_view cp932) {
    std::string utf8 = Cp932ToUtf8(cp932, TBadBytes::Replace);
    // CP932 maps no character to U+FFFD: where it stands, a byte had no form.
    if (utf8.find("\xEF\xBF\xBD") != std::string::npos) return std::nullopt;
    return utf8;
}

std::vector<std::string> Unencodable(std::string_view utf8) {
    std::vector<std::string> out;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        const std::string ch(utf8.substr(i, n));
        if (!Utf8ToCp932(ch)) out.push_back(ch);
        i += n;
    }
    return out;
}

json MessageEntries(const std::string& path, bool read) {
    json out = json::array();
    if (!FileExists(path)) return out;
    const std::string mark = "○";
    const std::string tag = "(伝言)";
    const std::string sent = "送信日時:";
    std::string header, text;
    bool open = false;
    auto flush = [&] {
        if (!open) return;
        std::string sender = header.substr(mark.size());
        std::string time;
        if (const size_t t = sender.find(tag); t != std::string::npos) sender.erase(t);
        if (const size_t s = header.find(sent); s != std::string::npos) time = header.substr(s + sent.size());
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        out.push_back({{"sender", Text(sender)}, {"time", Text(time)}, {"text", Text(text)}, {"read", read}});
    };
    ForEachLine(ReadWholeFile(path), [&](std::string_view line) {
        if (line.substr(0, mark.size()) == mark) {
            flush();
            header.assign(line);
            text.clear();
            open = true;
        } else if (open) {
            text.append(line);
            text += '\n';
        }
    });
    flush();
    return out;
}

bool IsApiPath(std::string_view path) { return path == "/healthz" || path == "/metrics" || path.starts_with("/api/"); }

bool IsQuietPath(std::string_view path) { return path == "/healthz" || path == "/metrics"; }

std::string RouteLabel(std::string_view path) {
    if (path == "/healthz" || path == "/metrics") return std::string(path);
    if (path.starts_with(Prefix)) {
        const std::string_view rest = path.substr(Prefix.size());
        for (const char* route : {"persons", "groups", "statuses", "events", "openapi.json"})
            if (rest == route) return std::string(path);
        if (rest.starts_with("persons/")) {
            const size_t slash = rest.find('/', 8);
            if (slash == std::string_view::npos) return "/api/v1/persons/{key}";
            const std::string_view tail = rest.substr(slash);
            if (tail == "/messages" || tail == "/absence" || tail == "/history")
                return "/api/v1/persons/{key}" + std::string(tail);
        }
        return "/api/other";
    }
    if (path.ends_with(".jpg")) return "image";
    static const char* const pages[] = {"/",        "/controls",     "/keiziban",       "/uframe",
                                        "/uinfo",   "/udengoncheck", "/udengonsend",    "/udengonsendresult",
                                        "/uopmenu", "/uhuzai",       "/uhuzaisetsubmit"};
    for (const char* page : pages)
        if (path == page) return page;
    return "other";
}

void AnswerApi(TLive& live, TContentsCache& cache, const std::string& version, const TIdHTTPRequestInfo& request,
               TIdHTTPResponseInfo& response) {
    try {
        Route(live, cache, version, request, response);
    } catch (const EApiError& e) {
        AnswerError(response, e);
    } catch (const ERefusedValue& e) {
        AnswerError(response, EApiError(422, StrictUtf8(e.what()).value_or("refused"), FieldOfLabel(e.Field())));
    } catch (const std::exception& e) {
        AnswerError(response, EApiError(500, StrictUtf8(e.what()).value_or("failed")));
    }
}
