#pragma once

// The fixture of the file-system contract, shared by its portable cases and
// the POSIX ones.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/test_temp_dir.h"

class FileSystem : public testing::Test {
protected:
    void TearDown() override {
        SetWriteFaultHook({});
        SetForeignLockWait(5000);
    }
    // Names in the directory other than the given ones, i.e. leftovers.
    std::vector<std::string> Leftovers(std::initializer_list<std::string> expected) {
        std::vector<std::string> extra;
        for (const auto& e : std::filesystem::directory_iterator(dir.Dir())) {
            const std::string name = e.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) extra.push_back(name);
        }
        return extra;
    }
    TTestTempDir dir;
};
