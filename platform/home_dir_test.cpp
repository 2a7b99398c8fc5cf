#include "platform/home_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

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

TEST(HomeDir, RunningExecutableAndVariable) {
    const std::string exe = ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.front(), '/');
    EXPECT_EQ(exe.substr(exe.rfind('/') + 1), "home_dir_test");
    struct stat info {};
    EXPECT_EQ(stat(exe.c_str(), &info), 0);

    unsetenv("QUORWELL_HOME");
    EXPECT_EQ(HomeDirectory(), exe.substr(0, exe.rfind('/') + 1));
    setenv("QUORWELL_HOME", "/tmp/quorwell-home", 1);
    EXPECT_EQ(HomeDirectory(), "/tmp/quorwell-home/");
    unsetenv("QUORWELL_HOME");
}

}  // namespace
