#pragma once

#include <string>
#include <string_view>
#include <vector>

// A cookie the browser sent.
struct TIdCookie {
    std::string Name;
    std::string Value;
};

class TIdCookieList : public std::vector<TIdCookie> {
public:
    // First cookie of that name, letter case ignored; nullptr when none.
    const TIdCookie* Find(std::string_view name) const;
    // Adds the cookies of one "Cookie" header value.
    void AddCookieHeader(std::string_view value);
};

// A cookie the server sets: one "Set-Cookie" line.
struct TIdServerCookie {
    std::string Name;
    std::string Value;
    std::string Path;
    std::string Expires;
    std::string Domain;
    std::string MaxAge;
    std::string Comment;
    std::string Version;
    bool Secure = false;

    // From a text "name=value" followed by "; attribute=value" pieces.
    static TIdServerCookie FromText(std::string_view text);
    // The text after "Set-Cookie: ".
    std::string CookieText() const;
};

class TIdServerCookies : public std::vector<TIdServerCookie> {
public:
    void AddCookie(std::string_view text) { push_back(TIdServerCookie::FromText(text)); }
};
