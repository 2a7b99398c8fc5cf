#include "platform/home_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

TEST(HomeDir, DirectoryOfTheExecutableWithItsSeparator) {
    EXPECT_EQ(HomeDirectoryFor(nullptr, "/opt/quorwell/bin/quorwell"), "/opt/quorwell/bin/");
    EXPECT_EQ(HomeDirectoryFor(nullptr, "/quorwell"), "/");
    EXPECT_EQ(HomeDirectoryFor("", "/opt/q/quorwell"), "/opt/q/");  // empty counts as unset
}

TEST(HomeDir, EnvironmentNamesAnotherDirectory) {
    EXPECT_EQ(HomeDirectoryFor("/srv/board", "/opt/q/quorwell"), "/srv/board/");
    EXPECT_EQ(HomeDirectoryFor("/srv/board/", "/opt/q/quorwell"), "/srv/board/");
    EXPECT_EQ(HomeDirectoryFor("/", "/opt/q/quorwell"), "/");
}

void SetHomeVariable(const char* value) {
#ifdef _WIN32
    _putenv_s("QUORWELL_HOME", value ? value : "");  // empty removes it
#else
    if (value)
        setenv("QUORWELL_HOME", value, 1);
    else
        unsetenv("QUORWELL_HOME");
#endif
}

TEST(HomeDir, RunningExecutableAndVariable) {
    const std::string exe = ExecutablePath();
    ASSERT_FALSE(exe.empty());
#ifdef _WIN32
    // A drive, and '/' throughout: the rest of the code splits paths there.
    ASSERT_GE(exe.size(), 3u);
    EXPECT_EQ(exe.substr(1, 2), ":/") << exe;
    EXPECT_EQ(exe.find('\\'), std::string::npos) << exe;
    EXPECT_EQ(exe.substr(exe.rfind('/') + 1), "home_dir_test.exe");
#else
    EXPECT_EQ(exe.front(), '/');
    EXPECT_EQ(exe.substr(exe.rfind('/') + 1), "home_dir_test");
#endif
    EXPECT_TRUE(std::filesystem::is_regular_file(exe));

    SetHomeVariable(nullptr);
    EXPECT_EQ(HomeDirectory(), exe.substr(0, exe.rfind('/') + 1));
    SetHomeVariable("/tmp/quorwell-home");
    EXPECT_EQ(HomeDirectory(), "/tmp/quorwell-home/");
    SetHomeVariable(nullptr);
}

}  // namespace
