// What the HTTP layer spends on one request outside the kernel: parsing a
// browser's request and writing the answer's header.
#include <benchmark/benchmark.h>

#include "http/http_request_parser.h"
#include "http/http_response_info.h"

namespace {

const std::string BrowserRequest =
    "GET /keiziban?furiganaFilter=%82%A0&groupFilter=%89c%8B%C6%95%94 HTTP/1.1\r\n"
    "Host: 127.0.0.1:8080\r\nConnection: keep-alive\r\nUpgrade-Insecure-Requests: 1\r\n"
    "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/156.0 Safari/537.36\r\n"
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,*/*;q=0.8\r\n"
    "Referer: http://127.0.0.1:8080/\r\nAccept-Encoding: gzip, deflate, br\r\nAccept-Language: ja,en;q=0.9\r\n"
    "Cookie: Last-Modified=20261208T032000\r\n\r\n";

void ParseBrowserRequest(benchmark::State& state) {
    for (auto _ : state) {
        TParsedRequest r = ParseHttpRequest(BrowserRequest, false);
        benchmark::DoNotOptimize(r.Info.QueryFields.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BrowserRequest.size()));
}
BENCHMARK(ParseBrowserRequest);

void WriteImageHeader(benchmark::State& state) {
    auto image = std::make_shared<const std::string>(6000, 'j');
    for (auto _ : state) {
        TIdHTTPResponseInfo res("Quorwell 0.7");
        res.ContentType = "image/jpeg";
        res.BodyStream = std::make_unique<TBodyStream>(image);
        res.CustomHeaders.push_back({"ETag", "\"20261208T032000\""});
        res.CustomHeaders.push_back({"Cache-Control", "no-cache"});
        res.ResponseCookies.AddCookie("Last-Modified=20261208T032000; path=/bg.jpg");
        std::string header = res.WriteHeader();
        benchmark::DoNotOptimize(header.data());
    }
}
BENCHMARK(WriteImageHeader);

}  // namespace

BENCHMARK_MAIN();
