#include "data/kavel_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <utility>

#include "data/person_status.h"
#include "data/persons_list.h"
#include "platform/file_system.h"
#include "platform/test_temp_dir.h"
#include "protocol/kavel_protocol.h"

namespace {

using TItems = std::vector<std::pair<std::string, std::string>>;

// Items of a matching line as name/value pairs; the single pair
// "<no match>" when the line does not begin with the word.
TItems Parse(const std::string& word, const std::string& line) {
    std::vector<TKavelEnv::TSettingItem> items;
    if (!TKavelEnv::ParseSettingLine(word, line, items)) return {{"<no match>", ""}};
    TItems out;
    for (const auto& item : items) out.emplace_back(item.Name, item.Value);
    return out;
}

std::string PersonText(const std::string& furigana, const std::string& group) {
    return "\"" + furigana + "\"\r\n\"name\"\r\n\"" + group +
           "\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"127.0.0.1\"\r\n\"0\"\r\n";
}

std::vector<std::string> Keys(const TKavelPersonsList& list) {
    std::vector<std::string> keys;
    for (int i = 0; i < list.Count(); ++i) keys.push_back(list[i].FileName());
    return keys;
}

// A 32 x 32 icon file of one opaque colour, 32 bits per pixel.
std::string IconFile(uint32_t argb) {
    std::string s;
    const auto put = [&s](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    const uint32_t pixels = 32 * 32 * 4, mask = 32 * 4;
    put(0, 2), put(1, 2), put(1, 2);                            // icon directory, one image
    put(32, 1), put(32, 1), put(0, 2), put(1, 2), put(32, 2);   // 32 x 32, 1 plane, 32 bits
    put(40 + pixels + mask, 4), put(22, 4);                     // size, offset
    put(40, 4), put(32, 4), put(64, 4), put(1, 2), put(32, 2);  // BITMAPINFOHEADER
    for (int i = 0; i < 6; ++i) put(0, 4);
    for (uint32_t i = 0; i < 32 * 32; ++i) put(argb, 4);
    s.append(mask, '\0');
    return s;
}

// A clock that runs a hook once, at its next reading, to act in the middle
// of a scan.
class THookClock : public TClock {
public:
    TDateTime Now() const override {
        if (Hook) std::exchange(Hook, nullptr)();
        return At;
    }
    TDateTime At = 40000;
    mutable std::function<void()> Hook;
};

class Env : public testing::Test {
protected:
    void Start(const std::string& ini) {
        dir.Write("kavel.ini", ini);
        env.SetCommonDirectory(dir.Dir());
    }
    TTestTempDir dir;
    TFixedClock clock{40000.5};
    TKavelEnv env{clock};
};

TEST(SettingLine, ExampleLinesOfKavelIni) {
    EXPECT_EQ((TItems{{"QUOR_Port", "8080"}}), Parse("QUOR_Port", "QUOR_Port=8080"));
    EXPECT_EQ((TItems{{"Port", "1990"}}), Parse("UDPMessage", "UDPMessage,Port=1990"));
    EXPECT_EQ((TItems{{"ReloadAllFile", "5"}}), Parse("QUOR_Interval", "QUOR_Interval,ReloadAllFile=5"));
    EXPECT_EQ((TItems{{"Name", "外出"}, {"YellowIcon", "out_y.ico"}, {"RedIcon", "out_r.ico"}}),
              Parse("CustomIcon", "CustomIcon,Name=外出,YellowIcon=out_y.ico,RedIcon=out_r.ico"));
}

TEST(SettingLine, LeadingWordIsTestedAfterTrimmingAndIgnoresCase) {
    EXPECT_EQ((TItems{{"port", "2000"}}), Parse("UDPMessage", " \t\x01udpmessage,port=2000 \r"));
    EXPECT_EQ((TItems{{"<no match>", ""}}), Parse("UDPMessage", "; UDPMessage,Port=2000"));
    EXPECT_EQ((TItems{{"<no match>", ""}}), Parse("QUOR_Port", "QUOR_Por"));
    // A quoted first item hides the leading word.
    EXPECT_EQ((TItems{{"<no match>", ""}}), Parse("QUOR_Port", "\"QUOR_Port=8080\""));
    // The word is a prefix only; the item name must still match exactly.
    EXPECT_EQ((TItems{{"QUOR_PortX", "1"}}), Parse("QUOR_Port", "QUOR_PortX=1"));
}

TEST(SettingLine, ItemsSplitAtCommasAndControlRunsQuotedItemsKeepBoth) {
    EXPECT_EQ((TItems{{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", ""}}), Parse("X",
                                                                             "X a=1 ,\t, b=2\x1f\x02"
                                                                             "c=3,d=,"));
    EXPECT_EQ((TItems{{"QUOR_SiteName", "本社, \"第一\" 掲示板"}, {"x", "y"}}),
              Parse("QUOR_SiteName", "QUOR_SiteName,\"QUOR_SiteName=本社, \"\"第一\"\" 掲示板\"x=y"));
    // An unclosed quote runs to the end of the line, nothing lost.
    EXPECT_EQ((TItems{{"n", "a b"}}), Parse("X", "X,\"n=a b"));
}

TEST(SettingLine, ValuesAreUnquotedOnce) {
    EXPECT_EQ((TItems{{"n", "a\"b"}}), Parse("X", "X,n=\"a\"\"b\""));
    EXPECT_EQ((TItems{{"n", "\"\""}}), Parse("X", "X,n=\"\""));
    EXPECT_EQ((TItems{{"n", "ab"}}), Parse("X", "X,n=\"ab\"cd"));
    EXPECT_EQ((TItems{{"n", "a\"b\""}}), Parse("X", "X,n=a\"b\""));
    EXPECT_EQ((TItems{{"n", "x=y"}}), Parse("X", "X,n=x=y"));
}

TEST_F(Env, ReadsTheSixLeadingWordsLaterLinesWin) {
    env.SetOnLoaded(nullptr);
    int loaded = 0;
    env.SetOnLoaded([&](TKavelEnv& sender) {
        EXPECT_EQ(&env, &sender);
        ++loaded;
    });
    env.SetOnLoaded(nullptr);  // ignored
    dir.Write("a.kvl", PersonText("ｱ", "g"));
    dir.Write("out_y.ico", IconFile(0xFFFFFF00));
    dir.Write("out_r.ico", IconFile(0xFFFF0000));
    Start(
        "[Kavel]\r\nQUOR_SiteName=First\nQUOR_SiteName,\"QUOR_SiteName=本社 掲示板\"\r"
        "quor_port=8080\r\nUDPMessage,Port=1990\r\nudpmessage,port=2000\r\n"
        "QUOR_Interval,ReloadAllFile=5\r\n"
        "TimeTable=9:00\r\nTimeTable,\"TimeTable=12:00 昼\"\r\nTimeTable=\r\n"
        "CustomIcon,Name=外出,YellowIcon=out_y.ico,RedIcon=out_r.ico\r\n"
        "CustomIcon,Name=会議,YellowIcon=,RedIcon=mtg_r.ico\r\n"
        "CustomIcon,Name=休暇,RedIcon=v_r.ico\r\n");
    EXPECT_EQ("本社 掲示板", env.SiteName());
    EXPECT_EQ(8080, env.HttpPort());
    EXPECT_EQ(2000, env.UdpPort());
    EXPECT_EQ(2000, env.Protocol().DestinationPort());
    EXPECT_EQ(5, env.ReloadInterval());
    EXPECT_EQ((std::vector<std::string>{"9:00", "12:00 昼"}), env.TimeTable());
    ASSERT_EQ(1u, env.CustomIcons().size());
    EXPECT_EQ("外出", env.CustomIcons()[0].Name);
    EXPECT_EQ("out_y.ico", env.CustomIcons()[0].YellowIcon);
    EXPECT_EQ("out_r.ico", env.CustomIcons()[0].RedIcon);
    EXPECT_EQ(dir.Dir(), env.CommonDirectory());
    EXPECT_EQ(1, loaded);
    EXPECT_EQ(1, env.GetPersons()->Count());
}

TEST_F(Env, NonIntegersFallBackToDefaultsEmptyValuesChangeNothing) {
    Start(
        "QUOR_Port=8080\r\nQUOR_Port=80a\r\nUDPMessage,Port=3000\r\nUDPMessage,Port=99999999999\r\n"
        "QUOR_Interval,ReloadAllFile=7\r\nQUOR_Interval,ReloadAllFile=5min\r\n"
        "QUOR_Interval,ReloadAllFile= 5\r\nQUOR_SiteName=\r\n");
    EXPECT_EQ(80, env.HttpPort());
    EXPECT_EQ(1990, env.UdpPort());
    EXPECT_EQ(1, env.ReloadInterval());
    EXPECT_EQ("行き先掲示板", env.SiteName());

    TKavelEnv other(clock);
    dir.Write("kavel.ini", "QUOR_Port=-81\r\nQUOR_Port=\r\nUDPMessage,Port=+2001,Port=5\r\n");
    other.SetCommonDirectory(dir.Dir());
    EXPECT_EQ(80, other.HttpPort());
    EXPECT_EQ(2001, other.UdpPort());
    EXPECT_EQ(1, other.ReloadInterval());
}

TEST_F(Env, UnusablePortsAreNamedWithThePortUsedInstead) {
    Start("QUOR_Port=abc\r\nUDPMessage,Port=0\r\nQUOR_Port=65616\r\nQUOR_Port=65535\r\nUDPMessage,Port=1\r\n");
    EXPECT_EQ(65535, env.HttpPort());
    EXPECT_EQ(1, env.UdpPort());
    EXPECT_EQ(
        env.SettingWarnings(),
        (std::vector<std::string>{"kavel.iniのQUOR_Port=abcはポート番号として使えません。ポート80を使います。",
                                  "kavel.iniのUDPMessage,Port=0はポート番号として使えません。ポート1990を使います。",
                                  "kavel.iniのQUOR_Port=65616はポート番号として使えません。ポート80を使います。"}));
}

TEST_F(Env, MissingKavelIniFailsWithItsPathAndChangesNothing) {
    int loaded = 0;
    env.SetOnLoaded([&](TKavelEnv&) { ++loaded; });
    dir.Write("kavel.ini", "QUOR_Port=8080\r\n");
    const std::string noSeparator = dir.Dir().substr(0, dir.Dir().size() - 1);
    for (const std::string& d : {noSeparator, dir.File("sub/")}) {
        try {
            env.SetCommonDirectory(d);
            ADD_FAILURE() << "no exception for " << d;
        } catch (const std::exception& e) {
            EXPECT_EQ(d + "kavel.ini" + "が見つかりません", e.what());
        }
    }
    EXPECT_EQ("", env.CommonDirectory());
    EXPECT_EQ(80, env.HttpPort());
    EXPECT_EQ(0, loaded);
}

TEST_F(Env, CustomIconsBecomeStatusEntriesAfterTheBuiltIns) {
    std::filesystem::create_directory(dir.File("icons"));
    dir.Write("icons/out_y.ico", IconFile(0xFFFFFF00));
    dir.Write("icons/out_r.ico", IconFile(0xFFFF0000));
    dir.Write("mtg_y.ico", IconFile(0xFF00FF00));
    dir.Write("mtg_r.ico", IconFile(0xFF0000FF));
    Start(
        "CustomIcon,Name=外出,YellowIcon=icons/out_y.ico,RedIcon=icons/out_r.ico\r\n"
        "CustomIcon,\"Name=会議 中\",YellowIcon=mtg_y.ico,RedIcon=mtg_r.ico\r\n");
    const TPersonStatusCollection& statuses = env.Statuses();
    ASSERT_EQ(6, statuses.Count());
    EXPECT_EQ("不在", statuses.Items(3).Caption);
    EXPECT_EQ("外出", statuses.Items(4).Caption);
    EXPECT_EQ("会議 中", statuses.Items(5).Caption);
    for (int i = 0; i < 2; ++i) {
        const TPersonStatus& entry = statuses.Items(4 + i);
        ASSERT_EQ(2, entry.ImageCount());
        EXPECT_EQ(std::to_string(i) + "y.jpg", entry.ImageNames(0));
        EXPECT_EQ(std::to_string(i) + "r.jpg", entry.ImageNames(1));
        EXPECT_NE(nullptr, entry.Images(0));
        EXPECT_NE(nullptr, entry.Images(1));
    }
    EXPECT_EQ(statuses.Items(5).Images(1), statuses.FindImage("1R.JPG"));

    TKavelEnv broken(clock);
    dir.Write("kavel.ini", "CustomIcon,Name=x,YellowIcon=mtg_y.ico,RedIcon=missing.ico\r\n");
    EXPECT_THROW(broken.SetCommonDirectory(dir.Dir()), std::exception);
    dir.Write("not.ico", "not an icon");
    dir.Write("kavel.ini", "CustomIcon,Name=x,YellowIcon=not.ico,RedIcon=mtg_r.ico\r\n");
    TKavelEnv garbage(clock);
    EXPECT_THROW(garbage.SetCommonDirectory(dir.Dir()), std::exception);
}

// A crash in the middle of one of our writes leaves its temporary file in
// the clients' share; the start and every scan clear those of a minute ago.
TEST_F(Env, StartAndScansRemoveOurStaleTemporaryFilesOnly) {
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2);
    for (const char* name : {".quor-7-0.tmp", "a.kvl.tmp", "b.tmp"}) {
        dir.Write(name, "x");
        std::filesystem::last_write_time(dir.File(name), old);
    }
    Start("QUOR_Interval,ReloadAllFile=0\r\n");
    EXPECT_FALSE(FileExists(dir.File(".quor-7-0.tmp")));
    dir.Write(".quor-0123456789abcdef.tmp", "x");
    std::filesystem::last_write_time(dir.File(".quor-0123456789abcdef.tmp"), old);
    env.GetPersons();
    EXPECT_FALSE(FileExists(dir.File(".quor-0123456789abcdef.tmp")));
    EXPECT_TRUE(FileExists(dir.File("a.kvl.tmp")) && FileExists(dir.File("b.tmp")));
}

// Only a scan of a share that is there may replace the list: a vanished one
// keeps the last persons (and says since when), an empty one that is there
// empties the board; each change of state is told once.
TEST_F(Env, AVanishedShareKeepsTheLastListAndAnEmptyOneEmptiesIt) {
    dir.Write("a.kvl", PersonText("ｱ", "g"));
    std::vector<bool> told;
    env.SetOnShareChanged([&](bool reachable, const std::string&) { told.push_back(reachable); });
    env.SetShareProbeMs(0);
    Start("QUOR_Interval,ReloadAllFile=0\r\n");
    const std::string moved = dir.Dir().substr(0, dir.Dir().size() - 1) + ".away";
    std::filesystem::rename(dir.Dir(), moved);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Keys(*env.GetPersons()), std::vector<std::string>{"a"});
    EXPECT_NE(env.ShareLostSince(), 0);
    std::filesystem::rename(moved, dir.Dir());
    std::filesystem::remove(dir.File("a.kvl"));
    EXPECT_EQ(env.GetPersons()->Count(), 0);
    EXPECT_EQ(env.ShareLostSince(), 0);
    EXPECT_EQ(told, (std::vector<bool>{false, true}));
}

TEST_F(Env, EveryCallRescansWithIntervalZeroOrLess) {
    for (const char* interval : {"0", "-3"}) {
        TKavelEnv e(clock);
        dir.Write("kavel.ini", std::string("QUOR_Interval,ReloadAllFile=") + interval + "\r\n");
        e.SetCommonDirectory(dir.Dir());
        const auto first = e.GetPersons();
        const auto second = e.GetPersons();
        EXPECT_NE(first, second);
        // The clock stood still: the second scan is stamped just after the first.
        EXPECT_GT(second->LoadTime(), first->LoadTime());
        EXPECT_NEAR(clock.Now(), second->LoadTime(), 1e-9);
    }
}

// A page cached from a list counts as current while its stamp is not older
// than the list's LoadTime. A rescan in the same clock tick (an absence
// submit forcing one within the millisecond of the last) must still give a
// later stamp, or the page built before the change is served on.
TEST_F(Env, EveryScanIsStampedLaterThanTheLastWhileTheClockStandsStill) {
    dir.Write("a.kvl", PersonText("ｱ", "g"));
    Start("QUOR_Interval,ReloadAllFile=60\r\n");
    const auto first = env.GetPersons();
    const TDateTime cachedStamp = first->LoadTime();
    EXPECT_EQ(clock.Now(), cachedStamp);

    env.ForceReload();
    const auto second = env.GetPersons();
    ASSERT_NE(first, second);
    EXPECT_FALSE(cachedStamp >= second->LoadTime()) << "a page from the first list would pass for current";
    EXPECT_NEAR(clock.Now(), second->LoadTime(), 1e-9);
    EXPECT_EQ(second, env.GetPersons());

    // Forced again while that scan runs: the scan after it is later still.
    THookClock hookClock;
    hookClock.At = 40000.5;
    TKavelEnv e(hookClock);
    e.SetCommonDirectory(dir.Dir());
    const TDateTime start = e.GetPersons()->LoadTime();
    hookClock.Hook = [&] { e.ForceReload(); };
    e.ForceReload();
    const TDateTime during = e.GetPersons()->LoadTime();
    const TDateTime after = e.GetPersons()->LoadTime();
    EXPECT_LT(start, during);
    EXPECT_LT(during, after);

    // The clock set back: still later than every stamp given so far.
    clock.Set(40000.25);
    env.ForceReload();
    EXPECT_GT(env.GetPersons()->LoadTime(), second->LoadTime());
    // Once the clock has passed them, scans take its time again.
    clock.Set(40001);
    env.ForceReload();
    EXPECT_EQ(40001, env.GetPersons()->LoadTime());
}

// A write of our own that holds a person file (one that may itself wait long
// for a client's lock) must not stall the request that scans: the file is
// left out of this scan, before the write ends, and is back at the next one.
// (A client's lock: tests/faults/scan_faults_test.cpp.)
TEST_F(Env, AFileOurWriterHoldsIsSkippedWithoutWaitingForTheWrite) {
    const std::vector<std::string> all = {"a", "b", "c", "d"};
    for (const std::string& key : all) dir.Write(key + ".kvl", PersonText("ｱ", "g"));
    Start("QUOR_Interval,ReloadAllFile=0\r\n");
    // Changed since that first scan, so the next one has to read it.
    dir.Write("a.kvl", PersonText("ｲ", "g"));
    bool finishedDuringTheWrite = false;
    std::vector<std::string> during;
    std::future<void> scan;
    RewriteFileContent(dir.File("a.kvl"), [&](const std::string* old) {
        scan = std::async(std::launch::async, [&] { during = Keys(*env.GetPersons()); });
        finishedDuringTheWrite = scan.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
        return *old;
    });
    scan.wait();
    EXPECT_TRUE(finishedDuringTheWrite) << "the scan waited for the write";
    // Our writers' holds are kept per group of paths, so another file may
    // rarely share the skip; never all of them.
    EXPECT_EQ(std::find(during.begin(), during.end(), "a"), during.end());
    EXPECT_FALSE(during.empty());
    std::vector<std::string> later = Keys(*env.GetPersons());
    std::sort(later.begin(), later.end());
    EXPECT_EQ(all, later);
}

TEST_F(Env, FileChangesAreSeenOnlyOnceTheIntervalHasPassed) {
    dir.Write("b.kvl", PersonText("ｲ", "営業"));
    dir.Write("c.kvl", PersonText("ｳ", "総務"));
    dir.Write("readme.txt", "x");
    Start("QUOR_Interval,ReloadAllFile=2\r\n");
    const auto first = env.GetPersons();
    EXPECT_EQ((std::vector<std::string>{"b", "c"}), Keys(*first));
    EXPECT_EQ(40000.5, first->LoadTime());
    EXPECT_FALSE(first->Items(0)->PowerOFF);

    dir.Write("a.KVL", PersonText("ｱ", "営業"));
    std::filesystem::remove(dir.File("c.kvl"));
    dir.Write("b.off", "");
    clock.Set(40000.5 + 2 / 1440.0);  // exactly the interval: not yet
    EXPECT_EQ(first, env.GetPersons());

    clock.Advance(1e-6);
    const auto second = env.GetPersons();
    ASSERT_NE(first, second);
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Keys(*second));
    EXPECT_TRUE(second->Items(1)->PowerOFF);
    EXPECT_EQ(2, second->Groups().MemberCount("営業"));
    EXPECT_EQ(1, second->Groups().Count());
    // The list handed out earlier is untouched by the rescan.
    EXPECT_EQ((std::vector<std::string>{"b", "c"}), Keys(*first));
    EXPECT_FALSE(first->Items(0)->PowerOFF);
}

TEST_F(Env, ForceReloadRescansNextCallEvenWhenAskedDuringARescan) {
    THookClock hookClock;
    TKavelEnv e(hookClock);
    dir.Write("kavel.ini", "QUOR_Interval,ReloadAllFile=60\r\n");
    e.SetCommonDirectory(dir.Dir());
    const auto first = e.GetPersons();
    EXPECT_EQ(first, e.GetPersons());

    e.ForceReload();
    EXPECT_EQ(0, first->LoadTime());
    const auto second = e.GetPersons();
    EXPECT_NE(first, second);
    EXPECT_EQ(second, e.GetPersons());

    // Asked for while a scan runs that may already have read the old file.
    hookClock.Hook = [&] { e.ForceReload(); };
    e.ForceReload();
    const auto third = e.GetPersons();
    EXPECT_NE(second, third);
    EXPECT_NE(third, e.GetPersons());
}

TEST_F(Env, CallerDuringARescanGetsTheCurrentListAtOnce) {
    THookClock hookClock;
    TKavelEnv e(hookClock);
    dir.Write("kavel.ini", "QUOR_Interval,ReloadAllFile=0\r\n");
    e.SetCommonDirectory(dir.Dir());
    const auto before = e.GetPersons();
    TKavelEnv::TPersonsPtr seen;
    hookClock.Hook = [&] {
        std::thread other([&] { seen = e.GetPersons(); });
        other.join();
    };
    const auto after = e.GetPersons();
    EXPECT_EQ(before, seen);
    EXPECT_NE(before, after);
}

TEST_F(Env, UnreadableFileIsSkippedAndAFailedScanReleasesTheGuard) {
    THookClock hookClock;
    TKavelEnv e(hookClock);
    dir.Write("kavel.ini", "QUOR_Interval,ReloadAllFile=0\r\n");
    dir.Write("a.kvl", PersonText("ｱ", "g"));
    dir.Write("b.kvl", PersonText("ｲ", "g"));
    e.SetCommonDirectory(dir.Dir());
    // Listed by the search, gone when it is read.
    hookClock.Hook = [&] { std::filesystem::remove(dir.File("a.kvl")); };
    EXPECT_EQ((std::vector<std::string>{"b"}), Keys(*e.GetPersons()));

    hookClock.Hook = [] { throw std::runtime_error("clock failed"); };
    EXPECT_THROW(e.GetPersons(), std::runtime_error);
    dir.Write("c.kvl", PersonText("ｳ", "g"));
    EXPECT_EQ((std::vector<std::string>{"b", "c"}), Keys(*e.GetPersons()));
}

// Readers keep their lists across rescans they did not run; every list stays
// whole and sorted while held. Meant for ThreadSanitizer too.
TEST_F(Env, ManyReadersDuringRescans) {
    for (int i = 0; i < 20; ++i)
        dir.Write("p" + std::to_string(i) + ".kvl",
                  PersonText(std::string(1, static_cast<char>(0xDD - i)), "g" + std::to_string(i % 3)));
    Start("QUOR_Interval,ReloadAllFile=0\r\n");

    constexpr int Readers = 4, Rounds = 150;
    std::atomic<int> failures{0}, listsSeen{0};
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (int i = 0; !stop.load(); ++i) {
            const std::string name = "x" + std::to_string(i % 5) + ".kvl";
            // Where an open file cannot be removed (Windows), a scan that
            // holds it makes this round's change fail: the next one goes on.
            std::error_code busy;
            if (i % 2)
                std::filesystem::remove(dir.File(name), busy);
            else
                dir.Write(name, PersonText("ｦ", "x"));
            env.ForceReload();
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < Readers; ++r)
        readers.emplace_back([&] {
            TKavelEnv::TPersonsPtr last;
            for (int i = 0; i < Rounds; ++i) {
                const auto held = env.GetPersons();
                if (held != last) ++listsSeen;
                last = held;
                const std::vector<std::string> keys = Keys(*held);
                for (int k = 0; k < 3; ++k) env.GetPersons();
                int members = 0;
                for (int g = 0; g < held->Groups().Count(); ++g)
                    members += held->Groups().MemberCount(held->Groups().Names(g));
                bool sorted = true;
                for (int p = 1; p < held->Count(); ++p)
                    sorted = sorted && CompareFurigana((*held)[p - 1], (*held)[p]) <= 0;
                if (keys != Keys(*held) || members != held->Count() || !sorted || held->Count() < 20) ++failures;
            }
        });
    for (auto& t : readers) t.join();
    stop = true;
    changer.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_GT(listsSeen.load(), Readers);  // rescans did run meanwhile
}

}  // namespace

namespace {

// Incremental rescans: after any mix of edits, the list is the one a fresh
// full scan gives, the changed keys are exactly those that differ, and only
// the files that changed were read again.
TEST_F(Env, IncrementalRescansMatchAFullScanAndReadOnlyWhatChanged) {
    Start("QUOR_Interval,ReloadAllFile=0\r\n");
    std::mt19937 random(7);
    std::map<std::string, std::string> files;  // key -> furigana; absent: no file
    std::set<std::string> off;
    auto put = [&](const std::string& key, const std::string& furigana) {
        // Through a rename, as the clients write: a new identity every time.
        dir.Write(key + ".tmp", PersonText(furigana, "g"));
        std::filesystem::rename(dir.File(key + ".tmp"), dir.File(key + ".kvl"));
        files[key] = furigana;
    };
    for (int i = 0; i < 20; ++i) put("p" + std::to_string(i), "F" + std::to_string(i));
    env.ForceReload();
    env.GetPersons();
    for (int round = 0; round < 30; ++round) {
        std::set<std::string> touched;
        const long long readBefore = env.FilesRead();
        int rewrites = 0;
        for (int edit = 0; edit < 3; ++edit) {
            const std::string key = "p" + std::to_string(random() % 24);
            switch (random() % 4) {
                case 0:
                    put(key, "R" + std::to_string(round * 10 + edit));
                    ++rewrites;
                    break;
                case 1:
                    if (files.erase(key)) std::filesystem::remove(dir.File(key + ".kvl"));
                    break;
                default:
                    if (off.erase(key))
                        std::filesystem::remove(dir.File(key + ".off"));
                    else
                        off.insert(key), dir.Write(key + ".off", "");
            }
            touched.insert(key);
        }
        std::vector<std::string> changed;
        TKavelPersonsList incremental;
        env.LoadPersons(incremental, &changed);
        TKavelEnv fresh(clock);
        fresh.SetCommonDirectory(dir.Dir());
        const TKavelEnv::TPersonsPtr full = fresh.GetPersons();
        ASSERT_EQ(Keys(incremental), Keys(*full));
        for (int i = 0; i < full->Count(); ++i) {
            EXPECT_EQ(incremental[i].PersonFileText(), (*full)[i].PersonFileText());
            EXPECT_EQ(incremental[i].PowerOFF, (*full)[i].PowerOFF) << (*full)[i].FileName();
        }
        for (const std::string& key : changed) EXPECT_TRUE(touched.count(key)) << key;
        EXPECT_LE(env.FilesRead() - readBefore, rewrites);
    }
}

// The same through the rescans a detector asks for, naming the files that
// changed (both of a rename; kavel.ini too), or nothing after its notices
// overflowed. Each list is the one a full scan gives, sorted (equal readings
// in any order); the keys told are
// exactly those whose record differs; the other records are the very same
// objects; only the overflow lists the directory; a file left out because
// it was held comes back at the next named rescan.
TEST_F(Env, NamedRescansMatchAFullScanAndLookOnlyAtWhatWasNamed) {
    Start("QUOR_Interval,ReloadAllFile=60\r\n");
    std::vector<std::string> told;
    env.SetOnRescanned([&](const TKavelPersonsList&, const TKavelPersonsList&, const std::vector<std::string>& keys) {
        told.insert(told.end(), keys.begin(), keys.end());
    });
    std::mt19937 random(11);
    std::set<std::string> names;
    auto put = [&](const std::string& key) {
        dir.Write(key + ".tmp", PersonText("R" + std::to_string(random() % 9), "g" + std::to_string(random() % 3)));
        std::filesystem::rename(dir.File(key + ".tmp"), dir.File(key + ".kvl"));
        names.insert(key + ".kvl");
    };
    auto named = [&] { return TDirChanges{.All = false, .Names = {names.begin(), names.end()}}; };
    using TState = std::map<std::string, std::pair<std::string, bool>>;
    auto state = [](const TKavelPersonsList& list) {
        TState s;
        for (int i = 0; i < list.Count(); ++i) s[list[i].FileName()] = {list[i].PersonFileText(), list[i].PowerOFF};
        return s;
    };
    for (int i = 0; i < 20; ++i) put("p" + std::to_string(i));
    env.ForceReload();
    TKavelEnv::TPersonsPtr before = env.GetPersons();
    for (int round = 0; round < 40; ++round) {
        names.clear();
        int reads = 0;
        for (int edit = 0; edit < 3; ++edit) {
            const std::string key = "p" + std::to_string(random() % 24), to = "p" + std::to_string(random() % 24);
            switch (random() % 6) {
                case 0:
                    put(key), ++reads;
                    break;
                case 1:
                    std::filesystem::remove(dir.File(key + ".kvl"));
                    names.insert(key + ".kvl");
                    break;
                case 2:
                    if (!std::filesystem::exists(dir.File(key + ".kvl")) || to == key) break;
                    std::filesystem::rename(dir.File(key + ".kvl"), dir.File(to + ".kvl"));
                    names.insert({key + ".kvl", to + ".kvl"}), ++reads;
                    break;
                case 3:
                    dir.Write("kavel.ini", "QUOR_Interval,ReloadAllFile=60\r\n;" + std::to_string(round) + "\r\n");
                    names.insert("kavel.ini");
                    break;
                default:
                    if (!std::filesystem::remove(dir.File(key + ".off"))) dir.Write(key + ".off", "");
                    names.insert(key + ".off");
            }
        }
        const bool overflow = round % 10 == 9;
        const long long readBefore = env.FilesRead(), listingsBefore = env.Listings();
        told.clear();
        env.ForceReload(overflow ? TDirChanges{} : named());
        const TKavelEnv::TPersonsPtr after = env.GetPersons();
        TKavelEnv fresh(clock);
        fresh.SetCommonDirectory(dir.Dir());
        const TState was = state(*before), now = state(*fresh.GetPersons());
        EXPECT_EQ(now, state(*after));
        for (int i = 1; i < after->Count(); ++i) EXPECT_LE(CompareFurigana((*after)[i - 1], (*after)[i]), 0);
        std::set<std::string> differ;
        for (const TState* side : {&was, &now})
            for (const auto& [key, value] : *side)
                if (!was.count(key) || !now.count(key) || was.at(key) != now.at(key)) differ.insert(key);
        EXPECT_EQ(differ, std::set<std::string>(told.begin(), told.end()));
        for (int i = 0; i < after->Count(); ++i)
            EXPECT_TRUE(differ.count((*after)[i].FileName()) ||
                        before->FindPerson((*after)[i].FileName()) == after->Items(i));
        EXPECT_LE(env.FilesRead() - readBefore, reads);
        EXPECT_EQ(overflow ? 1 : 0, env.Listings() - listingsBefore);
        before = after;
    }
    names.clear();
    put("held");
    std::vector<std::string> during;
    RewriteFileContent(dir.File("held.kvl"), [&](const std::string* old) {
        std::async(std::launch::async, [&] {
            env.ForceReload(named());
            during = Keys(*env.GetPersons());
        }).wait();
        return *old;
    });
    EXPECT_EQ(std::find(during.begin(), during.end(), "held"), during.end());
    env.ForceReload(TDirChanges{.All = false});
    const std::vector<std::string> later = Keys(*env.GetPersons());
    EXPECT_NE(std::find(later.begin(), later.end(), "held"), later.end());
}

}  // namespace
