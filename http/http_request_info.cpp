#include "http/http_request_info.h"

#include "http/http_text.h"
#include "platform/sjis_text.h"

const TIdHeader* TIdHeaderList::Find(std::string_view name) const {
    for (const TIdHeader& h : *this)
        if (SameText(h.Name, name)) return &h;
    return nullptr;
}

std::string TIdHeaderList::Values(std::string_view name) const {
    const TIdHeader* h = Find(name);
    return h ? h->Value : std::string();
}

std::string TIdStringList::ValueOf(std::string_view name) const {
    for (const std::string& entry : *this) {
        std::size_t eq = entry.find('=');
        if (eq == std::string::npos) continue;
        if (SameText(std::string_view(entry).substr(0, eq), name)) return entry.substr(eq + 1);
    }
    return std::string();
}

bool IfNoneMatchHolds(std::string_view value, std::string_view tag) {
    size_t i = 0;
    while (i < value.size()) {
        while (i < value.size() && (http_text::IsBlank(value[i]) || value[i] == ',')) ++i;
        if (i == value.size()) break;
        if (value[i] == '*') return true;
        if (value.compare(i, 2, "W/") == 0) i += 2;
        if (i < value.size() && value[i] == '"') {
            const size_t close = value.find('"', i + 1);
            if (close == std::string_view::npos) return false;
            if (value.substr(i, close + 1 - i) == tag) return true;
            i = close + 1;
        }
        // Whatever else stands here is not a tag: go on after the next comma.
        while (i < value.size() && value[i] != ',') ++i;
    }
    return false;
}

bool RequestHoldsTag(const TIdHTTPRequestInfo& request, std::string_view tag) {
    for (const TIdHeader& header : request.RawHeaders)
        if (SameText(header.Name, "If-None-Match") && IfNoneMatchHolds(header.Value, tag)) return true;
    return false;
}
