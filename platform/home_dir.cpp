#include "platform/home_dir.h"

#include <cstdlib>

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
