#include "api/change_history.h"

#include <deque>
#include <nlohmann/json.hpp>

#include "data/kavel_person.h"
#include "data/persons_list.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"

namespace {

// The history is ours to read back: a byte with no UTF-8 form is kept
// visible as U+FFFD rather than losing the record.
std::string Text(const std::string& cp932) { return Cp932ToUtf8(cp932, TBadBytes::Replace); }

nlohmann::json AbsenceOf(const TKavelPerson& p) {
    return {{"date", Text(p.ModoriDate)},
            {"time", Text(p.ModoriTime)},
            {"mark", p.StatusIcon},
            {"reason", Text(std::string(ReasonBetweenQuotes(p.Huzairiyu)))}};
}

}  // namespace

bool AbsenceDiffers(const TKavelPerson& a, const TKavelPerson& b) {
    return a.ModoriDate != b.ModoriDate || a.ModoriTime != b.ModoriTime || a.StatusIcon != b.StatusIcon ||
           ReasonBetweenQuotes(a.Huzairiyu) != ReasonBetweenQuotes(b.Huzairiyu);
}

// The file is opened by name for each record: once the log's rotation has
// moved it away, the next record starts a new one, with no signal needed.
void TChangeHistory::Append(const std::string& line) {
    std::lock_guard l(M_);
    try {
        // After a failure (a full disk, say) part of a line may be there:
        // this record must not end it.
        AppendToFile(Path_, (MaybeTorn_ ? "\n" : "") + line + "\n");
        MaybeTorn_ = false;
    } catch (const std::exception&) {
        ++Failures_;  // the change itself stands; only its record is lost
        MaybeTorn_ = true;
    }
}

void TChangeHistory::AppendAbsence(const TKavelPerson& before, const TKavelPerson& after, const std::string& source,
                                   const std::string& peer) {
    nlohmann::json record = {{"time", FormatDateTime("yyyy\"-\"mm\"-\"dd\"T\"hh\":\"nn\":\"ss", Clock_.Now())},
                             {"key", Text(after.FileName())},
                             {"kind", "absence"},
                             {"source", source},
                             {"before", AbsenceOf(before)},
                             {"after", AbsenceOf(after)}};
    if (!peer.empty()) record["peer"] = peer;
    Append(record.dump());
}

void TChangeHistory::OnStored(const TKavelEnv::TStoredChange& change) {
    if (change.Before && change.After) {
        if (AbsenceDiffers(*change.Before, *change.After))
            AppendAbsence(*change.Before, *change.After, change.Source, change.Peer);
        return;
    }
    if (!change.Receiver) return;
    nlohmann::json record = {{"time", FormatDateTime("yyyy\"-\"mm\"-\"dd\"T\"hh\":\"nn\":\"ss", Clock_.Now())},
                             {"key", Text(change.Receiver->FileName())},
                             {"kind", "message"},
                             {"source", change.Source},
                             {"sender", Text(change.Sender)},
                             {"length", change.Length}};
    if (!change.Peer.empty()) record["peer"] = change.Peer;
    Append(record.dump());
}

void TChangeHistory::OnRescanned(TKavelEnv& env, const TKavelPersonsList& before, const TKavelPersonsList& after,
                                 const std::vector<std::string>& keys) {
    for (const std::string& key : keys) {
        const TKavelPerson* was = before.FindPerson(key);
        const TKavelPerson* now = after.FindPerson(key);
        if (!was || !now) continue;  // a person file added or removed
        if (env.TakeOwnWrite(key, now->PersonFileText())) continue;
        if (AbsenceDiffers(*was, *now)) AppendAbsence(*was, *now, "client", std::string());
    }
}

std::vector<std::string> TChangeHistory::Last(const std::string& key, size_t n) const {
    const std::string wanted = "\"key\":" + nlohmann::json(Text(key)).dump() + ",";
    // The person's last n records of one file, oldest first; a line cut
    // short (a crash, a full disk) is passed over.
    auto scan = [&](const std::string& path, size_t n) {
        std::deque<std::string> found;
        std::string pending;
        auto take = [&](std::string_view line) {
            if (line.find(wanted) == std::string_view::npos || !nlohmann::json::accept(line)) return;
            found.emplace_back(line);
            if (found.size() > n) found.pop_front();
        };
        if (!FileExists(path)) return found;
        ReadFileBlocks(path, [&](std::string_view block) {
            pending.append(block);
            size_t start = 0;
            for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
                take(std::string_view(pending).substr(start, end - start));
            pending.erase(0, start);
        });
        return found;
    };
    std::lock_guard l(M_);
    std::deque<std::string> found = scan(Path_, n);
    // Right after a rotation the rest is in the file it moved to.
    if (found.size() < n) {
        std::deque<std::string> older = scan(Path_ + ".1", n - found.size());
        found.insert(found.begin(), older.begin(), older.end());
    }
    return {found.begin(), found.end()};
}
