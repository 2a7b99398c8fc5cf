#include "platform/dir_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "platform/test_temp_dir.h"

#ifndef _WIN32
#include <sys/inotify.h>
#include <unistd.h>
#endif

namespace {

const std::vector<std::string> Extensions = {".kvl", ".off"};

// What a watcher told, in order. While held, the watcher waits in its call.
struct TReports {
    TDirectoryWatcher::TOnChange Sink() {
        return [this](const TDirChanges& changes) {
            std::unique_lock l(M);
            Told.push_back(changes);
            Cv.notify_all();
            Cv.wait(l, [this] { return !Held; });
        };
    }
    // The next report, or nullopt after 10 s.
    std::optional<TDirChanges> Next() {
        std::unique_lock l(M);
        if (!Cv.wait_for(l, std::chrono::seconds(10), [this] { return !Told.empty(); })) return std::nullopt;
        TDirChanges next = Told.front();
        Told.erase(Told.begin());
        return next;
    }
    // The names of the next reports, until they hold all of wanted.
    std::set<std::string> NamesUntil(const std::set<std::string>& wanted) {
        std::set<std::string> names;
        for (std::optional<TDirChanges> next;
             !std::includes(names.begin(), names.end(), wanted.begin(), wanted.end()) && (next = Next()) && !next->All;)
            names.insert(next->Names.begin(), next->Names.end());
        return names;
    }
    void Hold(bool hold) {
        std::lock_guard l(M);
        Held = hold;
        Cv.notify_all();
    }
    std::mutex M;
    std::condition_variable Cv;
    std::vector<TDirChanges> Told;
    bool Held = false;
};

void Append(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::app) << bytes; }

// The poll names each file whose time, size or identity changed, and no
// other, without opening any file; its stamps are those StampFile gives. A
// directory that goes (a share unmounted) lists as empty: its files are
// told as gone, and as back when it returns.
TEST(DirWatchPoll, NamesEveryChangedStampAndOpensNoFile) {
    TTestTempDir dir;
    for (const char* name : {"a.kvl", "b.kvl", "c.KVL", "c.off", "note.txt"}) dir.Write(name, "x");
    std::filesystem::create_directory(dir.File("sub.kvl"));
    for (const TStampedName& f : ListStampedFiles(dir.Dir(), Extensions)) {
        TFileStamp stamp;
        EXPECT_TRUE(StampFile(dir.File(f.Name), stamp) && stamp == f.Stamp) << f.Name;
    }
    TFileStamp none;
    EXPECT_FALSE(StampFile(dir.File("sub.kvl"), none) || StampFile(dir.File("gone.kvl"), none));
#ifndef _WIN32
    const int opens = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(opens, 0);
    ASSERT_GE(::inotify_add_watch(opens, dir.Dir().c_str(), IN_OPEN), 0);
#endif
    TReports reports;
    TDirectoryWatcher watcher(dir.Dir(), Extensions, TWatchMode::Poll, 20, reports.Sink());
    ASSERT_TRUE(reports.Next().value_or(TDirChanges{.All = false}).All) << "the first look tells all";
    EXPECT_FALSE(watcher.Notifying());

    std::filesystem::last_write_time(dir.File("a.kvl"),
                                     std::filesystem::last_write_time(dir.File("a.kvl")) - std::chrono::hours(1));
    EXPECT_EQ(std::set<std::string>{"a.kvl"}, reports.NamesUntil({"a.kvl"}));
    Append(dir.File("b.kvl"), "y");
    EXPECT_EQ(std::set<std::string>{"b.kvl"}, reports.NamesUntil({"b.kvl"}));
#ifndef _WIN32
    // Same size and time, another file (Windows may hand a file that takes
    // a recent name the old one's creation time, its identity there).
    const auto time = std::filesystem::last_write_time(dir.File("c.KVL"));
    dir.Write("c.new", "z");
    std::filesystem::last_write_time(dir.File("c.new"), time);
    std::filesystem::rename(dir.File("c.new"), dir.File("c.KVL"));
    EXPECT_EQ(std::set<std::string>{"c.KVL"}, reports.NamesUntil({"c.KVL"}));
#endif
    std::filesystem::remove(dir.File("c.off"));
    dir.Write("note.txt", "ignored");
    dir.Write("d.kvl", "new");
    EXPECT_EQ((std::set<std::string>{"c.off", "d.kvl"}), reports.NamesUntil({"c.off", "d.kvl"}));
#ifndef _WIN32
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(opens, buffer, sizeof buffer)) > 0;)
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            // The test's own writes open files too; the watcher opens none
            // of those it only looks at.
            EXPECT_FALSE(e->len > 0 && std::string(e->name) == "a.kvl") << "opened";
        }
    ::close(opens);
#endif
    std::error_code busy;  // Windows refuses while the poll looks
    for (int i = 0; i < 100 && std::filesystem::exists(dir.Dir()); ++i) std::filesystem::remove_all(dir.Dir(), busy);
    const std::set<std::string> all = {"a.kvl", "b.kvl", "c.KVL", "d.kvl"};
    EXPECT_EQ(all, reports.NamesUntil(all));
    std::filesystem::create_directory(dir.Dir());
    dir.Write("a.kvl", "x");
    EXPECT_EQ(std::set<std::string>{"a.kvl"}, reports.NamesUntil({"a.kvl"}));
}

#ifndef _WIN32
// Notices name both files of a rename; notices lost to a full queue leave
// the names unknown, so all is told.
TEST(DirWatchNotify, NamesBothSidesOfARenameAndAnOverflowTellsAll) {
    TTestTempDir dir;
    dir.Write("a.kvl", "x");
    TReports reports;
    TDirectoryWatcher watcher(dir.Dir(), Extensions, TWatchMode::Notify, 20, reports.Sink());
    ASSERT_TRUE(reports.Next().has_value());
    if (!watcher.Notifying()) GTEST_SKIP() << "no notices here";
    std::filesystem::rename(dir.File("a.kvl"), dir.File("b.kvl"));
    dir.Write("a.tmp", "y");
    std::filesystem::rename(dir.File("a.tmp"), dir.File("c.off"));
    EXPECT_EQ((std::set<std::string>{"a.kvl", "b.kvl", "c.off"}), reports.NamesUntil({"a.kvl", "b.kvl", "c.off"}));

    long long queue = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queue;
    if (queue <= 0 || queue > 100000) GTEST_SKIP() << "queue of " << queue << " events";
    // While the watcher is busy telling, more changes than the queue holds;
    // two files in turn, so that no notice merges with the one before it.
    reports.Hold(true);
    dir.Write("b.kvl", "z");
    ASSERT_TRUE(reports.Next().has_value());
    for (long long i = 0; i < queue; ++i) Append(dir.File(i % 2 ? "b.kvl" : "c.off"), "z");
    reports.Hold(false);
    bool all = false;
    for (std::optional<TDirChanges> next; !all && (next = reports.Next());) all = next->All;
    EXPECT_TRUE(all);
}
#endif

}  // namespace
