#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "data/kavel_person.h"
#include "platform/date_time.h"

// Group names with member counts, entries "name=count", kept sorted by the
// whole entry text with ASCII case ignored over the Shift-JIS bytes.
class TGroupList {
public:
    // Counts one more member of name (case ignored); returns the number of
    // groups.
    int Add(const std::string& name);
    // Counts one member less and drops the entry at zero. Raises
    // EConvertError when name has no entry.
    void Remove(const std::string& name);

    int Count() const { return static_cast<int>(Entries_.size()); }
    const std::string& Strings(int index) const { return Entries_.at(index); }
    std::string Names(int index) const;              // the group name of the entry
    int IndexOfName(const std::string& name) const;  // -1 when absent
    int MemberCount(const std::string& name) const;  // 0 when absent
    const std::vector<std::string>& Entries() const { return Entries_; }
    void Clear() {
        Entries_.clear();
        Groups_.clear();
    }

private:
    struct TGroup {
        size_t nameLength;
        int count;
    };
    void SetCount(size_t index, int count);

    std::vector<std::string> Entries_;  // "name=count", sorted
    std::vector<TGroup> Groups_;        // what each entry holds, same order
};

// Orders persons by Furigana byte by byte, ASCII letters without case; a
// prefix sorts first. <0, 0, >0.
int CompareFurigana(const TKavelPerson& a, const TKavelPerson& b);

// Kana row letter ('a','k','s','t','n','h','m','y','r','w') of a reading
// by its first byte, or '\0' when it belongs to no row.
char KanaRowOf(const std::string& furigana);

// The persons of one scan, with their counted groups and the moment the scan
// started. The records are shared with the lists of other scans that found
// the same files, so that a rescan copies pointers, not persons: once listed,
// a record never changes. Filled by one thread at a time; read by many once
// filled. LoadTime may be changed at any time from any thread.
class TKavelPersonsList {
public:
    using TPersonPtr = std::shared_ptr<const TKavelPerson>;

    TKavelPersonsList() = default;
    ~TKavelPersonsList();
    TKavelPersonsList(const TKavelPersonsList&) = delete;
    TKavelPersonsList& operator=(const TKavelPersonsList&) = delete;

    // Takes the person and counts its group; returns the person.
    const TKavelPerson* Add(TPersonPtr person);
    const TKavelPerson* Add(std::unique_ptr<TKavelPerson> person) { return Add(TPersonPtr(std::move(person))); }
    // Drops the person and uncounts its group.
    void Delete(int index);
    // Takes the person out and hands out a copy of it; Groups is left as it is.
    std::unique_ptr<TKavelPerson> Extract(int index);
    // Drops every person and uncounts their groups.
    void Clear();
    // The persons and groups of other, the same records (not its LoadTime).
    void ShareFrom(const TKavelPersonsList& other);
    // Of a sorted list: takes out the records gone (those very objects) and
    // puts in added, where Sort would place them. In time linear in Count,
    // so that a rescan that found few changes does not sort again.
    void Replace(const std::vector<const TKavelPerson*>& gone, std::vector<TPersonPtr> added);

    int Count() const { return static_cast<int>(Items_.size()); }
    const TKavelPerson* Items(int index) const { return Items_.at(index).get(); }
    const TKavelPerson& operator[](int index) const { return *Items_.at(index); }
    void Reserve(int capacity) { Items_.reserve(capacity); }
    void ShrinkToFit() { Items_.shrink_to_fit(); }

    // Sorts by CompareFurigana; equal readings in no particular order.
    void Sort();

    // First person whose FileName equals key exactly, or nullptr.
    const TKavelPerson* FindPerson(const std::string& key) const;

    const TGroupList& Groups() const { return Groups_; }

    TDateTime LoadTime() const { return LoadTime_.load(); }
    void SetLoadTime(TDateTime t) { LoadTime_.store(t); }

private:
    std::vector<TPersonPtr> Items_;
    TGroupList Groups_;
    bool Extracted_ = false;  // Groups still counts persons handed out
    std::atomic<double> LoadTime_{0};
};
