#pragma once

// Test fixture for page tests: a throw-away common directory with kavel.ini
// and person files, a clock that stands still, and a TKavelEnv pointed at
// that directory. Header-only; include it from *_test.cpp files only.
//
//   TPageTestOffice office;            // clock at Monday 2020/12/07 09:05:03
//   office.WriteStandardOffice();      // or AddPerson(...) for your own
//   office.Open();                     // reads kavel.ini, scans the persons
//   std::string page = office.Maker().MakeBoardPage(office.Request("/keiziban"));

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "data/kavel_env.h"
#include "http/http_request_info.h"
#include "http/http_request_parser.h"
#include "pages/contents_cache.h"
#include "pages/page_maker.h"
#include "platform/clock.h"
#include "platform/date_time.h"
#include "platform/test_temp_dir.h"

// One person file's values. Huzairiyu lines are separated by CR LF; the
// file holds each value between quotes exactly as given (quotes inside are
// not doubled, which reads back unchanged).
struct TTestPerson {
    std::string Key;  // file name without ".kvl"
    std::string Furigana;
    std::string Name;
    std::string Group;
    std::string Memo;
    std::string Huzairiyu;
    std::string ModoriDate;
    std::string ModoriTime;
    std::string Tel;
    std::string IP = "127.0.0.1";
    std::string StatusIcon = "0";
    bool PowerOff = false;  // writes the ".off" marker beside the file
};

class TPageTestOffice {
public:
    // 2020/12/07 (a Monday) 09:05:03.
    static TDateTime DefaultNow() { return EncodeDate(2020, 12, 7) + EncodeTime(9, 5, 3, 0); }

    // The kavel.ini written by Open() unless IniText is changed before.
    static std::string DefaultIni() {
        return "QUOR_SiteName=テスト掲示板\r\n"
               "UDPMessage,Port=1990\r\n"
               "QUOR_Interval,ReloadAllFile=1\r\n";
    }

    explicit TPageTestOffice(TDateTime now = DefaultNow()) : Clock(now), IniText(DefaultIni()) {}

    TTestTempDir Dir;  // the common directory (Dir.Dir() ends with '/')
    TFixedClock Clock;
    std::string IniText;  // kavel.ini content; change before Open()
    TContentsCache Cache;
    std::unique_ptr<TKavelEnv> Env;  // made by Open()

    // Writes (or overwrites) the person file and its marker.
    void AddPerson(const TTestPerson& p) {
        const std::string quote = "\"";
        std::string reason = p.Huzairiyu;
        if (reason.size() >= 2 && reason.compare(reason.size() - 2, 2, "\r\n") == 0) reason.resize(reason.size() - 2);
        const std::string text = quote + p.Furigana + quote + "\r\n" + quote + p.Name + quote + "\r\n" + quote +
                                 p.Group + quote + "\r\n" + quote + p.Memo + quote + "\r\n" + quote + reason + quote +
                                 "\r\n" + quote + p.ModoriDate + quote + "\r\n" + quote + p.ModoriTime + quote +
                                 "\r\n" + quote + p.Tel + quote + "\r\n" + quote + p.IP + quote + "\r\n" + quote +
                                 p.StatusIcon + quote + "\r\n";
        Dir.Write(p.Key + ".kvl", text);
        if (p.PowerOff)
            Dir.Write(p.Key + ".off", "");
        else
            std::remove(Dir.File(p.Key + ".off").c_str());
    }
    void RemovePerson(const std::string& key) {
        std::remove(Dir.File(key + ".kvl").c_str());
        std::remove(Dir.File(key + ".off").c_str());
    }

    // Four persons free of special characters, in board order:
    //   sato    ｻﾄｳ   佐藤花子 総務  away, back today 17:00, two-line reason
    //   suzuki  ｽｽﾞｷ  鈴木次郎 営業  away, back tomorrow (2020/12/08) 10:00
    //   tanaka  ﾀﾅｶ   田中太郎 営業  present, memo 内線101
    //   yamada  ﾔﾏﾀﾞ  山田一郎 開発  client off
    static TTestPerson Sato() {
        TTestPerson p;
        p.Key = "sato";
        p.Furigana = "ｻﾄｳ";
        p.Name = "佐藤花子";
        p.Group = "総務";
        p.Memo = "内線102";
        p.Huzairiyu = "会議\r\n15時まで";
        p.ModoriDate = "2020/12/07";
        p.ModoriTime = "17:00";
        p.Tel = "03-1234-5678";
        p.IP = "127.0.0.2";
        return p;
    }
    static TTestPerson Suzuki() {
        TTestPerson p;
        p.Key = "suzuki";
        p.Furigana = "ｽｽﾞｷ";
        p.Name = "鈴木次郎";
        p.Group = "営業";
        p.Memo = "内線103";
        p.Huzairiyu = "出張";
        p.ModoriDate = "2020/12/08";
        p.ModoriTime = "10:00";
        p.IP = "127.0.0.3";
        return p;
    }
    static TTestPerson Tanaka() {
        TTestPerson p;
        p.Key = "tanaka";
        p.Furigana = "ﾀﾅｶ";
        p.Name = "田中太郎";
        p.Group = "営業";
        p.Memo = "内線101";
        p.Tel = "090-0000-0000";
        p.IP = "127.0.0.4";
        return p;
    }
    static TTestPerson Yamada() {
        TTestPerson p;
        p.Key = "yamada";
        p.Furigana = "ﾔﾏﾀﾞ";
        p.Name = "山田一郎";
        p.Group = "開発";
        p.Memo = "内線104";
        p.IP = "127.0.0.5";
        p.PowerOff = true;
        return p;
    }
    void WriteStandardOffice() {
        AddPerson(Sato());
        AddPerson(Suzuki());
        AddPerson(Tanaka());
        AddPerson(Yamada());
    }

    // Writes kavel.ini and points a new environment at the directory.
    TKavelEnv& Open() {
        Dir.Write("kavel.ini", IniText);
        Env = std::make_unique<TKavelEnv>(Clock);
        Env->SetCommonDirectory(Dir.Dir());
        return *Env;
    }

    // Makes the next GetPersons read the directory again, with a later
    // LoadTime than any page cached so far.
    void Rescan(TDateTime advanceDays = 1.0 / 86400) {
        Clock.Advance(advanceDays);
        Env->ForceReload();
    }

    TKavelPageMaker Maker() {
        if (!Env) throw std::logic_error("TPageTestOffice: Open() first");
        return TKavelPageMaker(*Env, Cache);
    }

    // A GET request as the HTTP layer hands it over. target is the path with
    // an optional "?query" exactly as a browser would send it.
    static TIdHTTPRequestInfo Request(const std::string& target, const std::string& remoteAddress = "127.0.0.1") {
        TParsedRequest parsed = ParseHttpRequest("GET " + target + " HTTP/1.0\r\n\r\n", true);
        if (parsed.Status != TRequestStatus::Complete)
            throw std::invalid_argument("TPageTestOffice: bad request target " + target);
        parsed.Info.RemoteAddress = remoteAddress;
        return parsed.Info;
    }
};
