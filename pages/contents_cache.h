#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/date_time.h"
#include "platform/memory.h"

// One generated page and the LoadTime of the persons list it was built from.
// The text is shared and never changed, so a cache hit hands it out without
// copying the page while the cache is locked. It is kept in an allocation of
// its own size: a page built by appending may hold twice its length.
class TContents {
public:
    TContents() = default;
    TContents(std::string text, TDateTime stamp);

    std::shared_ptr<const std::string> Text = std::make_shared<const std::string>();
    std::string ContentType = "text/html";  // kept for completeness; never served
    TDateTime Stamp = 0;
    // A validator of Text for answers that offer one (the API's ETag), made
    // once when the text is built; 0: none.
    std::uint64_t Tag = 0;

    // Takes Text, Stamp and Tag; the content type stays.
    void Assign(const TContents& source);
};

// Pages by key (page path plus the raw parameter text). Keys compare without
// regard to ASCII letter case, the second byte of a two-byte character aside
// (see FoldKey). Entries keep the order of their first adding;
// the bytes held are bounded and the least recently used entries go first.
// Every operation takes the cache's own lock, so page kinds guarded by
// different page locks may use one cache at the same time.
//
// Pages are built and dropped on many threads, and the allocator keeps what
// was freed in the heap of each thread; so once the entries dropped or
// replaced since the last time add up to an eighth of the bound (1 MiB at
// least), the operation that dropped them calls releaseFreed after letting go
// of the lock and of those entries.
class TContentsCache {
public:
    static constexpr size_t DefaultMaxBytes = 32u * 1024 * 1024;

    explicit TContentsCache(size_t maxBytes = DefaultMaxBytes, std::function<void()> releaseFreed = ReleaseFreeMemory);
    ~TContentsCache();
    TContentsCache(const TContentsCache&) = delete;
    TContentsCache& operator=(const TContentsCache&) = delete;

    // The item under key when its Stamp is not older than stamp.
    std::optional<TContents> FindContents(std::string_view key, TDateTime stamp);

    // Stores item under key. A key already present keeps its place and takes
    // the given spelling; its item takes Text and Stamp of item. An item too
    // big for the bound on its own is not kept (any older item under its key
    // goes too). Returns the number of entries.
    size_t AddObject(std::string_view key, TContents item);

    // index counts entries in their order of first adding.
    void Delete(size_t index);
    void Clear();

    size_t Count() const;
    size_t Bytes() const;  // what the bound is measured against
    size_t MaxBytes() const { return MaxBytes_; }
    size_t ReleaseEvery() const { return ReleaseEvery_; }  // bytes dropped between two releaseFreed
    std::vector<std::string> Keys() const;                 // in order

    // The form of key under which it is looked up: ASCII letters and the hex
    // digits of %XX escapes in upper case, except a byte that is the second
    // of a two-byte Shift-JIS character, sent raw or escaped.
    static std::string FoldKey(std::string_view key);
    // The cache ignores letter case in keys, which suits paths, parameter
    // names and the hex digits of escapes, but parameter values are compared
    // exactly (a group name, the kana letter, a person key):
    // "groupFilter=Sales" and "groupFilter=sales" are different pages.
    // Upper-case letters inside values therefore go into the key as %XX,
    // which no other spelling folds onto.
    static std::string CaseExactKey(std::string_view key);

private:
    struct Entry;
    using EntryList = std::list<Entry>;
    using LruList = std::list<EntryList::iterator>;
    struct Entry {
        std::string Key;
        std::string Folded;
        TContents Item;
        LruList::iterator Lru;
    };

    // What an operation drops, freed once the lock is let go.
    struct Dropped {
        EntryList Entries;
        std::shared_ptr<const std::string> Replaced;
        bool Release = false;
    };

    static size_t CostOf(const Entry& entry);
    void Remove(EntryList::iterator entry, Dropped& dropped);
    void EvictOthers(EntryList::iterator keep, Dropped& dropped);
    void NoteFreed(size_t bytes, Dropped& dropped);
    void Finish(Dropped& dropped);

    const size_t MaxBytes_;
    const size_t ReleaseEvery_;
    const std::function<void()> ReleaseFreed_;
    mutable std::mutex Lock_;
    EntryList Entries_;                                                // order of first adding
    LruList Lru_;                                                      // most recently used first
    std::unordered_map<std::string_view, EntryList::iterator> Index_;  // by Folded
    size_t Bytes_ = 0;
    size_t FreedSinceRelease_ = 0;
};
