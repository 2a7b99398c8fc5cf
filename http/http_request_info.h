#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_cookies.h"

struct TIdHeader {
    std::string Name;
    std::string Value;
};

// Header lines in arrival order.
class TIdHeaderList : public std::vector<TIdHeader> {
public:
    // Value of the first header of that name (letter case ignored); empty when none.
    std::string Values(std::string_view name) const;
    const TIdHeader* Find(std::string_view name) const;
};

// Decoded parameters, one "name=value" entry per piece.
class TIdStringList : public std::vector<std::string> {
public:
    // Text after the first "=" of the first entry whose name matches, letter
    // case ignored; empty when none does. Entries without "=" never match.
    std::string ValueOf(std::string_view name) const;
};

// One request, filled before the handler runs; the handler only reads it.
class TIdHTTPRequestInfo {
public:
    std::string Method;
    std::string Target;  // the request target as sent, query included
    std::string DocumentPath;
    std::string ProtocolVersion;
    std::string RemoteAddress;
    std::uint16_t RemotePort = 0;
    std::string RawQuery;
    std::string RawBody;
    std::string ParamText;
    TIdStringList QueryFields;
    TIdCookieList RequestCookies;
    TIdHeaderList RawHeaders;
    std::string ContentType;
    std::int64_t ContentLength = -1;
    std::string Host;
    bool AuthExists = false;
    std::string AuthUsername;
    std::string AuthPassword;
};

// Whether an If-None-Match value names tag (weak comparison, "*" included).
bool IfNoneMatchHolds(std::string_view headerValue, std::string_view tag);
// Whether any If-None-Match header of the request names tag.
bool RequestHoldsTag(const TIdHTTPRequestInfo& request, std::string_view tag);
