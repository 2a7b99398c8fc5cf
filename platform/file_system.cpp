#include "platform/file_system.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <condition_variable>
#include <functional>
#include <thread>  // also brings the clocks; <chrono> itself breaks under CP932

#include "platform/file_system_internal.h"

namespace file_system_detail {

// Readers share, writers exclude; a waiting writer stops new readers, so a
// steady stream of board reads cannot starve a save. Uncontended readers only
// touch the atomics. Paths hash onto a fixed set of entries: two paths may
// share one, which only serialises a little more, and nothing is allocated
// per call. A thread holds one entry at most.
struct TPathGuard::TEntry {
    static constexpr int Writer = -1;
    std::atomic<int> state{0};  // readers holding it, or Writer
    std::atomic<int> waitingWriters{0};
    std::mutex m;
    std::condition_variable cv;  // every change that may free a waiter notifies under m

    bool TryShared() {
        int s = state.load();
        while (s >= 0 && waitingWriters.load() == 0)
            if (state.compare_exchange_weak(s, s + 1)) return true;
        return false;
    }
    bool TryExclusive() {
        int idle = 0;
        return state.compare_exchange_strong(idle, Writer);
    }
    void LockShared() {
        if (TryShared()) return;
        std::unique_lock<std::mutex> g(m);
        cv.wait(g, [&] { return TryShared(); });
    }
    bool LockSharedFor(int waitMs) {
        if (TryShared()) return true;
        if (waitMs <= 0) return false;
        std::unique_lock<std::mutex> g(m);
        return cv.wait_for(g, std::chrono::milliseconds(waitMs), [&] { return TryShared(); });
    }
    void UnlockShared() {
        if (state.fetch_sub(1) == 1 && waitingWriters.load() > 0) {
            std::lock_guard<std::mutex> g(m);
            cv.notify_all();
        }
    }
    void Lock() {
        waitingWriters.fetch_add(1);
        std::unique_lock<std::mutex> g(m);
        cv.wait(g, [&] { return TryExclusive(); });
        waitingWriters.fetch_sub(1);
    }
    void Unlock() {
        state.store(0);
        std::lock_guard<std::mutex> g(m);
        cv.notify_all();
    }
};

namespace {

constexpr size_t EntryCount = 257;

TPathGuard::TEntry& EntryFor(const std::string& path) {
    static TPathGuard::TEntry entries[EntryCount];
    return entries[std::hash<std::string>{}(path) % EntryCount];
}

std::mutex hookLock;
TWriteFaultHook& Hook() {
    static TWriteFaultHook hook;
    return hook;
}
std::atomic<bool> hookSet{false};
std::atomic<int> lockWaitMs{5000};

}  // namespace

TPathGuard::TPathGuard(const std::string& path, bool exclusive)
    : entry_(&EntryFor(path)), exclusive_(exclusive) {
    if (exclusive_) entry_->Lock();
    else entry_->LockShared();
}

TPathGuard::TPathGuard(const std::string& path, TSharedFor wait)
    : entry_(&EntryFor(path)), exclusive_(false) {
    if (!entry_->LockSharedFor(wait.WaitMs)) entry_ = nullptr;
}

TPathGuard::~TPathGuard() {
    if (!entry_) return;
    if (exclusive_) entry_->Unlock();
    else entry_->UnlockShared();
}

int WriteFault(TWriteStep step, const std::string& path) {
    if (!hookSet.load()) return 0;
    TWriteFaultHook hook;
    {
        std::lock_guard<std::mutex> g(hookLock);
        hook = Hook();
    }
    return hook ? hook(step, path) : 0;
}

int ForeignLockWaitMs() { return lockWaitMs.load(); }

}  // namespace file_system_detail

void SetWriteFaultHook(TWriteFaultHook hook) {
    using namespace file_system_detail;
    std::lock_guard<std::mutex> g(hookLock);
    hookSet.store(static_cast<bool>(hook));
    Hook() = std::move(hook);
}

void SetForeignLockWait(int milliseconds) {
    file_system_detail::lockWaitMs.store(milliseconds);
}

namespace {

using file_system_detail::NameStart;

// Position of the extension's dot within the file name, or npos. A dot is
// never the second byte of a two-byte character.
size_t ExtensionDot(std::string_view path) {
    const size_t start = NameStart(path);
    const size_t dot = path.find_last_of('.');
    return (dot == std::string::npos || dot < start) ? std::string::npos : dot;
}

}  // namespace

std::string_view FileBaseNameView(std::string_view path) {
    const size_t start = NameStart(path);
    const size_t dot = ExtensionDot(path);
    return path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
}

std::string_view WithoutFileExt(std::string_view path) { return path.substr(0, ExtensionDot(path)); }

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
    return std::string(WithoutFileExt(path)) + extension;
}

std::string ExtractFileName(const std::string& path) {
    return path.substr(NameStart(path));
}

std::string ExtractFileBaseName(const std::string& path) { return std::string(FileBaseNameView(path)); }

std::string IncludeTrailingPathDelimiter(const std::string& directory) {
    if (!directory.empty() && NameStart(directory) == directory.size()) return directory;
    return directory + '/';
}

void ReadWholeFile(const std::string& path, std::string& content) {
    file_system_detail::TPathGuard guard(path, false);
    file_system_detail::ReadSharedLocked(path, content, file_system_detail::ForeignLockWaitMs());
}

void ReadWholeFile(const std::string& path, std::string& content, int waitMs) {
    const auto start = std::chrono::steady_clock::now();
    file_system_detail::TPathGuard guard(path, file_system_detail::TPathGuard::TSharedFor{waitMs});
    if (!guard.Held()) file_system_detail::ThrowHeldByUs(path);
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    file_system_detail::ReadSharedLocked(path, content, std::max(0, waitMs - static_cast<int>(spent.count())));
}

void ReadFileBlocks(const std::string& path, const std::function<void(std::string_view)>& consume,
                    size_t blockSize) {
    file_system_detail::TPathGuard guard(path, false);
    file_system_detail::ReadSharedLockedBlocks(path, consume, std::max<size_t>(1, blockSize),
                                               file_system_detail::ForeignLockWaitMs());
}

std::string ReadWholeFile(const std::string& path) {
    std::string content;
    ReadWholeFile(path, content);
    return content;
}
