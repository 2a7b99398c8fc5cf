#include "http/http_response_info.h"

#include <stdexcept>

std::string ReasonPhraseOf(int code) {
    switch (code) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 415:
            return "Unsupported Media Type";
        case 422:
            return "Unprocessable Content";
        case 503:
            return "Service Unavailable";
        case 500:
            return "Internal Server Error";
        case 501:
            return "実装されていません。";
        default:
            return "Unknown";
    }
}

void TIdHTTPResponseInfo::SetStatus(int code) {
    StatusCode = code;
    ReasonPhrase = ReasonPhraseOf(code);
    if (code == 404) CloseAfterResponse = true;
}

std::string_view TIdHTTPResponseInfo::Body() const {
    if (!BodyText.empty()) return BodyText;
    if (BodyStream) return BodyStream->View();
    return {};
}

std::string TIdHTTPResponseInfo::WriteHeader() {
    if (HeaderWritten_) throw std::runtime_error("Header has already been written.");
    HeaderWritten_ = true;
    if (HeldStream) {
        ContentLength = -1;
    } else if (ContentLength == -1) {
        if (!BodyText.empty())
            ContentLength = static_cast<std::int64_t>(BodyText.size());
        else if (BodyStream)
            ContentLength = static_cast<std::int64_t>(BodyStream->Size());
    }
    std::string out;
    out.reserve(160 + ContentType.size() + ServerHeader.size());
    auto line = [&out](std::string_view name, std::string_view value) {
        if (value.empty()) return;
        out.append(name).append(": ").append(value).append("\r\n");
    };
    out.append("HTTP/1.1 ").append(std::to_string(StatusCode)).append(" ").append(ReasonPhrase).append("\r\n");
    // Every connection carries one request only.
    line("Connection", "close");
    line("Content-Type", ContentType);
    if (ContentLength >= 0) line("Content-Length", std::to_string(ContentLength));
    for (const TIdHeader& h : CustomHeaders) line(h.Name, h.Value);
    line("Server", ServerHeader);
    for (const TIdServerCookie& c : ResponseCookies) out.append("Set-Cookie: ").append(c.CookieText()).append("\r\n");
    out.append("\r\n");
    return out;
}
