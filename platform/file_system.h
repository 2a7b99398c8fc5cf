#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A file operation failed. The message names the path and carries the
// system's error text.
class EFileError : public std::runtime_error {
public:
    EFileError(const std::string& message, std::string path, int errorCode)
        : std::runtime_error(message), Path_(std::move(path)), ErrorCode_(errorCode) {}
    const std::string& Path() const { return Path_; }
    int ErrorCode() const { return ErrorCode_; }  // errno value, 0 if none

private:
    std::string Path_;
    int ErrorCode_;
};

// Opening or reading failed ("ファイル "path". reason は開けません").
class EFOpenError : public EFileError {
public:
    using EFileError::EFileError;
};

// Creating, writing or replacing failed ("ファイル "path". reason を作成できません").
class EInOutError : public EFileError {
public:
    using EFileError::EFileError;
};

// The errors as the functions below raise them (errno value, the system's
// reason), for callers that refuse a file operation before trying it.
[[noreturn]] void ThrowFileOpenError(const std::string& path, int err, const std::string& reason);
[[noreturn]] void ThrowFileCreateError(const std::string& path, int err, const std::string& reason);

// Whole content of a file. Writers of the same path are held off while it
// reads: our own threads by a per-path lock, other processes by a shared
// advisory lock. Raises EFOpenError.
std::string ReadWholeFile(const std::string& path);
// The same into content, whose capacity is reused: for loops over many files.
void ReadWholeFile(const std::string& path, std::string& content);
// The same for directory scans, which skip a busy file rather than stall on
// it: gives up once the file has been held by another process or by a write
// of ours for waitMs (0: tries once) instead of the foreign lock wait.
void ReadWholeFile(const std::string& path, std::string& content, int waitMs);

// The same in blocks of at most blockSize bytes handed to consume in order,
// for files too large to hold twice; writers are held off until the last.
void ReadFileBlocks(const std::string& path, const std::function<void(std::string_view block)>& consume,
                    size_t blockSize = 1u << 20);
// True when path names an existing file that is not a directory.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Names (without directory) of the regular files in directory whose
// extension equals extension (such as ".kvl") without regard to ASCII case,
// sorted by name. A missing directory gives an empty list; a directory that
// cannot be read raises EFOpenError.
std::vector<std::string> FindFilesByExtension(const std::string& directory, const std::string& extension);

// path with its extension (from the last '.' of the file name on) replaced
// by extension, or extension appended when the name has none.
std::string ChangeFileExt(const std::string& path, const std::string& extension);
// File name without directory; file name without directory and extension.
std::string ExtractFileName(const std::string& path);
std::string ExtractFileBaseName(const std::string& path);
std::string IncludeTrailingPathDelimiter(const std::string& directory);
// The same parts as views into path, for loops that must not allocate: the
// file name without directory and extension; path without the extension.
std::string_view FileBaseNameView(std::string_view path);
std::string_view WithoutFileExt(std::string_view path);

// Replaces the file's content with bytes: written to a temporary file in the
// same directory, flushed to disk and renamed over the target, so a failure
// at any point leaves the old content or the new one. A file without any
// write permission is refused, as the clients' read-only flag would be.
// Raises EInOutError.
void ReplaceFileContent(const std::string& path, const std::string& bytes);

// Builds new content from the current one under an exclusive hold on the
// path (our own threads wait in turn; other processes are held off by an
// advisory lock) and replaces the file the same crash-safe way. compose gets
// the current content, or nullptr when the file does not exist. A missing
// file is created, never overwriting one that appears meanwhile (compose then
// runs again on that file's content). compose must not use these file
// functions itself: the hold on the path is not reentrant. readBlock is the
// read size; each block read contributes its bytes up to its first zero
// byte; 0 reads the content as it is. Raises EInOutError (EFOpenError when
// the old file cannot be read).
void RewriteFileContent(const std::string& path, const std::function<std::string(const std::string* old)>& compose,
                        size_t readBlock = 0);

// Appends bytes to the file (made when missing) in one write with the
// system's append mode, so that lines appended by several writers, this
// process or others, never interleave, and a crash leaves no half line
// within the file's earlier content. Raises EInOutError.
void AppendToFile(const std::string& path, std::string_view bytes);

// True for the names of the temporary files our writes make beside their
// targets (".quor-" ... ".tmp"), whichever run made them.
bool IsOwnTempFileName(std::string_view name);
// Removes, from directory, our temporary files older than maxAgeSeconds: the
// leftovers of writes cut off by a crash. Never touches another name; a file
// that cannot be removed stays. Returns how many went.
int RemoveStaleTempFiles(const std::string& directory, int maxAgeSeconds);

// How long to wait, in milliseconds, for an advisory lock held by another
// process before the operation fails. Default 5000.
void SetForeignLockWait(int milliseconds);

// Test seam for the crash-safe writes: called before each step of a replace;
// a non-zero result makes that step fail with that errno value.
enum class TWriteStep { CreateTemp, Write, Sync, Rename };
using TWriteFaultHook = std::function<int(TWriteStep step, const std::string& path)>;
void SetWriteFaultHook(TWriteFaultHook hook);  // empty function to remove
