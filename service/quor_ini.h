#pragma once

#include <optional>
#include <string>
#include <string_view>

// Value of name in settings text read as lines (CR LF, LF or CR end a line):
// the first line whose text before its first "=" equals name without regard
// to ASCII case, blanks included, gives everything after that "=". Section
// headers and lines without "=" never match. Nothing when no line matches.
std::optional<std::string> FindIniValue(std::string_view content, std::string_view name);
// The same, empty when no line matches.
std::string IniValueOf(std::string_view content, std::string_view name);

// A value that begins with a double quote gives the text up to the closing
// one, a doubled quote standing for one; any other value is returned as it is.
std::string UnquoteIniValue(std::string_view value);

// What the server takes from quor.ini.
struct TQuorIni {
    // "QUOR_CommonDirectory", unquoted, always ending with a path separator.
    std::string CommonDirectory;
    // "QUOR_LogUtf8=1": QUOR.LOG's lines also go, in UTF-8, to QUOR.UTF8.LOG.
    bool LogUtf8 = false;
    // "QUOR_WallDetails=1": the wall view (/m/wall) also shows reasons, memos
    // and status captions; by default only in, out and the return.
    bool WallDetails = false;
};

// Reads the quor.ini at path. Raises std::runtime_error, naming what is
// wrong, when the file does not exist or cannot be read, or when
// QUOR_CommonDirectory is missing or empty.
TQuorIni ReadQuorIni(const std::string& path);
std::string ReadQuorCommonDirectory(const std::string& path);
