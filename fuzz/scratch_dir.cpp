#include "fuzz/scratch_dir.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <signal.h>
#include <unistd.h>

namespace {

// A crash ends the process without destructors; the directories of fuzzers
// that are gone are removed by the next one.
void RemoveLeftovers(const std::string& base) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("quor-fuzz-")) continue;
        const long pid = std::strtol(name.c_str() + 10, nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove_all(entry.path(), ec);
    }
}

}  // namespace

TScratchDir::TScratchDir() {
    // Memory-backed where there is one: saving a person file syncs it to disk,
    // which on a real disk would cost most of each run.
    std::error_code ec;
    std::string base = "/dev/shm";
    if (!std::filesystem::is_directory(base, ec) || access(base.c_str(), W_OK) != 0) {
        base = std::filesystem::temp_directory_path(ec).string();
        if (ec || base.empty()) base = "/tmp";
    }
    RemoveLeftovers(base);
    std::string pattern = base + "/quor-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    Dir_ = pattern;
}

TScratchDir::~TScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(Dir_, ec);
}

void TScratchDir::Write(const std::string& name, std::string_view bytes) const {
    const std::string path = Path(name);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

void TScratchDir::Remove(const std::string& name) const { std::remove(Path(name).c_str()); }

TScratchDir& Scratch() {
    static TScratchDir dir;
    return dir;
}
