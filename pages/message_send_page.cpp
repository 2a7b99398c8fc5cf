#include "pages/message_send_page.h"

#include <stdexcept>

#include "data/kavel_env.h"
#include "data/kavel_person.h"
#include "data/persons_list.h"
#include "data/store_gate.h"
#include "data/text_file.h"
#include "http/http_request_info.h"
#include "log/event_log.h"
#include "pages/html_escape.h"
#include "pages/page_maker.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"
#include "protocol/kavel_protocol.h"

namespace {

const char* const StyleSheet =
    "<STYLE TYPE=\"text/css\">\r\n"
    ".NOBORDER\t\t\t\t{}\r\n"
    ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }\r\n"
    "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}\r\n"
    ".widthdef\t\t\t\t{width:780;}\r\n"
    ".Title\t\t\t\t\t\t{FONT-WEIGHT:bold;　FONT-SIZE:16pt; COLOR:white;}\r\n"
    "TABLE\t\t\t\t\t\t{FONT-WEIGHT:bold;  TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black; "
    "BACKGROUND-COLOR:black;}\r\n"
    "TH\t\t\t\t\t\t\t\t{WIDTH:180; \t\t\t\tTEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:white; "
    "BACKGROUND-COLOR:DarkCyan; padding:4px;}\r\n"
    "TD\t\t\t\t\t\t\t\t{WIDTH:480; \t\t\t\tTEXT-ALIGN:left;   FONT-SIZE:12pt; COLOR:black; "
    "BACKGROUND-COLOR:white;}\r\n"
    "INPUT\t\t\t\t\t\t{FONT-SIZE:12pt; FONT-WEIGHT:bold;}\r\n"
    "TEXTAREA\t\t\t\t\t{FONT-SIZE:12pt; FONT-WEIGHT:bold;}\r\n"
    "</STYLE>";

const char* const SentPage =
    "<HTML>\r\n"
    "  <BODY onLoad=\"JavaScript:alert('送信しました！');JavaScript:parent.close();\">\r\n"
    "  </BODY>\r\n"
    "</HTML>";

const char* const GuestName = "ゲスト";

}  // namespace

std::string MessageHeaderLine(const std::string& sender, TDateTime sendTime) {
    return "○" + sender + "(伝言)    送信日時:" +
           FormatDateTime("yyyy\"年\"mm\"月\"dd\"日(\"aaa\") \"hh\"時\"nn\"分\"ss\"秒\"", sendTime);
}

void DeliverMessage(TKavelEnv& env, const TKavelPerson& person, const std::string& text) {
    // Refused before anything is stored: the entry must not go in unannounced.
    CheckDatagramValue("人物ファイル名", person.FileName());
    PrependToFile(ChangeFileExt(person.FilePath, ".mil"), text);
    try {
        env.Protocol().NotifyMessage(person.Datagram());
    } catch (const std::exception& e) {
        // The message is stored; the client finds it when it next looks.
        WriteEventLog(person.Name + "(" + person.FileName() + ") さんへの伝言の通知を " + person.IP +
                          " に送信できませんでした。\r\n" + e.what(),
                      EventWarning);
    }
}

std::string TKavelPageMaker::MakeMessageSendPage(const TIdHTTPRequestInfo& request) {
    const TKavelEnv::TPersonsPtr persons = Env().GetPersons();
    const TKavelPerson& person = RequestedPerson(*persons, request);

    std::string page = "<HTML>\r\n  <HEAD>";
    page += StyleSheet;
    page +=
        "</HEAD>\r\n  <BODY>\r\n    <CENTER>\r\n"
        "      <FORM NAME=\"dengonsend\" TARGET=\"umaintarget\" ACTION=\"udengonsendresult\">\r\n"
        "      <SPAN CLASS=\"Title\">";
    page += HtmlEscape(person.Name);
    page += "さん宛の伝言を送信します。</SPAN>\r\n      <INPUT TYPE=\"HIDDEN\" NAME=\"user\"  VALUE=\"";
    page += HtmlEscape(person.FileName());
    page +=
        "\">\r\n"
        "      <TABLE>\r\n"
        "        <TR>\r\n"
        "          <TH>送信者の名前</TH>\r\n"
        "          <TD><INPUT NAME=\"sender\" VALUE=\"ゲスト\" SIZE=\"40\"></TD>\r\n"
        "        </TR>\r\n"
        "        <TR>\r\n"
        "          <TH>伝言の内容</TH>\r\n"
        "          <TD><TEXTAREA NAME=\"dengonmessage\" COLS=\"60\" ROWS=\"12\">"
        "ここに伝言として送信する内容を入れてください。</TEXTAREA></TD>\r\n"
        "        </TR>\r\n"
        "      </TABLE>\r\n"
        "      </FORM>\r\n"
        "    </CENTER>\r\n"
        "  </BODY>\r\n"
        "</HTML>";
    return page;
}

std::string TKavelPageMaker::MakeMessageSentPage(const TIdHTTPRequestInfo& request) {
    const TKavelEnv::TPersonsPtr persons = Env().GetPersons();
    const TKavelPerson& person = RequestedPerson(*persons, request);

    SendMessage(Env(), person, request.QueryFields.ValueOf("sender"), request.QueryFields.ValueOf("dengonmessage"),
                "web", request.RemoteAddress);
    return SentPage;
}

std::string SendMessage(TKavelEnv& env, const TKavelPerson& person, const std::string& sender, const std::string& body,
                        const std::string& source, const std::string& peer) {
    const std::string from = IsBlankText(sender) ? GuestName : AdmitText("送信者の名前", sender, TValueShape::OneLine);
    const std::string message = AdmitMessageBody(body);
    try {
        DeliverMessage(env, person, MessageHeaderLine(from, env.Clock().Now()) + "\r\n" + message);
    } catch (const ERefusedValue&) {
        throw;
    } catch (...) {
        env.WriteFailures.fetch_add(1);
        throw;
    }
    env.Writes.fetch_add(1);
    env.NoteStored({.Source = source, .Peer = peer, .Receiver = &person, .Sender = from, .Length = message.size()});
    return from;
}
