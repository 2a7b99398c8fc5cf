#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "data/kavel_env.h"
#include "platform/clock.h"

class TKavelPerson;
class TKavelPersonsList;

// history.jsonl: one UTF-8 JSON line per change of a person's absence
// fields (return date, time, mark, reason: before and after) and per message
// stored (sender and length, never the text), each with its source: "web"
// (a classic page), "api", each with the peer's address, or "client" (a
// file change the server did not make, found by a rescan). Each line is one
// append: a crash leaves whole lines only, and the log's rotation may move
// the file away at any time (the next record starts a new file).
class TChangeHistory {
public:
    TChangeHistory(std::string path, const TClock& clock) : Path_(std::move(path)), Clock_(clock) {}

    // The environment's reports of our own writes.
    void OnStored(const TKavelEnv::TStoredChange& change);
    // A rescan's changes: those whose absence fields moved, unless the
    // environment knows the new file as one of our own writes.
    void OnRescanned(TKavelEnv& env, const TKavelPersonsList& before, const TKavelPersonsList& after,
                     const std::vector<std::string>& keys);

    // The last n records of the person (key in Shift-JIS), oldest first; with
    // fewer in the file, the rest from the one the rotation left (.1).
    std::vector<std::string> Last(const std::string& key, size_t n) const;

    const std::string& Path() const { return Path_; }
    std::uint64_t Failures() const { return Failures_; }

private:
    void AppendAbsence(const TKavelPerson& before, const TKavelPerson& after, const std::string& source,
                       const std::string& peer);
    void Append(const std::string& line);

    const std::string Path_;
    const TClock& Clock_;
    mutable std::mutex M_;
    std::uint64_t Failures_ = 0;
    bool MaybeTorn_ = false;  // the last append failed, maybe halfway
};

// Whether two records differ in what the history follows.
bool AbsenceDiffers(const TKavelPerson& a, const TKavelPerson& b);
