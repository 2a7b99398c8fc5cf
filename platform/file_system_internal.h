#pragma once

// Shared between the portable file code and its per-OS implementation.

#include <functional>
#include <memory>
#include <string>

#include "platform/file_system.h"

namespace file_system_detail {

// Holds the in-process lock of one path (shared for readers, exclusive for
// writers) for its lifetime. Paths are keyed as spelled; a thread must not
// hold two guards at once.
class TPathGuard {
public:
    TPathGuard(const std::string& path, bool exclusive);
    // A shared hold that waits at most waitMs for a writer of ours; Held()
    // tells whether it was had.
    struct TSharedFor {
        int WaitMs;
    };
    TPathGuard(const std::string& path, TSharedFor wait);
    ~TPathGuard();
    TPathGuard(const TPathGuard&) = delete;
    TPathGuard& operator=(const TPathGuard&) = delete;

    bool Held() const { return Entry_ != nullptr; }

    struct TEntry;

private:
    TEntry* Entry_;
    bool Exclusive_;
};

// Where the file name starts in path: after the last '/', and on Windows also
// after the last '\\' or drive colon that is not part of a two-byte character.
size_t NameStart(std::string_view path);

// A fresh name for a temporary file beside the files of directory (which
// ends in its delimiter): random, so that no run, this one or an earlier one
// under the same process id, can reach a name still lying about; recognised
// by IsOwnTempFileName.
std::string TempFilePath(const std::string& directory);
// Tries for a fresh temporary name before a write gives up.
constexpr int TempNameTries = 8;

// errno value the test hook asks for at this step, 0 to go on.
int WriteFault(TWriteStep step, const std::string& path);
int ForeignLockWaitMs();

// Writes one chunk: puts up to size bytes, telling how many, and returns 0
// or the errno value of its failure.
using TChunkWriter = std::function<int(const char* data, size_t size, size_t& put)>;
// Writes bytes through write chunk by chunk, asking the test hook before
// each. Returns 0 or the errno value of the failure.
int WriteChunks(const std::string& path, std::string_view bytes, const TChunkWriter& write);

// The read under a shared hold already taken against our own writers; waits
// at most waitMs for other processes' writers.
void ReadSharedLocked(const std::string& path, std::string& content, int waitMs);
// The same, handing the content on in blocks.
void ReadSharedLockedBlocks(const std::string& path, const std::function<void(std::string_view)>& consume,
                            size_t blockSize, int waitMs);
// The open error of a file one of our own writers holds.
[[noreturn]] void ThrowHeldByUs(const std::string& path);

}  // namespace file_system_detail
