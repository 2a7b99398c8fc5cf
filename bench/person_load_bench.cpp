// Scanning a common directory into a sorted persons list, against the bare
// cost of opening, reading and closing the same files.

#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "data/persons_list.h"
#include "platform/file_system.h"
#include "platform/test_temp_dir.h"

namespace {

// One generated common directory per person count, kept for the whole run.
const TTestTempDir& Office(int persons) {
    static std::map<int, std::unique_ptr<TTestTempDir>> offices;
    auto& dir = offices[persons];
    if (!dir) {
        dir = std::make_unique<TTestTempDir>();
        const char* const groups[] = {"営業部", "総務部", "開発部", "経理部"};
        unsigned seed = 12345;
        for (int i = 0; i < persons; ++i) {
            seed = seed * 1103515245 + 12345;
            std::string reading;
            for (int k = 0; k < 4; ++k) reading += static_cast<char>(0xB1 + (seed >> (8 + 5 * k)) % 45);
            const std::string text = "\"" + reading + "\"\r\n\"社員" + std::to_string(i) + "\"\r\n\"" + groups[i % 4] +
                                     "\"\r\n\"内線" + std::to_string(1000 + i) +
                                     "\"\r\n\"外出\r\n顧客訪問\"\r\n\"2004/12/24\"\r\n\"17:30\"\r\n"
                                     "\"03-0000-0000\"\r\n\"127.0.0." +
                                     std::to_string(1 + i % 250) + "\"\r\n\"0\"\r\n";
            dir->Write("p" + std::to_string(i) + ".kvl", text);
            if (i % 10 == 0) dir->Write("p" + std::to_string(i) + ".off", "");
        }
    }
    return *dir;
}

std::vector<std::string> PersonPaths(const TTestTempDir& office) {
    std::vector<std::string> paths;
    for (const auto& name : FindFilesByExtension(office.Dir(), ".kvl")) paths.push_back(office.Dir() + name);
    return paths;
}

void LoadSorted(TKavelPersonsList& list, const std::vector<std::string>& paths) {
    list.Clear();
    list.Reserve(300);
    for (const std::string& path : paths) {
        try {
            list.Add(std::make_unique<TKavelPerson>(path));
        } catch (const EFileError&) {
        }
    }
    list.ShrinkToFit();
    list.Sort();
}

// The same files as the plain loop, each read into a person and listed,
// then sorted.
void BM_LoadIntoSortedList(benchmark::State& state) {
    const TTestTempDir& office = Office(static_cast<int>(state.range(0)));
    const std::vector<std::string> paths = PersonPaths(office);
    TKavelPersonsList list;
    for (auto _ : state) {
        LoadSorted(list, paths);
        benchmark::DoNotOptimize(list.Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// As a rescan does it: the directory search included.
void BM_ScanDirectoryIntoSortedList(benchmark::State& state) {
    const TTestTempDir& office = Office(static_cast<int>(state.range(0)));
    TKavelPersonsList list;
    for (auto _ : state) {
        LoadSorted(list, PersonPaths(office));
        benchmark::DoNotOptimize(list.Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_PlainOpenReadClose(benchmark::State& state) {
    const TTestTempDir& office = Office(static_cast<int>(state.range(0)));
    const std::vector<std::string> paths = PersonPaths(office);
    char buf[8192];
    for (auto _ : state) {
        size_t total = 0;
        for (const std::string& path : paths) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            ssize_t got;
            while ((got = ::read(fd, buf, sizeof buf)) > 0) total += static_cast<size_t>(got);
            ::close(fd);
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_PlainOpenReadClose)->Arg(300)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadIntoSortedList)->Arg(300)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanDirectoryIntoSortedList)->Arg(300)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
