#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>  // also brings the clocks; <chrono> itself breaks under CP932

#include "platform/file_system.h"
#include "platform/file_system_internal.h"
#include "platform/sjis_text.h"
#include "platform/system_windows.h"

using file_system_detail::TPathGuard;

// Other processes are held off by share modes: a reader lets only readers
// in, a rewrite lets nobody in, and a replace waits (bounded) for the file to
// be free. The portable code and the test hook speak errno, so Windows
// errors are carried as the nearest errno with the system's own text.

namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EWOULDBLOCK;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        default:
            return EIO;
    }
}

// A failure known by its errno only (the test hook, our own checks).
std::string ErrnoText(int err) {
    switch (err) {
        case EACCES:
            return WindowsErrorText(ERROR_ACCESS_DENIED);
        case ENOENT:
            return WindowsErrorText(ERROR_FILE_NOT_FOUND);
        case EWOULDBLOCK:
            return WindowsErrorText(ERROR_SHARING_VIOLATION);
        default:
            return std::strerror(err);
    }
}

[[noreturn]] void ThrowOpen(const std::string& path, int err, const std::string& text) {
    ThrowFileOpenError(path, err, text);
}
[[noreturn]] void ThrowWrite(const std::string& path, int err, const std::string& text) {
    ThrowFileCreateError(path, err, text);
}
[[noreturn]] void ThrowOpenWin(const std::string& path, DWORD error) {
    ThrowOpen(path, ErrnoOf(error), WindowsErrorText(error));
}
[[noreturn]] void ThrowWriteWin(const std::string& path, DWORD error) {
    ThrowWrite(path, ErrnoOf(error), WindowsErrorText(error));
}
[[noreturn]] void ThrowWriteErrno(const std::string& path, int err) { ThrowWrite(path, err, ErrnoText(err)); }

class THandle {
public:
    explicit THandle(HANDLE h = INVALID_HANDLE_VALUE) : H_(h) {}
    ~THandle() { Close(); }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    HANDLE Get() const { return H_; }
    bool Valid() const { return H_ != INVALID_HANDLE_VALUE; }
    DWORD Close() {
        DWORD error = 0;
        if (H_ != INVALID_HANDLE_VALUE && !CloseHandle(H_)) error = GetLastError();
        H_ = INVALID_HANDLE_VALUE;
        return error;
    }

private:
    HANDLE H_;
};

bool IsBusy(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

// Retries op while another process holds the file, up to waitMs. op returns
// 0 on success or the Windows error.
template <class Op>
DWORD WhileBusy(Op op, int waitMs = file_system_detail::ForeignLockWaitMs()) {
    std::chrono::steady_clock::time_point deadline{};
    bool waiting = false;
    for (;;) {
        const DWORD error = op();
        if (!IsBusy(error)) return error;
        const auto now = std::chrono::steady_clock::now();
        if (!waiting) {
            deadline = now + std::chrono::milliseconds(waitMs);
            waiting = true;
        }
        if (now >= deadline) return error;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(5), deadline - now));
    }
}

// Opens path, waiting up to waitMs while others hold it. Sets error.
HANDLE OpenShared(const std::string& path, DWORD access, DWORD share, DWORD& error,
                  int waitMs = file_system_detail::ForeignLockWaitMs()) {
    HANDLE h = INVALID_HANDLE_VALUE;
    error = WhileBusy(
        [&]() -> DWORD {
            h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            return h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        },
        waitMs);
    return h;
}

// Reads everything from h. With block > 0, reads in blocks of that size and
// keeps of each block only the bytes before its first zero byte.
DWORD ReadAll(HANDLE h, size_t block, std::string& out) {
    out.clear();
    const size_t step = block == 0 ? 8192 : block;
    std::string buf(step, '\0');
    for (;;) {
        size_t used = 0;
        while (used < step) {
            DWORD got = 0;
            if (!ReadFile(h, &buf[used], static_cast<DWORD>(step - used), &got, nullptr)) return GetLastError();
            if (got == 0) break;
            used += got;
            if (block == 0) break;
        }
        if (used == 0) return 0;
        if (block == 0) {
            out.append(buf.data(), used);
            continue;
        }
        const void* zero = std::memchr(buf.data(), 0, used);
        out.append(buf.data(), zero ? static_cast<const char*>(zero) - buf.data() : used);
        if (used < block) return 0;
    }
}

// Whether path still names the file open as held.
bool SameFile(const THandle& held, const std::string& path) {
    THandle now(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION a, b;
    return now.Valid() && GetFileInformationByHandle(held.Get(), &a) && GetFileInformationByHandle(now.Get(), &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Directories and read-only files (the clients' read-only flag) are refused.
void CheckReplaceable(const std::string& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) ThrowWriteWin(path, ERROR_ACCESS_DENIED);
    if (attributes & FILE_ATTRIBUTE_READONLY) ThrowWriteWin(path, ERROR_ACCESS_DENIED);
}

int WriteChunks(HANDLE h, const std::string& path, const std::string& bytes, DWORD& winError) {
    return file_system_detail::WriteChunks(path, bytes, [&](const char* data, size_t size, size_t& put) {
        DWORD n = 0;
        if (!WriteFile(h, data, static_cast<DWORD>(size), &n, nullptr)) {
            winError = GetLastError();
            return ErrnoOf(winError);
        }
        put = n;
        return 0;
    });
}

// Writes bytes into a fresh temporary file beside path and moves it into
// place: over the old file when replace is set, otherwise only while path is
// still absent (returns false when it appeared meanwhile). held, when open,
// is our own hold on the old file; it is let go before a move that its share
// mode would block, and the move is made only while path still names that
// file (false when not).
bool InstallNewContent(const std::string& path, const std::string& bytes, bool replace, THandle* held) {
    using file_system_detail::WriteFault;
    const std::string dir = path.substr(0, file_system_detail::NameStart(path));
    std::string temp;
    if (int err = WriteFault(TWriteStep::CreateTemp, path)) ThrowWriteErrno(path, err);
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int tries = 1; created == INVALID_HANDLE_VALUE; ++tries) {
        temp = file_system_detail::TempFilePath(dir);
        created = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS || tries == file_system_detail::TempNameTries) ThrowWriteWin(path, error);
        }
    }
    THandle file(created);

    auto fail = [&](int err, DWORD winError) {
        file.Close();
        DeleteFileA(temp.c_str());
        if (winError != 0) ThrowWriteWin(path, winError);
        ThrowWriteErrno(path, err);
    };
    DWORD winError = 0;
    if (int err = WriteChunks(file.Get(), path, bytes, winError)) fail(err, winError);
    if (int err = WriteFault(TWriteStep::Sync, path)) fail(err, 0);
    if (!FlushFileBuffers(file.Get())) fail(0, GetLastError());
    if (DWORD error = file.Close()) fail(0, error);

    if (int err = WriteFault(TWriteStep::Rename, path)) fail(err, 0);
    if (held && held->Valid() && !SameFile(*held, path)) {
        // A client moved or replaced it while we composed (our hold shares
        // delete): moving ours in now would bring back what it took away.
        DeleteFileA(temp.c_str());
        return false;
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    auto move = [&]() -> DWORD { return MoveFileExA(temp.c_str(), path.c_str(), flags) ? 0 : GetLastError(); };
    DWORD error = move();
    if ((IsBusy(error) || error == ERROR_ACCESS_DENIED) && held && held->Valid()) {
        held->Close();
        error = move();
    }
    if (IsBusy(error) || (replace && error == ERROR_ACCESS_DENIED)) error = WhileBusy(move);
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
        DeleteFileA(temp.c_str());
        return false;
    }
    if (error != 0) fail(0, error);
    return true;
}

}  // namespace

namespace file_system_detail {

void ReadSharedLocked(const std::string& path, std::string& content, int waitMs) {
    content.clear();
    DWORD error = 0;
    THandle file(OpenShared(path, GENERIC_READ, FILE_SHARE_READ, error, waitMs));
    if (!file.Valid()) ThrowOpenWin(path, error);
    if (DWORD err = ReadAll(file.Get(), 0, content)) {
        content.clear();
        ThrowOpenWin(path, err);
    }
}

void ReadSharedLockedBlocks(const std::string& path, const std::function<void(std::string_view)>& consume,
                            size_t blockSize, int waitMs) {
    DWORD error = 0;
    THandle file(OpenShared(path, GENERIC_READ, FILE_SHARE_READ, error, waitMs));
    if (!file.Valid()) ThrowOpenWin(path, error);
    std::string buf(blockSize, '\0');
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buf.data(), static_cast<DWORD>(blockSize), &got, nullptr))
            ThrowOpenWin(path, GetLastError());
        if (got == 0) break;
        consume(std::string_view(buf.data(), got));
    }
}

}  // namespace file_system_detail

[[noreturn]] void file_system_detail::ThrowHeldByUs(const std::string& path) {
    ThrowOpenWin(path, ERROR_SHARING_VIOLATION);
}

bool FileExists(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

int RemoveStaleTempFiles(const std::string& directory, int maxAgeSeconds) {
    const std::string dir = IncludeTrailingPathDelimiter(directory.empty() ? "." : directory);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + ".quor-*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    const uint64_t oldest = ticks(now) - uint64_t(maxAgeSeconds) * 10000000u;  // 100 ns units
    int removed = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!IsOwnTempFileName(found.cFileName) || ticks(found.ftLastWriteTime) >= oldest) continue;
        if (DeleteFileA((dir + found.cFileName).c_str())) ++removed;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return removed;
}

void ReplaceFileContent(const std::string& path, const std::string& bytes) {
    TPathGuard guard(path, true);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) ThrowWriteWin(path, error);
        if (error == ERROR_PATH_NOT_FOUND) ThrowWriteWin(path, error);
    } else {
        CheckReplaceable(path, attributes);
    }
    InstallNewContent(path, bytes, true, nullptr);
}

void RewriteFileContent(const std::string& path, const std::function<std::string(const std::string* old)>& compose,
                        size_t readBlock) {
    TPathGuard guard(path, true);
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Nobody else may read or write while we compose; sharing delete
        // alone lets our own move replace the file under this hold.
        DWORD error = 0;
        THandle file(OpenShared(path, GENERIC_READ, FILE_SHARE_DELETE, error));
        if (!file.Valid()) {
            if (error != ERROR_FILE_NOT_FOUND) {
                if (IsBusy(error)) ThrowWriteWin(path, error);
                ThrowOpenWin(path, error);
            }
            if (InstallNewContent(path, compose(nullptr), false, nullptr)) return;
            continue;
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(file.Get(), &info)) ThrowOpenWin(path, GetLastError());
        CheckReplaceable(path, info.dwFileAttributes);
        std::string old;
        if (DWORD err = ReadAll(file.Get(), readBlock, old)) ThrowOpenWin(path, err);
        if (InstallNewContent(path, compose(&old), true, &file)) return;
    }
    ThrowWriteErrno(path, EAGAIN);
}

size_t file_system_detail::NameStart(std::string_view path) {
    // '\\' is also the second byte of some two-byte characters (表 is 95 5C),
    // so the path is read character by character.
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (IsLeadByte(c) && i + 1 < path.size())
            ++i;
        else if (c == '\\' || c == '/' || c == ':')
            start = i + 1;
    }
    return start;
}

void AppendToFile(const std::string& path, std::string_view bytes) {
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) ThrowWriteWin(path, GetLastError());
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) ThrowWriteWin(path, error);
    if (written != bytes.size()) ThrowWriteWin(path, ERROR_DISK_FULL);
}
