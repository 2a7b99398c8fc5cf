// Pause, continue and stop of the running server through its signals.

#include <signal.h>

#include <gtest/gtest.h>

#include "tests/server_harness.h"

namespace {

TEST(ServerLifecycle, PauseClosesThePortAndContinueReopensItWithTheSameData) {
    TServerFiles files;
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady());
    const THttpAnswer before = HttpGet(files.Port(), "/bg.jpg");
    ASSERT_EQ(before.Status, 200);

    server.Signal(SIGUSR1);
    ASSERT_TRUE(files.WaitForLog("サービスを一時停止しました。"));
    EXPECT_TRUE(ConnectionRefused(files.Port()));

    server.Signal(SIGUSR2);
    ASSERT_TRUE(files.WaitForLog("サービスを再開しました。"));
    const THttpAnswer after = HttpGet(files.Port(), "/bg.jpg", {"If-None-Match: " + *before.Header("ETag")});
    // Same start, same validator: the browser's copy is still good.
    EXPECT_EQ(after.Status, 304);
    EXPECT_EQ(HttpGet(files.Port(), "/keiziban").Status, 200);

    EXPECT_EQ(files.CountLog("サービスの起動処理を開始しました。"), 1);
    EXPECT_EQ(files.CountLog("サービスの起動を完了しました。"), 1);
    EXPECT_EQ(files.CountLog("を開きました。"), 1);

    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(), std::optional<int>(0));
    EXPECT_EQ(files.LogTexts().back(), "サービスの停止を完了しました。");
}

TEST(ServerLifecycle, StopWhilePausedStillCompletes) {
    TServerFiles files;
    TServerProcess server(files);
    ASSERT_TRUE(server.WaitReady());
    server.Signal(SIGUSR1);
    ASSERT_TRUE(files.WaitForLog("サービスを一時停止しました。"));
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(), std::optional<int>(0));
    const std::vector<std::string> texts = files.LogTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "サービスの停止処理を開始しました。");
    EXPECT_EQ(texts.back(), "サービスの停止を完了しました。");
}

}  // namespace
