#include <stdexcept>
#include <string>
#include <string_view>

#include "data/kavel_env.h"
#include "data/persons_list.h"
#include "http/http_request_info.h"
#include "pages/html_escape.h"
#include "pages/page_maker.h"
#include "platform/sjis_text.h"

namespace {

// The operation names a page beside this one. A value that could make the
// frame's source a URL of its own (a scheme such as "javascript:", or a
// "//host" / "\\host" address) has those bytes percent-encoded, which keeps it
// a relative name: the frame then asks this server for it, as for any other
// page name it does not know.
std::string OperationUrl(std::string_view operation) {
    return PercentEncode(operation, [](unsigned char c) {
        return c == ':' || c == '/' || c == '\\' || c == '%' || c <= ' ' || c == 0x7F;
    });
}

}  // namespace

std::string TKavelPageMaker::MakeUserFramePage(const TIdHTTPRequestInfo& request) {
    std::string operation = request.QueryFields.ValueOf("Operation");
    const TKavelEnv::TPersonsPtr persons = Env_.GetPersons();
    const TKavelPerson* person = &RequestedPerson(*persons, request);
    if (operation.empty()) operation = "uinfo";

    const std::string key = UrlEncodeKey(person->FileName());
    std::string page =
        "<HTML>\r\n"
        "  <HEAD>\r\n"
        "    <TITLE>Quorwell</TITLE>\r\n"
        "  </HEAD>\r\n"
        "  <FRAMESET ROWS=\"*,120\" BORDER=\"0\" WIDTH=\"780\">\r\n"
        "    <FRAME NAME=\"umaintarget\" SRC=\"";
    page += HtmlEscape(OperationUrl(operation) + "?user=" + key);
    page += "\">\r\n    <FRAME NAME=\"uopmenu\" SRC=\"";
    page += HtmlEscape("uopmenu?user=" + key);
    page +=
        "\">\r\n"
        "  </FRAMESET>\r\n"
        "</HTML>";
    return page;
}
