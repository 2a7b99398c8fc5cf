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
