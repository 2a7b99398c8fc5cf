#include "pages/contents_cache.h"

#include <algorithm>
#include <stdexcept>

#include "platform/sjis_text.h"

namespace {

// Node, index slot and shared text block per entry, roughly; keeps a flood of
// tiny pages from slipping past the bound.
constexpr size_t EntryOverhead = 192;

// Slack a stored text may keep before it is copied to its exact size.
constexpr size_t KeptSlack = 64;
constexpr size_t LeastReleaseEvery = 1u << 20;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Letters fold, except the second byte of a two-byte character: a browser
// sends that byte literally after a percent-escaped first byte ("%89c" is not
// "%89C"), and folding it would hand one group's board to another.
void FoldInPlace(char* text, size_t size) {
    bool afterLead = false;
    for (size_t i = 0; i < size;) {
        unsigned char byte;
        size_t length = 1;
        if (text[i] == '%' && i + 2 < size && HexDigitValue(text[i + 1]) >= 0 && HexDigitValue(text[i + 2]) >= 0) {
            text[i + 1] = AsciiUpper(text[i + 1]);
            text[i + 2] = AsciiUpper(text[i + 2]);
            byte = static_cast<unsigned char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            length = 3;
        } else {
            byte = static_cast<unsigned char>(text[i]);
        }
        const bool trail = afterLead && IsTrailByte(byte);
        if (length == 1 && !trail) text[i] = AsciiUpper(text[i]);
        afterLead = !trail && IsLeadByte(byte);
        i += length;
    }
}

bool HasSlack(const std::string& text) { return text.capacity() - text.size() > KeptSlack + text.size() / 32; }

std::shared_ptr<const std::string> ExactText(std::string text) {
    if (HasSlack(text)) text = std::string(text.data(), text.size());
    return std::make_shared<const std::string>(std::move(text));
}

}  // namespace

TContents::TContents(std::string text, TDateTime stamp) : Text(ExactText(std::move(text))), Stamp(stamp) {}

void TContents::Assign(const TContents& source) {
    Text = source.Text;
    Stamp = source.Stamp;
    Tag = source.Tag;
}

TContentsCache::TContentsCache(size_t maxBytes, std::function<void()> releaseFreed)
    : MaxBytes_(maxBytes),
      ReleaseEvery_(std::max(maxBytes / 8, LeastReleaseEvery)),
      ReleaseFreed_(std::move(releaseFreed)) {}

TContentsCache::~TContentsCache() { Clear(); }

std::string TContentsCache::CaseExactKey(std::string_view key) {
    std::string out;
    out.reserve(key.size() + 8);
    bool inValue = false;
    for (size_t i = 0; i < key.size(); ++i) {
        const char c = key[i];
        if (c == '%' && i + 2 < key.size() && HexDigitValue(key[i + 1]) >= 0 && HexDigitValue(key[i + 2]) >= 0) {
            out.append(key, i, 3);
            i += 2;
            continue;
        }
        if (c == '&' || c == '\r' || c == '\n')
            inValue = false;
        else if (c == '=')
            inValue = true;
        if (inValue && c >= 'A' && c <= 'Z')
            AppendPercentEncoded(out, key.substr(i, 1), [](unsigned char) { return true; });
        else
            out += c;
    }
    return out;
}

std::string TContentsCache::FoldKey(std::string_view key) {
    std::string out(key);
    FoldInPlace(out.data(), out.size());
    return out;
}

size_t TContentsCache::CostOf(const Entry& entry) {
    return entry.Item.Text->size() + entry.Key.size() + entry.Folded.size() + EntryOverhead;
}

std::optional<TContents> TContentsCache::FindContents(std::string_view key, TDateTime stamp) {
    // Folded on the stack: a hit costs no allocation.
    char buffer[512];
    std::string large;
    char* text = buffer;
    if (key.size() > sizeof buffer) {
        large.assign(key);
        text = large.data();
    } else {
        key.copy(buffer, key.size());
    }
    FoldInPlace(text, key.size());
    const std::string_view folded(text, key.size());
    std::lock_guard<std::mutex> hold(Lock_);
    const auto found = Index_.find(folded);
    if (found == Index_.end()) return std::nullopt;
    Entry& entry = *found->second;
    if (!(entry.Item.Stamp >= stamp)) return std::nullopt;
    Lru_.splice(Lru_.begin(), Lru_, entry.Lru);
    return entry.Item;
}

size_t TContentsCache::AddObject(std::string_view key, TContents item) {
    if (!item.Text)
        item.Text = std::make_shared<const std::string>();
    else if (HasSlack(*item.Text))
        item.Text = std::make_shared<const std::string>(*item.Text);  // a copy is exact
    std::string folded = FoldKey(key);
    Dropped dropped;
    size_t count;
    {
        std::lock_guard<std::mutex> hold(Lock_);
        const auto found = Index_.find(folded);
        const size_t cost = item.Text->size() + key.size() + folded.size() + EntryOverhead;
        if (cost > MaxBytes_) {
            if (found != Index_.end()) Remove(found->second, dropped);
            count = Entries_.size();
        } else {
            EntryList::iterator entry;
            if (found != Index_.end()) {
                entry = found->second;
                const size_t old = CostOf(*entry);
                Bytes_ -= old;
                NoteFreed(old, dropped);
                dropped.Replaced = std::move(entry->Item.Text);
                entry->Key.assign(key);
                entry->Item.Assign(item);
                Lru_.splice(Lru_.begin(), Lru_, entry->Lru);
            } else {
                Entries_.push_back(Entry{std::string(key), std::move(folded), TContents(), {}});
                entry = std::prev(Entries_.end());
                entry->Item.Assign(item);
                Lru_.push_front(entry);
                entry->Lru = Lru_.begin();
                Index_.emplace(std::string_view(entry->Folded), entry);
            }
            Bytes_ += cost;
            EvictOthers(entry, dropped);
            count = Entries_.size();
        }
    }
    Finish(dropped);
    return count;
}

// Drops the least recently used entries until the bound holds again. keep is
// the most recent one and fits on its own, so it is never reached.
void TContentsCache::EvictOthers(EntryList::iterator keep, Dropped& dropped) {
    while (Bytes_ > MaxBytes_ && Lru_.back() != keep) Remove(Lru_.back(), dropped);
}

void TContentsCache::Remove(EntryList::iterator entry, Dropped& dropped) {
    const size_t cost = CostOf(*entry);
    Bytes_ -= cost;
    NoteFreed(cost, dropped);
    Index_.erase(std::string_view(entry->Folded));
    Lru_.erase(entry->Lru);
    dropped.Entries.splice(dropped.Entries.end(), Entries_, entry);
}

void TContentsCache::NoteFreed(size_t bytes, Dropped& dropped) {
    FreedSinceRelease_ += bytes;
    if (FreedSinceRelease_ < ReleaseEvery_) return;
    FreedSinceRelease_ = 0;
    dropped.Release = true;
}

// Outside the lock: the pages go first, then the allocator is asked to let
// their memory go. A page still being sent is freed by its last sender and
// released the next time.
void TContentsCache::Finish(Dropped& dropped) {
    dropped.Entries.clear();
    dropped.Replaced.reset();
    if (dropped.Release && ReleaseFreed_) ReleaseFreed_();
}

void TContentsCache::Delete(size_t index) {
    Dropped dropped;
    {
        std::lock_guard<std::mutex> hold(Lock_);
        if (index >= Entries_.size()) throw std::out_of_range("TContentsCache::Delete: index out of range");
        Remove(std::next(Entries_.begin(), static_cast<std::ptrdiff_t>(index)), dropped);
    }
    Finish(dropped);
}

void TContentsCache::Clear() {
    Dropped dropped;
    {
        std::lock_guard<std::mutex> hold(Lock_);
        Index_.clear();
        Lru_.clear();
        NoteFreed(Bytes_, dropped);
        dropped.Entries.swap(Entries_);
        Bytes_ = 0;
    }
    Finish(dropped);
}

size_t TContentsCache::Count() const {
    std::lock_guard<std::mutex> hold(Lock_);
    return Entries_.size();
}

size_t TContentsCache::Bytes() const {
    std::lock_guard<std::mutex> hold(Lock_);
    return Bytes_;
}

std::vector<std::string> TContentsCache::Keys() const {
    std::lock_guard<std::mutex> hold(Lock_);
    std::vector<std::string> keys;
    keys.reserve(Entries_.size());
    for (const Entry& entry : Entries_) keys.push_back(entry.Key);
    return keys;
}
