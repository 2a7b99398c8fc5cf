#pragma once

#include <string>
#include <string_view>

// "+" becomes a blank; "%XX" becomes the byte XX, except that %00 and bad
// escapes vanish together with the two characters after the "%". Bytes are
// kept as they are: no character-set conversion.
std::string UrlDecode(std::string_view text);

// Decodes Base64, skipping characters outside its alphabet.
std::string Base64Decode(std::string_view text);

struct TRequestTarget {
    std::string DocumentPath;
    std::string Host;  // from an absolute target; empty otherwise
};

// The target of the request line without its query.
TRequestTarget ParseRequestTarget(std::string_view target);
