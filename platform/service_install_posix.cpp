#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "platform/file_system.h"
#include "platform/home_dir.h"
#include "platform/service_install.h"

extern char** environ;

namespace {

bool SystemdIsRunning() {
    struct stat info {};
    return ::stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

int RunProgram(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t child = 0;
    const int err = ::posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), environ);
    if (err != 0) throw std::runtime_error(argv[0] + ": " + std::strerror(err));
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error(argv[0] + ": " + std::strerror(errno));
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string UnitPath(const TServiceInstallEnv& env) {
    return IncludeTrailingPathDelimiter(env.UnitDirectory) + ServiceUnitName + ".service";
}

void Systemctl(const TServiceInstallEnv& env, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"systemctl"};
    argv.insert(argv.end(), args.begin(), args.end());
    const int status = env.RunCommand(argv);
    if (status != 0) {
        std::string line;
        for (const std::string& arg : argv) line += (line.empty() ? "" : " ") + arg;
        throw std::runtime_error(line + " ended with status " + std::to_string(status) + ".");
    }
}

}  // namespace

void InstallService(const TServiceInstallEnv& env) {
    const std::string unit = MakeUnitText(env.ExecutablePath);
    const std::string path = UnitPath(env);
    ReplaceFileContent(path, unit);
    ::chmod(path.c_str(), 0644);  // whatever the umask: readable by systemd, writable by root only
    if (env.SystemdRunning()) {
        Systemctl(env, {"daemon-reload"});
        Systemctl(env, {"enable", ServiceUnitName});
    }
}

void UninstallService(const TServiceInstallEnv& env) {
    const std::string path = UnitPath(env);
    if (!FileExists(path)) throw std::runtime_error("Cannot find file \"" + path + "\". " + std::strerror(ENOENT));
    const bool systemd = env.SystemdRunning();
    if (systemd) Systemctl(env, {"disable", ServiceUnitName});
    if (std::remove(path.c_str()) != 0)
        throw std::runtime_error("Cannot delete file \"" + path + "\". " + std::strerror(errno));
    if (systemd) Systemctl(env, {"daemon-reload"});
}

TServiceInstallEnv TServiceInstallEnv::System() {
    TServiceInstallEnv env;
    const char* dir = std::getenv("QUORWELL_UNIT_DIR");
    env.UnitDirectory = (dir != nullptr && *dir != '\0') ? dir : "/etc/systemd/system";
    env.ExecutablePath = ::ExecutablePath();
    env.SystemdRunning = SystemdIsRunning;
    env.RunCommand = RunProgram;
    env.UserExists = [](const std::string& name) { return ::getpwnam(name.c_str()) != nullptr; };
    env.Out = &std::cout;
    env.Err = &std::cerr;
    return env;
}
