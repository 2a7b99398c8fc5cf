// A rescan of 10,000 person files after one of them changed, against a full
// scan of the same directory, in one run: the incremental scan keeps the
// records of files whose stamps did not change. Named: the detector told the
// file's name, as inotify and the poll do; listed: every file is looked at,
// as after notices were lost and once per reload interval.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>

#include "data/kavel_env.h"
#include "data/persons_list.h"
#include "platform/clock.h"
#include "platform/dir_watch.h"
#include "platform/test_temp_dir.h"

namespace {

constexpr int PersonCount = 10000;

std::string PersonText(int i, const std::string& date) {
    const std::string furigana(1, static_cast<char>(0xB1 + i % 45));
    return "\"" + furigana + "\"\r\n\"社員" + std::to_string(i) + "\"\r\n\"部" + std::to_string(i % 12) +
           "\"\r\n\"内線" + std::to_string(1000 + i) + "\"\r\n\"外出\"\r\n\"" + date +
           "\"\r\n\"17:30\"\r\n\"03-0000-0000\"\r\n\"127.0.0.1\"\r\n\"0\"\r\n";
}

struct TOffice {
    TOffice() {
        dir.Write("kavel.ini", "QUOR_Interval,ReloadAllFile=1\r\nQUOR_Watch,Mode=off\r\n");
        for (int i = 0; i < PersonCount; ++i) dir.Write("p" + std::to_string(i) + ".kvl", PersonText(i, "2004/12/24"));
    }
    TTestTempDir dir;
    TFixedClock clock{40000};
};

TOffice& Office() {
    static TOffice office;
    return office;
}

// Every file read and parsed: what a fresh start does.
void BM_FullScan(benchmark::State& state) {
    TOffice& office = Office();
    for (auto _ : state) {
        TKavelEnv env(office.clock);
        env.SetCommonDirectory(office.dir.Dir());
        benchmark::DoNotOptimize(env.GetPersons()->Count());
    }
}

// One file rewritten, then the rescan the change asks for.
void RescanAfterOneChange(benchmark::State& state, const TDirChanges& changes) {
    TOffice& office = Office();
    TKavelEnv env(office.clock);
    env.SetCommonDirectory(office.dir.Dir());
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        office.dir.Write("p7.kvl", PersonText(7, round++ % 2 ? "2004/12/24" : "2004/12/25"));
        env.ForceReload(changes);
        state.ResumeTiming();
        benchmark::DoNotOptimize(env.GetPersons()->Count());
    }
}

void BM_RescanListed(benchmark::State& state) { RescanAfterOneChange(state, TDirChanges{}); }

void BM_RescanNamed(benchmark::State& state) {
    RescanAfterOneChange(state, TDirChanges{.All = false, .Names = {"p7.kvl"}});
}

// The poll's own look, on the detector's thread: every file's stamp.
void BM_PollLook(benchmark::State& state) {
    TOffice& office = Office();
    for (auto _ : state) benchmark::DoNotOptimize(ListStampedFiles(office.dir.Dir(), {".kvl", ".off"}).size());
}

// Repetitions with their median and spread.
void Spread(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
}

}  // namespace

BENCHMARK(BM_FullScan)->Iterations(5)->Apply(Spread);
BENCHMARK(BM_RescanListed)->Iterations(20)->Apply(Spread);
BENCHMARK(BM_RescanNamed)->Iterations(200)->Apply(Spread);
BENCHMARK(BM_PollLook)->Iterations(20)->Apply(Spread);
BENCHMARK_MAIN();
