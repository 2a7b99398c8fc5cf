// GetPersons latency with and without a rescan of 300 person files running
// on another thread; counters p50_ns / p99_ns are per call.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include "data/kavel_env.h"
#include "data/persons_list.h"
#include "platform/test_temp_dir.h"

namespace {

constexpr int PersonCount = 300;

// Readers see a fixed early moment, so the list never looks old to them;
// the rescanning thread sees a moment a day later at every reading, so each
// of its calls rescans.
class TSplitClock : public TClock {
public:
    TDateTime Now() const override {
        if (!Rescanner) return 40000;
        return 50000 + static_cast<double>(Ticks_.fetch_add(1, std::memory_order_relaxed));
    }
    static thread_local bool Rescanner;

private:
    mutable std::atomic<long> Ticks_{0};
};
thread_local bool TSplitClock::Rescanner = false;

std::string PersonText(int i) {
    const std::string furigana(1, static_cast<char>(0xB1 + i % 45));
    return "\"" + furigana + "\"\r\n\"社員" + std::to_string(i) + "\"\r\n\"部" + std::to_string(i % 12) +
           "\"\r\n\"内線" + std::to_string(1000 + i) +
           "\"\r\n\"外出\"\r\n\"2004/12/24\"\r\n"
           "\"17:30\"\r\n\"03-0000-0000\"\r\n\"127.0.0.1\"\r\n\"0\"\r\n";
}

struct TFixture {
    TFixture() {
        dir.Write("kavel.ini", "QUOR_Interval,ReloadAllFile=1\r\n");
        for (int i = 0; i < PersonCount; ++i) dir.Write("p" + std::to_string(i) + ".kvl", PersonText(i));
        env.SetCommonDirectory(dir.Dir());
    }
    TTestTempDir dir;
    TSplitClock clock;
    TKavelEnv env{clock};
};

void ReportPercentiles(benchmark::State& state, std::vector<double>& samples) {
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) { return samples[static_cast<size_t>(q * (samples.size() - 1))]; };
    state.counters["p50_ns"] = at(0.50);
    state.counters["p99_ns"] = at(0.99);
    state.counters["max_ns"] = samples.back();
}

// <chrono> does not build with the Shift-JIS execution character set.
double NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

void MeasureCalls(benchmark::State& state, TKavelEnv& env) {
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        const double t0 = NowNs();
        auto list = env.GetPersons();
        const double t1 = NowNs();
        benchmark::DoNotOptimize(list.get());
        samples.push_back(t1 - t0);
    }
    ReportPercentiles(state, samples);
}

void BM_GetPersonsWithoutRescans(benchmark::State& state) {
    TFixture f;
    MeasureCalls(state, f.env);
}

void BM_GetPersonsDuringRescans(benchmark::State& state) {
    TFixture f;
    std::atomic<bool> stop{false};
    std::atomic<long> rescans{0};
    std::thread rescanner([&] {
        TSplitClock::Rescanner = true;
        while (!stop.load()) {
            benchmark::DoNotOptimize(f.env.GetPersons().get());
            rescans.fetch_add(1);
        }
    });
    while (rescans.load() == 0) std::this_thread::yield();
    const long before = rescans.load();
    MeasureCalls(state, f.env);
    state.counters["rescans"] = static_cast<double>(rescans.load() - before);
    stop = true;
    rescanner.join();
}

// One rescan of the 300 files on the calling thread, for scale.
void BM_Rescan300(benchmark::State& state) {
    TFixture f;
    for (auto _ : state) {
        f.env.ForceReload();
        benchmark::DoNotOptimize(f.env.GetPersons()->Count());
    }
}

}  // namespace

BENCHMARK(BM_GetPersonsWithoutRescans)->Iterations(200000);
BENCHMARK(BM_GetPersonsDuringRescans)->Iterations(200000);
BENCHMARK(BM_Rescan300)->Unit(benchmark::kMillisecond)->Iterations(50);

BENCHMARK_MAIN();
