#include "tests/soak/soak_churn.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <map>
#include <random>
#include <thread>

#include "tests/soak/office_tuning.h"

namespace {

constexpr size_t MaxFaultsKept = 20;
const std::string EntryHeader = "○";

void Fault(TChurnRecord& record, const std::string& what) {
    ++record.FaultCount;
    if (record.Faults.size() < MaxFaultsKept) record.Faults.push_back(what);
}

bool EndsWith(const std::string& name, const std::string& suffix) {
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> PersonFileNames(const std::string& office) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(office.c_str());
    if (!dir) return names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (EndsWith(name, ".kvl")) names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

}  // namespace

std::string ChurnPersonText(const TChurnPerson& person, std::uint64_t revision) {
    return PersonFileText({person.Furigana, person.Name, person.Group, "rev " + std::to_string(revision), "", "", "",
                           "090-0000-0000", person.IP, "0"});
}

void RunChurnWriter(const std::string& office, const std::vector<TChurnPerson>& churn,
                    const std::vector<std::string>& markerKeys, std::chrono::steady_clock::time_point deadline,
                    TChurnRecord& record) {
    std::mt19937 random(4242);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    std::uint64_t revision = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const size_t roll = pick(4);
        try {
            if (roll < 2) {
                const TChurnPerson& person = churn[pick(churn.size())];
                ReplaceBytes(office + person.Key + ".kvl", ChurnPersonText(person, ++revision));
                ++record.Rewrites;
            } else if (roll == 2) {
                const TChurnPerson& person = churn[pick(churn.size())];
                if (::unlink((office + person.Key + ".kvl").c_str()) == 0) ++record.Deletes;
            } else {
                const std::string marker = office + markerKeys[pick(markerKeys.size())] + ".off";
                if (::unlink(marker.c_str()) != 0) {
                    const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                    if (fd >= 0) ::close(fd);
                }
                ++record.MarkerFlips;
            }
        } catch (const std::exception& e) {
            Fault(record, std::string("writer: ") + e.what());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + static_cast<int>(pick(3))));
    }
}

void RunFileChecker(const std::string& office, const std::vector<std::string>& keptKeys,
                    const std::vector<std::string>& messageKeys, std::chrono::steady_clock::time_point deadline,
                    TChurnRecord& record) {
    std::map<std::string, size_t> lastSize;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const std::string& name : PersonFileNames(office)) {
            const std::optional<std::string> bytes = ReadBytes(office + name);
            if (!bytes) continue;  // deleted since the listing
            ++record.PersonReads;
            if (!IsWholePersonFile(*bytes))
                Fault(record, name + " read as " + std::to_string(bytes->size()) + " bytes: not a whole person file");
        }
        for (const std::string& key : keptKeys)
            if (!ReadBytes(office + key + ".kvl")) Fault(record, key + ".kvl was missing");
        for (const std::string& key : messageKeys) {
            const std::optional<std::string> bytes = ReadBytes(office + key + ".mil");
            if (!bytes) continue;
            ++record.MessageReads;
            if (bytes->compare(0, EntryHeader.size(), EntryHeader) != 0)
                Fault(record, key + ".mil does not open with an entry");
            size_t& last = lastSize[key];
            if (bytes->size() < last)
                Fault(record, key + ".mil shrank from " + std::to_string(last) + " to " +
                                  std::to_string(bytes->size()) + " bytes");
            last = bytes->size();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
