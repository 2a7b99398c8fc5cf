// Cost of the per-request log line: WriteLogFile (stamp, format, one write
// under the lock) against a bare write() of a ready line to an appending fd.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "log/event_log.h"
#include "platform/clock.h"
#include "platform/event_sink.h"

namespace {

struct TBenchDir {
    TBenchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quor-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        Path = pattern + "/";
    }
    ~TBenchDir() {
        std::error_code ec;
        std::filesystem::remove_all(Path, ec);
    }
    std::string Path;
};

const std::string RequestText = "127.0.0.1 /keiziban";

void BM_WriteLogFile(benchmark::State& state) {
    static TBenchDir* dir = nullptr;
    static TCapturingEventSink* sink = nullptr;
    static TLogger* logger = nullptr;
    if (state.thread_index() == 0) {
        dir = new TBenchDir;
        sink = new TCapturingEventSink;
        logger = new TLogger(dir->Path, SystemClock(), *sink);
    }
    for (auto _ : state) logger->WriteLogFile(RequestText, EventInformation);
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        delete logger;
        delete sink;
        delete dir;
    }
}
BENCHMARK(BM_WriteLogFile)->Threads(1)->Threads(4)->UseRealTime();

void BM_PlainAppendWrite(benchmark::State& state) {
    TBenchDir dir;
    const int fd = ::open((dir.Path + "plain.log").c_str(), O_RDWR | O_CREAT | O_APPEND, 0644);
    const std::string line = "2024/03/07 09:05:08 " + std::string(LevelWord(EventInformation)) + RequestText + "\r\n";
    for (auto _ : state) benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
    state.SetItemsProcessed(state.iterations());
    ::close(fd);
}
BENCHMARK(BM_PlainAppendWrite);

// The part before the lock: clock and formatting.
void BM_LogLine(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(LogLine(SystemClock().Now(), EventInformation, RequestText));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogLine);

}  // namespace

BENCHMARK_MAIN();
