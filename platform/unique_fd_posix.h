#pragma once

// A POSIX file descriptor owned for its lifetime: closed on every path.

#include <unistd.h>

#include <cerrno>

class TUniqueFd {
public:
    explicit TUniqueFd(int fd = -1) : Fd_(fd) {}
    ~TUniqueFd() { Close(); }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;
    int Get() const { return Fd_; }
    bool Valid() const { return Fd_ >= 0; }
    // Returns the errno of a failed close, 0 otherwise.
    int Close() {
        int err = 0;
        if (Fd_ >= 0 && ::close(Fd_) != 0) err = errno;
        Fd_ = -1;
        return err;
    }

private:
    int Fd_;
};
