#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/kavel_person.h"
#include "platform/clock.h"
#include "platform/dir_watch.h"

#include "data/persons_list.h"

class TPersonStatusCollection;
class TKavelProtocol;

// One custom absence icon declared in kavel.ini; icon files are relative to
// the common directory.
class TCustomIcon {
public:
    TCustomIcon(std::string name, std::string yellowIcon, std::string redIcon)
        : Name(std::move(name)), YellowIcon(std::move(yellowIcon)), RedIcon(std::move(redIcon)) {}
    std::string Name;
    std::string YellowIcon;
    std::string RedIcon;
};

// The Kavel installation as the server sees it: settings of kavel.ini, the
// status marks, the UDP sender, and an always-fresh persons list shared by
// every request thread.
class TKavelEnv {
public:
    using TNotifyEvent = std::function<void(TKavelEnv& sender)>;
    using TPersonsPtr = std::shared_ptr<TKavelPersonsList>;
    // Told once when the common directory can no longer be read (reachable
    // false, detail says why) and once when it can again.
    using TShareEvent = std::function<void(bool reachable, const std::string& detail)>;

    explicit TKavelEnv(const TClock& clock = SystemClock());
    ~TKavelEnv();
    TKavelEnv(const TKavelEnv&) = delete;
    TKavelEnv& operator=(const TKavelEnv&) = delete;

    // Start-up entry: reads kavel.ini, sets the UDP port, builds the status
    // marks and scans the person files once. Raises on failure.
    void SetCommonDirectory(const std::string& directory);
    void SetOnLoaded(TNotifyEvent handler);
    void SetOnShareChanged(TShareEvent handler) { OnShareChanged_ = std::move(handler); }
    // Told after every rescan that found a difference, on the thread that
    // ran it, one rescan at a time: the list replaced, the new one, and the
    // keys of the persons added, removed or changed (power marker included).
    using TRescanEvent = std::function<void(const TKavelPersonsList& before, const TKavelPersonsList& after,
                                            const std::vector<std::string>& changedKeys)>;
    void SetOnRescanned(TRescanEvent handler) { OnRescanned_ = std::move(handler); }

    // A change the server itself stores: the classic pages ("web") and the
    // API ("api") report each one here, with the peer that asked for it.
    struct TStoredChange {
        std::string Source{};
        std::string Peer{};
        const TKavelPerson* Before = nullptr;  // absence changes: the record before and after
        const TKavelPerson* After = nullptr;
        const TKavelPerson* Receiver = nullptr;  // a message stored: to whom, from whom, how long
        std::string Sender{};
        size_t Length = 0;
    };
    using TStoredEvent = std::function<void(const TStoredChange& change)>;
    void SetOnStored(TStoredEvent handler) { OnStored_ = std::move(handler); }
    void NoteStored(const TStoredChange& change) {
        if (OnStored_) OnStored_(change);
    }
    // Person-file writes of our own, announced before they are made, so that
    // the rescan that finds them does not take them for a client's: Take is
    // true (and forgets it) when key's file was written by us with text.
    void ExpectOwnWrite(const std::string& key, const std::string& text);
    bool TakeOwnWrite(const std::string& key, const std::string& text);
    // Writes of person and message files, and those that failed.
    std::atomic<std::uint64_t> Writes{0};
    std::atomic<std::uint64_t> WriteFailures{0};
    // Rescans run and the seconds they took.
    std::uint64_t Rescans() const { return Rescans_.load(); }
    double RescanSeconds() const { return RescanMicros_.load() / 1e6; }

    // A rescan that cannot read the common directory (gone, unreadable, its
    // kavel.ini missing) keeps the last good list and marks the share lost;
    // an empty directory that is there is still an empty list. While the
    // share is lost every GetPersons may try again, at most once per
    // ShareProbeMs, so the board is back as soon as the directory is; a
    // healthy share is looked at that often too, between rescans.
    // The time the share was found lost, or 0 while it is readable.
    TDateTime ShareLostSince() const { return ShareLostSince_.load(); }
    void SetShareProbeMs(int milliseconds) { ShareProbeMs_ = milliseconds; }
    // Looks now: whether kavel.ini of the common directory can be found.
    bool ShareReadable() const;

    // The current persons list, rescanned first when older than the reload
    // interval. Never blocks on a rescan run by another thread. The caller
    // keeps the list alive for as long as it holds the pointer.
    TPersonsPtr GetPersons();
    // Makes the next GetPersons rescan, whatever the interval, also when a
    // rescan is running right now; the current list's LoadTime becomes 0.
    void ForceReload();
    // The same for changes known by name (file names in the common
    // directory): the rescan looks at those files only, and at the files
    // the last scans had to skip. Once a reload interval after the last
    // whole listing, a rescan lists every file anyway.
    void ForceReload(const TDirChanges& changes);
    // Scans the person files into list (skipping those that cannot be
    // read, or that others hold past the scan's short grace), sorted;
    // returns the number of persons. changes tells which files to look at:
    // all of them (a listing), or those named, trusted to be every change
    // since the last scan. A file whose stamp (time, size, identity) is that
    // of the last scan is not read again: its record is kept, and so is its
    // .off marker unless the marker was listed or named. changedKeys, when
    // given, gets the keys that differ from the last scan. The list's
    // LoadTime is the moment the scan started, but always later than that of
    // any earlier scan of this environment, so that a page cached from an
    // older list never passes for current, however coarse or still the clock.
    int LoadPersons(TKavelPersonsList& list, std::vector<std::string>* changedKeys = nullptr,
                    const TDirChanges& changes = TDirChanges{});
    // Change detection (kavel.ini: QUOR_Watch,Mode=auto|notify|poll|off,PollMs=2000).
    TWatchMode WatchMode() const { return WatchMode_; }
    int WatchPollMs() const { return WatchPollMs_; }
    // Rescans now if a rescan is due or forced and none is running; false
    // when one was running (the pending mark stays for the next call).
    bool RescanIfDue();
    // Person files read from disk by the scans so far (the others kept), and
    // the scans that listed the whole directory.
    long long FilesRead() const { return FilesRead_.load(); }
    long long Listings() const { return Listings_.load(); }
    void ReadSettings();
    void BuildStatuses();

    // Splits a kavel.ini line into its name=value items (values unquoted)
    // when it begins with leadingWord; false when it does not.
    struct TSettingItem {
        std::string Name;
        std::string Value;
    };
    static bool ParseSettingLine(const std::string& leadingWord, const std::string& line,
                                 std::vector<TSettingItem>& items);

    // What ReadSettings could not use, one sentence each (a port that is no
    // number, 0 or beyond 65535 falls back to the default and says so).
    const std::vector<std::string>& SettingWarnings() const { return SettingWarnings_; }
    static constexpr int DefaultHttpPort = 80;
    static constexpr int DefaultUdpPort = 1990;

    int HttpPort() const { return HttpPort_; }
    int UdpPort() const { return UdpPort_; }
    const std::string& CommonDirectory() const { return CommonDirectory_; }
    const std::string& SiteName() const { return SiteName_; }
    int ReloadInterval() const { return ReloadInterval_; }
    const std::vector<TCustomIcon>& CustomIcons() const { return CustomIcons_; }
    const std::vector<std::string>& TimeTable() const { return TimeTable_; }
    TPersonStatusCollection& Statuses() const { return *Statuses_; }
    TKavelProtocol& Protocol() const { return *Protocol_; }
    const TClock& Clock() const { return Clock_; }

private:
    bool RescanDue(TDateTime loadTime) const;
    struct TScan;
    void ScanListing(TScan& scan);
    void ScanNamed(const std::vector<std::string>& names, TScan& scan);
    void UpdateFile(const std::string& name, const TFileStamp* stamp, TScan& scan);
    bool HasMarker(std::string_view kvlName) const;
    void ForgetScans();  // under KnownLock_
    bool ProbeDue();
    void MarkShare(bool readable, const std::string& detail);
    TDateTime NextLoadTime();
    int PortOf(const std::string& name, const std::string& value, int fallback);

    const TClock& Clock_;
    TNotifyEvent OnLoaded_;
    int HttpPort_ = DefaultHttpPort;
    int UdpPort_ = DefaultUdpPort;
    std::vector<std::string> SettingWarnings_;
    std::string CommonDirectory_;
    std::string SiteName_;
    int ReloadInterval_ = 1;
    std::vector<TCustomIcon> CustomIcons_;
    std::vector<std::string> TimeTable_;
    // Each rescan fills a fresh list and publishes it here; a list taken by
    // a reader lives on, unchanged, until its last holder lets it go. Read
    // and written only through std::atomic_load / std::atomic_store: GCC
    // 12's std::atomic<std::shared_ptr> releases its lock in load() with
    // relaxed order, a race that ThreadSanitizer rightly reports.
    std::shared_ptr<TKavelPersonsList> Persons_;
    // The list the last rescan replaced, kept until the next one.
    std::shared_ptr<TKavelPersonsList> SparePersons_;
    std::atomic<bool> Reloading_{false};
    // Set by ForceReload; survives a rescan that was already running when
    // the reload was asked for. The first call always scans.
    std::atomic<bool> ReloadPending_{true};
    // Rescans asked for (ForceReload), and how many of them the published
    // list has seen: a caller waits for a scan under way while it lags.
    std::atomic<std::uint64_t> AskedScans_{0};
    std::atomic<std::uint64_t> CoveredScans_{0};
    // LoadTime of the latest scan; apart from the lists, whose LoadTime
    // ForceReload sets to 0.
    std::atomic<TDateTime> LastLoadTime_{0};
    TShareEvent OnShareChanged_;
    TRescanEvent OnRescanned_;
    TStoredEvent OnStored_;
    std::mutex OwnWritesLock_;
    std::vector<std::pair<std::string, std::string>> OwnWrites_;
    std::atomic<std::uint64_t> Rescans_{0};
    std::atomic<std::uint64_t> RescanMicros_{0};
    TWatchMode WatchMode_ = TWatchMode::Auto;
    int WatchPollMs_ = 2000;
    // Changes named since the last scan took them; under PendingLock_.
    std::mutex PendingLock_;
    TDirChanges Pending_{.All = false};
    // What the scans know, under KnownLock_: the record of each person file
    // by file name, the .off markers, the files that could not be read (a
    // named scan tries them again), and all records sorted, which the next
    // list starts from. Valid while Listed_: a whole listing, kept up to date.
    struct TKnownFile {
        TFileStamp Stamp;
        TKavelPersonsList::TPersonPtr Person;
        std::uint64_t Listing = 0;  // the last listing that saw the file
    };
    std::mutex KnownLock_;
    std::unordered_map<std::string, TKnownFile> Known_;
    std::set<std::string> Markers_;
    std::set<std::string> Skipped_;
    TKavelPersonsList Scanned_;
    bool Listed_ = false;
    std::uint64_t Listing_ = 0;
    long long LastSweepMs_ = 0;  // steady clock: our stale temporary files removed
    std::atomic<TDateTime> ListedAt_{0};
    std::atomic<long long> FilesRead_{0};
    std::atomic<long long> Listings_{0};
    std::atomic<TDateTime> ShareLostSince_{0};
    int ShareProbeMs_ = 500;
    // Steady-clock milliseconds of the last look at the share; under the
    // Reloading flag only.
    long long LastProbeMs_ = 0;
    std::unique_ptr<TPersonStatusCollection> Statuses_;
    std::unique_ptr<TKavelProtocol> Protocol_;
};
