// The /m/ views for a large office: the board page, its live fragment and
// its search, the wall, each answered whole through AnswerView.
//
//   views_bench [benchmark flags]   bytes per answer in the "bytes" counter
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#include "api/live.h"
#include "data/kavel_env.h"
#include "http/http_response_info.h"
#include "pages/page_test_office.h"
#include "views/views.h"

namespace {

struct TOffice {
    explicit TOffice(int count) {
        static const char* const groups[] = {"営業一課", "営業二課", "総務", "経理", "開発", "品質保証"};
        for (int i = 0; i < count; ++i) {
            TTestPerson p;
            p.Key = "p" + std::to_string(i);
            p.Furigana =
                std::string(1, static_cast<char>(0xB1 + i % 45)) + static_cast<char>(0xB1 + (i / 45) % 45) + "ﾀﾛｳ";
            p.Name = "社員" + std::to_string(i) + "号";
            p.Group = groups[i % 6];
            p.Memo = "内線" + std::to_string(1000 + i);
            if (i % 3 == 1) {
                p.ModoriDate = "2020/12/0" + std::to_string(7 + i % 3);
                p.ModoriTime = "17:30";
                p.Huzairiyu = "会議\r\n15時まで";
            }
            p.PowerOff = i % 6 == 5;
            Office.AddPerson(p);
        }
        Office.Open();
        Live = std::make_unique<TLive>(*Office.Env, Office.Dir.Dir(), Office.Clock);
    }
    TPageTestOffice Office;
    std::unique_ptr<TLive> Live;
    TViewSettings Settings;
};

void Answer(benchmark::State& state, const std::string& target) {
    static std::map<int, std::unique_ptr<TOffice>> offices;
    auto& office = offices[static_cast<int>(state.range(0))];
    if (!office) office = std::make_unique<TOffice>(static_cast<int>(state.range(0)));
    const TIdHTTPRequestInfo request = TPageTestOffice::Request(target);
    size_t bytes = 0;
    for (auto _ : state) {
        TIdHTTPResponseInfo response;
        AnswerView(*office->Live, office->Settings, request, response);
        bytes = response.BodyText.size();
        benchmark::DoNotOptimize(response.BodyText.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_Board(benchmark::State& state) { Answer(state, "/m/"); }
void BM_BoardFragment(benchmark::State& state) { Answer(state, "/m/board"); }
void BM_BoardSearch(benchmark::State& state) { Answer(state, "/m/board?q=%E3%81%95"); }  // さ
void BM_Wall(benchmark::State& state) { Answer(state, "/m/wall"); }

BENCHMARK(BM_Board)->Arg(24)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoardFragment)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoardSearch)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wall)->Arg(120)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
