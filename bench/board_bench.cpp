// The presence board: building it for a synthetic office against a plain
// concatenation of the same cell texts, and a cached /keiziban hit through
// the page maker.
//
//   board_bench [benchmark flags]          the micro benchmarks
//   board_bench --serve [--port N] [--persons N] [--cpu-report FILE]
//       serves the office's pages through the page maker (every request also
//       writes its log-file line, as the service does) until SIGINT/SIGTERM,
//       for load tests beside other servers, e.g. with the anchors harness:
//         taskset -c 0 build/bench/board_bench --serve --port 18091 --persons 30 &
//         run-anchors.sh 127.0.0.1:18091/keiziban
//   board_bench --page [--persons N]       writes the board's bytes to stdout
#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "data/kavel_env.h"
#include "data/person_status.h"
#include "data/persons_list.h"
#include "http/http_server.h"
#include "log/event_log.h"
#include "pages/board_page.h"
#include "pages/contents_cache.h"
#include "pages/page_maker.h"
#include "platform/clock.h"
#include "platform/event_sink.h"

namespace {

const TDateTime Now = EncodeDate(2020, 12, 7) + EncodeTime(9, 5, 3, 0);

// Half-width katakana readings over all rows, a dozen groups and the usual
// mix of present, away (today, tomorrow, later, open) and switched off.
struct TValues {
    std::string Furigana, Name, Group, Memo, Huzairiyu, ModoriDate, ModoriTime, IP;
    bool PowerOff = false;
};

TValues SyntheticPerson(int i) {
    static const char* const groups[] = {"営業一課", "営業二課", "総務", "経理", "開発",         "品質保証",
                                         "人事",     "企画",     "広報", "法務", "情報システム", "購買"};
    static const char* const reasons[] = {"会議\r\n15時まで", "外出（客先）", "出張", "休暇", "研修"};
    TValues v;
    const unsigned char first = static_cast<unsigned char>(0xB1 + i % 45);  // ｱ .. ﾝ
    const unsigned char second = static_cast<unsigned char>(0xB1 + (i / 45) % 45);
    v.Furigana = std::string(1, static_cast<char>(first)) + static_cast<char>(second) + "ﾀﾛｳ";
    v.Name = "社員" + std::to_string(i) + "号";
    v.Group = groups[i % 12];
    v.Memo = "内線" + std::to_string(1000 + i);
    v.IP = "127.0.0." + std::to_string(1 + i % 250);
    switch (i % 6) {
        case 0:
        case 1:
            break;  // present
        case 2:
            v.ModoriDate = "2020/12/07";
            v.ModoriTime = "17:30";
            break;
        case 3:
            v.ModoriDate = "2020/12/08";
            v.ModoriTime = "10:00";
            break;
        case 4:
            v.ModoriDate = "2020/12/24";
            break;
        case 5:
            v.PowerOff = true;
            break;
    }
    if (!v.ModoriDate.empty()) v.Huzairiyu = std::string(reasons[i % 5]) + "\r\n";
    return v;
}

std::unique_ptr<TKavelPersonsList> SyntheticList(int count) {
    auto list = std::make_unique<TKavelPersonsList>();
    list->SetLoadTime(Now);
    for (int i = 0; i < count; ++i) {
        const TValues v = SyntheticPerson(i);
        auto p = std::make_unique<TKavelPerson>();
        p->FilePath = "/office/p" + std::to_string(i) + ".kvl";
        p->Furigana = v.Furigana;
        p->Name = v.Name;
        p->Group = v.Group;
        p->Memo = v.Memo;
        p->Huzairiyu = v.Huzairiyu.empty() ? "\r\n" : v.Huzairiyu;
        p->ModoriDate = v.ModoriDate;
        p->ModoriTime = v.ModoriTime;
        p->IP = v.IP;
        p->PowerOFF = v.PowerOff;
        list->Add(std::move(p));
    }
    list->Sort();
    return list;
}

// The same office as files, for the page maker.
std::string WriteOffice(int count) {
    std::string dir = (std::filesystem::temp_directory_path() / "quor-board-XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    dir += "/";
    std::ofstream(dir + "kavel.ini", std::ios::binary)
        << "QUOR_SiteName=行き先掲示板\r\nQUOR_Interval,ReloadAllFile=60\r\n";
    auto q = [](const std::string& s) { return "\"" + s + "\"\r\n"; };
    for (int i = 0; i < count; ++i) {
        const TValues v = SyntheticPerson(i);
        std::string reason = v.Huzairiyu;
        if (reason.size() >= 2) reason.resize(reason.size() - 2);
        const std::string key = dir + "p" + std::to_string(i);
        std::ofstream(key + ".kvl", std::ios::binary)
            << q(v.Furigana) << q(v.Name) << q(v.Group) << q(v.Memo) << q(reason) << q(v.ModoriDate) << q(v.ModoriTime)
            << q("") << q(v.IP) << q("0");
        if (v.PowerOff) std::ofstream(key + ".off");
    }
    return dir;
}

void BM_BuildBoard(benchmark::State& state) {
    const auto list = SyntheticList(static_cast<int>(state.range(0)));
    const TPersonStatusCollection statuses;
    size_t bytes = 0;
    for (auto _ : state) {
        std::string page = BuildBoardText(*list, "行き先掲示板", statuses, Now, "", "");
        bytes = page.size();
        benchmark::DoNotOptimize(page.data());
    }
    state.counters["page_bytes"] = static_cast<double>(bytes);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The floor: the finished cell texts of every person, only put together.
void BM_ConcatCells(benchmark::State& state) {
    const auto list = SyntheticList(static_cast<int>(state.range(0)));
    const TPersonStatusCollection statuses;
    std::vector<std::string> cells;
    for (int i = 0; i < list->Count(); ++i) cells.push_back(MakeBoardCells((*list)[i], Now, statuses));
    const std::string empty = BuildBoardText(TKavelPersonsList(), "行き先掲示板", statuses, Now, "", "");
    const size_t split = empty.find("\r\n      </TABLE>");
    const std::string head = empty.substr(0, split), tail = empty.substr(split);
    for (auto _ : state) {
        std::string page = head;
        for (size_t i = 0; i < cells.size(); ++i) {
            if (i % 2 == 0) page += "<TR>";
            page += cells[i];
            if (i % 2 == 1 || i + 1 == cells.size()) page += "</TR>\r\n";
        }
        page += tail;
        benchmark::DoNotOptimize(page.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_BuildBoard)->Arg(300)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConcatCells)->Arg(300)->Arg(10000)->Unit(benchmark::kMicrosecond);

// One cached board request through MakePage: lock, persons list, lookup, and
// the page handed to the response as a shared buffer.
void BM_CachedBoardHit(benchmark::State& state) {
    const std::string dir = WriteOffice(static_cast<int>(state.range(0)));
    TFixedClock clock(Now);
    TKavelEnv env(clock);
    env.SetCommonDirectory(dir);
    TContentsCache cache;
    TIdHTTPRequestInfo request;
    request.DocumentPath = "/keiziban";
    request.RemoteAddress = "127.0.0.1";
    for (auto _ : state) {
        TIdHTTPResponseInfo response("Quorwell 0.7");
        TKavelPageMaker(env, cache).MakePage(request, response);
        benchmark::DoNotOptimize(response.Body().data());
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CachedBoardHit)->Arg(300)->Unit(benchmark::kMicrosecond);

int Serve(int port, int persons, const char* cpuReport) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    const std::string dir = WriteOffice(persons);
    TKavelEnv env;  // the system clock: the pages show the real scan time
    env.SetCommonDirectory(dir);
    TContentsCache cache;
    TCapturingEventSink sink;  // never the machine's log
    TLogger logger(dir, SystemClock(), sink);
    TScopedLogger installed(logger);

    TIdHTTPServer server;
    server.DefaultPort = static_cast<std::uint16_t>(port);
    server.ServerSoftware = "Quorwell 0.7";
    server.OnCommandGet = [&](TIdPeerThread&, const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
        WriteLogFile(request.RemoteAddress + " " + request.DocumentPath, EventInformation);
        TKavelPageMaker(env, cache).MakePage(request, response);
    };
    try {
        server.Activate();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "listening on port %u, %d persons, log %sQUOR.LOG\n", server.BoundPort(), persons,
                 dir.c_str());
    int sig = 0;
    sigwait(&stop, &sig);
    server.Deactivate();
    const THttpServerStatistics s = server.Statistics();
    if (cpuReport) {
        if (std::FILE* f = std::fopen(cpuReport, "w")) {
            std::timespec ts{};
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
            std::fprintf(f, "%.6f %llu\n", ts.tv_sec + ts.tv_nsec / 1e9, static_cast<unsigned long long>(s.Answered));
            std::fclose(f);
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool serve = false, page = false;
    int port = 18091, persons = 300;
    const char* cpuReport = nullptr;
    for (int i = 1; i < argc; ++i) {
        const bool more = i + 1 < argc;
        if (!std::strcmp(argv[i], "--serve"))
            serve = true;
        else if (!std::strcmp(argv[i], "--page"))
            page = true;
        else if (!std::strcmp(argv[i], "--port") && more)
            port = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--persons") && more)
            persons = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--cpu-report") && more)
            cpuReport = argv[++i];
    }
    if (serve) return Serve(port, persons, cpuReport);
    if (page) {
        const auto list = SyntheticList(persons);
        const TPersonStatusCollection statuses;
        const std::string text = BuildBoardText(*list, "行き先掲示板", statuses, Now, "", "");
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
