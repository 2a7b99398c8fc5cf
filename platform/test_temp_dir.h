#pragma once

// A fresh directory under the system temp dir for one test, removed with
// everything in it when the object goes.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

class TTestTempDir {
public:
    TTestTempDir() {
#ifdef _WIN32
        // No mkdtemp: try fresh random names until one can be created.
        std::random_device random;
        for (int attempt = 0; Path_.empty(); ++attempt) {
            if (attempt == 100) throw std::runtime_error("cannot create a temp directory");
            const auto candidate = std::filesystem::temp_directory_path() / ("quor-test-" + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) Path_ = candidate.generic_string();
        }
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "quor-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        Path_ = pattern;
#endif
    }
    ~TTestTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(Path_, ec);
    }
    TTestTempDir(const TTestTempDir&) = delete;
    TTestTempDir& operator=(const TTestTempDir&) = delete;

    // Directory with a trailing '/', ready for appending a file name.
    std::string Dir() const { return Path_ + "/"; }
    std::string File(const std::string& name) const { return Dir() + name; }

    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(File(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string Path_;
};
