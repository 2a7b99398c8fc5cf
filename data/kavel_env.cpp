#include "data/kavel_env.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>  // the steady clock; <chrono> itself breaks under CP932
#include <utility>

#include "data/person_status.h"
#include "data/persons_list.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "protocol/kavel_protocol.h"

namespace {

constexpr double MinutesPerDay = 24 * 60;
// How long after its start a scan still waits for a person file that another
// process (or a write of ours) holds; later it skips such a file at once.
// Meant to ride out a client's brief save; a file held open for long costs a
// scan this much at most, not the writers' wait for every such file.
constexpr int ScanLockGraceMs = 100;
// How long a caller waits for a scan under way when a rescan was asked for.
constexpr int ForcedScanWaitMs = 2000;
// Far beyond any write of ours, which renames its temporary file within
// seconds.
constexpr int StaleTempSeconds = 60;
// Scans that list the directory remove our stale temporary files each time;
// those that look at named files only, at most this often.
constexpr long long TempSweepMs = 10000;
// Beyond this many names pending, one listing costs less than their stats.
constexpr size_t MaxPendingNames = 4096;

// Blanks and control characters, NUL included, separate items and are
// trimmed from lines.
bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= 32; }

// Text of a quoted run starting at pos (on the opening quote); a doubled
// quote stands for one. Leaves pos after the closing quote. An unclosed
// quote runs to the end of the text.
std::string ExtractQuoted(const std::string& text, size_t& pos) {
    std::string result;
    ++pos;
    while (pos < text.size()) {
        const size_t quote = text.find('"', pos);
        if (quote == std::string::npos) break;
        result.append(text, pos, quote - pos);
        if (quote + 1 < text.size() && text[quote + 1] == '"') {
            result += '"';
            pos = quote + 2;
            continue;
        }
        pos = quote + 1;
        return result;
    }
    result.append(text, pos, std::string::npos);
    pos = text.size();
    return result;
}

// Items of a line: separated by commas and by runs of separators; a quoted
// item may hold both; a comma that ends the line adds an empty item.
std::vector<std::string> SplitItems(const std::string& line) {
    std::vector<std::string> items;
    const size_t n = line.size();
    size_t i = 0;
    while (i < n && IsSeparator(line[i])) ++i;
    while (i < n) {
        if (line[i] == '"') {
            items.push_back(ExtractQuoted(line, i));
        } else {
            const size_t start = i;
            while (i < n && !IsSeparator(line[i]) && line[i] != ',') ++i;
            items.emplace_back(line, start, i - start);
        }
        while (i < n && IsSeparator(line[i])) ++i;
        if (i < n && line[i] == ',') {
            if (i + 1 == n) items.emplace_back();
            do ++i;
            while (i < n && IsSeparator(line[i]));
        }
    }
    return items;
}

// A value that begins with a quote loses its enclosing quotes; one that
// would come out empty (exactly two quotes) stays as it is.
std::string Unquote(const std::string& value) {
    if (value.empty() || value[0] != '"') return value;
    size_t pos = 0;
    std::string inner = ExtractQuoted(value, pos);
    return inner.empty() ? value : inner;
}

bool StartsWithText(const std::string& text, size_t from, const std::string& word) {
    if (text.size() - from < word.size()) return false;
    return SameText(text.substr(from, word.size()), word);
}

// First item of that name, case ignored; empty when there is none.
std::string ValueOf(const std::vector<TKavelEnv::TSettingItem>& items, const std::string& name) {
    for (const TKavelEnv::TSettingItem& item : items)
        if (SameText(item.Name, name)) return item.Value;
    return std::string();
}

// Clears the flag however the rescan ends.
class TReloadingGuard {
public:
    explicit TReloadingGuard(std::atomic<bool>& flag) : Flag_(flag) {}
    ~TReloadingGuard() { Flag_.store(false, std::memory_order_release); }
    TReloadingGuard(const TReloadingGuard&) = delete;
    TReloadingGuard& operator=(const TReloadingGuard&) = delete;

private:
    std::atomic<bool>& Flag_;
};

}  // namespace

TKavelEnv::TKavelEnv(const TClock& clock)
    : Clock_(clock),
      SiteName_("行き先掲示板"),
      Persons_(std::make_shared<TKavelPersonsList>()),
      SparePersons_(std::make_shared<TKavelPersonsList>()),
      Statuses_(std::make_unique<TPersonStatusCollection>()),
      Protocol_(std::make_unique<TKavelProtocol>()) {}

TKavelEnv::~TKavelEnv() {
    std::atomic_store(&Persons_, TPersonsPtr());
    SparePersons_.reset();
    Statuses_.reset();
    Protocol_.reset();
}

void TKavelEnv::SetCommonDirectory(const std::string& directory) {
    const std::string settingsPath = directory + "kavel.ini";
    if (!FileExists(settingsPath)) throw std::runtime_error(settingsPath + "が見つかりません");
    CommonDirectory_ = directory;
    ReadSettings();
    Protocol_->SetDestinationPort(UdpPort_);
    BuildStatuses();
    GetPersons();
    if (OnLoaded_) OnLoaded_(*this);
}

void TKavelEnv::SetOnLoaded(TNotifyEvent handler) {
    if (handler) OnLoaded_ = std::move(handler);
}

bool TKavelEnv::ParseSettingLine(const std::string& leadingWord, const std::string& line,
                                 std::vector<TSettingItem>& items) {
    items.clear();
    size_t first = 0;
    while (first < line.size() && IsSeparator(line[first])) ++first;
    if (!StartsWithText(line, first, leadingWord)) return false;
    for (const std::string& item : SplitItems(line)) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos) continue;
        items.push_back({item.substr(0, eq), Unquote(item.substr(eq + 1))});
    }
    return true;
}

int TKavelEnv::PortOf(const std::string& name, const std::string& value, int fallback) {
    const std::optional<int32_t> port = ParseInt32(value);
    if (port && *port >= 1 && *port <= 65535) return *port;
    SettingWarnings_.push_back("kavel.iniの" + name + "=" + value + "はポート番号として使えません。ポート" +
                               std::to_string(fallback) + "を使います。");
    return fallback;
}

void TKavelEnv::ReadSettings() {
    SettingWarnings_.clear();
    std::vector<TSettingItem> items;
    for (const std::string& line : SplitLines(ReadWholeFile(CommonDirectory_ + "kavel.ini"), {.ZeroEndsText = false})) {
        if (ParseSettingLine("QUOR_SiteName", line, items)) {
            const std::string v = ValueOf(items, "QUOR_SiteName");
            if (!v.empty()) SiteName_ = v;
        }
        if (ParseSettingLine("QUOR_Port", line, items)) {
            const std::string v = ValueOf(items, "QUOR_Port");
            if (!v.empty()) HttpPort_ = PortOf("QUOR_Port", v, DefaultHttpPort);
        }
        if (ParseSettingLine("UDPMessage", line, items)) {
            const std::string v = ValueOf(items, "Port");
            if (!v.empty()) UdpPort_ = PortOf("UDPMessage,Port", v, DefaultUdpPort);
        }
        if (ParseSettingLine("QUOR_Interval", line, items)) {
            const std::string v = ValueOf(items, "ReloadAllFile");
            if (!v.empty()) ReloadInterval_ = ParseInt32(v).value_or(1);
        }
        if (ParseSettingLine("QUOR_Watch", line, items)) {
            const std::string mode = ValueOf(items, "Mode");
            if (SameText(mode, "off")) WatchMode_ = TWatchMode::Off;
            if (SameText(mode, "poll")) WatchMode_ = TWatchMode::Poll;
            if (SameText(mode, "notify")) WatchMode_ = TWatchMode::Notify;
            if (SameText(mode, "auto")) WatchMode_ = TWatchMode::Auto;
            const std::string ms = ValueOf(items, "PollMs");
            if (!ms.empty()) WatchPollMs_ = std::max(100, ParseInt32(ms).value_or(2000));
        }
        if (ParseSettingLine("CustomIcon", line, items)) {
            std::string name = ValueOf(items, "Name");
            std::string yellow = ValueOf(items, "YellowIcon");
            std::string red = ValueOf(items, "RedIcon");
            if (!name.empty() && !yellow.empty() && !red.empty())
                CustomIcons_.emplace_back(std::move(name), std::move(yellow), std::move(red));
        }
        if (ParseSettingLine("TimeTable", line, items)) {
            std::string v = ValueOf(items, "TimeTable");
            if (!v.empty()) TimeTable_.push_back(std::move(v));
        }
    }
}

void TKavelEnv::BuildStatuses() {
    Statuses_->Clear();
    for (size_t i = 0; i < CustomIcons_.size(); ++i) {
        const TCustomIcon& icon = CustomIcons_[i];
        const std::string n = std::to_string(i);
        Statuses_->AddIconFiles(icon.Name, n + "y.jpg", CommonDirectory_ + icon.YellowIcon, n + "r.jpg",
                                CommonDirectory_ + icon.RedIcon);
    }
}

bool TKavelEnv::RescanDue(TDateTime loadTime) const {
    if (ReloadInterval_ <= 0) return true;
    return Clock_.Now() > loadTime + ReloadInterval_ / MinutesPerDay;
}

bool TKavelEnv::RescanIfDue() {
    bool idle = false;
    if (!Reloading_.compare_exchange_strong(idle, true, std::memory_order_acquire, std::memory_order_relaxed))
        return false;
    Reloading_.store(false, std::memory_order_release);
    GetPersons();
    return !ReloadPending_.load();
}

TKavelEnv::TPersonsPtr TKavelEnv::GetPersons() {
    bool idle = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ForcedScanWaitMs);
    // Every rescan asked for before this call (a write of ours, a change seen
    // on the share) must be in the list it answers with.
    const std::uint64_t asked = AskedScans_.load();
    while (!Reloading_.compare_exchange_strong(idle, true, std::memory_order_acquire, std::memory_order_relaxed)) {
        // A caller during a scan gets the current list at once, unless that
        // list predates a rescan asked for: then it waits (bounded) for the
        // scan under way, which may have listed the files before the write.
        if (CoveredScans_.load() >= asked || std::chrono::steady_clock::now() >= until)
            return std::atomic_load(&Persons_);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        idle = false;
    }
    TReloadingGuard guard(Reloading_);
    TPersonsPtr current = std::atomic_load(&Persons_);
    const bool lost = ShareLostSince_.load() != 0;
    const bool probe = ProbeDue();
    if (lost && !probe) return current;
    // What was asked for up to here, the listing below sees.
    const std::uint64_t covers = AskedScans_.load();
    const bool forced = ReloadPending_.exchange(false);
    if (!lost && !forced && !RescanDue(current->LoadTime())) {
        if (probe && !ShareReadable()) MarkShare(false, CommonDirectory_ + "kavel.ini" + "が見つかりません");
        return current;
    }
    TDirChanges changes;
    {
        std::lock_guard hold(PendingLock_);
        changes = std::exchange(Pending_, TDirChanges{.All = false});
    }
    // Named changes are trusted for one interval: then every file is looked
    // at again, whatever the detector missed.
    if (lost || !forced || RescanDue(ListedAt_.load())) changes.All = true;
    // A directory that vanishes lists as empty: only a scan of a share that
    // is still readable afterwards may replace the list.
    auto fresh = std::make_shared<TKavelPersonsList>();
    std::string failure;
    std::vector<std::string> changed;
    const auto scanStart = std::chrono::steady_clock::now();
    try {
        LoadPersons(*fresh, &changed, changes);
        Rescans_.fetch_add(1);
        RescanMicros_.fetch_add(static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - scanStart)
                .count()));
    } catch (const EFileError& e) {
        failure = e.what();  // the directory itself could not be listed
    } catch (const std::exception&) {
        if (ShareReadable()) {
            if (forced) ReloadPending_.store(true);
            throw;
        }
    }
    if (failure.empty() && !ShareReadable()) failure = CommonDirectory_ + "kavel.ini" + "が見つかりません";
    if (!failure.empty()) {
        {
            // What the failed scan took in was never shown: read it all again.
            std::lock_guard hold(KnownLock_);
            ForgetScans();
        }
        if (forced) ReloadPending_.store(true);
        MarkShare(false, failure);
        return current;
    }
    std::atomic_store(&Persons_, fresh);
    CoveredScans_.store(covers);
    SparePersons_ = current;
    MarkShare(true, std::string());
    if (OnRescanned_ && !changed.empty()) OnRescanned_(*current, *fresh, changed);
    return fresh;
}

bool TKavelEnv::ProbeDue() {
    const long long now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    if (now - LastProbeMs_ < ShareProbeMs_) return false;
    LastProbeMs_ = now;
    return true;
}

bool TKavelEnv::ShareReadable() const { return FileExists(CommonDirectory_ + "kavel.ini"); }

void TKavelEnv::MarkShare(bool readable, const std::string& detail) {
    const bool wasLost = ShareLostSince_.load() != 0;
    if (readable == !wasLost) return;
    ShareLostSince_.store(readable ? 0 : Clock_.Now());
    if (OnShareChanged_) OnShareChanged_(readable, detail);
}

void TKavelEnv::ExpectOwnWrite(const std::string& key, const std::string& text) {
    std::lock_guard hold(OwnWritesLock_);
    // Only the latest few matter: one that never shows up must not pile up.
    if (OwnWrites_.size() >= 64) OwnWrites_.erase(OwnWrites_.begin());
    OwnWrites_.emplace_back(key, text);
}

bool TKavelEnv::TakeOwnWrite(const std::string& key, const std::string& text) {
    std::lock_guard hold(OwnWritesLock_);
    for (auto w = OwnWrites_.rbegin(); w != OwnWrites_.rend(); ++w)
        if (w->first == key && w->second == text) {
            OwnWrites_.erase(std::next(w).base());
            return true;
        }
    return false;
}

void TKavelEnv::ForceReload() { ForceReload(TDirChanges{}); }

void TKavelEnv::ForceReload(const TDirChanges& changes) {
    {
        // Before the count: a scan that sees the count takes the names.
        std::lock_guard hold(PendingLock_);
        if (!changes.All) Pending_.Names.insert(Pending_.Names.end(), changes.Names.begin(), changes.Names.end());
        if (changes.All || Pending_.Names.size() > MaxPendingNames) {
            Pending_.All = true;
            Pending_.Names.clear();
        }
    }
    AskedScans_.fetch_add(1);
    ReloadPending_.store(true);
    std::atomic_load(&Persons_)->SetLoadTime(0);
}

TDateTime TKavelEnv::NextLoadTime() {
    const TDateTime now = Clock_.Now();
    TDateTime last = LastLoadTime_.load();
    TDateTime next;
    do next = now > last ? now : std::nextafter(last, std::numeric_limits<TDateTime>::infinity());
    while (!LastLoadTime_.compare_exchange_weak(last, next));
    return next;
}

// One scan's findings: the records taken out of the list and put in, the
// keys that differ, the files read.
struct TKavelEnv::TScan {
    std::chrono::steady_clock::time_point Started;
    std::vector<std::string>* ChangedKeys;
    std::vector<const TKavelPerson*> Gone{};
    std::vector<TKavelPersonsList::TPersonPtr> Added{};
    long long Read = 0;

    void Changed(const TKavelPerson& person) {
        if (ChangedKeys) ChangedKeys->push_back(person.FileName());
    }
};

int TKavelEnv::LoadPersons(TKavelPersonsList& list, std::vector<std::string>* changedKeys, const TDirChanges& changes) {
    TScan scan{.Started = std::chrono::steady_clock::now(), .ChangedKeys = changedKeys};
    // Stamped before the look: a file changed after it is older than the list.
    const TDateTime loadTime = NextLoadTime();
    list.SetLoadTime(loadTime);
    std::lock_guard hold(KnownLock_);
    const bool listing = changes.All || !Listed_;
    try {
        if (listing) {
            ScanListing(scan);
            ListedAt_.store(loadTime);
        } else {
            ScanNamed(changes.Names, scan);
        }
        Scanned_.Replace(scan.Gone, std::move(scan.Added));
    } catch (...) {
        ForgetScans();
        throw;
    }
    FilesRead_.fetch_add(scan.Read);
    list.ShareFrom(Scanned_);
    // Our writes that a crash cut off leave their temporary files behind.
    const long long nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    if (listing || nowMs - LastSweepMs_ >= TempSweepMs) {
        LastSweepMs_ = nowMs;
        RemoveStaleTempFiles(CommonDirectory_, StaleTempSeconds);
    }
    return list.Count();
}

bool TKavelEnv::HasMarker(std::string_view kvlName) const {
    std::string marker(WithoutFileExt(kvlName));
    marker += ".off";
    return Markers_.count(marker) > 0;
}

void TKavelEnv::ScanListing(TScan& scan) {
    const std::vector<TStampedName> files = ListStampedFiles(CommonDirectory_, {".kvl", ".off"});
    Listings_.fetch_add(1);
    ++Listing_;
    Markers_.clear();
    for (const TStampedName& file : files)
        if (EndsWithText(file.Name, ".off")) Markers_.insert(Markers_.end(), file.Name);
    Skipped_.clear();
    for (const TStampedName& file : files)
        if (EndsWithText(file.Name, ".kvl")) UpdateFile(file.Name, &file.Stamp, scan);
    for (auto known = Known_.begin(); known != Known_.end();) {
        if (known->second.Listing == Listing_) {
            ++known;
            continue;
        }
        scan.Gone.push_back(known->second.Person.get());
        scan.Changed(*known->second.Person);
        known = Known_.erase(known);
    }
    Listed_ = true;
}

void TKavelEnv::ScanNamed(const std::vector<std::string>& names, TScan& scan) {
    // The person files to look at: those named, those a named marker
    // belongs to, and those that could not be read last time.
    std::set<std::string> persons(Skipped_);
    for (const std::string& name : names) {
        if (EndsWithText(name, ".kvl")) {
            persons.insert(name);
        } else if (EndsWithText(name, ".off")) {
            TFileStamp stamp;
            if (StampFile(CommonDirectory_ + name, stamp))
                Markers_.insert(name);
            else
                Markers_.erase(name);
            // Its person file, however the case of its extension.
            const std::string base(WithoutFileExt(name));
            for (int variant = 0; variant < 8; ++variant) {
                std::string kvl = base + ".kvl";
                for (int letter = 0; letter < 3; ++letter)
                    if (variant & (1 << letter)) kvl[base.size() + 1 + letter] -= 'a' - 'A';
                if (Known_.count(kvl)) persons.insert(std::move(kvl));
            }
        }
    }
    for (const std::string& name : persons) {
        TFileStamp stamp;
        const bool there = StampFile(CommonDirectory_ + name, stamp);
        UpdateFile(name, there ? &stamp : nullptr, scan);
    }
}

// Brings the record of person file name up to its stamp (nullptr: the file
// is gone) and its marker.
void TKavelEnv::UpdateFile(const std::string& name, const TFileStamp* stamp, TScan& scan) {
    auto known = Known_.find(name);
    const TKavelPerson* old = known != Known_.end() ? known->second.Person.get() : nullptr;
    auto forget = [&] {
        if (!old) return;
        scan.Gone.push_back(old);
        scan.Changed(*old);
        Known_.erase(known);
    };
    if (!stamp) {
        forget();
        Skipped_.erase(name);
        return;
    }
    const bool off = HasMarker(name);
    if (old && known->second.Stamp == *stamp) {
        known->second.Listing = Listing_;
        if (old->PowerOFF == off) return;
        auto person = std::make_shared<TKavelPerson>(*old);
        person->PowerOFF = off;
        scan.Gone.push_back(old);
        scan.Changed(*old);
        scan.Added.push_back(person);
        known->second.Person = std::move(person);
        return;
    }
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - scan.Started);
    const int wait = std::max(0, ScanLockGraceMs - static_cast<int>(spent.count()));
    std::shared_ptr<TKavelPerson> person;
    try {
        person = std::make_shared<TKavelPerson>(CommonDirectory_ + name, wait);
    } catch (const std::exception&) {
        // Held, unreadable or gone since the look: left out until it can be read.
        forget();
        Skipped_.insert(name);
        return;
    }
    ++scan.Read;
    Skipped_.erase(name);
    person->PowerOFF = off;
    if (old && old->PowerOFF == off && old->PersonFileText() == person->PersonFileText()) {
        known->second.Stamp = *stamp;
        known->second.Listing = Listing_;
        return;
    }
    if (old) scan.Gone.push_back(old);
    scan.Changed(*person);
    scan.Added.push_back(person);
    Known_[name] = TKnownFile{*stamp, std::move(person), Listing_};
}

void TKavelEnv::ForgetScans() {
    Known_.clear();
    Markers_.clear();
    Skipped_.clear();
    Scanned_.Clear();
    Listed_ = false;
}
