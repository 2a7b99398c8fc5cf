#include <windows.h>

#include <algorithm>

#include "platform/dir_watch.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "platform/system_windows.h"

namespace {

std::int64_t Ticks(const FILETIME& t) {
    return static_cast<std::int64_t>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
}

TFileStamp StampOf(const FILETIME& written, DWORD sizeHigh, DWORD sizeLow, const FILETIME& created) {
    TFileStamp stamp;
    stamp.MtimeNs = Ticks(written) * 100;
    stamp.Size = static_cast<std::int64_t>((std::uint64_t{sizeHigh} << 32) | sizeLow);
    stamp.Identity = static_cast<std::uint64_t>(Ticks(created));
    return stamp;
}

}  // namespace

bool StampFile(const std::string& path, TFileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    stamp = StampOf(data.ftLastWriteTime, data.nFileSizeHigh, data.nFileSizeLow, data.ftCreationTime);
    return true;
}

std::vector<TStampedName> ListStampedFiles(const std::string& directory, const std::vector<std::string>& extensions) {
    std::vector<TStampedName> files;
    const std::string pattern = IncludeTrailingPathDelimiter(directory.empty() ? "." : directory) + "*";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY ||
            error == ERROR_INVALID_NAME)
            return files;
        ThrowFileOpenError(directory, static_cast<int>(error), WindowsErrorText(error));
    }
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = found.cFileName;
        bool wanted = false;
        for (const std::string& extension : extensions) wanted = wanted || EndsWithText(name, extension);
        if (!wanted) continue;
        files.push_back(
            {name, StampOf(found.ftLastWriteTime, found.nFileSizeHigh, found.nFileSizeLow, found.ftCreationTime)});
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end(), [](const TStampedName& a, const TStampedName& b) { return a.Name < b.Name; });
    return files;
}

// Change notices on Windows do not say which file changed on a share and
// miss changes made over some redirectors: the poll serves everywhere.
void TDirectoryWatcher::WakeNotice() {}

bool TDirectoryWatcher::RunNotify(bool) { return false; }
