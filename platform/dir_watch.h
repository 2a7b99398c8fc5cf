#pragma once

// Change detection on one directory: the kernel's notices where they can be
// trusted, a look at every file's stamp elsewhere. Either way the owner is
// told the names that changed when they are known, so that it need not look
// at the others.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What a poll compares of a file: never its content.
struct TFileStamp {
    std::int64_t MtimeNs = 0;
    std::int64_t ChangeNs = 0;  // POSIX: the inode's change time (a chmod, a link); 0 on Windows
    std::int64_t Size = -1;
    std::uint64_t Identity = 0;  // inode and device; the creation time on Windows
    bool operator==(const TFileStamp&) const = default;
};

struct TStampedName {
    std::string Name;  // without directory
    TFileStamp Stamp;
    bool operator==(const TStampedName&) const = default;
};

// What changed in a directory: exactly the files named, or, when that is
// not known (a first look, notices lost or overflowed), anything.
struct TDirChanges {
    bool All = true;
    std::vector<std::string> Names{};  // without directory; only when !All
};

// The stamp of the regular file at path, as ListStampedFiles gives it; false
// when there is none (missing, a directory, not to be looked at).
bool StampFile(const std::string& path, TFileStamp& stamp);

// The regular files of directory whose extension is one of extensions (ASCII
// case ignored, each with its dot), with their stamps, sorted by name. One
// directory pass and a stat per matching name, no file opened. A missing
// directory gives an empty list; one that cannot be read raises EFOpenError.
std::vector<TStampedName> ListStampedFiles(const std::string& directory, const std::vector<std::string>& extensions);

enum class TWatchMode {
    Auto,    // notices on a local file system, the poll on a network one
    Notify,  // notices wherever the system offers them
    Poll,
    Off,
};

// Calls onChange on a thread of its own, soon after a file of the given
// extensions in directory is created, written, renamed or removed, with the
// names of those files (both names of a rename). A burst of changes may be
// told once. onChange must not destroy the watcher.
class TDirectoryWatcher {
public:
    using TOnChange = std::function<void(const TDirChanges& changes)>;

    TDirectoryWatcher(std::string directory, std::vector<std::string> extensions, TWatchMode mode, int pollMs,
                      TOnChange onChange);
    ~TDirectoryWatcher();
    TDirectoryWatcher(const TDirectoryWatcher&) = delete;
    TDirectoryWatcher& operator=(const TDirectoryWatcher&) = delete;

    // True when kernel notices are in use, false for the poll (or Off).
    bool Notifying() const { return Notifying_.load(); }

private:
    void RunPoll();
    // Platform part: the notice loop; false when notices cannot be used here.
    bool RunNotify(bool localOnly);
    // Platform part: ends a notice wait; under M_.
    void WakeNotice();
    bool Stopping() const { return Stop_.load(); }

    const std::string Directory_;
    const std::vector<std::string> Extensions_;
    const int PollMs_;
    const TOnChange OnChange_;
    std::atomic<bool> Stop_{false};
    std::atomic<bool> Notifying_{false};
    std::mutex M_;
    std::condition_variable Wake_;
    int StopHandle_ = -1;  // the notice loop's stop signal; under M_
    std::thread Thread_;
};
