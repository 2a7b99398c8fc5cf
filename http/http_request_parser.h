#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "http/http_request_info.h"

// What one request may make the server hold.
struct THttpLimits {
    std::size_t MaxLineLength = 16384;  // request line or one header line
    std::size_t MaxHeadBytes = 65536;   // request line and headers together
    std::size_t MaxHeaderCount = 100;
    std::size_t MaxBodyBytes = 1 << 20;
};

enum class TRequestStatus {
    Incomplete,  // more bytes are needed
    Complete,    // one whole request is there
    Rejected,    // never a request: close without an answer
};

// Frames and parses one request from the bytes received so far. Feed it the
// whole growing input each time (the bytes already seen are not rescanned);
// peerClosed tells that no more bytes will come. Pure: no sockets, no clock.
class TRequestParser {
public:
    TRequestParser() = default;
    explicit TRequestParser(const THttpLimits& limits) : Limits_(limits) {}

    TRequestStatus Advance(std::string_view input, bool peerClosed);
    TRequestStatus Status() const { return Status_; }
    // Why the request was rejected; empty for a plain close (unknown method, peer gone).
    const std::string& Error() const { return Error_; }
    // Bytes of the request (head and body) once Complete.
    std::size_t RequestLength() const { return HeadLength_ + BodyLength_; }

    // Once Complete: moves the parsed request into info (RemoteAddress aside).
    void TakeRequest(std::string_view input, TIdHTTPRequestInfo& info);

private:
    TRequestStatus Reject(std::string error);
    TRequestStatus CheckHeadLimits(std::size_t end, bool lineTooLong, bool lineEnded);
    TRequestStatus CheckRequestLine(std::string_view line);
    TRequestStatus ParseHead(std::string_view head);
    TRequestStatus FrameBody(std::string_view input, bool peerClosed);

    THttpLimits Limits_;
    TRequestStatus Status_ = TRequestStatus::Incomplete;
    std::string Error_;
    std::size_t Scanned_ = 0;
    std::size_t LineStart_ = 0;
    std::size_t LineCount_ = 0;
    bool HeadDone_ = false;
    std::size_t HeadLength_ = 0;
    std::size_t BodyLength_ = 0;
    bool BodyUntilClose_ = false;
    TIdHTTPRequestInfo Info_;
};

// The whole request at once (tests, fuzzing).
struct TParsedRequest {
    TRequestStatus Status = TRequestStatus::Incomplete;
    std::string Error;
    TIdHTTPRequestInfo Info;
};
TParsedRequest ParseHttpRequest(std::string_view input, bool peerClosed, const THttpLimits& limits = THttpLimits());
