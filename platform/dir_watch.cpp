#include "platform/dir_watch.h"

#include <exception>

namespace {

// The names whose stamps differ between two listings sorted by name, those
// in one only included.
std::vector<std::string> ChangedNames(const std::vector<TStampedName>& before, const std::vector<TStampedName>& after) {
    std::vector<std::string> names;
    auto b = before.begin(), a = after.begin();
    while (b != before.end() || a != after.end()) {
        if (a == after.end() || (b != before.end() && b->Name < a->Name)) {
            names.push_back((b++)->Name);
        } else if (b == before.end() || a->Name < b->Name) {
            names.push_back((a++)->Name);
        } else {
            if (!(b->Stamp == a->Stamp)) names.push_back(a->Name);
            ++a, ++b;
        }
    }
    return names;
}

}  // namespace

TDirectoryWatcher::TDirectoryWatcher(std::string directory, std::vector<std::string> extensions, TWatchMode mode,
                                     int pollMs, TOnChange onChange)
    : Directory_(std::move(directory)),
      Extensions_(std::move(extensions)),
      PollMs_(pollMs > 0 ? pollMs : 2000),
      OnChange_(std::move(onChange)) {
    if (mode == TWatchMode::Off) return;
    Thread_ = std::thread([this, mode] {
        if (mode != TWatchMode::Poll && RunNotify(mode == TWatchMode::Auto)) return;
        Notifying_.store(false);
        RunPoll();
    });
}

TDirectoryWatcher::~TDirectoryWatcher() {
    {
        std::lock_guard l(M_);
        Stop_.store(true);
        WakeNotice();
    }
    Wake_.notify_all();
    if (Thread_.joinable()) Thread_.join();
}

void TDirectoryWatcher::RunPoll() {
    // A listing that fails (the share gone) is a state of its own: its end
    // is a change too.
    auto look = [this](bool& failed) {
        try {
            failed = false;
            return ListStampedFiles(Directory_, Extensions_);
        } catch (const std::exception&) {
            failed = true;
            return std::vector<TStampedName>();
        }
    };
    bool failed = false;
    std::vector<TStampedName> seen = look(failed);
    // What changed before this first look is in it, unseen: one rescan now.
    OnChange_(TDirChanges{});
    std::unique_lock l(M_);
    while (!Stopping()) {
        Wake_.wait_for(l, std::chrono::milliseconds(PollMs_), [this] { return Stopping(); });
        if (Stopping()) break;
        l.unlock();
        bool nowFailed = false;
        std::vector<TStampedName> now = look(nowFailed);
        if (nowFailed != failed)
            OnChange_(TDirChanges{});
        else if (std::vector<std::string> names = ChangedNames(seen, now); !names.empty())
            OnChange_(TDirChanges{.All = false, .Names = std::move(names)});
        seen = std::move(now);
        failed = nowFailed;
        l.lock();
    }
}
