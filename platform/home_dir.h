#pragma once

#include <string>

// Full path of the running executable. Raises std::runtime_error when the
// system cannot tell it.
std::string ExecutablePath();

// Where quor.ini and QUOR.LOG lie: the directory named by the environment
// variable QUORWELL_HOME when it is set and not empty, otherwise the
// directory of the running executable. Always ends with "/".
std::string HomeDirectory();

// The rule of HomeDirectory with its inputs given; home may be null.
std::string HomeDirectoryFor(const char* home, const std::string& executablePath);
