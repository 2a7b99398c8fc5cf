#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// What the arguments ask for. The service switches (INSTALL, UNINSTALL,
// SILENT) keep their meaning; SILENT alone serves.
enum class TCommand { Serve, ServiceSwitches, Help, Version, Check, Usage };

// args[0] is the program name. --help, -h, /?, --version and --check stand
// alone; anything else that is not a service switch asks for the usage.
TCommand ParseCommand(const std::vector<std::string>& args);

// In UTF-8, each line ending with LF.
std::string UsageText();
std::string VersionText();

// Reads quor.ini in homeDirectory, then kavel.ini and the person files of the
// common directory, as a start does, and writes in UTF-8 every value the
// service would use and every problem found. Returns the exit code: 0 when
// there is no problem, else 1. Starts nothing and writes no log.
int RunCheck(const std::string& homeDirectory, std::ostream& out);
