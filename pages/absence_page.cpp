#include "pages/absence_page.h"

#include <stdexcept>

#include "data/kavel_env.h"
#include "data/kavel_person.h"
#include "data/person_status.h"
#include "data/persons_list.h"
#include "data/store_gate.h"
#include "http/http_request_info.h"
#include "log/event_log.h"
#include "pages/html_escape.h"
#include "pages/page_maker.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "protocol/kavel_protocol.h"

namespace {

constexpr const char* CRLF = "\r\n";

const char* const FormStyleSheet =
    "<STYLE TYPE=\"text/css\">\r\n"
    ".NOBORDER\t\t\t\t{}\r\n"
    ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }\r\n"
    "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}\r\n"
    ".widthdef\t\t\t\t{width:780;}\r\n"
    ".Title\t\t\t\t\t\t{FONT-WEIGHT:bold;　FONT-SIZE:16pt; COLOR:white;}\r\n"
    "TABLE\t\t\t\t\t\t{FONT-WEIGHT:bold;  TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; }\r\n"
    "TH\t\t\t\t\t\t\t\t{TEXT-ALIGN:left;   FONT-SIZE:14pt; COLOR:white; BACKGROUND-COLOR:DarkCyan;}\r\n"
    "TD\t\t\t\t\t\t\t\t{TEXT-ALIGN:left;   FONT-SIZE:14pt; COLOR:black; }\r\n"
    ".MainTable\t\t\t\t{WIDTH:640;\t\t\t\t\tCOLOR:white; BORDER:0;}\r\n"
    ".ModoriTable\t\t\t{WIDTH:100%;\t\t\t\tBACKGROUND-COLOR:white; BORDER:1 solid black;}\r\n"
    ".StatusTable\t\t\t{WIDTH:100%;\t\t\t\tBACKGROUND-COLOR:white; BORDER:1 solid black;}\r\n"
    ".RiyuTable\t\t\t\t{WIDTH:640; \t\t\t\tBACKGROUND-COLOR:white; BORDER:1 solid black;}\r\n"
    ".WidthMax\t\t\t\t{WIDTH:640;}\r\n"
    "INPUT\t\t\t\t\t\t{FONT-SIZE:12pt; FONT-WEIGHT:bold;}\r\n"
    "SELECT\t\t\t\t\t\t{FONT-SIZE:12pt; FONT-WEIGHT:bold;}\r\n"
    "TEXTAREA\t\t\t\t\t{FONT-SIZE:12pt; FONT-WEIGHT:bold;}\r\n"
    "</STYLE>";

const char* const ClosingStyleSheet =
    "<STYLE TYPE=\"text/css\">\r\n"
    ".NOBORDER\t\t\t\t{}\r\n"
    ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }\r\n"
    "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}\r\n"
    ".widthdef\t\t\t\t{width:780;}\r\n"
    ".Title\t\t\t\t\t\t{FONT-WEIGHT:bold;　FONT-SIZE:16pt; COLOR:white;}\r\n"
    "TABLE\t\t\t\t\t\t{FONT-WEIGHT:bold;  TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; "
    "BACKGROUND-COLOR:white;}\r\n"
    "TH\t\t\t\t\t\t\t\t{WIDTH:180; \t\t\t\tTEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:white; "
    "BACKGROUND-COLOR:DarkCyan;}\r\n"
    "TD\t\t\t\t\t\t\t\t{WIDTH:500; \t\t\t\tTEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; "
    "BACKGROUND-COLOR:white;}\r\n"
    "</STYLE>";

// Catalogue entries before this one are the power and presence marks.
constexpr int FirstAbsenceEntry = TPersonStatusCollection::AbsentEntry;

}  // namespace

std::string AbsenceDateList(TDateTime now, const std::string& modoriDate) {
    TDateTime chosen = 0;
    const bool hasDate = !modoriDate.empty() && TryStrToDateTime(modoriDate, chosen);
    std::string list = "<SELECT NAME=\"modoridate\">\r\n";
    for (int d = 0; d <= 90; ++d) {
        const TDateTime t = now + d;
        list += "<OPTION VALUE=\"";
        list += FormatDateTime("yyyy\"/\"mm\"/\"dd", t);
        list += '"';
        if (hasDate && chosen == DateOf(t)) list += " SELECTED";
        list += '>';
        list += FormatDateTime("yyyy\"年\" mm\"月\" dd\"日(\"aaa\")\"", t);
        list += "</OPTION>\r\n";
    }
    list += "\r\n</SELECT>";
    return list;
}

std::string AbsenceStatusList(const TPersonStatusCollection& statuses, int32_t statusIcon) {
    std::string list = "<SELECT NAME=\"statusicon\" STYLE=\"FONT-SIZE:18pt;\">\r\n";
    for (int index = FirstAbsenceEntry; index < statuses.Count(); ++index) {
        const int n = index - FirstAbsenceEntry;
        list += "<OPTION VALUE=\"" + std::to_string(n) + "\"";
        if (n == statusIcon) list += "SELECTED";
        list += '>';
        // Captions are the administrator's, from kavel.ini, like the site name.
        list += statuses.Items(index).Caption;
        list += "</OPTION>\r\n";
    }
    list += "\r\n</SELECT>";
    return list;
}

TKavelPerson ApplyAbsenceForm(const TKavelPerson& current, const TIdHTTPRequestInfo& request,
                              const TPersonStatusCollection& statuses) {
    const TIdStringList& form = request.QueryFields;
    return ApplyAbsence(current,
                        {form.ValueOf("modoritype"), form.ValueOf("modoridate"), form.ValueOf("modoritime"),
                         form.ValueOf("huzairiyu"), form.ValueOf("statusicon")},
                        statuses);
}

TKavelPerson ApplyAbsence(const TKavelPerson& current, const TAbsenceFields& fields,
                          const TPersonStatusCollection& statuses) {
    const std::string& kind = fields.Kind;
    TKavelPerson result(current);
    if (kind == "reset") {
        // The form's other fields are dropped, so they are not judged either.
        result.ModoriDate.clear();
        result.ModoriTime.clear();
        result.Huzairiyu.clear();
        result.StatusIcon = 0;
        return result;
    }
    result.StatusIcon = ParseInt32(fields.Mark).value_or(0);
    result.Huzairiyu = AdmitReason(fields.Reason);
    if (kind == "nolimit") {
        const int64_t index = int64_t{result.StatusIcon} + FirstAbsenceEntry;
        if (index < 0 || index >= statuses.Count())
            throw std::out_of_range("リストのインデックスが範囲を超えています (" + std::to_string(index) + ")");
        result.ModoriDate = statuses.Items(static_cast<int>(index)).Caption;
        result.ModoriTime.clear();
    } else {
        result.ModoriDate = AdmitText("戻り日付", fields.Date, TValueShape::OneLine);
        result.ModoriTime = AdmitText("戻り時刻", fields.Time, TValueShape::OneLine);
    }
    return result;
}

void StoreAbsence(TKavelEnv& env, const TKavelPersonsList& persons, const TKavelPerson& before,
                  const TKavelPerson& changed, const std::string& source, const std::string& peer) {
    const std::string text = changed.PersonFileText();
    env.ExpectOwnWrite(changed.FileName(), text);
    try {
        changed.SavePersonFile();
    } catch (const ERefusedValue&) {
        throw;  // nothing was written: the user's input, not a failed write
    } catch (...) {
        env.WriteFailures.fetch_add(1);
        throw;
    }
    env.Writes.fetch_add(1);
    env.NoteStored({.Source = source, .Peer = peer, .Before = &before, .After = &changed});
    env.ForceReload(TDirChanges{.All = false, .Names = {ExtractFileName(changed.FilePath)}});

    for (int i = 0; i < persons.Count(); ++i) {
        const TKavelPerson& receiver = persons[i];
        try {
            env.Protocol().SendPersonData(changed.Datagram(), receiver.IP);
        } catch (const std::exception& e) {
            // The change is saved; one client that cannot be reached must
            // not keep it from the others.
            WriteEventLog(changed.Name + "(" + changed.FileName() + ") さんの不在情報を " + receiver.Name + "(" +
                              receiver.FileName() + ") さんの " + receiver.IP + " に送信できませんでした。\r\n" +
                              e.what(),
                          EventWarning);
        }
    }
}

std::string TKavelPageMaker::MakeAbsencePage(const TIdHTTPRequestInfo& request) {
    const TKavelEnv::TPersonsPtr persons = Env().GetPersons();
    const TKavelPerson& person = RequestedPerson(*persons, request);
    const bool hasDateTime = IsDateTimeText(person.ModoriDate);

    std::string page = "<HTML>\r\n  <HEAD>";
    page += FormStyleSheet;
    page +=
        "</HEAD>\r\n"
        "  <BODY>\r\n"
        "    <CENTER>\r\n"
        "      <FORM NAME=\"huzaiset\" TARGET=\"umaintarget\" ACTION=\"uhuzaisetsubmit\">\r\n"
        "      <SPAN CLASS=\"Title\">";
    page += HtmlEscape(person.Name);
    page += "さんの不在設定を行います。</SPAN>\r\n        <INPUT TYPE=\"HIDDEN\" NAME=\"user\" VALUE=\"";
    page += HtmlEscape(person.FileName());
    page +=
        "\">\r\n"
        "        <TABLE CLASS=\"MainTable\">\r\n"
        "          <TR>\r\n"
        "            <TD>\r\n"
        "              <TABLE CLASS=\"ModoriTable\">\r\n"
        "                <TR><TH>戻り日時</TH></TR>\r\n"
        "                <TR>\r\n"
        "                  <TD>\r\n"
        "                    <INPUT TYPE=\"radio\" NAME=\"modoritype\" VALUE=\"datetime\"";
    if (hasDateTime) page += " CHECKED";
    page += ">\r\n                    ";
    page += AbsenceDateList(Env().Clock().Now(), person.ModoriDate);
    page += " <INPUT TYPE=\"TEXT\" NAME=\"modoritime\" MAXLENGTH=\"5\" VALUE=\"";
    page += HtmlEscape(person.ModoriTime);
    page +=
        "\">\r\n"
        "                  </TD>\r\n"
        "                </TR>\r\n"
        "                <TR>\r\n"
        "                  <TD>\r\n"
        "                    <INPUT TYPE=\"radio\" NAME=\"modoritype\" VALUE=\"nolimit\"";
    if (!hasDateTime) page += " CHECKED";
    page +=
        ">\r\n"
        "                    戻り日時不明、または無期限\r\n"
        "                  </TD>\r\n"
        "                </TR>\r\n"
        "      \t       </TABLE>\r\n"
        "            </TD>\r\n"
        "            <TD>\r\n"
        "      \t       <TABLE CLASS=\"StatusTable\">\r\n"
        "                <TR><TH>状態マーク</TH></TR>\r\n"
        "                <TR>\r\n"
        "                  <TD>\r\n"
        "                    ";
    page += AbsenceStatusList(Env().Statuses(), person.StatusIcon);
    page +=
        "\r\n"
        "                  </TD>\r\n"
        "                </TR>\r\n"
        "      \t\t     </TABLE>\r\n"
        "            </TD>\r\n"
        "          </TR>\r\n"
        "          <TR><BR></TR>\r\n"
        "          <TR>\r\n"
        "            <TD COLSPAN=\"2\">\r\n"
        "              <TABLE CLASS=\"RiyuTable\">\r\n"
        "                <TR><TH>不在理由</TH></TR>\r\n"
        "                <TR>\r\n"
        "                  <TD STYLE=\"HEIGHT:26pt;\">\r\n"
        "                    <TEXTAREA CLASS=\"WidthMax\" NAME=\"huzairiyu\" ROWS=\"12\">";
    // Offered as the file holds it, so that sending the form back unchanged
    // stores the same reason.
    page += HtmlEscapeBlock(ReasonBetweenQuotes(person.Huzairiyu));
    page +=
        "</TEXTAREA>\r\n"
        "                  </TD>\r\n"
        "                </TR>\r\n"
        "              </TABLE>\r\n"
        "            </TD>\r\n"
        "          </TR>\r\n"
        "        </TABLE>\r\n"
        "      </FORM>\r\n"
        "    </CENTER>\r\n"
        "  </BODY>\r\n"
        "</HTML>";
    return page;
}

std::string TKavelPageMaker::MakeAbsenceSubmitPage(const TIdHTTPRequestInfo& request) {
    const TKavelEnv::TPersonsPtr persons = Env().GetPersons();
    const TKavelPerson& person = RequestedPerson(*persons, request);

    // The listed record stays as read: other requests are showing it, and
    // the board is to change only once the file holds the new state.
    const TKavelPerson changed = ApplyAbsenceForm(person, request, Env().Statuses());
    StoreAbsence(Env(), *persons, person, changed, "web", request.RemoteAddress);

    std::string page = "<HTML>\r\n  <HEAD>";
    page += ClosingStyleSheet;
    page +=
        "</HEAD>\r\n"
        "  <BODY onLoad=\"JavaScript:parent.close();\">\r\n"
        "    <CENTER>\r\n"
        "      <BR><BR><BR><BR>";
    page += HtmlEscape(changed.Name);
    page +=
        "さんの不在状態を解除しました。<BR><BR>\r\n"
        "    </CENTER>\r\n"
        "  </BODY>\r\n"
        "</HTML>";
    return page;
}
