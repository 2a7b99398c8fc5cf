// Feeds every seed of a fuzz target (QUOR_FUZZ_SEEDS) to its entry point in
// the ordinary build, so inputs that once failed keep being checked there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::string> SeedFiles() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(QUOR_FUZZ_SEEDS))
        if (entry.is_regular_file()) files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
}

class TSeedReplay : public testing::TestWithParam<std::string> {};

TEST_P(TSeedReplay, PassesTheTargetsChecks) {
    std::ifstream in(std::string(QUOR_FUZZ_SEEDS) + "/" + GetParam(), std::ios::binary);
    ASSERT_TRUE(in);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
}

TEST(TSeedCorpus, IsNotEmpty) { EXPECT_FALSE(SeedFiles().empty()) << QUOR_FUZZ_SEEDS; }

std::string TestName(const testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Seeds, TSeedReplay, testing::ValuesIn(SeedFiles()), TestName);

}  // namespace
