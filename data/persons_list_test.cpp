#include "data/persons_list.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<TKavelPerson> Person(const std::string& key, const std::string& furigana,
                                     const std::string& group = "") {
    auto p = std::make_unique<TKavelPerson>();
    p->FilePath = "/common/" + key + ".kvl";
    p->Furigana = furigana;
    p->Group = group;
    return p;
}

std::vector<std::string> Readings(const TKavelPersonsList& list) {
    std::vector<std::string> r;
    for (int i = 0; i < list.Count(); ++i) r.push_back(list[i].Furigana);
    return r;
}

TEST(CompareFurigana, SyllabaryOrderWithAsciiCaseIgnored) {
    TKavelPersonsList list;
    list.Add(Person("a", "ｱｵｷ"));
    list.Add(Person("b", "ｱｲ"));
    list.Add(Person("c", "abc"));
    list.Add(Person("d", "ｶﾞ"));
    list.Add(Person("e", ""));
    list.Add(Person("f", "ｱ"));
    list.Sort();
    EXPECT_EQ((std::vector<std::string>{"", "abc", "ｱ", "ｱｲ", "ｱｵｷ", "ｶﾞ"}), Readings(list));
    EXPECT_EQ(0, CompareFurigana(*Person("x", "ABC"), *Person("y", "abc")));
    EXPECT_LT(CompareFurigana(*Person("x", "AB"), *Person("y", "abc")), 0);
    EXPECT_GT(CompareFurigana(*Person("x", "ｻﾄｳ"), *Person("y", "ｶﾄｳ")), 0);
}

TEST(CompareFurigana, LongReadingsSortPastTheirFirstBytes) {
    TKavelPersonsList list;
    for (const char* r : {"ｱｲｳｴｵｶｷｸｺ", "ｱｲｳｴｵｶｷｸｹ", "ｱｲｳｴｵｶｷｸ", "abcdefghiz", "ABCDEFGHIJ", "abcdefghi",
                          "\x93"
                          "a",
                          "\x93"
                          "A",
                          "\x93"
                          "b"})
        list.Add(Person(r, r));
    list.Sort();
    // Case is ignored for ASCII letters but not for the second byte of a
    // two-byte character.
    const std::vector<std::string> sorted = Readings(list);
    EXPECT_EQ((std::vector<std::string>{"abcdefghi", "ABCDEFGHIJ", "abcdefghiz",
                                        "\x93"
                                        "A",
                                        "\x93"
                                        "a",
                                        "\x93"
                                        "b",
                                        "ｱｲｳｴｵｶｷｸ", "ｱｲｳｴｵｶｷｸｹ", "ｱｲｳｴｵｶｷｸｺ"}),
              sorted);
}

TEST(KanaRow, FirstByteDecidesTheRow) {
    const struct {
        unsigned char first, last;
        char letter;
    } rows[] = {{0xB1, 0xB5, 'a'}, {0xB6, 0xBA, 'k'}, {0xBB, 0xBF, 's'}, {0xC0, 0xC4, 't'}, {0xC5, 0xC9, 'n'},
                {0xCA, 0xCE, 'h'}, {0xCF, 0xD3, 'm'}, {0xD4, 0xD6, 'y'}, {0xD7, 0xDB, 'r'}, {0xDC, 0xDD, 'w'}};
    for (const auto& row : rows)
        for (int c = row.first; c <= row.last; ++c)
            EXPECT_EQ(row.letter, KanaRowOf(std::string(1, static_cast<char>(c)) + "x")) << c;
    // Outside every row: ｦ, small kana, the prolonged mark, ASCII, full width.
    for (const char* reading : {"", "ｦ", "ｧ", "ｰ", "ﾞ", "abc", "ア", "山田", "\xde"})
        EXPECT_EQ('\0', KanaRowOf(reading)) << reading;
    EXPECT_EQ('k', KanaRowOf("ｶﾞﾄｳ"));
    EXPECT_EQ('h', KanaRowOf("ﾊﾟｸ"));
    EXPECT_EQ('k', KanaRowOf("ｶﾄｳ"));
    EXPECT_EQ('s', KanaRowOf("ｻﾄｳ"));
}

TEST(GroupList, CountsSortsAndDrops) {
    TGroupList g;
    EXPECT_EQ(1, g.Add("営業"));
    EXPECT_EQ(2, g.Add("総務"));
    EXPECT_EQ(2, g.Add("営業"));
    EXPECT_EQ(2, g.Add("営業"));
    EXPECT_EQ((std::vector<std::string>{"営業=3", "総務=1"}), g.Entries());
    EXPECT_EQ(3, g.MemberCount("営業"));
    g.Remove("総務");
    EXPECT_EQ(std::vector<std::string>{"営業=3"}, g.Entries());
    g.Remove("営業");
    EXPECT_EQ("営業=2", g.Strings(0));
    EXPECT_THROW(g.Remove("総務"), EConvertError);
}

TEST(GroupList, NamesIgnoreAsciiCaseAndSortByTheWholeEntry) {
    TGroupList g;
    g.Add("Sales");
    g.Add("SALES");
    g.Add("dev");
    g.Add("");
    g.Add("AB");
    g.Add("A");
    EXPECT_EQ((std::vector<std::string>{"=1", "A=1", "AB=1", "dev=1", "Sales=2"}), g.Entries());
    EXPECT_EQ("Sales", g.Names(4));
    EXPECT_EQ("", g.Names(0));
    EXPECT_EQ(4, g.IndexOfName("sales"));
    EXPECT_EQ(-1, g.IndexOfName("sale"));
    // Second bytes of two-byte names do not fold: 殿 and 0x93 'A' differ.
    g.Add("殿");
    g.Add(
        "\x93"
        "A");
    EXPECT_EQ(1, g.MemberCount("殿"));
    EXPECT_EQ(1, g.MemberCount("\x93"
                               "A"));
}

TEST(GroupList, AGroupNameHoldingAnEqualsSignStaysWhole) {
    TGroupList g;
    g.Add("R=D");
    g.Add("R=D");
    g.Add("R");
    EXPECT_EQ(2, g.MemberCount("R=D"));
    EXPECT_EQ(1, g.MemberCount("R"));
    EXPECT_EQ("R=D", g.Names(g.IndexOfName("R=D")));
    g.Remove("R=D");
    g.Remove("R=D");
    EXPECT_EQ(std::vector<std::string>{"R=1"}, g.Entries());
}

TEST(PersonsList, GroupsFollowAddDeleteAndClear) {
    TKavelPersonsList list;
    list.Add(Person("a", "ｱ", "営業"));
    list.Add(Person("b", "ｲ", "営業"));
    list.Add(Person("c", "ｳ", "営業"));
    list.Add(Person("d", "ｴ", "総務"));
    EXPECT_EQ((std::vector<std::string>{"営業=3", "総務=1"}), list.Groups().Entries());
    list.Delete(3);
    EXPECT_EQ(std::vector<std::string>{"営業=3"}, list.Groups().Entries());
    std::unique_ptr<TKavelPerson> out = list.Extract(0);
    EXPECT_EQ("a", out->FileName());
    EXPECT_EQ(2, list.Count());
    EXPECT_EQ("営業=3", list.Groups().Strings(0));  // extraction leaves the count
    list.Clear();
    EXPECT_EQ(0, list.Count());
    EXPECT_EQ(std::vector<std::string>{"営業=1"}, list.Groups().Entries());
}

TEST(PersonsList, FindPersonByExactKey) {
    TKavelPersonsList list;
    list.Add(Person("yamada", "ﾔﾏﾀﾞ"));
    const TKavelPerson* second = list.Add(Person("suzuki", "ｽｽﾞｷ"));
    list.Add(Person("suzuki", "ｽｽﾞｷ2"));
    EXPECT_EQ("ﾔﾏﾀﾞ", list.FindPerson("yamada")->Furigana);
    EXPECT_EQ(nullptr, list.FindPerson("Yamada"));
    EXPECT_EQ(nullptr, list.FindPerson("yamada.kvl"));
    EXPECT_EQ(nullptr, list.FindPerson(""));
    EXPECT_EQ(second, list.FindPerson("suzuki"));
    auto dotted = Person("x", "");
    dotted->FilePath = "/com.mon/yama.da.kvl";
    list.Add(std::move(dotted));
    EXPECT_NE(nullptr, list.FindPerson("yama.da"));
}

}  // namespace
