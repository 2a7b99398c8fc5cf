#include "tests/faults/test_mounts.h"

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

std::string WithoutSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string Why(const char* step) { return std::string(step) + ": " + std::strerror(errno); }

}  // namespace

TTestMounts::~TTestMounts() { UnmountAll(); }

std::string TTestMounts::Tmpfs(const std::string& directory, std::size_t bytes) {
    const std::string point = WithoutSlash(directory);
    if (::mkdir(point.c_str(), 0755) != 0 && errno != EEXIST) return Why("mkdir");
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("quor-test", point.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        return Why("mount tmpfs");
    Points_.push_back(point);
    return {};
}

std::string TTestMounts::ReadOnlyView(const std::string& directory) {
    const std::string point = WithoutSlash(directory);
    if (::mount(point.c_str(), point.c_str(), nullptr, MS_BIND, nullptr) != 0) return Why("bind mount");
    Points_.push_back(point);
    if (::mount(nullptr, point.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        return Why("remount read-only");
    return {};
}

void TTestMounts::UnmountAll() {
    while (!Points_.empty()) {
        ::umount2(Points_.back().c_str(), MNT_DETACH);
        Points_.pop_back();
    }
}
