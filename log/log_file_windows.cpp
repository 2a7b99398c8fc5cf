#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include "log/log_file_internal.h"

namespace log_file_detail {

int OpenForAppend(const std::string& path) {
    // Readers are welcome; the share mode turns a second writer away.
    int fd = -1;
    if (::_sopen_s(&fd, path.c_str(), _O_RDWR | _O_APPEND | _O_BINARY | _O_CREAT | _O_NOINHERIT, _SH_DENYWR,
                   _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}

bool HoldAgainstWriters(int) {
    return true;  // the share mode of the open does it
}

}  // namespace log_file_detail
