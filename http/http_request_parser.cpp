#include "http/http_request_parser.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "http/http_text.h"
#include "http/http_url.h"
#include "platform/sjis_text.h"

using http_text::IsBlank;
using http_text::Trim;

namespace {

std::string_view WithoutCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// -1 unless the text (blanks trimmed) is a decimal integer.
std::int64_t ParseContentLength(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int64_t value = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return -1;
    return value;
}

void AddHeaderLine(TIdHeaderList& headers, std::string_view line) {
    if (IsBlank(line.front()) && !headers.empty()) {  // folded continuation
        std::string& value = headers.back().Value;
        std::string_view more = Trim(line);
        if (!more.empty()) {
            if (!value.empty()) value.push_back(' ');
            value.append(more);
        }
        return;
    }
    std::size_t colon = line.find(':');
    TIdHeader& h = headers.emplace_back();
    h.Name.assign(Trim(line.substr(0, colon)));
    if (colon != std::string_view::npos) h.Value.assign(Trim(line.substr(colon + 1)));
}

void DecodeParams(std::string_view text, TIdStringList& fields) {
    fields.clear();
    if (text.empty()) return;
    while (true) {
        std::size_t amp = text.find('&');
        fields.push_back(UrlDecode(text.substr(0, amp)));
        if (amp == std::string_view::npos) break;
        text.remove_prefix(amp + 1);
    }
}

}  // namespace

TRequestStatus TRequestParser::Reject(std::string error) {
    Error_ = std::move(error);
    return Status_ = TRequestStatus::Rejected;
}

TRequestStatus TRequestParser::Advance(std::string_view input, bool peerClosed) {
    if (Status_ != TRequestStatus::Incomplete) return Status_;
    while (!HeadDone_) {
        std::size_t lf = input.find('\n', Scanned_);
        if (lf == std::string_view::npos) {
            Scanned_ = input.size();
            if (TRequestStatus s = CheckHeadLimits(input.size(), false, false); s != TRequestStatus::Incomplete)
                return s;
            return peerClosed ? Reject("") : Status_;
        }
        std::string_view line = WithoutCr(input.substr(LineStart_, lf - LineStart_));
        if (TRequestStatus s = CheckHeadLimits(lf + 1, line.size() > Limits_.MaxLineLength, true);
            s != TRequestStatus::Incomplete)
            return s;
        Scanned_ = LineStart_ = lf + 1;
        if (LineCount_++ == 0) {
            if (CheckRequestLine(line) != TRequestStatus::Incomplete) return Status_;
        } else if (line.empty()) {
            HeadDone_ = true;
            HeadLength_ = lf + 1;
            if (ParseHead(input.substr(0, HeadLength_)) != TRequestStatus::Incomplete) return Status_;
        } else if (LineCount_ - 1 > Limits_.MaxHeaderCount) {
            return Reject("Too many header lines.");
        }
    }
    return FrameBody(input, peerClosed);
}

// The limit that a reader taking the bytes one by one would meet first, so that
// the outcome does not depend on how the bytes were cut into pieces. `end` is
// the number of bytes seen of the current line's request (up to and including
// its LF when lineEnded); lineTooLong is known only at the LF.
TRequestStatus TRequestParser::CheckHeadLimits(std::size_t end, bool lineTooLong, bool lineEnded) {
    constexpr std::size_t Never = static_cast<std::size_t>(-1);
    // Without its LF, a line is too long from one byte past the limit and its CR.
    std::size_t lineAt = LineStart_ + Limits_.MaxLineLength + 2;
    std::size_t headAt = Limits_.MaxHeadBytes + 1;
    std::size_t lineCross =
        lineEnded ? (lineTooLong ? std::min(lineAt, end) : Never) : (end >= lineAt ? lineAt : Never);
    std::size_t headCross = end >= headAt ? (lineEnded ? std::min(headAt, end) : headAt) : Never;
    if (lineCross == Never && headCross == Never) return Status_;
    return Reject(lineCross <= headCross ? "Max line length exceeded." : "Request header too large.");
}

TRequestStatus TRequestParser::CheckRequestLine(std::string_view line) {
    std::size_t last = line.rfind(' ');
    if (last == std::string_view::npos) return Reject("Error in parsing command.");
    std::size_t first = line.find(' ');
    Info_.Method = UpperCase(line.substr(0, first), TTrailBytes::Fold);
    if (Info_.Method != "GET" && Info_.Method != "POST" && Info_.Method != "HEAD") return Reject("");
    Info_.Target.assign(first == last ? std::string_view() : line.substr(first + 1, last - first - 1));
    Info_.ProtocolVersion.assign(line.substr(last + 1));
    return Status_;
}

TRequestStatus TRequestParser::ParseHead(std::string_view head) {
    std::size_t start = head.find('\n') + 1;  // past the request line
    while (start < head.size()) {
        std::size_t lf = head.find('\n', start);
        std::string_view line = WithoutCr(head.substr(start, lf - start));
        start = lf + 1;
        if (line.empty()) break;
        AddHeaderLine(Info_.RawHeaders, line);
    }
    Info_.ContentType = Info_.RawHeaders.Values("Content-Type");
    const TIdHeader* length = Info_.RawHeaders.Find("Content-Length");
    Info_.ContentLength = length ? ParseContentLength(length->Value) : -1;
    Info_.Host = Info_.RawHeaders.Values("Host");
    if (const TIdHeader* auth = Info_.RawHeaders.Find("Authorization")) {
        std::string_view value = Trim(auth->Value);
        std::size_t blank = value.find(' ');
        if (!SameText(value.substr(0, blank), "Basic")) return Reject("Unsupported authorization scheme.");
        std::string decoded =
            Base64Decode(blank == std::string_view::npos ? std::string_view() : value.substr(blank + 1));
        std::size_t colon = decoded.find(':');
        Info_.AuthExists = true;
        Info_.AuthUsername = decoded.substr(0, colon);
        if (colon != std::string::npos) Info_.AuthPassword = decoded.substr(colon + 1);
    }
    if (Info_.ContentLength > 0) {
        if (static_cast<std::uint64_t>(Info_.ContentLength) > Limits_.MaxBodyBytes)
            return Reject("Request body too large.");
        BodyLength_ = static_cast<std::size_t>(Info_.ContentLength);
    } else if (Info_.Method == "POST" && Info_.ContentLength == -1) {
        BodyUntilClose_ = true;
    }
    return Status_;
}

TRequestStatus TRequestParser::FrameBody(std::string_view input, bool peerClosed) {
    std::size_t received = input.size() - HeadLength_;
    if (BodyUntilClose_) {
        if (received > Limits_.MaxBodyBytes) return Reject("Request body too large.");
        if (!peerClosed) return Status_;
        BodyLength_ = received;
        return Status_ = TRequestStatus::Complete;
    }
    if (received >= BodyLength_) return Status_ = TRequestStatus::Complete;
    return peerClosed ? Reject("") : Status_;
}

void TRequestParser::TakeRequest(std::string_view input, TIdHTTPRequestInfo& info) {
    info = std::move(Info_);
    info.RawBody.assign(input.substr(HeadLength_, BodyLength_));

    std::string_view target = info.Target;
    std::size_t question = target.find('?');
    if (question != std::string_view::npos) {
        info.RawQuery.assign(target.substr(question + 1));
        target = target.substr(0, question);
    }

    info.ParamText = info.RawBody;
    if (!info.RawQuery.empty())
        info.ParamText = info.RawBody.empty() ? info.RawQuery : info.RawBody + "\r\n" + info.RawQuery;
    bool form = LowerCase(info.ContentType, TTrailBytes::Fold) == "application/x-www-form-urlencoded";
    DecodeParams(form ? info.ParamText : info.RawQuery, info.QueryFields);

    for (const TIdHeader& h : info.RawHeaders)
        if (SameText(h.Name, "Cookie")) info.RequestCookies.AddCookieHeader(h.Value);

    TRequestTarget parsed = ParseRequestTarget(target);
    info.DocumentPath = std::move(parsed.DocumentPath);
    if (info.Host.empty()) info.Host = std::move(parsed.Host);
}

TParsedRequest ParseHttpRequest(std::string_view input, bool peerClosed, const THttpLimits& limits) {
    TRequestParser parser(limits);
    TParsedRequest result;
    result.Status = parser.Advance(input, peerClosed);
    result.Error = parser.Error();
    if (result.Status == TRequestStatus::Complete) parser.TakeRequest(input, result.Info);
    return result;
}
