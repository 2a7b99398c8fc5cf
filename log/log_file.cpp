#include "log/log_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "log/log_file_internal.h"
#include "platform/sjis_text.h"

using log_file_detail::HoldAgainstWriters;
using log_file_detail::OpenForAppend;

namespace {

constexpr std::string_view InformationWord = "情報　 ";
constexpr std::string_view WarningWord = "警告　 ";
constexpr std::string_view ErrorWord = "エラー ";

}  // namespace

std::string_view LevelWord(uint32_t kind) {
    switch (kind) {
        case EventWarning:
            return WarningWord;
        case EventError:
            return ErrorWord;
        default:
            return InformationWord;
    }
}

std::string LogLine(TDateTime now, uint32_t kind, std::string_view text) {
    std::string line = FormatDateTime("yyyy/mm/dd hh:nn:ss", now);
    const std::string_view word = LevelWord(kind);
    line.reserve(line.size() + 1 + word.size() + text.size() + 2);
    line += ' ';
    line += word;
    line += text;
    line += "\r\n";
    return line;
}

std::string EscapeLogText(std::string_view text) {
    return PercentEncode(text, [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

TLogFile::~TLogFile() { Close(); }

namespace {

int OpenUsable(const std::string& path) {
    const int fd = OpenForAppend(path);
    if (fd < 0) return -1;
    struct stat info {};
    // Only something that keeps lines; a pipe or socket could block every writer.
    const bool usable = ::fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || S_ISCHR(info.st_mode));
    if (!usable || !HoldAgainstWriters(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool TLogFile::Open(const std::string& path) {
    Close();
    const int fd = OpenUsable(path);
    if (fd < 0) return false;
    std::lock_guard<std::mutex> hold(Lock_);
    Path_ = path;
    Fd_.store(fd);
    return true;
}

bool TLogFile::Reopen() {
    std::lock_guard<std::mutex> hold(Lock_);
    if (Fd_.load() < 0) return true;
    // The new file first: until it is there, lines keep going to the old one.
    const int fd = OpenUsable(Path_);
    if (fd < 0) return false;
    ::close(Fd_.exchange(fd));
    return true;
}

void TLogFile::Close() {
    std::lock_guard<std::mutex> hold(Lock_);
    const int fd = Fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

bool TLogFile::Write(std::string_view bytes) {
    std::lock_guard<std::mutex> hold(Lock_);
    const int fd = Fd_.load();
    if (fd < 0) return true;
    // Normally one call; the rest of a short write follows under the same
    // lock, so the line still lands whole.
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}
