#pragma once

#include <stdexcept>
#include <string>

// A socket operation failed; the message is what the caller shows.
class ESocketError : public std::runtime_error {
public:
    explicit ESocketError(const std::string& message, int errorCode = 0)
        : std::runtime_error(message), ErrorCode_(errorCode) {}
    int ErrorCode() const { return ErrorCode_; }  // 0 when the system gave none

private:
    int ErrorCode_;
};
