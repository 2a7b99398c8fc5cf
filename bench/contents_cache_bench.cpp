// Cost of a cached page hit (lookup under the cache lock plus the copy into
// the response) against the floor: a plain hash map lookup and the same copy.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "pages/contents_cache.h"

namespace {

constexpr int Keys = 200;

std::vector<std::string> MakeKeys() {
    std::vector<std::string> keys;
    for (int i = 0; i < Keys; ++i)
        keys.push_back("/keiziban?furiganaFilter=" + std::to_string(i % 10) + "&groupFilter=%89c%8B%C6" +
                       std::to_string(i));
    return keys;
}

std::string MakePage(size_t size, int seed) {
    std::string page(size, 'x');
    page[0] = static_cast<char>('a' + seed % 26);
    return page;
}

void BM_ContentsCacheHit(benchmark::State& state) {
    static TContentsCache* cache = nullptr;
    static const std::vector<std::string> keys = MakeKeys();
    if (state.thread_index() == 0) {
        cache = new TContentsCache();
        for (int i = 0; i < Keys; ++i) cache->AddObject(keys[i], TContents(MakePage(state.range(0), i), 1.0));
    }
    size_t i = state.thread_index();
    for (auto _ : state) {
        const auto hit = cache->FindContents(keys[i++ % Keys], 1.0);
        std::string body = *hit->Text;
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    if (state.thread_index() == 0) {
        delete cache;
        cache = nullptr;
    }
}
BENCHMARK(BM_ContentsCacheHit)->Arg(8 << 10)->Arg(64 << 10)->Threads(1)->Threads(2);

void BM_UnorderedMapLookupCopy(benchmark::State& state) {
    static std::unordered_map<std::string, std::string>* map = nullptr;
    static const std::vector<std::string> keys = MakeKeys();
    if (state.thread_index() == 0) {
        map = new std::unordered_map<std::string, std::string>();
        for (int i = 0; i < Keys; ++i) (*map)[keys[i]] = MakePage(state.range(0), i);
    }
    size_t i = state.thread_index();
    for (auto _ : state) {
        const auto found = map->find(keys[i++ % Keys]);
        std::string body = found->second;
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    if (state.thread_index() == 0) {
        delete map;
        map = nullptr;
    }
}
BENCHMARK(BM_UnorderedMapLookupCopy)->Arg(8 << 10)->Arg(64 << 10)->Threads(1)->Threads(2);

}  // namespace

BENCHMARK_MAIN();
