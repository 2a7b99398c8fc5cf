// The live board as a whole server: the feed hears of a client's change, the
// API's answers match its published description, and the history tells the
// three sources apart.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "tests/server_harness.h"

using nlohmann::json;

namespace {

// The sources' literals come out as Shift-JIS; the API speaks UTF-8.
std::string U(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

int Connect(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
    return fd;
}

// One whole request, the answer read to the close.
THttpAnswer Request(std::uint16_t port, const std::string& method, const std::string& target,
                    const std::string& body = "", const std::vector<std::string>& headers = {}) {
    const int fd = Connect(port);
    std::string out = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    for (const std::string& h : headers) out += h + "\r\n";
    if (method == "POST") out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "\r\n" + body;
    (void)!::write(fd, out.data(), out.size());
    std::string in;
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) in.append(buf, n);
    ::close(fd);
    THttpAnswer a;
    const size_t head = in.find("\r\n\r\n");
    a.Status = std::atoi(in.c_str() + 9);
    std::istringstream lines(in.substr(0, head));
    std::string line;
    std::getline(lines, a.StatusLine);
    while (std::getline(lines, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = line.substr(colon + 2);
        if (!value.empty() && value.back() == '\r') value.pop_back();
        a.Headers.emplace_back(line.substr(0, colon), value);
    }
    a.Body = head == std::string::npos ? "" : in.substr(head + 4);
    return a;
}

THttpAnswer PostJson(std::uint16_t port, const std::string& target, const json& body,
                     std::vector<std::string> headers = {}) {
    headers.push_back("Content-Type: application/json");
    return Request(port, "POST", target, body.dump(), headers);
}

// Checks value against the subset of JSON Schema the document uses; the
// path names the place of a mismatch.
void Validate(const json& doc, const json& schema, const json& value, const std::string& path) {
    if (schema.contains("$ref")) {
        const std::string ref = schema["$ref"];
        return Validate(doc, doc.at(json::json_pointer(ref.substr(1))), value, path);
    }
    if (schema.contains("const")) {
        EXPECT_EQ(value, schema["const"]) << path;
    }
    if (schema.contains("enum")) {
        bool found = false;
        for (const json& e : schema["enum"]) found = found || e == value;
        EXPECT_TRUE(found) << path << " = " << value;
    }
    if (schema.contains("type")) {
        std::vector<std::string> types;
        if (schema["type"].is_array())
            for (const json& t : schema["type"]) types.push_back(t);
        else
            types.push_back(schema["type"]);
        bool ok = false;
        for (const std::string& t : types)
            ok = ok || (t == "string" && value.is_string()) || (t == "null" && value.is_null()) ||
                 (t == "integer" && value.is_number_integer()) || (t == "boolean" && value.is_boolean()) ||
                 (t == "array" && value.is_array()) || (t == "object" && value.is_object());
        EXPECT_TRUE(ok) << path << " = " << value;
        if (!ok) return;
    }
    if (value.is_object()) {
        for (const json& r : schema.value("required", json::array()))
            EXPECT_TRUE(value.contains(r)) << path << "." << r;
        const json props = schema.value("properties", json::object());
        for (const auto& [k, v] : value.items()) {
            if (props.contains(k))
                Validate(doc, props[k], v, path + "." + k);
            else
                EXPECT_NE(schema.value("additionalProperties", json(true)), json(false)) << path << "." << k;
        }
    }
    if (value.is_array() && schema.contains("items"))
        for (size_t i = 0; i < value.size(); ++i)
            Validate(doc, schema["items"], value[i], path + "[" + std::to_string(i) + "]");
}

// The answer's body against the document's schema for that operation.
void ExpectDescribed(const json& doc, const std::string& route, const std::string& method, const THttpAnswer& a) {
    const json& op = doc["paths"][route][method];
    const std::string status = std::to_string(a.Status);
    ASSERT_TRUE(op["responses"].contains(status)) << route << " " << status << " " << a.Body;
    json response = op["responses"][status];
    if (response.contains("$ref")) response = doc.at(json::json_pointer(response["$ref"].get<std::string>().substr(1)));
    if (!response.contains("content")) return;
    ASSERT_EQ(a.Header("Content-Type").value_or(""), "application/json") << route;
    const json body = json::parse(a.Body, nullptr, false);
    ASSERT_FALSE(body.is_discarded()) << a.Body;
    Validate(doc, response["content"]["application/json"]["schema"], body, route);
}

// A stand-in client: rewrites the person file as the clients do, through a
// temporary file renamed over it.
void ClientWrites(const std::string& office, const std::string& key, const std::string& date) {
    std::string text = ReadFile(office + key + ".kvl");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    lines.at(5) = "\"" + date + "\"\r";
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    WriteFile(office + key + ".tmp", out);
    std::rename((office + key + ".tmp").c_str(), (office + key + ".kvl").c_str());
}

class LiveServer : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<TServerProcess>(files);
        ASSERT_TRUE(server->WaitReady());
        doc = json::parse(HttpGet(files.Port(), "/api/v1/openapi.json").Body);
    }
    TServerFiles files;
    std::unique_ptr<TServerProcess> server;
    json doc;
};

TEST_F(LiveServer, ClientChangeReachesAnOpenFeedAndTheHistory) {
    const int fd = OpenRequest(files.Port(), "/api/v1/events");
    std::string got;
    char buf[4096];
    auto readUntil = [&](const std::string& text, int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < until) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, n);
        }
        return got.find(text) != std::string::npos;
    };
    ASSERT_TRUE(readUntil("event: version", PatienceMs)) << got;
    EXPECT_NE(got.find("text/event-stream"), std::string::npos);

    const auto written = std::chrono::steady_clock::now();
    ClientWrites(files.Office(), "aoki", "2031/01/02");
    ASSERT_TRUE(readUntil("\"aoki\"", PatienceMs)) << got;
    const auto seen = std::chrono::steady_clock::now() - written;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(seen).count(), 1000);
#endif
    EXPECT_NE(got.find("event: change"), std::string::npos);
    ::close(fd);

    // The next page shows it without waiting for the reload interval.
    const THttpAnswer person = HttpGet(files.Port(), "/api/v1/persons/aoki");
    ExpectDescribed(doc, "/persons/{key}", "get", person);
    EXPECT_EQ(json::parse(person.Body)["returnDate"], "2031/01/02");

    const THttpAnswer history = HttpGet(files.Port(), "/api/v1/persons/aoki/history");
    ExpectDescribed(doc, "/persons/{key}/history", "get", history);
    const json records = json::parse(history.Body);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back()["source"], "client");
    EXPECT_EQ(records.back()["after"]["date"], "2031/01/02");
}

TEST_F(LiveServer, ApiAnswersMatchTheDocumentAndWritesAsThePagesDo) {
    const std::uint16_t port = files.Port();
    for (const char* route : {"/persons", "/groups", "/statuses"}) {
        const THttpAnswer a = HttpGet(port, std::string("/api/v1") + route);
        ExpectDescribed(doc, route, "get", a);
        ASSERT_TRUE(a.Header("ETag"));
        EXPECT_EQ(HttpGet(port, std::string("/api/v1") + route, {"If-None-Match: " + *a.Header("ETag")}).Status, 304);
    }
    const THttpAnswer unknown = HttpGet(port, "/api/v1/persons/nobody");
    ExpectDescribed(doc, "/persons/{key}", "get", unknown);
    EXPECT_EQ(unknown.Status, 404);
    EXPECT_EQ(HttpGet(port, "/api/v1/persons/aoki/absence").Status, 405);  // no change by GET

    // Refusals name the field; nothing is written.
    const std::string before = ReadFile(files.Office() + "aoki.kvl");
    const std::string absence = "/api/v1/persons/aoki/absence";
    THttpAnswer emoji =
        PostJson(port, absence, {{"type", "nolimit"}, {"mark", 0}, {"reason", U(u8"会議 ") + "\xF0\x9F\x98\x80"}});
    ExpectDescribed(doc, "/persons/{key}/absence", "post", emoji);
    EXPECT_EQ(emoji.Status, 422);
    EXPECT_EQ(json::parse(emoji.Body)["field"], "reason");
    EXPECT_EQ(json::parse(emoji.Body)["characters"], json::array({"\xF0\x9F\x98\x80"}));
    EXPECT_EQ(PostJson(port, absence, {{"type", "datetime"}, {"date", "2031/01/02"}, {"time", "1\n2"}}).Status, 422);
    EXPECT_EQ(Request(port, "POST", absence, R"({"type":"reset"})", {"Content-Type: text/plain"}).Status, 415);
    EXPECT_EQ(PostJson(port, absence, {{"type", "reset"}}, {"Origin: http://elsewhere.example"}).Status, 403);
    EXPECT_EQ(PostJson(port, absence, {{"type", "later"}}).Status, 422);
    EXPECT_EQ(ReadFile(files.Office() + "aoki.kvl"), before);

    const THttpAnswer set = PostJson(
        port, absence,
        {{"type", "datetime"}, {"date", "2031-03-04"}, {"time", "13:30"}, {"reason", U(u8"出張")}, {"mark", 0}});
    ExpectDescribed(doc, "/persons/{key}/absence", "post", set);
    ASSERT_EQ(set.Status, 200) << set.Body;
    EXPECT_EQ(json::parse(set.Body)["returnAt"], "2031-03-04T13:30:00");
    EXPECT_NE(ReadFile(files.Office() + "aoki.kvl").find("\"2031/03/04\""), std::string::npos);

    const std::string messages = "/api/v1/persons/aoki/messages";
    const THttpAnswer sent = PostJson(port, messages, {{"sender", U(u8"受付")}, {"text", U(u8"お電話がありました")}});
    ExpectDescribed(doc, "/persons/{key}/messages", "post", sent);
    ASSERT_EQ(sent.Status, 200) << sent.Body;
    const THttpAnswer listed = HttpGet(port, messages);
    ExpectDescribed(doc, "/persons/{key}/messages", "get", listed);
    EXPECT_EQ(json::parse(listed.Body).at(0)["text"], U(u8"お電話がありました"));
    EXPECT_EQ(json::parse(listed.Body).at(0)["sender"], U(u8"受付"));

    // The classic page's write is the web's.
    EXPECT_EQ(HttpGet(port, "/uhuzaisetsubmit?user=aoki&modoritype=reset").Status, 200);
    const json records = json::parse(HttpGet(port, "/api/v1/persons/aoki/history").Body);
    std::vector<std::string> sources;
    for (const json& r : records)
        sources.push_back(r["kind"].get<std::string>() + ":" + r["source"].get<std::string>());
    EXPECT_EQ(sources, (std::vector<std::string>{"absence:api", "message:api", "absence:web"}));
    EXPECT_EQ(records.at(1)["length"], U(u8"お電話がありました").size() / 3 * 2);
    EXPECT_FALSE(records.at(1).contains("text"));

    const THttpAnswer health = HttpGet(port, "/healthz");
    EXPECT_EQ(health.Status, 200);
    EXPECT_EQ(json::parse(health.Body)["directoryReachable"], true);
    const THttpAnswer metrics = HttpGet(port, "/metrics");
    EXPECT_NE(metrics.Body.find("quor_http_requests_total{route=\"/api/v1/persons/{key}/absence\",status=\"200\"} 1"),
              std::string::npos);
    EXPECT_NE(metrics.Body.find("quor_writes_total 3"), std::string::npos);
    EXPECT_EQ(files.CountLog("/healthz"), 0);
    EXPECT_EQ(files.CountLog("/metrics"), 0);
}

// Cached answers share the pages' cache: a write leaves the old tag stale,
// and keys that differ only in letter case keep answers of their own.
TEST(LiveApiCache, AnswersFollowTheListAndKeysKeepTheirCase) {
    TServerFiles files;
    WriteFile(files.Office() + "AOKI.kvl", ReadFile(files.Office() + "aoki.kvl"));
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady());
    const std::uint16_t port = files.Port();
    for (int round = 0; round < 2; ++round)  // built, then from the cache
        for (const char* key : {"aoki", "AOKI"})
            EXPECT_EQ(json::parse(HttpGet(port, std::string("/api/v1/persons/") + key).Body)["key"], key);

    const std::string tag = HttpGet(port, "/api/v1/persons").Header("ETag").value_or("");
    EXPECT_EQ(HttpGet(port, "/api/v1/persons", {"If-None-Match: " + tag}).Status, 304);
    ASSERT_EQ(PostJson(port, "/api/v1/persons/aoki/absence", {{"type", "datetime"}, {"date", "2031-05-06"}}).Status,
              200);
    const THttpAnswer after = HttpGet(port, "/api/v1/persons", {"If-None-Match: " + tag});
    EXPECT_EQ(after.Status, 200);
    EXPECT_NE(after.Header("ETag").value_or(tag), tag);
    EXPECT_NE(after.Body.find("2031/05/06"), std::string::npos);
}

}  // namespace
