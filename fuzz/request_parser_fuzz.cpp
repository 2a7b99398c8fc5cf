// libFuzzer target for the request parser. The first input byte chooses how
// the rest is cut into pieces and whether the peer closes after it; parsing
// the pieces one after another must give what parsing the whole gives.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/http_request_parser.h"
#include "http/http_url.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned control = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const bool peerClosed = control & 0x80;
    // Small limits, so that every limit is within reach of short inputs.
    THttpLimits limits;
    limits.MaxLineLength = 200;
    limits.MaxHeadBytes = 600;
    limits.MaxHeaderCount = 6;
    limits.MaxBodyBytes = 300;

    TParsedRequest whole = ParseHttpRequest(input, peerClosed, limits);

    TRequestParser pieces(limits);
    const std::size_t step = 1 + (control & 0x3F);
    TRequestStatus status = TRequestStatus::Incomplete;
    for (std::size_t n = std::min(step, input.size());; n = std::min(n + step, input.size())) {
        status = pieces.Advance(input.substr(0, n), peerClosed && n == input.size());
        if (status != TRequestStatus::Incomplete || n == input.size()) break;
    }
    Check(status == whole.Status);
    Check(pieces.Error() == whole.Error);
    if (status == TRequestStatus::Complete) {
        Check(pieces.RequestLength() <= input.size());
        TIdHTTPRequestInfo info;
        pieces.TakeRequest(input, info);
        Check(info.DocumentPath == whole.Info.DocumentPath);
        Check(info.RawBody == whole.Info.RawBody);
        Check(info.RawBody.size() <= limits.MaxBodyBytes);
        Check(info.QueryFields == whole.Info.QueryFields);
        Check(info.RequestCookies.size() == whole.Info.RequestCookies.size());
        Check(info.Method == "GET" || info.Method == "POST" || info.Method == "HEAD");
        Check(info.RawHeaders.size() <= limits.MaxHeaderCount);
        (void)info.QueryFields.ValueOf("user");
        (void)info.RequestCookies.Find("Last-Modified");
    }

    // Decoding never grows the text.
    Check(UrlDecode(input).size() <= input.size());
    Check(Base64Decode(input).size() <= input.size());
    (void)ParseRequestTarget(input);
    return 0;
}
