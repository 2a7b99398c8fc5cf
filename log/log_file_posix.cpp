#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "log/log_file_internal.h"

namespace log_file_detail {

int OpenForAppend(const std::string& path) {
    constexpr int flags = O_RDWR | O_APPEND | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
        // Someone else created it in between: take theirs.
        if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), flags);
    }
    return fd;
}

bool HoldAgainstWriters(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

}  // namespace log_file_detail
