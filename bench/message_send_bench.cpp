// Message send end to end against the plain prepend it is built on: the
// request for "/udengonsendresult" parsed, routed, the entry prepended to a
// 1 MB unread message file and the notice sent to a loopback client; beside
// it PrependToFile of the same entry bytes on a file of the same size.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "data/kavel_env.h"
#include "data/text_file.h"
#include "http/http_request_parser.h"
#include "http/http_response_info.h"
#include "pages/contents_cache.h"
#include "pages/message_send_page.h"
#include "pages/page_maker.h"
#include "platform/clock.h"

namespace {

constexpr size_t MilBytes = 1 << 20;
// The file grows by one entry a request; it is put back to 1 MB this often.
constexpr int ResetEvery = 32;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Old messages: entries of about 100 bytes up to 1 MB.
std::string OldMessages() {
    std::string entry =
        "○ゲスト(伝言)    送信日時:2020年12月07日(月) 09時05分03秒\r\n"
        "お電話がありました。折り返しお願いします。\r\n\r\n";
    std::string out;
    while (out.size() + entry.size() <= MilBytes) out += entry;
    out.resize(MilBytes, ' ');
    return out;
}

// A common directory with one person whose client listens on a loopback
// socket of this process (datagrams are left to the kernel to drop once the
// buffer is full).
class TBenchOffice {
public:
    TBenchOffice() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quor-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        Dir_ = pattern + "/";

        Fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (Fd_ < 0 || ::bind(Fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::getsockname(Fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            throw std::runtime_error("udp bind failed");

        WriteFile(Dir_ + "kavel.ini",
                  "QUOR_SiteName=bench\r\nUDPMessage,Port=" + std::to_string(ntohs(local.sin_port)) +
                      "\r\nQUOR_Interval,ReloadAllFile=60\r\n");
        WriteFile(Dir_ + "tanaka.kvl",
                  "\"ﾀﾅｶ\"\r\n\"田中太郎\"\r\n\"営業\"\r\n\"内線101\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n"
                  "\"\"\r\n\"127.0.0.1\"\r\n\"0\"\r\n");
        Env_ = std::make_unique<TKavelEnv>(SystemClock());
        Env_->SetCommonDirectory(Dir_);
    }
    ~TBenchOffice() {
        ::close(Fd_);
        std::error_code ec;
        std::filesystem::remove_all(Dir_, ec);
    }

    std::string File(const std::string& name) const { return Dir_ + name; }
    TKavelEnv& Env() { return *Env_; }
    TContentsCache& Cache() { return Cache_; }

private:
    std::string Dir_;
    int Fd_ = -1;
    TContentsCache Cache_;
    std::unique_ptr<TKavelEnv> Env_;
};

const char* const RequestBytes =
    "GET /udengonsendresult?user=tanaka&sender=%97%E9%96%D8&dengonmessage="
    "%82%A8%93d%98b%82%AA%82%A0%82%E8%82%DC%82%B5%82%BD%81B%0D%0A%90%DC%82%E8%95%D4%82%B5"
    "%82%A8%8A%E8%82%A2%82%B5%82%DC%82%B7%81B HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

void BM_MessageSendEndToEnd(benchmark::State& state) {
    TBenchOffice office;
    const std::string old = OldMessages();
    const std::string mil = office.File("tanaka.mil");
    int n = 0;
    for (auto _ : state) {
        if (n++ % ResetEvery == 0) {
            state.PauseTiming();
            WriteFile(mil, old);
            state.ResumeTiming();
        }
        TParsedRequest parsed = ParseHttpRequest(RequestBytes, false);
        parsed.Info.RemoteAddress = "127.0.0.1";
        TIdHTTPResponseInfo response("Quorwell 0.7");
        TKavelPageMaker maker(office.Env(), office.Cache());
        maker.MakePage(parsed.Info, response);
        benchmark::DoNotOptimize(response.BodyText.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PlainPrepend(benchmark::State& state) {
    TBenchOffice office;
    const std::string old = OldMessages();
    const std::string mil = office.File("tanaka.mil");
    // The entry the page composes for the request above (sender 鈴木).
    const std::string entry =
        MessageHeaderLine("鈴木", office.Env().Clock().Now()) + "\r\nお電話がありました。\r\n折り返しお願いします。";
    int n = 0;
    for (auto _ : state) {
        if (n++ % ResetEvery == 0) {
            state.PauseTiming();
            WriteFile(mil, old);
            state.ResumeTiming();
        }
        PrependToFile(mil, entry);
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_MessageSendEndToEnd)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PlainPrepend)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_MAIN();
