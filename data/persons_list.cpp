#include "data/persons_list.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

#include "platform/file_system.h"
#include "platform/sjis_text.h"

namespace {

[[noreturn]] void ThrowNoCount() { throw EConvertError("'' is not a valid integer value"); }

}  // namespace

// The name of an entry is its text up to the recorded length, so a group
// name that itself holds '=' is still kept and found whole.
std::string TGroupList::Names(int index) const { return Entries_.at(index).substr(0, Groups_.at(index).nameLength); }

int TGroupList::IndexOfName(const std::string& name) const {
    for (size_t i = 0; i < Entries_.size(); ++i)
        if (Groups_[i].nameLength == name.size() &&
            SameText(std::string_view(Entries_[i]).substr(0, name.size()), name))
            return static_cast<int>(i);
    return -1;
}

int TGroupList::MemberCount(const std::string& name) const {
    const int i = IndexOfName(name);
    return i < 0 ? 0 : Groups_[i].count;
}

// Rewrites one entry and moves it to its place; the rest stays sorted.
void TGroupList::SetCount(size_t i, int count) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, count).ptr;
    std::string& entry = Entries_[i];
    entry.resize(Groups_[i].nameLength + 1);
    entry.append(digits, end);
    Groups_[i].count = count;
    auto less = [&](size_t x, size_t y) { return CompareText(Entries_[x], Entries_[y]) < 0; };
    auto swap = [&](size_t x, size_t y) {
        std::swap(Entries_[x], Entries_[y]);
        std::swap(Groups_[x], Groups_[y]);
    };
    for (; i > 0 && less(i, i - 1); --i) swap(i, i - 1);
    for (; i + 1 < Entries_.size() && less(i + 1, i); ++i) swap(i, i + 1);
}

int TGroupList::Add(const std::string& name) {
    int i = IndexOfName(name);
    if (i < 0) {
        Entries_.push_back(name + "=");
        Groups_.push_back({name.size(), 0});
        i = Count() - 1;
    }
    SetCount(i, Groups_[i].count + 1);
    return Count();
}

void TGroupList::Remove(const std::string& name) {
    const int i = IndexOfName(name);
    if (i < 0) ThrowNoCount();
    if (Groups_[i].count - 1 <= 0) {
        Entries_.erase(Entries_.begin() + i);
        Groups_.erase(Groups_.begin() + i);
    } else {
        SetCount(i, Groups_[i].count - 1);
    }
}

int CompareFurigana(const TKavelPerson& a, const TKavelPerson& b) { return CompareText(a.Furigana, b.Furigana); }

char KanaRowOf(const std::string& furigana) {
    if (furigana.empty()) return '\0';
    struct TRow {
        unsigned char first, last;
        char letter;
    };
    static const TRow rows[] = {
        {0xB1, 0xB5, 'a'}, {0xB6, 0xBA, 'k'}, {0xBB, 0xBF, 's'}, {0xC0, 0xC4, 't'}, {0xC5, 0xC9, 'n'},
        {0xCA, 0xCE, 'h'}, {0xCF, 0xD3, 'm'}, {0xD4, 0xD6, 'y'}, {0xD7, 0xDB, 'r'}, {0xDC, 0xDD, 'w'},
    };
    const unsigned char c = static_cast<unsigned char>(furigana[0]);
    for (const TRow& row : rows)
        if (c >= row.first && c <= row.last) return row.letter;
    return '\0';
}

TKavelPersonsList::~TKavelPersonsList() = default;

const TKavelPerson* TKavelPersonsList::Add(TPersonPtr person) {
    const TKavelPerson* p = person.get();
    Items_.push_back(std::move(person));
    Groups_.Add(p->Group);
    return p;
}

void TKavelPersonsList::Delete(int index) {
    const TKavelPerson& p = *Items_.at(index);
    Groups_.Remove(p.Group);
    Items_.erase(Items_.begin() + index);
}

std::unique_ptr<TKavelPerson> TKavelPersonsList::Extract(int index) {
    auto p = std::make_unique<TKavelPerson>(*Items_.at(index));
    Items_.erase(Items_.begin() + index);
    Extracted_ = true;
    return p;
}

void TKavelPersonsList::Clear() {
    if (!Extracted_) {
        // Groups counts exactly the listed persons, so uncounting them all
        // leaves it empty.
        Items_.clear();
        Groups_.Clear();
        return;
    }
    while (!Items_.empty()) Delete(Count() - 1);
    Extracted_ = Groups_.Count() > 0;
}

void TKavelPersonsList::ShareFrom(const TKavelPersonsList& other) {
    Items_ = other.Items_;
    Groups_ = other.Groups_;
    Extracted_ = other.Extracted_;
}

namespace {

// The first eight bytes of a reading as CompareFurigana sees them, packed so
// that integer order is their order; a shorter reading is padded with zero
// bytes, which no reading holds, so a prefix still sorts first.
uint64_t SortPrefix(const std::string& reading) {
    uint64_t key = 0;
    bool trail = false;
    for (size_t i = 0; i < 8; ++i) {
        unsigned char c = 0;
        if (i < reading.size()) {
            c = static_cast<unsigned char>(reading[i]);
            if (!trail && c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 32);
            trail = !trail && IsLeadByte(c);
        }
        key = key << 8 | c;
    }
    return key;
}

void SortPersons(std::vector<TKavelPersonsList::TPersonPtr>& persons) {
    // Most comparisons are settled by the packed prefixes alone.
    struct TKeyed {
        uint64_t prefix;
        TKavelPersonsList::TPersonPtr person;
    };
    std::vector<TKeyed> keyed;
    keyed.reserve(persons.size());
    for (auto& p : persons) keyed.push_back({SortPrefix(p->Furigana), std::move(p)});
    std::sort(keyed.begin(), keyed.end(), [](const TKeyed& a, const TKeyed& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return CompareFurigana(*a.person, *b.person) < 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i) persons[i] = std::move(keyed[i].person);
}

}  // namespace

void TKavelPersonsList::Sort() { SortPersons(Items_); }

void TKavelPersonsList::Replace(const std::vector<const TKavelPerson*>& gone, std::vector<TPersonPtr> added) {
    if (!gone.empty()) {
        std::vector<const TKavelPerson*> out(gone);
        std::sort(out.begin(), out.end());
        size_t kept = 0;
        for (TPersonPtr& p : Items_) {
            if (std::binary_search(out.begin(), out.end(), p.get())) {
                Groups_.Remove(p->Group);
                continue;
            }
            if (&Items_[kept] != &p) Items_[kept] = std::move(p);
            ++kept;
        }
        Items_.resize(kept);
    }
    if (added.empty()) return;
    SortPersons(added);
    const size_t middle = Items_.size();
    Items_.reserve(middle + added.size());
    for (TPersonPtr& p : added) {
        Groups_.Add(p->Group);
        Items_.push_back(std::move(p));
    }
    std::inplace_merge(Items_.begin(), Items_.begin() + static_cast<std::ptrdiff_t>(middle), Items_.end(),
                       [](const TPersonPtr& a, const TPersonPtr& b) { return CompareFurigana(*a, *b) < 0; });
}

const TKavelPerson* TKavelPersonsList::FindPerson(const std::string& key) const {
    for (const auto& p : Items_)
        if (FileBaseNameView(p->FilePath) == key) return p.get();
    return nullptr;
}
