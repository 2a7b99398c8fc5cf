#pragma once

// Mounts a fault test makes (as root), undone when the object goes: lazily,
// so that a file the server still holds open cannot keep one in place.

#include <cstddef>
#include <string>
#include <vector>

class TTestMounts {
public:
    TTestMounts() = default;
    ~TTestMounts();
    TTestMounts(const TTestMounts&) = delete;
    TTestMounts& operator=(const TTestMounts&) = delete;

    // Each returns an empty text when done, otherwise why it could not be.
    // A tmpfs of bytes at directory, created when missing.
    std::string Tmpfs(const std::string& directory, std::size_t bytes);
    // directory shown read-only in its own place (a read-only bind mount).
    std::string ReadOnlyView(const std::string& directory);

    // Newest first.
    void UnmountAll();

private:
    std::vector<std::string> Points_;
};
