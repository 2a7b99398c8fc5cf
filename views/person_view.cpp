// The person page (/m/p/<key>) and its form writes.
//
// Markup the browser tests and the script rely on:
//   p#notice (what was just done), p#error (a refusal, naming the characters),
//   div#state[data-key][data-state] > dl#details (dd.state img.mk, span.cap,
//     dd.ret, dd.reason) + section#history > ol > li[data-source=client|web|api]
//     [data-kind=absence|message] (span.src in words); the fragment
//     /m/p/<key>/part is div#state alone;
//   button#follow[data-key][data-name] (hidden until the script shows it);
//   section#messages > ul#unread, ul#read > li.msg;
//   form#message-form, form#absence-form, form#clear-form: each posts form
//     encoded to /m/p/<key>/message or /absence (fields t, sender, text; type,
//     date, time, mark, reason), and names its API route in data-api.
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "api/api_handler.h"
#include "api/live.h"
#include "data/kavel_env.h"
#include "data/person_status.h"
#include "data/persons_list.h"
#include "data/store_gate.h"
#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "pages/absence_page.h"
#include "pages/message_send_page.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "views/view_parts.h"

namespace {

constexpr size_t HistoryShown = 10;
constexpr int DaysAhead = 90;  // as far as the classic absence page offers

// A form sent back with a refusal: its values (UTF-8) shown again.
struct TRefusal {
    std::string Form{};        // "message" or "absence"
    std::string Text{};        // Shift-JIS
    std::string Characters{};  // UTF-8, the characters without a Shift-JIS form
    std::string Sender{}, Message{}, Type{}, Date{}, Time{}, Mark{}, Reason{};
};

const char* SourceWords(const std::string& source) {
    if (source == "client") return "本人のクライアント";
    if (source == "web") return "ウェブ";
    if (source == "api") return "API";
    return "不明";
}

std::string Iso(TDateTime day) { return FormatDateTime("yyyy\"-\"mm\"-\"dd", day); }

// H:MM as a time input wants it (HH:MM), or empty.
std::string TimeInputValue(const std::string& time) {
    const size_t colon = time.find(':');
    if (colon == std::string::npos) return std::string();
    const auto h = ParseInt32(time.substr(0, colon));
    const auto m = ParseInt32(time.substr(colon + 1));
    if (!h || !m || *h < 0 || *h > 23 || *m < 0 || *m > 59) return std::string();
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", *h, *m);
    return text;
}

void AppendHistory(TViewText& out, TLive& live, const TKavelPerson& person) {
    const std::vector<std::string> lines = live.History().Last(person.FileName(), HistoryShown);
    out += "<section id=\"history\" aria-labelledby=\"h-history\"><h2 id=\"h-history\">最近の変更</h2>";
    if (lines.empty()) {
        out += "<p>記録はまだありません。</p></section>";
        return;
    }
    out += "<ol>";
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const nlohmann::json r = nlohmann::json::parse(*line, nullptr, false);
        if (!r.is_object()) continue;
        const std::string source = r.value("source", "");
        const std::string kind = r.value("kind", "");
        out += "<li data-source=\"";
        out.EscapedUtf8(source);
        out += "\" data-kind=\"";
        out.EscapedUtf8(kind);
        out += "\"><time>";
        std::string time = r.value("time", "");
        if (time.size() >= 16) time = time.substr(0, 10) + " " + time.substr(11, 5);
        out.EscapedUtf8(time);
        out += "</time> <span class=\"src\">";
        out += SourceWords(source);
        out += "</span> <span class=\"what\">";
        if (kind == "message") {
            out += "伝言を受け取りました（送信者: ";
            out.EscapedUtf8(r.value("sender", ""));
            out += "）";
        } else if (r.contains("after") && r["after"].is_object()) {
            const nlohmann::json& after = r["after"];
            const std::string date = after.value("date", "");
            if (date.empty()) {
                out += "在席に戻りました";
            } else {
                out += "不在: ";
                const std::string time = after.value("time", "");
                out.EscapedUtf8(time.empty() ? date : date + " " + time);
                if (const std::string reason = after.value("reason", ""); !reason.empty()) {
                    out += " ";
                    out.EscapedUtf8(reason.substr(0, reason.find_first_of("\r\n")));
                }
            }
        }
        out += "</span></li>";
    }
    out += "</ol></section>";
}

void AppendState(TViewText& out, TLive& live, const TKavelPerson& person, TDateTime now) {
    const TPersonStatusCollection& statuses = live.Env().Statuses();
    const TReturnState state = person.ReturnState(now);
    const std::string& caption = statuses.StatusFor(state, person.StatusIcon).Caption;
    auto row = [&out](const char* label, const std::string& value, const char* cls = nullptr) {
        out += "<dt>";
        out += label;
        out += "</dt><dd";
        if (cls) out += std::string(" class=\"") + cls + "\"";
        out += ">";
        if (value.empty())
            out += "―";
        else
            out.Escaped(value);
        out += "</dd>";
    };
    out += "<div id=\"state\" data-key=\"";
    out.Escaped(person.FileName());
    out += "\" data-state=\"";
    out += StateClass(state);
    out += "\"><dl id=\"details\"><dt>状態</dt><dd class=\"state st-";
    out += StateClass(state);
    out += "\"><img class=\"mk\" src=\"/";
    out.Escaped(statuses.StatusImageName(state, person.StatusIcon));
    out += "\" alt=\"\" width=\"32\" height=\"32\"> <span class=\"cap\">";
    out.Escaped(caption);
    out += "</span>";
    if (state == rsOverdue) out += " <span class=\"flag over\">予定超過（戻り予定を過ぎています）</span>";
    out += "</dd>";
    row("戻り", ReturnTextOf(person, now), "ret");
    row("行き先・理由", std::string(ReasonBetweenQuotes(person.Huzairiyu)), "reason");
    row("グループ", person.Group);
    row("よみ", person.Furigana);
    row("メモ", person.Memo);
    row("電話", person.Tel);
    out += "</dl>";
    AppendHistory(out, live, person);
    out += "</div>\n";
}

void AppendMessages(TViewText& out, const TKavelPerson& person) {
    out += "<section id=\"messages\" aria-labelledby=\"h-messages\"><h2 id=\"h-messages\">伝言</h2>";
    for (const bool read : {false, true}) {
        const nlohmann::json list = MessageEntries(ChangeFileExt(person.FilePath, read ? ".old" : ".mil"), read);
        out += read ? "<h3>既読 " : "<h3>未読 ";
        out += std::to_string(list.size()) + "件</h3><ul id=\"";
        out += read ? "read" : "unread";
        out += "\" class=\"msgs\">";
        for (const nlohmann::json& m : list) {
            auto text = [](const nlohmann::json& v) { return v.is_string() ? v.get<std::string>() : std::string("?"); };
            out += "<li class=\"msg\"><p class=\"from\">";
            out.EscapedUtf8(text(m["sender"]));
            out += " <time>";
            out.EscapedUtf8(text(m["time"]));
            out += "</time></p><p class=\"body\">";
            out.EscapedUtf8(text(m["text"]));
            out += "</p></li>";
        }
        out += "</ul>";
    }
    out += "</section>\n";
}

void Hidden(TViewText& out, const char* name, const std::string& value) {
    out += std::string("<input type=\"hidden\" name=\"") + name + "\" value=\"";
    out.Escaped(value);
    out += "\">";
}

void AppendForms(TViewText& out, TViewCall& call, const TKavelPerson& person, TDateTime now, const TRefusal* refused) {
    const std::string piece = KeyPathPiece(person.FileName());
    const bool again = refused != nullptr;
    // The message form: always empty but for what a refusal sends back.
    out +=
        "<section aria-labelledby=\"h-send\"><h2 id=\"h-send\">伝言を送る</h2>"
        "<form id=\"message-form\" method=\"post\" action=\"/m/p/" +
        piece + "/message\" data-api=\"/api/v1/persons/" + piece + "/messages\">";
    Hidden(out, "t", call.Token);
    out +=
        "<div class=\"field\"><label for=\"sender\">あなたの名前</label>"
        "<input id=\"sender\" name=\"sender\" autocomplete=\"name\" placeholder=\"空欄のときはゲスト\" value=\"";
    if (again && refused->Form == "message") out.EscapedUtf8(refused->Sender);
    out +=
        "\"></div><div class=\"field\"><label for=\"text\">伝言</label>"
        "<textarea id=\"text\" name=\"text\" rows=\"4\" required placeholder=\"伝言を入力してください\">";
    if (again && refused->Form == "message") {
        if (refused->Message.starts_with('\n') || refused->Message.starts_with("\r\n")) out += "\n";
        out.EscapedUtf8(refused->Message);
    }
    out += "</textarea></div><button type=\"submit\">伝言を送る</button></form></section>\n";

    // The absence form, filled with the person's current absence.
    const bool mine = again && refused->Form == "absence";
    TDateTime day = 0;
    const bool dated = IsDateTimeText(person.ModoriDate) && TryStrToDateTime(person.ModoriDate, day);
    const TDateTime today = DateOf(now);
    const std::string date =
        mine ? refused->Date
             : Iso(dated && DateOf(day) >= today && DateOf(day) <= today + DaysAhead ? DateOf(day) : today);
    const bool noLimit = mine ? refused->Type == "nolimit" : !person.ModoriDate.empty() && !dated;
    out +=
        "<section aria-labelledby=\"h-absence\"><h2 id=\"h-absence\">不在を設定する</h2>"
        "<form id=\"absence-form\" method=\"post\" action=\"/m/p/" +
        piece + "/absence\" data-api=\"/api/v1/persons/" + piece + "/absence\">";
    Hidden(out, "t", call.Token);
    out +=
        "<fieldset><legend>戻り</legend><div class=\"choice\"><input type=\"radio\" id=\"type-datetime\" "
        "name=\"type\" value=\"datetime\"";
    out += noLimit ? "" : " checked";
    out +=
        "><label for=\"type-datetime\">日時を決める</label></div><div class=\"field\"><label for=\"date\">日付</label>"
        "<input id=\"date\" name=\"date\" type=\"date\" min=\"" +
        Iso(today) + "\" max=\"" + Iso(today + DaysAhead) + "\" value=\"";
    out.EscapedUtf8(date);
    out +=
        "\"></div><div class=\"field\"><label for=\"time\">時刻</label><input id=\"time\" name=\"time\" type=\"time\" value=\"";
    if (mine)
        out.EscapedUtf8(refused->Time);
    else
        out.Escaped(TimeInputValue(person.ModoriTime));
    out += "\"></div><div class=\"choice\"><input type=\"radio\" id=\"type-nolimit\" name=\"type\" value=\"nolimit\"";
    out += noLimit ? " checked" : "";
    out +=
        "><label for=\"type-nolimit\">戻り日時不明、または無期限（状態マークの名前を戻りに表示）</label></div></fieldset>"
        "<div class=\"field\"><label for=\"mark\">状態マーク</label><select id=\"mark\" name=\"mark\">";
    const TPersonStatusCollection& statuses = call.Live.Env().Statuses();
    const std::string chosen = mine ? refused->Mark : std::to_string(person.StatusIcon);
    for (int index = TPersonStatusCollection::AbsentEntry; index < statuses.Count(); ++index) {
        const std::string n = std::to_string(index - TPersonStatusCollection::AbsentEntry);
        out += "<option value=\"" + n + "\"" + (n == chosen ? " selected" : "") + ">";
        out.Escaped(statuses.Items(index).Caption);
        out += "</option>";
    }
    out +=
        "</select></div><div class=\"field\"><label for=\"reason\">行き先・理由</label>"
        "<textarea id=\"reason\" name=\"reason\" rows=\"3\">";
    const std::string reason = std::string(ReasonBetweenQuotes(person.Huzairiyu));
    if (mine ? refused->Reason.starts_with('\n') || refused->Reason.starts_with("\r\n")
             : reason.starts_with('\n') || reason.starts_with("\r\n"))
        out += "\n";
    if (mine)
        out.EscapedUtf8(refused->Reason);
    else
        out.Escaped(reason);
    out +=
        "</textarea></div><button type=\"submit\">不在を設定する</button></form>"
        "<form id=\"clear-form\" method=\"post\" action=\"/m/p/" +
        piece + "/absence\" data-api=\"/api/v1/persons/" + piece + "/absence\">";
    Hidden(out, "t", call.Token);
    out +=
        "<input type=\"hidden\" name=\"type\" value=\"reset\"><button type=\"submit\" class=\"secondary\">"
        "在席に戻す（不在を解除）</button></form></section>\n";
}

std::string PersonPage(TViewCall& call, const TKavelPerson& person, TDateTime now, const TRefusal* refused) {
    TKavelEnv& env = call.Live.Env();
    TViewText out;
    PageStart(out, person.Name + " - " + env.SiteName(), "v-person");
    out += "<header><p class=\"back\"><a href=\"/m/\">在席表へ戻る</a></p><h1>";
    out.Escaped(person.Name);
    out += "</h1></header>\n<main>\n";
    const std::string done = call.Request.QueryFields.ValueOf("done");
    const char* notice = done == "message"   ? "伝言を送りました。"
                         : done == "absence" ? "不在を設定しました。今の状態は下のとおりです。"
                         : done == "clear"   ? "不在を解除し、在席に戻しました。"
                                             : nullptr;
    if (notice && !refused) {
        out += "<p id=\"notice\" role=\"status\">";
        out += notice;
        out += "</p>\n";
    }
    if (refused) {
        out += "<p id=\"error\" role=\"alert\">";
        out.Escaped(refused->Text);
        out.EscapedUtf8(refused->Characters);
        out += "</p>\n";
    }
    out += "<div id=\"notices\" role=\"status\" aria-live=\"polite\"></div>\n";
    AppendState(out, call.Live, person, now);
    out += "<p><button id=\"follow\" type=\"button\" hidden aria-pressed=\"false\" data-key=\"";
    out.Escaped(person.FileName());
    out += "\" data-name=\"";
    out.Escaped(person.Name);
    out += "\">戻ったら知らせる</button></p>\n";
    AppendMessages(out, person);
    AppendForms(out, call, person, now, refused);
    out += "</main>\n<footer><a href=\"/m/\">在席表</a> <a href=\"/m/wall\">壁掛け表示</a></footer>\n";
    PageEnd(out);
    return out.Finish();
}

// The Shift-JIS of a form value; the characters without a form are added
// to bad (UTF-8), each once.
std::string Convert(const std::string& utf8, std::string& bad) {
    if (std::optional<std::string> cp932 = Utf8ToCp932(utf8)) return *cp932;
    for (const std::string& c : Unencodable(utf8)) {
        if (c.empty() || (" " + bad + " ").find(" " + c + " ") != std::string::npos) continue;
        if (!bad.empty()) bad += ' ';
        bad += c;
    }
    return std::string();
}

void Refuse(TViewCall& call, const TKavelPerson& person, TDateTime now, TRefusal& refusal, std::string text) {
    refusal.Text = std::move(text);
    AnswerHtml(call.Response, 422, PersonPage(call, person, now, &refusal));
}

void Redirect(TViewCall& call, const TKavelPerson& person, const char* done) {
    call.Response.SetStatus(303);
    call.Response.CustomHeaders.push_back({"Location", "/m/p/" + KeyPathPiece(person.FileName()) + "?done=" + done});
    call.Response.CustomHeaders.push_back({"Cache-Control", "no-store"});
}

void PostMessage(TViewCall& call, const TKavelPersonsList& persons, const TKavelPerson& person, TDateTime now) {
    (void)persons;
    const TIdStringList& form = call.Request.QueryFields;
    TRefusal refusal{.Form = "message", .Sender = form.ValueOf("sender"), .Message = form.ValueOf("text")};
    const std::string sender = Convert(refusal.Sender, refusal.Characters);
    const std::string text = Convert(refusal.Message, refusal.Characters);
    if (!refusal.Characters.empty())
        return Refuse(call, person, now, refusal, "次の文字は Shift-JIS にないため送れません: ");
    if (IsBlankText(text)) return Refuse(call, person, now, refusal, "伝言を入力してください。");
    try {
        SendMessage(call.Live.Env(), person, sender, text, "web", call.Request.RemoteAddress);
    } catch (const ERefusedValue& e) {
        return Refuse(call, person, now, refusal, e.what());
    }
    Redirect(call, person, "message");
}

void PostAbsence(TViewCall& call, const TKavelPersonsList& persons, const TKavelPerson& person, TDateTime now) {
    const TIdStringList& form = call.Request.QueryFields;
    TRefusal refusal{.Form = "absence",
                     .Type = form.ValueOf("type"),
                     .Date = form.ValueOf("date"),
                     .Time = form.ValueOf("time"),
                     .Mark = form.ValueOf("mark"),
                     .Reason = form.ValueOf("reason")};
    TAbsenceFields fields;
    fields.Kind = refusal.Type;
    if (fields.Kind != "datetime" && fields.Kind != "nolimit" && fields.Kind != "reset")
        return Refuse(call, person, now, refusal, "戻りの種類を選んでください。");
    if (fields.Kind != "reset") {
        fields.Date = Convert(refusal.Date, refusal.Characters);
        fields.Time = Convert(refusal.Time, refusal.Characters);
        fields.Reason = Convert(refusal.Reason, refusal.Characters);
        fields.Mark = Convert(refusal.Mark, refusal.Characters);
        if (!refusal.Characters.empty())
            return Refuse(call, person, now, refusal, "次の文字は Shift-JIS にないため保存できません: ");
        if (fields.Date.size() == 10 && fields.Date[4] == '-' && fields.Date[7] == '-')
            fields.Date[4] = fields.Date[7] = '/';
        TDateTime day = 0;
        const TDateTime today = DateOf(now);
        if (fields.Kind == "datetime" &&
            (!TryStrToDateTime(fields.Date, day) || DateOf(day) < today || DateOf(day) > today + DaysAhead))
            return Refuse(call, person, now, refusal, "戻りの日付は今日から 90 日後までの日を選んでください。");
    }
    TKavelPerson changed;
    try {
        changed = ApplyAbsence(person, fields, call.Live.Env().Statuses());
        StoreAbsence(call.Live.Env(), persons, person, changed, "web", call.Request.RemoteAddress);
    } catch (const std::out_of_range&) {
        return Refuse(call, person, now, refusal, "その状態マークはありません。");
    } catch (const ERefusedValue& e) {
        return Refuse(call, person, now, refusal, e.what());
    }
    Redirect(call, person, fields.Kind == "reset" ? "clear" : "absence");
}

}  // namespace

void AnswerPerson(TViewCall& call, const std::string& key, std::string_view rest) {
    TKavelEnv& env = call.Live.Env();
    const bool write = rest == "/message" || rest == "/absence";
    std::string why;
    if (write && CrossSiteWrite(call.Request, why))
        return AnswerMessagePage(call.Response, 403, "受け付けられません", why);
    if (write && !env.ShareReadable())
        return AnswerMessagePage(call.Response, 503, "保存できません",
                                 "共有フォルダを読めないため、今は保存できません。");
    const TKavelEnv::TPersonsPtr persons = env.GetPersons();
    const TKavelPerson* person = key.empty() ? nullptr : persons->FindPerson(key);
    if (!person) return AnswerMessagePage(call.Response, 404, "見つかりません", "この人は在席表にいません。");
    const TDateTime now = env.Clock().Now();
    if (rest == "/message") return PostMessage(call, *persons, *person, now);
    if (rest == "/absence") return PostAbsence(call, *persons, *person, now);
    if (rest == "/part") {
        TViewText out;
        AppendState(out, call.Live, *person, now);
        return AnswerHtml(call.Response, 200, out.Finish());
    }
    AnswerHtml(call.Response, 200, PersonPage(call, *person, now, nullptr));
}
