// The views as a browser meets them: what reaches the page only escaped and
// in valid UTF-8, the filters without script, the writes and their refusals,
// the wall's privacy, and the script's folding tables against ours.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "api/api_handler.h"
#include "api/live.h"
#include "data/persons_list.h"
#include "http/http_request_parser.h"
#include "http/http_response_info.h"
#include "pages/contents_cache.h"
#include "pages/page_test_office.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "views/view_assets.h"
#include "views/view_fold.h"
#include "views/views.h"

namespace {

// The sources' literals come out as Shift-JIS; the pages are UTF-8.
std::string U(const char8_t* text) { return reinterpret_cast<const char*>(text); }
// Characters without a Shift-JIS form, which no literal of this tree can hold.
const std::string Smile = "\xF0\x9F\x98\x80", Heart = "\xE2\x99\xA5";

bool ValidUtf8(std::string_view s) {
    for (size_t i = 0, n; i < s.size(); i += n)
        if ((n = Utf8SequenceLength(s, i)) == 0) return false;
    return true;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Views : public ::testing::Test {
protected:
    void SetUp() override {
        Office.WriteStandardOffice();
        Office.Open();
        Live = std::make_unique<TLive>(*Office.Env, Office.Dir.Dir(), Office.Clock);
    }

    TIdHTTPResponseInfo Get(const std::string& target) {
        TIdHTTPResponseInfo response;
        AnswerView(*Live, Settings, TPageTestOffice::Request(target), response);
        return response;
    }

    TIdHTTPResponseInfo Post(const std::string& target, const std::string& body, const std::string& headers) {
        const std::string text = "POST " + target +
                                 " HTTP/1.1\r\nHost: office\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                 "Content-Length: " +
                                 std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
        TParsedRequest parsed = ParseHttpRequest(text, true);
        EXPECT_EQ(parsed.Status, TRequestStatus::Complete);
        parsed.Info.RemoteAddress = "127.0.0.9";
        TIdHTTPResponseInfo response;
        AnswerView(*Live, Settings, parsed.Info, response);
        Office.Rescan();
        return response;
    }

    static std::string Header(const TIdHTTPResponseInfo& r, const char* name) { return r.CustomHeaders.Values(name); }

    TPageTestOffice Office;
    TViewSettings Settings;
    std::unique_ptr<TLive> Live;
};

TEST_F(Views, HostileOfficeReachesEveryViewEscapedAndInValidUtf8) {
    TTestPerson p = TPageTestOffice::Tanaka();
    p.Name = "<script>alert(1)</script>\"'&";
    p.Group = "\"><img src=x onerror=alert(1)>";
    p.Memo = "<b>";
    p.Huzairiyu = "</textarea><script>";
    p.ModoriDate = "2020/12/08";
    // 0x80 and a lone lead byte have no UTF-8 form.
    p.Furigana = "\x80\x81";
    Office.AddPerson(p);
    Office.Rescan();
    for (const std::string target :
         {"/m/", "/m/?q=%3Cscript", "/m/board", "/m/wall", "/m/wall/part", "/m/p/tanaka", "/m/p/tanaka/part"}) {
        const TIdHTTPResponseInfo r = Get(target);
        SCOPED_TRACE(target);
        EXPECT_EQ(r.StatusCode, 200);
        EXPECT_EQ(r.ContentType, "text/html; charset=utf-8");
        EXPECT_TRUE(ValidUtf8(r.BodyText));
        EXPECT_EQ(r.BodyText.find("<script>"), std::string::npos);
        EXPECT_EQ(r.BodyText.find("<img src=x"), std::string::npos);
        EXPECT_EQ(r.BodyText.find("<b>"), std::string::npos);
        EXPECT_NE(Header(r, "Content-Security-Policy").find("script-src 'self'"), std::string::npos);
    }
    const std::string person = Get("/m/p/tanaka").BodyText;
    EXPECT_NE(person.find("&lt;script&gt;alert(1)&lt;/script&gt;&quot;'&amp;"), std::string::npos);
    EXPECT_NE(person.find("&lt;/textarea&gt;&lt;script&gt;</textarea>"), std::string::npos);
}

TEST_F(Views, FiltersWorkWithoutScriptAndFoldKanaWidthAndCase) {
    auto shows = [&](const std::string& query) {
        std::string keys;
        const std::string page = Get("/m/" + query).BodyText;
        for (const char* key : {"sato", "suzuki", "tanaka", "yamada"})
            if (page.find(std::string("data-key=\"") + key + "\"") != std::string::npos) keys += std::string(key) + " ";
        return keys;
    };
    EXPECT_EQ(shows(""), "sato suzuki tanaka yamada ");
    // The reading ｽｽﾞｷ by hiragana, full-width katakana, half-width katakana; names by kanji.
    EXPECT_EQ(shows("?q=" + PercentEncode(U(u8"すず"), [](unsigned char c) { return c >= 0x80; })), "suzuki ");
    EXPECT_EQ(shows("?q=" + PercentEncode(U(u8"スズキ"), [](unsigned char c) { return c >= 0x80; })), "suzuki ");
    EXPECT_EQ(shows("?q=" + PercentEncode(U(u8"ｽｽﾞ"), [](unsigned char c) { return c >= 0x80; })), "suzuki ");
    EXPECT_EQ(shows("?q=" + PercentEncode(U(u8"田中"), [](unsigned char c) { return c >= 0x80; })), "tanaka ");
    EXPECT_EQ(shows("?q=" + PercentEncode(U(u8"た な"), [](unsigned char c) { return c >= 0x80 || c == ' '; })),
              "tanaka ");
    EXPECT_EQ(shows("?row=t"), "tanaka ");
    EXPECT_EQ(shows("?row=s"), "sato suzuki ");
    EXPECT_EQ(shows("?group=" + PercentEncode(U(u8"営業"), [](unsigned char c) { return c >= 0x80; })),
              "suzuki tanaka ");
    EXPECT_EQ(shows("?group=" + PercentEncode(U(u8"営業"), [](unsigned char c) { return c >= 0x80; }) + "&row=s"),
              "suzuki ");
    // A character no name can hold finds nobody, and the box still shows it.
    EXPECT_EQ(shows("?q=%F0%9F%98%80"), "");
    EXPECT_NE(Get("/m/?q=%F0%9F%98%80").BodyText.find("value=\"" + Smile + "\""), std::string::npos);
    // The rows of a change, whatever the filters, for the script to put in place.
    const std::string rows = Get("/m/board?keys=tanaka%0Ayamada%0Anobody&q=zzz").BodyText;
    EXPECT_EQ(rows.find("<ul id=\"persons\"><li class=\"p st-in\" data-key=\"tanaka\""), 0u);
    EXPECT_NE(rows.find("data-key=\"yamada\""), std::string::npos);
    EXPECT_EQ(rows.find("data-key=\"sato\""), std::string::npos);
    // The kana row links keep the other filters.
    EXPECT_NE(Get("/m/?group=x&q=y").BodyText.find("href=\"/m/?q=y&amp;group=x&amp;row=k\""), std::string::npos);
}

TEST(ViewFold, AgreesWithTheScriptsTablesAndUnicodeArithmetic) {
    const TViewAsset* script = FindViewAsset("m.js");
    ASSERT_NE(script, nullptr);
    const std::string js(script->Text());
    auto table = [&js](const std::string& name) {
        const size_t at = js.find("var " + name + " = \"");
        EXPECT_NE(at, std::string::npos) << name;
        const size_t from = js.find('"', at) + 1;
        return Utf8ToCp932(js.substr(from, js.find('"', from) - from)).value_or("?");
    };
    EXPECT_EQ(table("FULL"), HalfKanaFold);
    EXPECT_EQ(table("VOICE"), VoicedHalfKana);
    EXPECT_EQ(table("SEMI"), SemiVoicedHalfKana);
    // The script folds katakana U+30A1..U+30F3 by subtracting 0x60: the
    // Shift-JIS fold must land on the same character for each.
    for (char32_t c = 0x30A1; c <= 0x30F3; ++c) {
        auto utf8 = [](char32_t u) {
            return std::string{static_cast<char>(0xE0 | (u >> 12)), static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
                               static_cast<char>(0x80 | (u & 0x3F))};
        };
        EXPECT_EQ(FoldForSearch(Utf8ToCp932(utf8(c)).value()), Utf8ToCp932(utf8(c - 0x60)).value())
            << std::hex << static_cast<unsigned>(c);
    }
    EXPECT_EQ(FoldForSearch("ｶﾞｯｺｳ ﾊﾟﾝ ｳﾞｨ"), "がっこうぱんヴぃ");
    EXPECT_EQ(FoldForSearch("ＡＢｃ１　Tanaka"), "abc1tanaka");
}

TEST_F(Views, FormWritesRefuseOtherSitesAndChangeNothing) {
    const std::string mil = Office.Dir.File("tanaka.mil");
    const std::string body = "t=0123456789abcdef0123456789abcdef&text=hello";
    const std::string cookie = "Cookie: quor_m=0123456789abcdef0123456789abcdef\r\n";
    for (const std::string& headers :
         {std::string("Origin: http://elsewhere\r\n"), std::string("Origin: null\r\n"),
          std::string("Sec-Fetch-Site: cross-site\r\n"), std::string("Sec-Fetch-Site: same-site\r\n"), std::string(),
          std::string("Cookie: quor_m=ffffffffffffffffffffffffffffffff\r\n")}) {
        SCOPED_TRACE(headers);
        EXPECT_EQ(Post("/m/p/tanaka/message", body, headers).StatusCode, 403);
        EXPECT_EQ(Post("/m/p/tanaka/absence", "type=reset", headers).StatusCode, 403);
        EXPECT_FALSE(FileExists(mil));
    }
    EXPECT_EQ(Get("/m/p/tanaka/message").StatusCode, 405);
    // Our own page: by Origin, by Sec-Fetch-Site, by the token of the cookie.
    EXPECT_EQ(Post("/m/p/tanaka/message", body, "Origin: http://office\r\n").StatusCode, 303);
    EXPECT_EQ(Post("/m/p/tanaka/message", body, "Sec-Fetch-Site: same-origin\r\n").StatusCode, 303);
    const TIdHTTPResponseInfo sent = Post("/m/p/tanaka/message", body, cookie);
    EXPECT_EQ(sent.StatusCode, 303);
    EXPECT_EQ(Header(sent, "Location"), "/m/p/tanaka?done=message");
    EXPECT_NE(ReadFile(mil).find("hello"), std::string::npos);
}

TEST_F(Views, TextWithoutShiftJisIsRefusedNamingItsCharactersAndNothingIsStored) {
    const std::string kvl = ReadFile(Office.Dir.File("tanaka.kvl"));
    const std::string origin = "Origin: http://office\r\n";
    // 😀 and ♥ have no Shift-JIS form; the form comes back with them named and kept.
    const TIdHTTPResponseInfo message =
        Post("/m/p/tanaka/message", "sender=a&text=x%F0%9F%98%80y%E2%99%A5%F0%9F%98%80", origin);
    EXPECT_EQ(message.StatusCode, 422);
    EXPECT_NE(message.BodyText.find(": " + Smile + " " + Heart + "</p>"), std::string::npos);
    EXPECT_NE(message.BodyText.find(">x" + Smile + "y" + Heart + Smile + "</textarea>"), std::string::npos);
    EXPECT_FALSE(FileExists(Office.Dir.File("tanaka.mil")));
    const TIdHTTPResponseInfo absence = Post("/m/p/tanaka/absence", "type=nolimit&mark=0&reason=%E2%99%A5", origin);
    EXPECT_EQ(absence.StatusCode, 422);
    EXPECT_NE(absence.BodyText.find(Heart), std::string::npos);
    // A date beyond what the form offers, a mark that names nothing.
    EXPECT_EQ(Post("/m/p/tanaka/absence", "type=datetime&date=2021-06-01&mark=0", origin).StatusCode, 422);
    EXPECT_EQ(Post("/m/p/tanaka/absence", "type=nolimit&mark=7", origin).StatusCode, 422);
    EXPECT_EQ(ReadFile(Office.Dir.File("tanaka.kvl")), kvl);
}

TEST_F(Views, AnAbsenceSetAndClearedIsConfirmedShownAndRecordedAsTheWebs) {
    const std::string origin = "Origin: http://office\r\n";
    const TIdHTTPResponseInfo set = Post("/m/p/tanaka/absence",
                                         "type=datetime&date=2020-12-07&time=17%3A30&mark=0&reason=" +
                                             PercentEncode(U(u8"会議"), [](unsigned char c) { return c >= 0x80; }),
                                         origin);
    EXPECT_EQ(set.StatusCode, 303);
    EXPECT_EQ(Header(set, "Location"), "/m/p/tanaka?done=absence");
    std::string page = Get("/m/p/tanaka?done=absence").BodyText;
    EXPECT_NE(page.find("id=\"notice\""), std::string::npos);
    EXPECT_NE(page.find(U(u8"<dd class=\"ret\">本日 17:30</dd>")), std::string::npos);
    EXPECT_NE(page.find(U(u8"data-source=\"web\" data-kind=\"absence\"")), std::string::npos);
    EXPECT_NE(ReadFile(Office.Dir.File("tanaka.kvl")).find("\"2020/12/07\""), std::string::npos);

    EXPECT_EQ(Header(Post("/m/p/tanaka/absence", "type=reset", origin), "Location"), "/m/p/tanaka?done=clear");
    page = Get("/m/p/tanaka").BodyText;
    EXPECT_NE(page.find("data-state=\"in\""), std::string::npos);
    EXPECT_NE(page.find(U(u8"在席に戻りました")), std::string::npos);
}

TEST_F(Views, TheScriptsWritesThroughTheApiAreTheWebsInTheHistoryAndOtherClientsAreTheApis) {
    auto send = [&](const std::string& headers) {
        const std::string body = "{\"text\":\"hi\"}";
        TParsedRequest parsed = ParseHttpRequest(
            "POST /api/v1/persons/tanaka/messages HTTP/1.1\r\nHost: office\r\n"
            "Content-Type: application/json\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body,
            true);
        TIdHTTPResponseInfo response;
        TContentsCache cache;
        AnswerApi(*Live, cache, "test", parsed.Info, response);
        EXPECT_EQ(response.StatusCode, 200) << response.BodyText;
        return Live->History().Last("tanaka", 1).at(0);
    };
    EXPECT_NE(send("Origin: http://office\r\nX-Quor-View: 1\r\n").find("\"source\":\"web\""), std::string::npos);
    EXPECT_NE(send("X-Quor-View: 1\r\n").find("\"source\":\"api\""), std::string::npos);
    EXPECT_NE(send("Origin: http://office\r\n").find("\"source\":\"api\""), std::string::npos);
}

TEST_F(Views, TheWallShowsInOutAndReturnButNoReasonsUnlessTheSettingSaysSo) {
    const std::string plain = Get("/m/wall").BodyText;
    EXPECT_NE(plain.find(U(u8"佐藤花子")), std::string::npos);
    EXPECT_NE(plain.find(U(u8"本日 17:00")), std::string::npos);
    for (const char8_t* secret : {u8"会議", u8"出張", u8"内線", u8"03-1234", u8"090-", u8"127.0.0"})
        EXPECT_EQ(plain.find(U(secret)), std::string::npos) << U(secret);
    EXPECT_EQ(plain.find("<form"), std::string::npos);
    Settings.WallDetails = true;
    EXPECT_NE(Get("/m/wall").BodyText.find(U(u8"会議")), std::string::npos);
}

TEST(WallLayout, FitsEveryCountWithoutScrollingAndOfficeHoursReadLeniently) {
    for (int lines = 1; lines <= 400; ++lines) {
        const TWallLayout l = WallLayoutFor(lines);
        ASSERT_GE(l.Columns * l.Rows, lines);
        ASSERT_LE(l.FontVh * 1.5 * l.Rows, 88.0 + 1e-9);
        ASSERT_LE(l.FontVh * 18 * l.Columns, 100.0 * 16 / 9 + 1e-9);
    }
    EXPECT_GE(WallLayoutFor(126).FontVh, 1.8);  // 120 persons in 6 groups: still large type
    EXPECT_EQ(OfficeHoursOf({}).From, 7 * 60);
    EXPECT_EQ(OfficeHoursOf({"9:00"}).To, 20 * 60);
    const TOfficeHours h = OfficeHoursOf({"12:00 昼", "8:30", "x", "朝礼 9時", "17:45 定時", "25:99"});
    EXPECT_EQ(h.From, 8 * 60 + 30);
    EXPECT_EQ(h.To, 17 * 60 + 45);
}

TEST_F(Views, AssetsAreVersionedKeptForGoodAndSmallWithTheBoard) {
    const std::string page = Get("/m/").BodyText;
    const std::string css = "/m/s/" + ViewAssetVersion() + "/m.css";
    EXPECT_NE(page.find(css), std::string::npos);
    const TIdHTTPResponseInfo r = Get(css);
    EXPECT_EQ(r.StatusCode, 200);
    EXPECT_NE(Header(r, "Cache-Control").find("immutable"), std::string::npos);
    EXPECT_EQ(Header(Get("/m/s/old/m.css"), "Cache-Control"), "no-cache");
    EXPECT_EQ(Get("/m/s/" + ViewAssetVersion() + "/nothing.js").StatusCode, 404);
    EXPECT_LT(page.size() + FindViewAsset("m.css")->Size + FindViewAsset("m.js")->Size, 60u * 1024);
}

}  // namespace
