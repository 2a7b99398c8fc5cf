#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "http/http_body_stream.h"
#include "http/http_cookies.h"
#include "http/http_held_stream.h"
#include "http/http_request_info.h"

// Reason phrase that SetStatus gives a code.
std::string ReasonPhraseOf(int code);

// One response; the handler fills it, the server writes it.
class TIdHTTPResponseInfo {
public:
    explicit TIdHTTPResponseInfo(std::string serverSoftware = std::string())
        : ServerHeader(std::move(serverSoftware)) {}

    int StatusCode = 200;
    std::string ReasonPhrase = "OK";
    std::string ContentType = "text/html";
    std::int64_t ContentLength = -1;  // -1: computed from the body when the header is written
    std::string BodyText;
    std::unique_ptr<TBodyStream> BodyStream;  // the body when BodyText is empty
    TIdServerCookies ResponseCookies;
    // Further header lines, written after "Content-Length" and before "Server".
    TIdHeaderList CustomHeaders;
    std::string ServerHeader;
    bool CloseAfterResponse = true;
    // Set: the connection stays open after the body, fed by the stream, and
    // the head carries no Content-Length.
    std::shared_ptr<THeldStream> HeldStream;

    void SetStatus(int code);

    // The header bytes, status line to empty line. Fills in ContentLength.
    // Raises "Header has already been written." when called a second time.
    std::string WriteHeader();
    bool HeaderHasBeenWritten() const { return HeaderWritten_; }
    // BodyText if not empty, else the stream's bytes, else nothing.
    std::string_view Body() const;

private:
    bool HeaderWritten_ = false;
};
