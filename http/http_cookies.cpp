#include "http/http_cookies.h"

#include "http/http_text.h"
#include "platform/sjis_text.h"

using http_text::Trim;

namespace {

void SplitAtEquals(std::string_view piece, std::string& name, std::string& value) {
    std::size_t eq = piece.find('=');
    name.assign(piece.substr(0, eq));
    if (eq == std::string_view::npos)
        value.clear();
    else
        value.assign(piece.substr(eq + 1));
}

}  // namespace

const TIdCookie* TIdCookieList::Find(std::string_view name) const {
    for (const TIdCookie& c : *this)
        if (SameText(c.Name, name)) return &c;
    return nullptr;
}

void TIdCookieList::AddCookieHeader(std::string_view value) {
    bool first = true;
    while (true) {
        std::size_t semi = value.find(';');
        std::string_view piece = value.substr(0, semi);
        if (!first)
            while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
        first = false;
        if (!piece.empty()) {
            TIdCookie& c = emplace_back();
            SplitAtEquals(piece, c.Name, c.Value);
        }
        if (semi == std::string_view::npos) break;
        value.remove_prefix(semi + 1);
    }
}

TIdServerCookie TIdServerCookie::FromText(std::string_view text) {
    TIdServerCookie cookie;
    bool first = true;
    while (true) {
        std::size_t semi = text.find(';');
        std::string_view piece = Trim(text.substr(0, semi));
        if (first) {
            SplitAtEquals(piece, cookie.Name, cookie.Value);
            first = false;
        } else if (!piece.empty()) {
            std::string name, value;
            SplitAtEquals(piece, name, value);
            name = std::string(Trim(name));
            value = std::string(Trim(value));
            if (SameText(name, "path"))
                cookie.Path = value;
            else if (SameText(name, "expires"))
                cookie.Expires = value;
            else if (SameText(name, "domain"))
                cookie.Domain = value;
            else if (SameText(name, "secure"))
                cookie.Secure = true;
            else if (SameText(name, "max-age"))
                cookie.MaxAge = value;
            else if (SameText(name, "comment"))
                cookie.Comment = value;
            else if (SameText(name, "version"))
                cookie.Version = value;
        }
        if (semi == std::string_view::npos) break;
        text.remove_prefix(semi + 1);
    }
    return cookie;
}

std::string TIdServerCookie::CookieText() const {
    std::string out = Name + "=" + Value;
    auto attribute = [&out](const char* name, const std::string& value) {
        if (!value.empty()) out.append("; ").append(name).append("=").append(value);
    };
    attribute("path", Path);
    attribute("expires", Expires);
    attribute("domain", Domain);
    if (Secure) out.append("; secure");
    attribute("max-age", MaxAge);
    attribute("comment", Comment);
    attribute("version", Version);
    return out;
}
