// What the Windows layer adds to the portable behaviour: share modes against
// other openers, closed sockets leaving their pollers, the event source's
// registry values, the service install path. Runs under Wine in CI.

#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/event_sink.h"
#include "platform/file_system.h"
#include "platform/home_dir.h"
#include "platform/service_host.h"
#include "platform/tcp_poller.h"
#include "platform/tcp_socket.h"
#include "platform/test_temp_dir.h"

namespace {

// An open of path by someone else, with the given access and share mode.
class TForeignOpen {
public:
    TForeignOpen(const std::string& path, DWORD access, DWORD share)
        : H_(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {
        EXPECT_NE(H_, INVALID_HANDLE_VALUE) << GetLastError();
    }
    ~TForeignOpen() { Release(); }
    void Release() {
        if (H_ != INVALID_HANDLE_VALUE) CloseHandle(H_);
        H_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE H_;
};

class WindowsFiles : public ::testing::Test {
protected:
    void SetUp() override { SetForeignLockWait(100); }
    void TearDown() override { SetForeignLockWait(5000); }
    TTestTempDir dir;
};

TEST_F(WindowsFiles, AWriterElsewhereHoldsReadsOffUntilItLetsGo) {
    dir.Write("a.kvl", "old");
    const std::string path = dir.File("a.kvl");
    {
        TForeignOpen writer(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_THROW(ReadWholeFile(path), EFOpenError);
    }
    EXPECT_EQ(ReadWholeFile(path), "old");
}

TEST_F(WindowsFiles, AReaderElsewhereHoldsReplaceOffAndTheOldContentStays) {
    dir.Write("a.kvl", "old");
    const std::string path = dir.File("a.kvl");
    {
        TForeignOpen reader(path, GENERIC_READ, FILE_SHARE_READ);
        EXPECT_THROW(ReplaceFileContent(path, "new"), EInOutError);
        EXPECT_EQ(dir.Read("a.kvl"), "old");
    }
    ReplaceFileContent(path, "new");
    EXPECT_EQ(dir.Read("a.kvl"), "new");
    // No temporary file is left behind either way.
    EXPECT_EQ(FindFilesByExtension(dir.Dir(), ".tmp").size(), 0u);
}

TEST_F(WindowsFiles, RewriteWaitsForAShortForeignHoldAndThenSucceeds) {
    dir.Write("a.mil", "tail");
    const std::string path = dir.File("a.mil");
    SetForeignLockWait(5000);
    auto* reader = new TForeignOpen(path, GENERIC_READ, FILE_SHARE_READ);
    std::thread release([&] {
        Sleep(200);
        reader->Release();
    });
    RewriteFileContent(path, [](const std::string* old) { return "head" + *old; });
    release.join();
    delete reader;
    EXPECT_EQ(dir.Read("a.mil"), "headtail");
}

// A prepend holds the file unshared: nobody reads the old message file
// while the new one is composed from it.
TEST_F(WindowsFiles, RewriteHoldsEveryOtherOpenerOffWhileItComposes) {
    dir.Write("a.mil", "tail");
    const std::string path = dir.File("a.mil");
    DWORD readError = 0, writeError = 0;
    RewriteFileContent(path, [&](const std::string* old) {
        const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, all, nullptr, OPEN_EXISTING, 0, nullptr);
        readError = reader == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        writeError = writer == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        return "head" + *old;
    });
    EXPECT_EQ(readError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(writeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(dir.Read("a.mil"), "headtail");
    // Once it is done the file is free again.
    TForeignOpen after(path, GENERIC_WRITE, 0);
}

// A client may move its read messages to .old while we compose (our hold
// shares delete for our own move): they must not come back.
TEST_F(WindowsFiles, RewriteStartsOverWhenTheFileWasMovedAwayWhileItComposed) {
    dir.Write("m.mil", "read");
    const std::string path = dir.File("m.mil");
    bool moved = false;
    RewriteFileContent(path, [&](const std::string* old) {
        if (!moved) {
            moved = true;
            EXPECT_TRUE(MoveFileA(path.c_str(), dir.File("m.old").c_str())) << GetLastError();
        }
        return old ? "new+" + *old : std::string("new");
    });
    EXPECT_EQ(dir.Read("m.mil"), "new");
    EXPECT_EQ(dir.Read("m.old"), "read");
    EXPECT_TRUE(FindFilesByExtension(dir.Dir(), ".tmp").empty());
}

// A client reading the file the way Windows programs do sees the old content
// or the new, whole, never a mix or a cut; an open that meets the move fails.
TEST_F(WindowsFiles, ReplaceIsAtomicForOtherReaders) {
    const std::string a(100000, 'a'), b(150000, 'b');
    dir.Write("p.kvl", a);
    const std::string path = dir.File("p.kvl");
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, reads{0};
    std::thread reader([&] {
        std::string content(200000, '\0');
        while (!done.load()) {
            HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE) continue;
            size_t used = 0;
            DWORD got = 0;
            while (ReadFile(h, &content[used], static_cast<DWORD>(content.size() - used), &got, nullptr) && got > 0)
                used += got;
            CloseHandle(h);
            ++reads;
            const std::string seen = content.substr(0, used);
            if (seen != a && seen != b) ++torn;
            Sleep(1);  // a gap for the writer, as between a client's reads
        }
    });
    int replaced = 0;
    for (int i = 0; i < 100; ++i) {
        try {
            ReplaceFileContent(path, i % 2 ? a : b);
            ++replaced;
        } catch (const EInOutError&) {
            // The reader held it past the wait: the old content stays.
        }
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_GT(replaced, 0);
    const std::string last = dir.Read("p.kvl");
    EXPECT_TRUE(last == a || last == b);
    EXPECT_EQ(FindFilesByExtension(dir.Dir(), ".tmp").size(), 0u);
}

// The common directory is named the Windows way ("D:\\Kavel\\"); a person's
// key is the file name alone, and 0x5C inside a two-byte character (表 is
// 95 5C) is no separator.
TEST(WindowsPaths, NamesPartAtBackslashesButNotInsideATwoByteCharacter) {
    EXPECT_EQ(ExtractFileBaseName("C:\\office\\aoki.kvl"), "aoki");
    EXPECT_EQ(ExtractFileBaseName("C:\\office\\表.kvl"), "表");
    EXPECT_EQ(ExtractFileBaseName("C:\\表\\aoki.kvl"), "aoki");
    EXPECT_EQ(ExtractFileName("C:aoki.kvl"), "aoki.kvl");
    EXPECT_EQ(ChangeFileExt("C:\\off.ice\\aoki", ".mil"), "C:\\off.ice\\aoki.mil");
    EXPECT_EQ(ChangeFileExt("C:\\office\\表.kvl", ".mil"), "C:\\office\\表.mil");
    EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\office\\"), "C:\\office\\");
    EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\表"), "C:\\表/");
}

TEST_F(WindowsFiles, BackslashPathsAreSearchedAndReplacedInPlace) {
    std::string office = dir.Dir();
    for (char& c : office)
        if (c == '/') c = '\\';
    dir.Write("a.kvl", "old");
    ReplaceFileContent(office + "a.kvl", "new");
    EXPECT_EQ(dir.Read("a.kvl"), "new");
    EXPECT_EQ(FindFilesByExtension(office, ".kvl"), (std::vector<std::string>{"a.kvl"}));
    EXPECT_TRUE(FindFilesByExtension(office, ".tmp").empty());
}

TEST_F(WindowsFiles, ReadOnlyFilesAreRefusedAndSearchSkipsDirectories) {
    dir.Write("ro.kvl", "keep");
    ASSERT_TRUE(SetFileAttributesA(dir.File("ro.kvl").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_THROW(ReplaceFileContent(dir.File("ro.kvl"), "x"), EInOutError);
    EXPECT_EQ(dir.Read("ro.kvl"), "keep");
    SetFileAttributesA(dir.File("ro.kvl").c_str(), FILE_ATTRIBUTE_NORMAL);

    ASSERT_TRUE(CreateDirectoryA(dir.File("sub.kvl").c_str(), nullptr));
    dir.Write("B.KVL", "");
    EXPECT_EQ(FindFilesByExtension(dir.Dir(), ".kvl"), (std::vector<std::string>{"B.KVL", "ro.kvl"}));
    EXPECT_TRUE(FindFilesByExtension(dir.File("missing"), ".kvl").empty());
}

TEST_F(WindowsFiles, ErrorsSpeakThePagesLanguageAndStaleTemporariesGo) {
    try {
        ReplaceFileContent(dir.File("no\\such.kvl"), "x");
        ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("ファイル \"" + dir.File("no\\such.kvl") + "\". ", 0), 0u) << text;
        EXPECT_TRUE(text.ends_with(" を作成できません")) << text;
    }
    EXPECT_THROW(ReadWholeFile(dir.File("none.kvl")), EFOpenError);

    dir.Write(".quor-1-0.tmp", "left");
    dir.Write("a.kvl", "client");
    for (int i = 0; i < 20; ++i) ReplaceFileContent(dir.File("p.kvl"), std::to_string(i));
    EXPECT_EQ(RemoveStaleTempFiles(dir.Dir(), 60), 0);  // fresh: may be a write in progress
    EXPECT_EQ(RemoveStaleTempFiles(dir.Dir(), -1), 1);
    EXPECT_EQ(dir.Read("a.kvl"), "client");
    EXPECT_EQ(dir.Read("p.kvl"), "19");
}

TEST(WindowsPoller, AClosedSocketLeavesThePollerSoItsHandleCanComeBack) {
    TTcpListener listener;
    listener.Open(0, 5);
    TTcpPoller poller;
    int first = 0, second = 0;
    TTcpSocket a = TTcpSocket::Connect("127.0.0.1", listener.Port());
    const TSocketHandle handle = a.Handle();
    poller.Add(handle, PollRead, &first);
    a.Close();
    // Whatever socket gets the handle next is watched afresh, not refused.
    TTcpSocket b = TTcpSocket::Connect("127.0.0.1", listener.Port());
    poller.Add(b.Handle(), PollRead, &second);
    TPollEvent events[4];
    EXPECT_EQ(poller.Wait(events, 0), 0);
}

TEST(WindowsPoller, TimersAndWakeEndTheWait) {
    TTcpPoller poller;
    TPollTimer timer;
    int tag = 0;
    poller.Add(timer.Handle(), PollRead, &tag);
    TPollEvent events[4];
    EXPECT_EQ(poller.Wait(events, 0), 0);
    // Arming signals the watching pollers only to look again: the wait goes
    // on until the timer expires, as it does on a timer handle elsewhere.
    timer.Arm(100000);
    timer.Arm(20);
    ASSERT_EQ(poller.Wait(events, 10000), 1);
    EXPECT_EQ(events[0].Tag, &tag);
    EXPECT_TRUE(timer.Consume());
    EXPECT_FALSE(timer.Consume());
    std::thread waker([&] {
        Sleep(50);
        poller.Wake();
    });
    EXPECT_EQ(poller.Wait(events, 10000), 0);
    waker.join();
}

// A socket added while another thread waits is watched by that same wait.
TEST(WindowsPoller, ASocketAddedDuringAWaitIsReportedByIt) {
    TTcpListener listener;
    listener.Open(0, 5);
    TTcpPoller poller;
    int tag = 0;
    TTcpSocket client = TTcpSocket::Connect("127.0.0.1", listener.Port());
    std::thread adder([&] {
        Sleep(50);
        poller.Add(listener.Handle(), PollRead, &tag);
    });
    TPollEvent events[4];
    const int n = poller.Wait(events, 10000);
    adder.join();
    ASSERT_EQ(n, 1);
    EXPECT_EQ(events[0].Tag, &tag);
    EXPECT_TRUE(events[0].Events & PollRead);
}

TEST(WindowsEventLog, OpenWritesTheSourceValuesAndReportsSucceed) {
    TSyslogEventSink sink;
    sink.Open();
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QUOR", 0,
                            KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    char path[MAX_PATH] = {};
    DWORD type = 0, size = sizeof path;
    EXPECT_EQ(RegQueryValueExA(key, "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(path), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    EXPECT_STREQ(path, self);
    DWORD types = 0;
    size = sizeof types;
    EXPECT_EQ(RegQueryValueExA(key, "TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&types), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(types, 7u);
    RegCloseKey(key);
    for (const TEventEntry& entry : {TEventEntry{TEventType::Information, 0, 0x40000000, "情報のテスト"},
                                     TEventEntry{TEventType::Warning, 0, 0x80000002, "警告のテスト"},
                                     TEventEntry{TEventType::Error, 0, 0xC0000001, "エラーのテスト"}})
        EXPECT_NO_THROW(sink.Report(entry)) << entry.EventId;
}

// The service framework's failures go under a source of their own.
TEST(WindowsEventLog, FrameworkFailuresAreReportedUnderTheirOwnSource) {
    EXPECT_TRUE(ReportErrorUnderSource("svcMain", "サービス失敗 停止: テスト"));
}

// The values follow the executable: opening from another path rewrites them.
TEST(WindowsEventLog, EveryOpenWritesTheValuesAgain) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QUOR", 0,
                              nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char stale[] = "C:\\old\\quorwell.exe";
    ASSERT_EQ(
        RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(stale), sizeof stale),
        ERROR_SUCCESS);
    TSyslogEventSink().Open();
    char path[MAX_PATH] = {};
    DWORD size = sizeof path;
    EXPECT_EQ(RegQueryValueExA(key, "EventMessageFile", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    EXPECT_STREQ(path, self);
}

TEST(WindowsHome, ExecutablePathIsTheModuleWithForwardSlashes) {
    const std::string path = ExecutablePath();
    EXPECT_EQ(path.find('\\'), std::string::npos);
    EXPECT_TRUE(FileExists(path));
    char self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string expected(self, length);
    for (char& c : expected)
        if (c == '\\') c = '/';
    EXPECT_EQ(path, expected);
    // quor.ini and QUOR.LOG go beside it.
    EXPECT_EQ(HomeDirectoryFor(nullptr, path), expected.substr(0, expected.rfind('/') + 1));
}

// Started by hand, the host runs in the console and still takes its requests.
TEST(WindowsServiceHost, WithoutTheManagerTheHostRunsInTheConsole) {
    struct TNull : TService {
        void ServiceStart(bool& s) override { s = true; }
        void ServiceStop(bool& s) override { s = true; }
        void ServicePause(bool& s) override { s = true; }
        void ServiceContinue(bool& s) override { s = true; }
        void ServiceShutdown() override {}
    } service;
    TServiceHost host(service, "svcMain", {});
    host.Post(TServiceControl::Pause);
    host.Post(TServiceControl::Continue);
    host.Post(TServiceControl::Stop);
    EXPECT_EQ(host.Run(), 0);
    EXPECT_EQ(host.State(), TServiceState::Stopped);
}

}  // namespace
