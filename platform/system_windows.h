#pragma once

// Windows only: what the platform's *_windows.cpp files share.

#include <string>

// The system's text for a Windows error code without the line break it ends
// with; empty when the system has none.
std::string WindowsMessage(unsigned long error);
// The same without trailing blanks either, "System error <code>" when empty.
std::string WindowsErrorText(unsigned long error);

// WinSock needs one start per process before its first call; false when it
// would not start.
bool StartWinsock();
