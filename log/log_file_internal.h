#pragma once

// Shared between the portable log file code and its per-OS implementation.

#include <string>

namespace log_file_detail {

// The log file opened for appending (created when missing), or -1.
int OpenForAppend(const std::string& path);

// Readers are welcome; a second writer (another server on the same home) is not.
bool HoldAgainstWriters(int fd);

}  // namespace log_file_detail
