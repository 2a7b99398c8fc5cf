#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>  // also brings the clocks; <chrono> itself breaks under CP932

#include "platform/file_system.h"
#include "platform/file_system_internal.h"
#include "platform/sjis_text.h"
#include "platform/unique_fd_posix.h"

using file_system_detail::TPathGuard;

namespace {

std::string ErrorText(int err) {
    char buf[256];
    // GNU strerror_r may return a static text instead of filling buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return text ? text : "Unknown error";
}

[[noreturn]] void ThrowOpen(const std::string& path, int err) { ThrowFileOpenError(path, err, ErrorText(err)); }

[[noreturn]] void ThrowWrite(const std::string& path, int err) { ThrowFileCreateError(path, err, ErrorText(err)); }

int OpenRetry(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Advisory lock against other processes. Waits up to waitMs for a holder to
// let go; file systems without locks are used unlocked. Returns 0 or the
// errno to fail with.
int LockAgainstOthers(int fd, int op, int waitMs = file_system_detail::ForeignLockWaitMs()) {
    std::chrono::steady_clock::time_point deadline{};
    bool waiting = false;
    for (;;) {
        if (::flock(fd, op | LOCK_NB) == 0) return 0;
        const int err = errno;
        if (err == EINTR) continue;
        if (err == ENOLCK || err == EINVAL || err == EOPNOTSUPP) return 0;
        if (err != EWOULDBLOCK) return err;
        const auto now = std::chrono::steady_clock::now();
        if (!waiting) {
            deadline = now + std::chrono::milliseconds(waitMs);
            waiting = true;
        }
        if (now >= deadline) return EWOULDBLOCK;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(5), deadline - now));
    }
}

// Reads everything from fd. With block > 0, reads in blocks of that size and
// keeps of each block only the bytes before its first zero byte.
int ReadAll(int fd, size_t block, size_t sizeHint, std::string& out) {
    out.clear();
    if (block == 0) {
        out.resize(sizeHint + 1);
        size_t used = 0;
        for (;;) {
            if (used == out.size()) out.resize(out.size() * 2 + 4096);
            const ssize_t got = ::read(fd, &out[used], out.size() - used);
            if (got < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (got == 0) break;
            used += static_cast<size_t>(got);
        }
        out.resize(used);
        return 0;
    }
    std::string buf(block, '\0');
    for (;;) {
        // A block is as full as the file allows, whatever the reads return.
        size_t used = 0;
        while (used < block) {
            const ssize_t got = ::read(fd, &buf[used], block - used);
            if (got < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (got == 0) break;
            used += static_cast<size_t>(got);
        }
        if (used == 0) return 0;
        const void* zero = std::memchr(buf.data(), 0, used);
        out.append(buf.data(), zero ? static_cast<const char*>(zero) - buf.data() : used);
        if (used < block) return 0;
    }
}

std::string DirectoryOf(const std::string& path) {
    const size_t start = file_system_detail::NameStart(path);
    if (start == 0) return ".";
    if (start == 1) return "/";
    return path.substr(0, start - 1);
}

// Refuses targets we must not replace: directories and files without write
// permission (the clients' read-only flag).
void CheckReplaceable(const std::string& path, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) ThrowWrite(path, EISDIR);
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0)
        ThrowWrite(path, EACCES);
}

int WriteChunks(int fd, const std::string& path, const std::string& bytes) {
    return file_system_detail::WriteChunks(path, bytes, [fd](const char* data, size_t size, size_t& put) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) return errno == EINTR ? 0 : errno;
        put = static_cast<size_t>(n);
        return 0;
    });
}

// Writes bytes into a fresh temporary file beside path and moves it into
// place: over the old file when replace is set, otherwise only while path is
// still absent (returns false when it appeared meanwhile). With unchanged,
// the old file must still be the one at path (false when not).
bool InstallNewContent(const std::string& path, const std::string& bytes, bool replace, const struct stat* old,
                       bool unchanged = false) {
    using file_system_detail::WriteFault;
    const std::string dir = DirectoryOf(path);
    std::string temp;
    if (int err = WriteFault(TWriteStep::CreateTemp, path)) ThrowWrite(path, err);
    int created = -1;
    for (int tries = 1; created < 0; ++tries) {
        temp = file_system_detail::TempFilePath(dir + "/");
        created = OpenRetry(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (created < 0 && (errno != EEXIST || tries == file_system_detail::TempNameTries)) ThrowWrite(path, errno);
    }
    TUniqueFd fd(created);

    auto fail = [&](int err) {
        fd.Close();
        ::unlink(temp.c_str());
        ThrowWrite(path, err);
    };
    if (old) {
        // Keep the replaced file's permissions and, where allowed, its owner.
        ::fchmod(fd.Get(), old->st_mode & 07777);
        if (::fchown(fd.Get(), old->st_uid, old->st_gid) != 0) {
            // Not permitted for an unprivileged user; the new owner is ours.
        }
    }
    if (int err = WriteChunks(fd.Get(), path, bytes)) fail(err);
    if (int err = WriteFault(TWriteStep::Sync, path)) fail(err);
    if (::fsync(fd.Get()) != 0) fail(errno);
    if (int err = fd.Close()) fail(err);

    if (int err = WriteFault(TWriteStep::Rename, path)) fail(err);
    if (unchanged && old) {
        // A client may have moved, replaced or written the file while we
        // composed (our lock stops none of these; a Samba client writes in
        // place): moving ours in now would bring back what it took away, or
        // drop what it added.
        struct stat now;
        if (::stat(path.c_str(), &now) != 0 || now.st_ino != old->st_ino || now.st_dev != old->st_dev ||
            now.st_size != old->st_size || now.st_mtim.tv_sec != old->st_mtim.tv_sec ||
            now.st_mtim.tv_nsec != old->st_mtim.tv_nsec) {
            ::unlink(temp.c_str());
            return false;
        }
    }
    if (replace) {
        if (::rename(temp.c_str(), path.c_str()) != 0) fail(errno);
    } else {
        // Neither call replaces an existing target, so a file created
        // meanwhile by someone else is never overwritten. link works almost
        // everywhere; a file system without hard links may still offer the
        // no-replace rename.
        bool moved = false;
        int err = ::link(temp.c_str(), path.c_str()) == 0 ? 0 : errno;
        if (err == EPERM || err == EOPNOTSUPP || err == EMLINK) {
            moved = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
            err = moved ? 0 : errno;
        }
        if (err == EEXIST) {
            ::unlink(temp.c_str());
            return false;
        }
        if (err != 0) fail(err);
        if (!moved) ::unlink(temp.c_str());
    }
    TUniqueFd dirFd(OpenRetry(dir.c_str(), O_RDONLY | O_DIRECTORY));
    if (dirFd.Valid()) ::fsync(dirFd.Get());  // best effort: the rename is done
    return true;
}

}  // namespace

namespace file_system_detail {

void ReadSharedLocked(const std::string& path, std::string& content, int waitMs) {
    TUniqueFd fd(OpenRetry(path.c_str(), O_RDONLY));
    if (!fd.Valid()) ThrowOpen(path, errno);
    if (int err = LockAgainstOthers(fd.Get(), LOCK_SH, waitMs)) ThrowOpen(path, err);
    // Person files are small: one read into the stack buffer usually holds
    // all of it. A directory fails here with EISDIR.
    content.clear();
    char buf[8192];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR) continue;
            content.clear();
            ThrowOpen(path, errno);
        }
        if (got == 0) break;
        content.append(buf, static_cast<size_t>(got));
    }
}

void ReadSharedLockedBlocks(const std::string& path, const std::function<void(std::string_view)>& consume,
                            size_t blockSize, int waitMs) {
    TUniqueFd fd(OpenRetry(path.c_str(), O_RDONLY));
    if (!fd.Valid()) ThrowOpen(path, errno);
    if (int err = LockAgainstOthers(fd.Get(), LOCK_SH, waitMs)) ThrowOpen(path, err);
    std::unique_ptr<char[]> buf(new char[blockSize]);
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buf.get(), blockSize);
        if (got < 0) {
            if (errno == EINTR) continue;
            ThrowOpen(path, errno);
        }
        if (got == 0) break;
        consume(std::string_view(buf.get(), static_cast<size_t>(got)));
    }
}

}  // namespace file_system_detail

[[noreturn]] void file_system_detail::ThrowHeldByUs(const std::string& path) { ThrowOpen(path, EWOULDBLOCK); }

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int RemoveStaleTempFiles(const std::string& directory, int maxAgeSeconds) {
    const std::string dirPath = IncludeTrailingPathDelimiter(directory.empty() ? "." : directory);
    DIR* dir = ::opendir(dirPath.c_str());
    if (!dir) return 0;
    const time_t oldest = ::time(nullptr) - maxAgeSeconds;
    int removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (!IsOwnTempFileName(e->d_name)) continue;
        const std::string path = dirPath + e->d_name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_mtime >= oldest) continue;
        if (::unlink(path.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

void ReplaceFileContent(const std::string& path, const std::string& bytes) {
    TPathGuard guard(path, true);
    struct stat st;
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) ThrowWrite(path, errno);
    if (exists) CheckReplaceable(path, st);
    // Let readers of other processes finish with the old content first.
    TUniqueFd held(exists ? OpenRetry(path.c_str(), O_RDONLY) : -1);
    if (held.Valid()) {
        if (int err = LockAgainstOthers(held.Get(), LOCK_EX)) ThrowWrite(path, err);
    }
    InstallNewContent(path, bytes, true, exists ? &st : nullptr);
}

void RewriteFileContent(const std::string& path, const std::function<std::string(const std::string* old)>& compose,
                        size_t readBlock) {
    TPathGuard guard(path, true);
    // Another process may replace or create the file between our steps; start
    // over then, a bounded number of times.
    for (int attempt = 0; attempt < 100; ++attempt) {
        TUniqueFd fd(OpenRetry(path.c_str(), O_RDONLY));
        if (!fd.Valid()) {
            if (errno != ENOENT) ThrowOpen(path, errno);
            if (InstallNewContent(path, compose(nullptr), false, nullptr)) return;
            continue;
        }
        if (int err = LockAgainstOthers(fd.Get(), LOCK_EX)) ThrowWrite(path, err);
        struct stat held, now;
        if (::fstat(fd.Get(), &held) != 0) ThrowOpen(path, errno);
        if (::stat(path.c_str(), &now) != 0 || now.st_ino != held.st_ino || now.st_dev != held.st_dev)
            continue;  // replaced while we waited for the lock
        CheckReplaceable(path, held);
        std::string old;
        if (int err = ReadAll(fd.Get(), readBlock, static_cast<size_t>(held.st_size), old)) ThrowOpen(path, err);
        if (InstallNewContent(path, compose(&old), true, &held, true)) return;
    }
    ThrowWrite(path, EAGAIN);
}

size_t file_system_detail::NameStart(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

void AppendToFile(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) ThrowWrite(path, errno);
    // One call: appends of one write() never interleave with other appenders.
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    const int err = errno;
    ::close(fd);
    if (n < 0) ThrowWrite(path, err);
    if (static_cast<size_t>(n) != bytes.size()) ThrowWrite(path, ENOSPC);
}
