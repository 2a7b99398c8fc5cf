#pragma once

// The clients' side of the shared directory during the soak: a writer that
// rewrites and deletes person files and flips ".off" markers, and a reader
// that checks every person file and message file it finds is whole.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>  // the clocks; <chrono> itself does not compile for CP932
#include <vector>

struct TChurnPerson {
    std::string Key;  // file name without ".kvl"
    std::string Furigana;
    std::string Name;
    std::string Group;
    std::string IP;
};

// The person file the writer keeps for person, with a memo that changes with revision.
std::string ChurnPersonText(const TChurnPerson& person, std::uint64_t revision);

struct TChurnRecord {
    std::uint64_t Rewrites = 0;
    std::uint64_t Deletes = 0;
    std::uint64_t MarkerFlips = 0;
    std::uint64_t PersonReads = 0;
    std::uint64_t MessageReads = 0;
    std::uint64_t FaultCount = 0;
    std::vector<std::string> Faults;  // the first few
};

// Until deadline: every couple of milliseconds one change to the directory
// (office ends with '/'): a churn person rewritten (atomically, as a careful
// client does), a churn person deleted, or the ".off" marker of one of
// markerKeys created or removed.
void RunChurnWriter(const std::string& office, const std::vector<TChurnPerson>& churn,
                    const std::vector<std::string>& markerKeys, std::chrono::steady_clock::time_point deadline,
                    TChurnRecord& record);

// Until deadline: reads every "*.kvl" of the directory, each must be a whole
// person file; the files of keptKeys must always be there; each of the
// ".mil" files of messageKeys, when present, must open with an entry header
// and never shrink.
void RunFileChecker(const std::string& office, const std::vector<std::string>& keptKeys,
                    const std::vector<std::string>& messageKeys, std::chrono::steady_clock::time_point deadline,
                    TChurnRecord& record);
