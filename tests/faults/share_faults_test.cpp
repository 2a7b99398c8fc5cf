// The common directory moved away and back, as a dropped share looks: the
// board keeps the last persons it read and says on its reload line that they
// are stale, writes fail with the file-error text without touching a file,
// and the board is current again within 2 s of the directory's return,
// however long the reload interval.

#include <filesystem>
#include <thread>  // also the clocks; <chrono> itself does not compile for CP932

#include <gtest/gtest.h>

#include "tests/server_harness.h"
#include "tests/soak/office_tuning.h"

namespace {

const std::string Yamada = "山田 太郎";
const std::string Aoki = "青木 一郎";
const std::string StaleNotice = "から共有フォルダを読めません。";

using TSteady = std::chrono::steady_clock;

int CountFiles(const std::string& directory) {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) n += entry.is_regular_file();
    return n;
}

TEST(ShareFaults, AVanishedShareKeepsTheBoardMarkedStaleAndComesBackAtOnce) {
    TServerFiles files;
    TServerProcess server(files);  // the sample's reload interval: one minute
    ASSERT_TRUE(server.WaitReady()) << server.EventText();
    const std::string office = files.Office().substr(0, files.Office().size() - 1);
    const std::string away = office + ".away";

    const THttpAnswer healthy = HttpGet(files.Port(), "/keiziban");
    ASSERT_EQ(healthy.Status, 200);
    ASSERT_NE(healthy.Body.find(Aoki), std::string::npos);
    EXPECT_EQ(healthy.Body.find(StaleNotice), std::string::npos);

    std::filesystem::rename(office, away);
    // Every board while it is gone still lists the office; the mark follows soon.
    bool marked = false;
    for (auto until = TSteady::now() + std::chrono::seconds(3); !marked && TSteady::now() < until;) {
        const THttpAnswer board = HttpGet(files.Port(), "/keiziban");
        ASSERT_EQ(board.Status, 200);
        ASSERT_NE(board.Body.find(Yamada), std::string::npos) << "an empty board for a vanished share";
        marked = board.Body.find(StaleNotice) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(marked) << "the board does not say its data is stale";

    const int filesAway = CountFiles(away);
    const std::string mail = ReadBytes(away + "/yamada.mil").value_or("");
    const THttpAnswer sent = HttpGet(files.Port(), "/udengonsendresult?user=yamada&sender=x&dengonmessage=lost");
    EXPECT_EQ(sent.Status, 500);
    EXPECT_NE(sent.Body.find("yamada.mil&quot;. "), std::string::npos) << sent.Body;
    EXPECT_NE(sent.Body.find("を作成できません"), std::string::npos) << sent.Body;
    const THttpAnswer absence =
        HttpGet(files.Port(), "/uhuzaisetsubmit?user=yamada&modoritype=nolimit&statusicon=1&huzairiyu=lost");
    EXPECT_EQ(absence.Status, 500);
    EXPECT_NE(absence.Body.find("yamada.kvl&quot;. "), std::string::npos) << absence.Body;
    EXPECT_FALSE(std::filesystem::exists(office));
    EXPECT_EQ(CountFiles(away), filesAway);
    EXPECT_EQ(ReadBytes(away + "/yamada.mil").value_or(""), mail);

    // Changed while away: the returning share must be read afresh, not an interval later.
    std::filesystem::remove(away + "/aoki.kvl");
    std::filesystem::rename(away, office);
    const auto back = TSteady::now();
    bool current = false;
    while (!current && TSteady::now() - back < std::chrono::seconds(2)) {
        const THttpAnswer board = HttpGet(files.Port(), "/keiziban");
        ASSERT_EQ(board.Status, 200);
        ASSERT_NE(board.Body.find(Yamada), std::string::npos);
        current = board.Body.find(Aoki) == std::string::npos && board.Body.find(StaleNotice) == std::string::npos;
        if (!current) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(current) << "the board was not current within 2 s of the share's return";
    EXPECT_EQ(files.CountLog("を読めません。最後に読込んだ情報を表示し続けます。"), 1);
    EXPECT_EQ(files.CountLog("を再び読めるようになりました。"), 1);
}

}  // namespace
