// The sample common directory made by tools/make_office.py, read back
// through the person records: every presence state and kana row is there.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>

#include "data/persons_list.h"
#include "platform/file_system.h"
#include "platform/test_temp_dir.h"

namespace {

std::string RepoRoot() {
    std::string here = __FILE__;  // <root>/data/sample_office_test.cpp
    here = here.substr(0, here.find_last_of('/'));
    return here.substr(0, here.find_last_of('/'));
}

// Generated once for the suite; each test reads it into its own list.
class SampleOffice : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system("python3 --version >/dev/null 2>&1") != 0) return;
        office = new TTestTempDir();
        const std::string cmd =
            "python3 '" + RepoRoot() + "/tools/make_office.py' --date 2004-12-24 --out '" + office->Dir() + "'";
        generated = std::system(cmd.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        delete office;
        office = nullptr;
    }
    void SetUp() override {
        if (!office) GTEST_SKIP() << "no python3";
        ASSERT_TRUE(generated);
        for (const std::string& name : FindFilesByExtension(office->Dir(), ".kvl"))
            list.Add(std::make_unique<TKavelPerson>(office->Dir() + name));
        list.Sort();
    }
    static TTestTempDir* office;
    static bool generated;
    TKavelPersonsList list;
};

TTestTempDir* SampleOffice::office = nullptr;
bool SampleOffice::generated = false;

TEST_F(SampleOffice, ShowsEveryStateOnItsDay) {
    const TDateTime noon = EncodeDate(2004, 12, 24) + 0.5;
    std::map<TReturnState, int> states;
    for (int i = 0; i < list.Count(); ++i) ++states[list[i].ReturnState(noon)];
    for (TReturnState s :
         {rsUnparsable, rsPowerOff, rsPresent, rsOverdue, rsToday, rsTomorrow, rsDayAfterTomorrow, rsLater})
        EXPECT_GT(states[s], 0) << "state " << s;
    EXPECT_EQ(2, states[rsPowerOff]);
    EXPECT_EQ("明日 13:00", list.FindPerson("endou")->ReturnText(noon));
    EXPECT_EQ("外出 ", list.FindPerson("nakamura")->ReturnText(noon));
}

TEST_F(SampleOffice, CoversTheKanaRowsGroupsAndAddresses) {
    EXPECT_GE(list.Count(), 20);
    std::set<char> rows;
    for (int i = 0; i < list.Count(); ++i) {
        rows.insert(KanaRowOf(list[i].Furigana));
        EXPECT_EQ(0u, list[i].IP.rfind("127.0.0.", 0)) << list[i].FileName();
        if (i > 0) {
            EXPECT_LE(CompareFurigana(list[i - 1], list[i]), 0);
        }
    }
    EXPECT_EQ((std::set<char>{'a', 'k', 's', 't', 'n', 'h', 'm', 'y', 'r', 'w'}), rows);
    EXPECT_GE(list.Groups().Count(), 3);
    EXPECT_LE(list.Groups().Count(), 4);
    EXPECT_GT(list.Groups().MemberCount("営業部"), 0);
}

TEST_F(SampleOffice, KeepsTheClientsExtraLinesAndMessageFiles) {
    const TKavelPerson* p = list.FindPerson("miyazaki");
    ASSERT_NE(nullptr, p);
    ASSERT_EQ(2u, p->Unknown.size());
    const std::vector<std::string> extra = p->Unknown;
    p->SavePersonFile();
    EXPECT_EQ(extra, TKavelPerson(p->FilePath).Unknown);

    const std::string mil = ReadWholeFile(office->File("yamada.mil"));
    EXPECT_EQ(0u, mil.rfind("○", 0));
    EXPECT_NE(std::string::npos, mil.find("\r\n\r\n○"));
    EXPECT_TRUE(FileExists(office->File("yamada.old")));
    const std::string ini = ReadWholeFile(office->File("kavel.ini"));
    EXPECT_NE(std::string::npos, ini.find("QUOR_Port=8080\r\n"));
    EXPECT_NE(std::string::npos, ini.find("CustomIcon,Name=外出,YellowIcon=out_y.ico,RedIcon=out_r.ico\r\n"));
}

}  // namespace
