#include "platform/file_system.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>  // also brings the clocks; <chrono> itself breaks under CP932
#include <unordered_map>

#include "platform/dir_watch.h"
#include "platform/file_system_internal.h"

namespace file_system_detail {

// Readers share, writers exclude; a waiting writer stops new readers, so a
// steady stream of board reads cannot starve a save. Every path held has an
// entry of its own, made on first hold and dropped with the last: a write of
// ours never holds off a read of another file (a scan would take that file
// for busy). Uncontended holds cost one map look-up under the shard's mutex.
struct TPathGuard::TEntry {
    static constexpr int Writer = -1;
    std::atomic<int> state{0};  // readers holding it, or Writer
    std::atomic<int> waitingWriters{0};
    std::mutex m;
    std::condition_variable cv;  // every change that may free a waiter notifies under m
    int holders = 0;             // guards using this entry; under the shard's mutex
    const std::string* key = nullptr;

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

struct TShard {
    std::mutex m;
    std::unordered_map<std::string, std::unique_ptr<TPathGuard::TEntry>> entries;
};

constexpr size_t ShardCount = 64;

TShard& ShardFor(const std::string& path) {
    static TShard shards[ShardCount];
    return shards[std::hash<std::string>{}(path) % ShardCount];
}

TPathGuard::TEntry* Acquire(const std::string& path) {
    TShard& shard = ShardFor(path);
    std::lock_guard<std::mutex> g(shard.m);
    auto [it, made] = shard.entries.try_emplace(path);
    if (made) {
        it->second = std::make_unique<TPathGuard::TEntry>();
        it->second->key = &it->first;
    }
    ++it->second->holders;
    return it->second.get();
}

void Release(TPathGuard::TEntry* entry) {
    TShard& shard = ShardFor(*entry->key);
    std::lock_guard<std::mutex> g(shard.m);
    if (--entry->holders == 0) shard.entries.erase(*entry->key);
}

std::mutex hookLock;
TWriteFaultHook& Hook() {
    static TWriteFaultHook hook;
    return hook;
}
std::atomic<bool> hookSet{false};
std::atomic<int> lockWaitMs{5000};

}  // namespace

TPathGuard::TPathGuard(const std::string& path, bool exclusive) : Entry_(Acquire(path)), Exclusive_(exclusive) {
    if (Exclusive_)
        Entry_->Lock();
    else
        Entry_->LockShared();
}

TPathGuard::TPathGuard(const std::string& path, TSharedFor wait) : Entry_(Acquire(path)), Exclusive_(false) {
    if (!Entry_->LockSharedFor(wait.WaitMs)) {
        Release(Entry_);
        Entry_ = nullptr;
    }
}

TPathGuard::~TPathGuard() {
    if (!Entry_) return;
    if (Exclusive_)
        Entry_->Unlock();
    else
        Entry_->UnlockShared();
    Release(Entry_);
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

std::string TempFilePath(const std::string& directory) {
    thread_local std::mt19937_64 random{(uint64_t{std::random_device{}()} << 32) ^ std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string name = directory + ".quor-";
    for (uint64_t bits = random(), i = 0; i < 16; ++i, bits >>= 4) name += digits[bits & 15];
    name += ".tmp";
    return name;
}

int WriteChunks(const std::string& path, std::string_view bytes, const TChunkWriter& write) {
    // At least two writes even for short texts, so a failure between them can
    // be simulated.
    const size_t chunk = std::clamp<size_t>(bytes.size() / 2, 1, 1 << 16);
    size_t done = 0;
    do {
        if (int err = WriteFault(TWriteStep::Write, path)) return err;
        const size_t len = std::min(chunk, bytes.size() - done);
        if (len == 0) break;
        size_t put = 0;
        if (int err = write(bytes.data() + done, len, put)) return err;
        done += put;
    } while (done < bytes.size());
    return 0;
}

}  // namespace file_system_detail

void ThrowFileOpenError(const std::string& path, int err, const std::string& reason) {
    throw EFOpenError("ファイル \"" + path + "\". " + reason + " は開けません", path, err);
}

void ThrowFileCreateError(const std::string& path, int err, const std::string& reason) {
    throw EInOutError("ファイル \"" + path + "\". " + reason + " を作成できません", path, err);
}

std::vector<std::string> FindFilesByExtension(const std::string& directory, const std::string& extension) {
    std::vector<std::string> names;
    for (TStampedName& file : ListStampedFiles(directory, {extension})) names.push_back(std::move(file.Name));
    return names;
}

bool IsOwnTempFileName(std::string_view name) {
    return name.size() > 10 && name.starts_with(".quor-") && name.ends_with(".tmp");
}

void SetWriteFaultHook(TWriteFaultHook hook) {
    using namespace file_system_detail;
    std::lock_guard<std::mutex> g(hookLock);
    hookSet.store(static_cast<bool>(hook));
    Hook() = std::move(hook);
}

void SetForeignLockWait(int milliseconds) { file_system_detail::lockWaitMs.store(milliseconds); }

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

std::string ExtractFileName(const std::string& path) { return path.substr(NameStart(path)); }

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
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    file_system_detail::ReadSharedLocked(path, content, std::max(0, waitMs - static_cast<int>(spent.count())));
}

void ReadFileBlocks(const std::string& path, const std::function<void(std::string_view)>& consume, size_t blockSize) {
    file_system_detail::TPathGuard guard(path, false);
    file_system_detail::ReadSharedLockedBlocks(path, consume, std::max<size_t>(1, blockSize),
                                               file_system_detail::ForeignLockWaitMs());
}

std::string ReadWholeFile(const std::string& path) {
    std::string content;
    ReadWholeFile(path, content);
    return content;
}
