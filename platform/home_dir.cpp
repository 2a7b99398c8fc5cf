#include "platform/home_dir.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

std::string ExecutablePath() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            throw std::runtime_error(std::string("/proc/self/exe: ") + std::strerror(errno));
        if (static_cast<size_t>(length) < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);  // possibly truncated: try again with more room
    }
}

std::string HomeDirectoryFor(const char* home, const std::string& executablePath) {
    std::string directory;
    if (home != nullptr && *home != '\0') {
        directory = home;
    } else {
        const size_t slash = executablePath.rfind('/');
        directory = slash == std::string::npos ? "." : executablePath.substr(0, slash);
    }
    if (directory.empty() || directory.back() != '/') directory += '/';
    return directory;
}

std::string HomeDirectory() {
    const char* home = std::getenv("QUORWELL_HOME");
    if (home != nullptr && *home != '\0') return HomeDirectoryFor(home, std::string());
    return HomeDirectoryFor(nullptr, ExecutablePath());
}
