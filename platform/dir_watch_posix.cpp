#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/dir_watch.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "platform/unique_fd_posix.h"

namespace {

bool HasExtension(std::string_view name, const std::vector<std::string>& extensions) {
    for (const std::string& extension : extensions)
        if (EndsWithText(name, extension)) return true;
    return false;
}

// File systems whose changes may come from another machine, which the
// kernel never hears of.
bool IsNetworkFileSystem(const std::string& directory) {
    struct statfs fs;
    if (::statfs(directory.c_str(), &fs) != 0) return true;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x6969UL:      // NFS
        case 0x517BUL:      // SMB
        case 0xFF534D42UL:  // CIFS
        case 0xFE534D42UL:  // SMB2
        case 0x65735546UL:  // FUSE
        case 0x01021997UL:  // 9P
        case 0x00C36400UL:  // Ceph
        case 0x5346414FUL:  // AFS
            return true;
        default:
            return false;
    }
}

TFileStamp StampOf(const struct stat& st) {
    TFileStamp stamp;
    stamp.MtimeNs = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    stamp.ChangeNs = std::int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
    stamp.Size = st.st_size;
    stamp.Identity = (std::uint64_t{st.st_dev} << 40) ^ std::uint64_t{st.st_ino};
    return stamp;
}

}  // namespace

bool StampFile(const std::string& path, TFileStamp& stamp) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    stamp = StampOf(st);
    return true;
}

std::vector<TStampedName> ListStampedFiles(const std::string& directory, const std::vector<std::string>& extensions) {
    std::vector<TStampedName> files;
    const std::string dirPath = directory.empty() ? "." : directory;
    DIR* dir = ::opendir(dirPath.c_str());
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR) return files;
        ThrowFileOpenError(directory, errno, std::strerror(errno));
    }
    while (const dirent* e = ::readdir(dir)) {
        if (!HasExtension(e->d_name, extensions)) continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
        files.push_back({e->d_name, StampOf(st)});
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end(), [](const TStampedName& a, const TStampedName& b) { return a.Name < b.Name; });
    return files;
}

void TDirectoryWatcher::WakeNotice() {
    if (StopHandle_ >= 0) {
        const std::uint64_t one = 1;
        (void)!::write(StopHandle_, &one, sizeof one);
    }
}

bool TDirectoryWatcher::RunNotify(bool localOnly) {
    const std::string dirPath = Directory_.empty() ? "." : Directory_;
    if (localOnly && IsNetworkFileSystem(dirPath)) return false;
    TUniqueFd notify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    TUniqueFd stop(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (notify.Get() < 0 || stop.Get() < 0) return false;
    constexpr std::uint32_t Events = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_MODIFY |
                                     IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
    if (::inotify_add_watch(notify.Get(), dirPath.c_str(), Events) < 0) return false;
    {
        std::lock_guard l(M_);
        if (Stopping()) return true;
        StopHandle_ = stop.Get();
        Notifying_.store(true);
    }
    struct TClear {
        TDirectoryWatcher* W;
        ~TClear() {
            std::lock_guard l(W->M_);
            W->StopHandle_ = -1;
        }
    } clear{this};
    // Whatever changed before the watch was in place has no notice: one
    // rescan now catches it (the thread may start well after the server).
    OnChange_(TDirChanges{});
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        pollfd fds[2] = {{notify.Get(), POLLIN, 0}, {stop.Get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
        if (Stopping()) return true;
        // Notices lost to a full queue, or of a directory that went, leave
        // the names unknown.
        TDirChanges changes{.All = false};
        bool lost = false;
        for (;;) {
            const ssize_t n = ::read(notify.Get(), buffer, sizeof buffer);
            if (n <= 0) break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) changes.All = true;
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) lost = changes.All = true;
                if (event->len == 0 || !HasExtension(event->name, Extensions_)) continue;
                changes.Names.emplace_back(event->name);  // the field is padded with NULs
            }
        }
        std::sort(changes.Names.begin(), changes.Names.end());
        changes.Names.erase(std::unique(changes.Names.begin(), changes.Names.end()), changes.Names.end());
        if (changes.All) changes.Names.clear();
        if (changes.All || !changes.Names.empty()) OnChange_(changes);
        // The directory itself went: its notices are over, the poll sees it come back.
        if (lost) return false;
    }
}
