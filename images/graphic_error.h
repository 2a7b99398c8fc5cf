#pragma once

#include <stdexcept>
#include <string>

// Bytes that are not a picture of a supported kind. The message names the
// file or resource they came from.
class EInvalidGraphic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A named resource that the module does not carry.
class EResNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
