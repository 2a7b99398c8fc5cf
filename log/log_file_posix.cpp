#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "log/log_file.h"
#include "log/log_file_internal.h"

namespace log_file_detail {

int OpenForAppend(const std::string& path) {
    constexpr int flags = O_RDWR | O_APPEND | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, NewLogFileMode);
        if (fd >= 0) {
            // The umask only takes bits away; the mode must not depend on it.
            // The file is ours and new: the change cannot fail short of a
            // file system that keeps no modes, where there is nothing to set.
            (void)::fchmod(fd, NewLogFileMode);
        } else if (errno == EEXIST) {
            // Someone else created it in between: take theirs.
            fd = ::open(path.c_str(), flags);
        }
    }
    return fd;
}

bool HoldAgainstWriters(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

}  // namespace log_file_detail
