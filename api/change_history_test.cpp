#include "api/change_history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "data/kavel_person.h"
#include "platform/test_temp_dir.h"

namespace {

class ChangeHistory : public ::testing::Test {
protected:
    ChangeHistory() { Aoki.FilePath = Temp.File("aoki.kvl"); }
    // A message record; its length tells the records apart.
    void Store(size_t n) { History.OnStored({.Source = "api", .Receiver = &Aoki, .Sender = "s", .Length = n}); }
    std::vector<size_t> Lengths(const std::vector<std::string>& lines) {
        std::vector<size_t> out;
        for (const std::string& line : lines) out.push_back(nlohmann::json::parse(line)["length"]);
        return out;
    }
    std::vector<size_t> Range(size_t from, size_t to) {
        std::vector<size_t> out;
        for (size_t i = from; i < to; ++i) out.push_back(i);
        return out;
    }

    TTestTempDir Temp;
    TKavelPerson Aoki;
    TChangeHistory History{Temp.File("history.jsonl"), SystemClock()};
};

}  // namespace

// logrotate moves the file away while records are being written: every
// record is in one of the files, whole, and those after the move in the new one.
TEST_F(ChangeHistory, RecordsWrittenAcrossRotationsAllLandWholeAndLaterOnesInTheNewFile) {
    constexpr size_t Records = 3000;
    std::thread writer([&] {
        for (size_t i = 0; i < Records; ++i) Store(i);
    });
    std::vector<std::string> moved;
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        moved.push_back(Temp.File("rotated." + std::to_string(i)));
        std::rename(History.Path().c_str(), moved.back().c_str());
    }
    writer.join();
    moved.push_back(History.Path());
    std::vector<size_t> all;
    for (const std::string& path : moved) {
        if (!std::filesystem::exists(path)) continue;
        TChangeHistory file(path, SystemClock());
        const std::vector<size_t> part = Lengths(file.Last("aoki", Records));
        std::ifstream in(path, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
                  static_cast<std::ptrdiff_t>(part.size()));  // no part lines
        all.insert(all.end(), part.begin(), part.end());
    }
    EXPECT_EQ(all, Range(0, Records));
    EXPECT_EQ(History.Failures(), 0u);
}

TEST_F(ChangeHistory, RightAfterARotationTheLastRecordsComeFromBothFiles) {
    for (size_t i = 0; i < 30; ++i) Store(i);
    std::rename(History.Path().c_str(), (History.Path() + ".1").c_str());
    EXPECT_EQ(Lengths(History.Last("aoki", 50)), Range(0, 30));
    for (size_t i = 30; i < 60; ++i) Store(i);
    EXPECT_EQ(Lengths(History.Last("aoki", 50)), Range(10, 60));
    EXPECT_TRUE(History.Last("nobody", 50).empty());
}

// A failed append may leave part of a line: the next record still starts a
// line of its own, and the part is passed over.
TEST_F(ChangeHistory, APartLineLeftByAFailedAppendCostsNoOtherRecord) {
    std::filesystem::create_directory(History.Path());  // no file can be opened there
    Store(1);
    EXPECT_EQ(History.Failures(), 1u);
    std::filesystem::remove(History.Path());
    std::FILE* f = std::fopen(History.Path().c_str(), "wb");
    std::fputs(R"({"time":"2031-01-02T03:04:05","key":"aoki","kind":"mes)", f);
    std::fclose(f);
    Store(2);
    Store(3);
    EXPECT_EQ(Lengths(History.Last("aoki", 50)), (std::vector<size_t>{2, 3}));
}
