// Serving an image: one SaveToStream of bg.jpg into a fresh response buffer,
// against the floor of allocating a buffer and memcpy'ing the same bytes,
// and against handing out the shared buffer without a copy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "images/jpeg_list.h"

namespace {

const TJPEGImage& Background() {
    InitializeImageCatalogue();
    return *TJPEGList::Instance().Find("bg.jpg");
}

void BM_SaveToStream(benchmark::State& state) {
    const TJPEGImage& image = Background();
    for (auto _ : state) {
        std::string sink;
        image.SaveToStream(sink);
        benchmark::DoNotOptimize(sink.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image.Bytes().size()));
}

void BM_AllocateAndMemcpy(benchmark::State& state) {
    const std::string& bytes = Background().Bytes();
    for (auto _ : state) {
        std::unique_ptr<char[]> buffer(new char[bytes.size()]);
        std::memcpy(buffer.get(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(buffer.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_SharedBytes(benchmark::State& state) {
    const TJPEGImage& image = Background();
    for (auto _ : state) {
        auto shared = image.SharedBytes();
        benchmark::DoNotOptimize(shared.get());
    }
}

BENCHMARK(BM_SaveToStream);
BENCHMARK(BM_AllocateAndMemcpy);
BENCHMARK(BM_SharedBytes);
BENCHMARK(BM_SaveToStream)->Threads(2);
BENCHMARK(BM_AllocateAndMemcpy)->Threads(2);

}  // namespace

BENCHMARK_MAIN();
