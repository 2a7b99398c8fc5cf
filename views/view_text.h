#pragma once

#include <string>
#include <string_view>
#include <vector>

// A page of the views: written mostly in Shift-JIS (the literals of this
// tree and every value of the clients' files) and sent in UTF-8. The
// Shift-JIS part is converted in whole runs; what a request brought in UTF-8
// (a search, a refused form's values) goes in as it is.
class TViewText {
public:
    // Shift-JIS text.
    TViewText& operator+=(std::string_view cp932) {
        Pending_.append(cp932);
        return *this;
    }
    TViewText& operator+=(char c) {
        Pending_ += c;
        return *this;
    }
    // Shift-JIS text, escaped for an element or a quoted attribute.
    void Escaped(std::string_view cp932);
    // UTF-8 markup made by the views themselves.
    void RawUtf8(std::string_view utf8) {
        Flush();
        Out_.append(utf8);
    }
    // UTF-8 text, escaped; invalid sequences become U+FFFD.
    void EscapedUtf8(std::string_view utf8);
    // The page in UTF-8. A byte with no UTF-8 form shows as U+FFFD.
    std::string Finish();

private:
    void Flush();
    std::string Out_;
    std::string Pending_;
};

// The URL path piece of a person key: its UTF-8 with every byte but the
// unreserved ones as %XX; empty when the key has no UTF-8 form.
std::string KeyPathPiece(std::string_view cp932Key);
// The key a path piece names, in Shift-JIS; empty when it names none.
std::string KeyOfPathPiece(std::string_view piece);
