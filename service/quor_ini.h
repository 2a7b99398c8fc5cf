#pragma once

#include <string>
#include <string_view>

// Value of name in settings text read as lines (CR LF, LF or CR end a line):
// the first line whose text before its first "=" equals name without regard
// to ASCII case, blanks included, gives everything after that "=". Section
// headers and lines without "=" never match. Empty when no line matches.
std::string IniValueOf(std::string_view content, std::string_view name);

// A value that begins with a double quote gives the text up to the closing
// one, a doubled quote standing for one; any other value is returned as it is.
std::string UnquoteIniValue(std::string_view value);

// The common directory named by "QUOR_CommonDirectory" in the quor.ini at
// path, unquoted. Raises std::runtime_error when the file does not exist or
// cannot be read.
std::string ReadQuorCommonDirectory(const std::string& path);
