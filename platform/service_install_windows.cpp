#include <windows.h>

#include <ostream>
#include <stdexcept>
#include <streambuf>

#include "platform/home_dir.h"
#include "platform/service_install.h"
#include "platform/sjis_text.h"
#include "platform/system_windows.h"

namespace {

constexpr const char* WindowsServiceName = "svcMain";

std::wstring Wide(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

[[noreturn]] void ThrowLast() { throw std::runtime_error(WindowsErrorText(GetLastError())); }

// Collects what the install code writes and shows each flushed text in a
// message box: the success texts as information, the failures as errors.
class TMessageBoxBuffer : public std::streambuf {
public:
    explicit TMessageBoxBuffer(UINT icon) : Icon_(icon) {}

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) Text_ += static_cast<char>(c);
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        Text_.append(s, static_cast<size_t>(n));
        return n;
    }
    int sync() override {
        while (!Text_.empty() && (Text_.back() == '\n' || Text_.back() == '\r')) Text_.pop_back();
        if (!Text_.empty()) {
            // The texts arrive as UTF-8 (Cp932ToUtf8), whatever the ANSI code page.
            MessageBoxW(nullptr, Wide(CP_UTF8, Text_).c_str(), Wide(CP_UTF8, ServiceDisplayName).c_str(),
                        MB_OK | Icon_ | MB_SETFOREGROUND);
        }
        Text_.clear();
        return 0;
    }

private:
    UINT Icon_;
    std::string Text_;
};

class TServiceManager {
public:
    TServiceManager() : Handle_(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
        if (Handle_ == nullptr) ThrowLast();
    }
    ~TServiceManager() { CloseServiceHandle(Handle_); }
    TServiceManager(const TServiceManager&) = delete;
    TServiceManager& operator=(const TServiceManager&) = delete;
    SC_HANDLE Get() const { return Handle_; }

private:
    SC_HANDLE Handle_;
};

// The path as Windows spells it, quoted when it holds a blank (unquoted,
// the manager would try each prefix up to a blank as a program of its own).
std::string BinaryPath(const std::string& path) {
    std::string native = path;
    for (size_t i = 0; i < native.size(); ++i) {
        if (IsLeadByte(static_cast<unsigned char>(native[i])))
            ++i;
        else if (native[i] == '/')
            native[i] = '\\';
    }
    if (native.find(' ') != std::string::npos) native = "\"" + native + "\"";
    return native;
}

}  // namespace

void InstallService(const TServiceInstallEnv& env) {
    TServiceManager manager;
    SC_HANDLE service =
        CreateServiceA(manager.Get(), WindowsServiceName, ServiceDisplayName, SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                       BinaryPath(env.ExecutablePath).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) ThrowLast();
    CloseServiceHandle(service);
}

void UninstallService(const TServiceInstallEnv& /*env*/) {
    TServiceManager manager;
    SC_HANDLE service = OpenServiceA(manager.Get(), WindowsServiceName, SERVICE_ALL_ACCESS);
    if (service == nullptr) ThrowLast();
    const BOOL deleted = DeleteService(service);
    const DWORD error = GetLastError();
    CloseServiceHandle(service);
    if (!deleted) throw std::runtime_error(WindowsErrorText(error));
}

TServiceInstallEnv TServiceInstallEnv::System() {
    static TMessageBoxBuffer information(MB_ICONINFORMATION);
    static TMessageBoxBuffer failure(MB_ICONERROR);
    static std::ostream out(&information);
    static std::ostream err(&failure);
    TServiceInstallEnv env;
    env.ExecutablePath = ::ExecutablePath();
    env.SystemdRunning = [] { return false; };
    env.RunCommand = [](const std::vector<std::string>& argv) -> int {
        throw std::runtime_error(argv.empty() ? std::string("no program") : argv[0] + ": not on Windows");
    };
    env.Out = &out;
    env.Err = &err;
    return env;
}
