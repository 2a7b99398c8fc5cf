#include "log/event_log.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/test_temp_dir.h"

namespace {

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

const std::string Stamp = "2024/03/07 09:05:08 ";

// Another program holding path open for writing.
class TForeignWriter {
public:
    explicit TForeignWriter(const std::string& path) {
#ifdef _WIN32
        Handle_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
        Held_ = Handle_ != INVALID_HANDLE_VALUE;
#else
        Fd_ = ::open(path.c_str(), O_RDWR);
        Held_ = Fd_ >= 0 && ::flock(Fd_, LOCK_EX) == 0;
#endif
    }
    ~TForeignWriter() {
#ifdef _WIN32
        if (Handle_ != INVALID_HANDLE_VALUE) CloseHandle(Handle_);
#else
        if (Fd_ >= 0) ::close(Fd_);
#endif
    }
    bool Held() const { return Held_; }

private:
#ifdef _WIN32
    HANDLE Handle_ = INVALID_HANDLE_VALUE;
#else
    int Fd_ = -1;
#endif
    bool Held_ = false;
};

void SetHomeVariable(const std::string& value) {
#ifdef _WIN32
    _putenv_s("QUORWELL_HOME", value.c_str());  // empty removes it
#else
    if (value.empty())
        ::unsetenv("QUORWELL_HOME");
    else
        ::setenv("QUORWELL_HOME", value.c_str(), 1);
#endif
}

class TLoggerTest : public ::testing::Test {
protected:
    std::unique_ptr<TLogger> MakeLogger() {
        return std::make_unique<TLogger>(Dir_.Dir(), Clock_, Sink_, [this](const std::string& text) {
            std::lock_guard<std::mutex> hold(ConsoleLock_);
            Console_ += text;
        });
    }
    std::string Log() const { return Dir_.Read("QUOR.LOG"); }

    TTestTempDir Dir_;
    TFixedClock Clock_{EncodeDate(2024, 3, 7) + EncodeTime(9, 5, 8)};
    TCapturingEventSink Sink_;
    std::mutex ConsoleLock_;
    std::string Console_;
};

TEST_F(TLoggerTest, EventsGoToTheEventLogAndTheFileWithTheirKind) {
    auto logger = MakeLogger();
    ASSERT_TRUE(logger->HasLogFile());
    logger->WriteEventLog("ポートを開けません", EventWarning, 0);
    logger->WriteEventLog("e", EventError, 0);
    logger->WriteEventLog("u", 0x12345678, 0);

    const auto entries = Sink_.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Type, TEventType::Warning);
    EXPECT_EQ(entries[0].EventId, 0x80000002u);
    EXPECT_EQ(entries[0].Category, 0);
    EXPECT_EQ(entries[0].Text, "ポートを開けません");
    EXPECT_EQ(entries[1].Type, TEventType::Error);
    EXPECT_EQ(entries[2].Type, TEventType::Information) << "unknown kinds count as information";
    EXPECT_EQ(entries[2].EventId, 0x12345678u);
    EXPECT_EQ(Log(), Stamp + "警告　 ポートを開けません\r\n" + Stamp + "エラー e\r\n" + Stamp + "情報　 u\r\n");
    EXPECT_EQ(Console_, "");
}

TEST_F(TLoggerTest, FileLinesTakeTheTimeOfTheirWriteAndLaterStartsAppend) {
    MakeLogger()->WriteLogFile("127.0.0.1 /keiziban", EventInformation);
    Clock_.Set(EncodeDate(2024, 3, 8) + EncodeTime(0, 0, 1));
    MakeLogger()->WriteLogFile("two\r\nlines", EventWarning);
    EXPECT_TRUE(Sink_.Entries().empty());
    EXPECT_EQ(Log(), Stamp +
                         "情報　 127.0.0.1 /keiziban\r\n"
                         "2024/03/08 00:00:01 警告　 two\r\nlines\r\n");
}

#ifndef _WIN32
TEST_F(TLoggerTest, ReopenFollowsARotationAndTheUtf8CopyHasTheSameLines) {
    auto logger = MakeLogger();
    logger->WriteLogFile("off", EventInformation);
    EXPECT_FALSE(std::filesystem::exists(Dir_.File("QUOR.UTF8.LOG"))) << "the copy is off by default";
    logger->SetUtf8Copy(true);
    logger->WriteLogFile("前", EventInformation);
    for (const char* name : {"QUOR.LOG", "QUOR.UTF8.LOG"})
        ASSERT_EQ(std::rename(Dir_.File(name).c_str(), (Dir_.File(name) + ".1").c_str()), 0);
    logger->WriteLogFile("moved", EventInformation);
    logger->Reopen();
    logger->WriteLogFile("後", EventWarning);
    logger->SetUtf8Copy(false);
    logger->WriteLogFile("end", EventInformation);

    EXPECT_EQ(Dir_.Read("QUOR.LOG.1"), Stamp + "情報　 off\r\n" + Stamp + "情報　 前\r\n" + Stamp + "情報　 moved\r\n");
    EXPECT_EQ(Log(), Stamp + "警告　 後\r\n" + Stamp + "情報　 end\r\n");
    EXPECT_EQ(Dir_.Read("QUOR.UTF8.LOG.1"),
              Utf8(u8"2024/03/07 09:05:08 情報　 前\n2024/03/07 09:05:08 情報　 moved\n"));
    EXPECT_EQ(Dir_.Read("QUOR.UTF8.LOG"), Utf8(u8"2024/03/07 09:05:08 警告　 後\n"));
    // The files made fresh after the rotation have the log's mode too.
    for (const char* name : {"QUOR.LOG", "QUOR.UTF8.LOG"})
        EXPECT_EQ(std::filesystem::status(Dir_.File(name)).permissions(),
                  std::filesystem::perms(NewLogFileMode)) << name;
    EXPECT_TRUE(Sink_.Entries().empty());
    EXPECT_EQ(Console_, "");
}
#endif

TEST_F(TLoggerTest, WithoutAFileTheErrorIsReportedAndTheEventLogStillWorks) {
    Dir_.Write("QUOR.LOG", "kept\r\n");
    {
        TForeignWriter other(Dir_.File("QUOR.LOG"));
        ASSERT_TRUE(other.Held());
        auto logger = MakeLogger();
        EXPECT_FALSE(logger->HasLogFile());
        logger->WriteEventLog("started", EventInformation, 0);
        logger->WriteLogFile("request", EventInformation);
    }

    const auto entries = Sink_.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].EventId, EventError);
    EXPECT_EQ(entries[0].Text, "ログファイルを作成することができませんでした。ログは出力されません。");
    EXPECT_EQ(entries[1].Text, "started");
    EXPECT_EQ(Log(), "kept\r\n");
    EXPECT_EQ(Console_, "") << "running without a file is no write failure";

    // No home at all, or one that does not exist, ends the same way.
    TLogger none("", Clock_, Sink_, [](const std::string&) {});
    TLogger gone(Dir_.File("gone"), Clock_, Sink_, [](const std::string&) {});
    EXPECT_FALSE(none.HasLogFile() || gone.HasLogFile());
    EXPECT_EQ(Sink_.Entries().size(), 4u);
}

TEST_F(TLoggerTest, AFailingEventLogIsToldOnTheConsoleAndTheLineIsStillWritten) {
    auto logger = MakeLogger();
    Sink_.SetFailing(true);
    EXPECT_NO_THROW(logger->WriteEventLog("stopped", EventInformation, 0));
    EXPECT_EQ(Console_, "イベントログへの書込みに失敗しました。");
    EXPECT_EQ(Log(), Stamp + "情報　 stopped\r\n");

    TLogger mute(Dir_.File("other"), Clock_, Sink_,
                 [](const std::string&) { throw std::runtime_error("console gone"); });
    EXPECT_NO_THROW(mute.WriteEventLog("x", EventError, 0));
}

#ifndef _WIN32
TEST_F(TLoggerTest, AFailingFileWriteIsToldOnStandardOutputInUtf8) {
    std::filesystem::create_symlink("/dev/full", Dir_.File("QUOR.LOG"));
    TLogger logger(Dir_.Dir(), Clock_, Sink_);
    ASSERT_TRUE(logger.HasLogFile());
    testing::internal::CaptureStdout();
    EXPECT_NO_THROW(logger.WriteLogFile("a", EventInformation));
    EXPECT_NO_THROW(logger.WriteEventLog("b", EventInformation, 0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              Utf8(u8"イベントログへの書込みに失敗しました。イベントログへの書込みに失敗しました。"));
    EXPECT_EQ(Sink_.Entries().size(), 1u);
}
#endif

TEST_F(TLoggerTest, ThreadsWritingAtOnceKeepEveryLineWhole) {
    auto logger = MakeLogger();
    constexpr int Threads = 6, Lines = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([&, t] {
            // Long lines make a torn write visible.
            const std::string text = "line " + std::to_string(t) + std::string(200, 'a' + t);
            for (int i = 0; i < Lines; ++i) {
                if (i % 50 == 0)
                    logger->WriteEventLog("event", EventWarning, 0);
                else
                    logger->WriteLogFile(text, EventInformation);
            }
        });
    }
    for (auto& w : writers) w.join();

    const std::string log = Log();
    const std::string request = Stamp + "情報　 line ";
    size_t lines = 0;
    for (size_t at = 0; at < log.size(); ++lines) {
        const size_t end = log.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = log.substr(at, end - at);
        at = end + 2;
        if (line == Stamp + "警告　 event") continue;
        ASSERT_GT(line.size(), request.size()) << line;
        const int t = line[request.size()] - '0';
        ASSERT_EQ(line, request + std::to_string(t) + std::string(200, 'a' + t));
    }
    EXPECT_EQ(lines, static_cast<size_t>(Threads * Lines));
    EXPECT_EQ(Sink_.Entries().size(), static_cast<size_t>(Threads * Lines / 50));
}

TEST_F(TLoggerTest, FreeFunctionsWriteThroughTheInstalledLoggerOnly) {
    auto logger = MakeLogger();
    ASSERT_EQ(CurrentLogger(), nullptr);
    WriteEventLog("lost", EventError);
    RegisterEventLogSource();
    {
        TScopedLogger scope(*logger);
        RegisterEventLogSource();
        WriteEventLog("kept", EventInformation);
        WriteLogFile("line", EventInformation);
    }
    EXPECT_EQ(CurrentLogger(), nullptr);
    WriteLogFile("lost again", EventInformation);
    EXPECT_EQ(Sink_.OpenCount(), 1);
    ASSERT_EQ(Sink_.Entries().size(), 1u);
    EXPECT_EQ(Log(), Stamp + "情報　 kept\r\n" + Stamp + "情報　 line\r\n");
}

TEST(ProcessLogging, OpensQuorLogInTheHomeDirectory) {
    TTestTempDir home;
    TCapturingEventSink sink;
    SetHomeVariable(home.Dir());
    InitializeLogging(sink);
    const bool hasFile = CurrentLogger() != nullptr && CurrentLogger()->HasLogFile();
    WriteEventLog("hello", EventInformation);
    FinalizeLogging();
    SetHomeVariable("");
    EXPECT_TRUE(hasFile);
    EXPECT_EQ(CurrentLogger(), nullptr);
    EXPECT_EQ(sink.Entries().size(), 1u);
    const std::string log = home.Read("QUOR.LOG");
    EXPECT_EQ(log.size(), Stamp.size() + 14);
    EXPECT_EQ(log.substr(19), " 情報　 hello\r\n");
}

}  // namespace
