#pragma once

#include <string>

// Replaces the file's content with text (created when missing). Crash-safe:
// the file holds either its old or its new content at every moment.
// Returns true; raises EInOutError on failure.
bool WriteTextFile(const std::string& path, const std::string& text);

// Makes the file hold text, CR LF, CR LF, then its previous content, byte for
// byte. A missing file is
// created. Concurrent prepends to the same path from this process wait for
// each other; other processes are held off by an advisory lock. Returns
// true; raises EInOutError / EFOpenError on failure.
bool PrependToFile(const std::string& path, const std::string& text);
