#include <windows.h>

#include <stdexcept>
#include <vector>

#include "platform/home_dir.h"
#include "platform/sjis_text.h"

std::string ExecutablePath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) throw std::runtime_error("GetModuleFileName failed: " + std::to_string(GetLastError()));
        if (length < buffer.size()) {
            // The rest of the code splits paths at '/', which Windows takes as
            // well. The second byte of a Shift-JIS character may be 0x5C too.
            std::string path(buffer.data(), length);
            for (size_t i = 0; i < path.size(); ++i) {
                if (IsLeadByte(static_cast<unsigned char>(path[i])))
                    ++i;
                else if (path[i] == '\\')
                    path[i] = '/';
            }
            return path;
        }
        buffer.resize(buffer.size() * 2);
    }
}
