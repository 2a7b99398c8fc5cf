#include "tests/soak/office_tuning.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void SetKavelIniLine(const TServerFiles& files, const std::string& leadingWord, const std::string& line) {
    const std::string path = files.Office() + "kavel.ini";
    const std::optional<std::string> old = ReadBytes(path);
    if (!old) throw std::runtime_error("no kavel.ini in " + files.Office());
    std::string out;
    bool replaced = false;
    for (const std::string& l : CrLfLines(*old)) {
        if (!replaced && l.rfind(leadingWord, 0) == 0) {
            out += line + "\r\n";
            replaced = true;
        } else {
            out += l + "\r\n";
        }
    }
    if (!replaced) out += line + "\r\n";
    ReplaceBytes(path, out);
}

std::string PercentEncode(const std::string& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
            b == '_' || b == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

std::optional<std::string> ReadBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

void ReplaceBytes(const std::string& path, const std::string& bytes) {
    // Not ending in .kvl, so a directory scan never lists it.
    const std::string temp = path + ".writing";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Fail("open " + temp);
    const bool written = WriteAll(fd, bytes);
    ::close(fd);
    if (!written) Fail("write " + temp);
    if (::rename(temp.c_str(), path.c_str()) != 0) Fail("rename " + temp);
}

std::vector<std::string> CrLfLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t end = bytes.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(at));
            break;
        }
        lines.push_back(bytes.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::string PersonFileText(const std::vector<std::string>& values) {
    std::string out;
    for (const std::string& v : values) out += "\"" + v + "\"\r\n";
    return out;
}

bool IsWholePersonFile(const std::string& bytes) {
    if (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, "\r\n") != 0 || bytes[0] != '"') return false;
    return CountOf(bytes, "\r\n") >= 10;
}

size_t CountOf(const std::string& haystack, const std::string& needle) {
    size_t count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + needle.size()))
        ++count;
    return count;
}

std::vector<TLogRecord> ErrorRecords(const TServerFiles& files) {
    std::vector<TLogRecord> errors;
    for (TLogRecord& r : files.LogRecords())
        if (r.Level == "エラー ") errors.push_back(std::move(r));
    return errors;
}

TUdpSink::TUdpSink() {
    Fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (Fd_ < 0) Fail("socket");
    // The clients' addresses are all of 127.0.0.0/8: one socket on the wildcard address hears them all.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(Fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
    socklen_t length = sizeof address;
    if (::getsockname(Fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail("getsockname");
    Port_ = ntohs(address.sin_port);
    Reader_ = std::thread([this] {
        char buffer[2048];
        while (!Stop_.load()) {
            pollfd fd{Fd_, POLLIN, 0};
            if (::poll(&fd, 1, 50) <= 0) continue;
            if (::recv(Fd_, buffer, sizeof buffer, 0) >= 0) Received_.fetch_add(1);
        }
    });
}

TUdpSink::~TUdpSink() {
    Stop_.store(true);
    if (Reader_.joinable()) Reader_.join();
    if (Fd_ >= 0) ::close(Fd_);
}
