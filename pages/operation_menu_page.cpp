#include "pages/operation_menu_page.h"

#include <initializer_list>
#include <stdexcept>
#include <string_view>

#include "data/kavel_env.h"
#include "data/kavel_person.h"
#include "data/persons_list.h"
#include "http/http_request_info.h"
#include "pages/html_escape.h"
#include "pages/page_maker.h"

namespace {

const char* const MenuTemplate =
    "<HTML>\r\n"
    "  <HEAD>%s</HEAD>\r\n"
    "  <BODY>\r\n"
    "    <CENTER>\r\n"
    "      <TABLE CLASS=\"NOBORDER\" STYLE=\"width:780\";>\r\n"
    "        <TR>\r\n"
    "          <TD STYLE=\"TEXT-ALIGN:center;\">\r\n"
    "            <FORM NAME=\"menubtn\" TARGET=\"%s\" ACTION=\"%s\">\r\n"
    "              <INPUT TYPE=\"hidden\" NAME=\"user\" VALUE=\"%s\">\r\n"
    "              <INPUT TYPE=\"hidden\" NAME=\"operation\" VALUE=\"\">\r\n"
    "            </FORM>\r\n"
    "            <IMG SRC=\"%s\" USEMAP=\"#useropmenubtn\">\r\n"
    "            <MAP NAME=\"useropmenubtn\">\r\n"
    "              <AREA SHAPE=\"rect\" COORDS=\"  9, 9, 98, 66\" TARGET=\"%s\" HREF=\"%s\" onClick=\"%s\">\r\n"
    "              <AREA SHAPE=\"rect\" COORDS=\" 97, 9,186, 66\" TARGET=\"%s\" HREF=\"%s\" onClick=\"%s\">\r\n"
    "              <AREA SHAPE=\"rect\" COORDS=\"185, 9,273, 66\" TARGET=\"%s\" HREF=\"%s\" onClick=\"%s\">\r\n"
    "              <AREA SHAPE=\"rect\" COORDS=\"272, 9,361, 66\" TARGET=\"%s\" HREF=\"%s\" onClick=\"%s\">\r\n"
    "            </MAP>\r\n"
    "          </TD>\r\n"
    "          <TD STYLE=\"TEXT-ALIGN:center;\">\r\n"
    "            %s\r\n"
    "          </TD>\r\n"
    "        </TR>\r\n"
    "      </TABLE>\r\n"
    "    </CENTER>\r\n"
    "  </BODY>\r\n"
    "</HTML>";

const char* const MenuStyle =
    "<STYLE TYPE=\"text/css\">\r\n"
    ".NOBORDER\t\t\t\t{}\r\n"
    ".BORDER\t\t\t\t\t{BORDER:THIN SOLID BLACK; }\r\n"
    "BODY\t\t\t\t\t\t\t{background:WHITE url(bg.jpg); width:780;}\r\n"
    ".widthdef\t\t\t\t{width:780;}\r\n"
    "TABLE\t\t\t\t\t\t{FONT-WEIGHT:bold;  TEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:black;}\r\n"
    "TH\t\t\t\t\t\t\t\t{WIDTH:180; \t\t\t\tTEXT-ALIGN:center; FONT-SIZE:14pt; COLOR:white;}\r\n"
    "TD\t\t\t\t\t\t\t\t{WIDTH:500; \t\t\t\tTEXT-ALIGN:left;   FONT-SIZE:14pt; COLOR:black;}\r\n"
    "</STYLE>";

const char* const OneAreaStrip =
    "    <IMG SRC=\"%s\" USEMAP=\"#useropsubmitbtn\">\r\n"
    "    <MAP NAME=\"useropsubmitbtn\">\r\n"
    "      <AREA SHAPE=\"rect\" COORDS=\"  0, 0, 217, 57\" TARGET=\"%s\" HREF=\"%s\">\r\n"
    "    </MAP>";

const char* const ThreeAreaStrip =
    "    <IMG SRC=\"%s\" USEMAP=\"#useropsubmitbtn\">\r\n"
    "    <MAP NAME=\"useropsubmitbtn\">\r\n"
    "      <AREA SHAPE=\"rect\" COORDS=\"  0, 0, 127, 57\" TARGET=\"%s\" HREF=\"%s\">\r\n"
    "      <AREA SHAPE=\"rect\" COORDS=\"128, 0, 217, 27\" TARGET=\"%s\" HREF=\"%s\">\r\n"
    "      <AREA SHAPE=\"rect\" COORDS=\"128,28, 217, 57\" TARGET=\"%s\" HREF=\"%s\">\r\n"
    "    </MAP>";

const char* const TwoAreaStrip =
    "    <IMG SRC=\"%s\" USEMAP=\"#useropsubmitbtn\">\r\n"
    "    <MAP NAME=\"useropsubmitbtn\">\r\n"
    "      <AREA SHAPE=\"rect\" COORDS=\"  0, 0, 128, 57\" TARGET=\"%s\" onClick=\"%s\">\r\n"
    "      <AREA SHAPE=\"rect\" COORDS=\"129, 0, 217, 57\" TARGET=\"%s\" HREF=\"%s\">\r\n"
    "    </MAP>";

const char* const MenuClickScript = "JavaScript:document.menubtn.operation.value = '%s'; document.menubtn.submit();";
const char* const CloseLink = "JavaScript:parent.close();";
const char* const MainFrame = "umaintarget";

// Fills each "%s" of format with the next of values. Inserted text is not
// scanned again, so a '%' inside a value (an encoded key) stays as it is.
std::string Fill(std::string_view format, std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(format.size() + 256);
    const std::string_view* next = values.begin();
    size_t start = 0;
    for (size_t at = format.find("%s"); at != std::string_view::npos; at = format.find("%s", start)) {
        if (next == values.end()) throw std::logic_error("Fill: too few values");
        out.append(format.substr(start, at - start));
        out.append(*next++);
        start = at + 2;
    }
    if (next != values.end()) throw std::logic_error("Fill: too many values");
    out.append(format.substr(start));
    return out;
}

struct TMenuVariant {
    std::string Picture;  // menu bar picture, "" for an unknown operation
    std::string Strip;    // the action buttons, "" for an unknown operation
};

// key is the person key as it may stand inside an attribute holding a URL.
TMenuVariant VariantOf(const std::string& operation, const std::string& key) {
    if (operation == "uinfo") return {"btnmenusyousai.jpg", Fill(OneAreaStrip, {"btnreturn.jpg", "", CloseLink})};
    if (operation == "uhuzai") {
        const std::string clearLink = "uhuzaisetsubmit?user=" + key + "&modoritype=reset";
        return {"btnmenuhuzai.jpg",
                Fill(ThreeAreaStrip, {"btnreturnandcancelandsubmit.jpg", MainFrame,
                                      "JavaScript:parent.frames['umaintarget'].document.huzaiset.submit();", MainFrame,
                                      clearLink, "", CloseLink})};
    }
    if (operation == "udengoncheck")
        return {"btnmenudengoncheck.jpg", Fill(OneAreaStrip, {"btnreturn.jpg", "", CloseLink})};
    if (operation == "udengonsend") {
        return {"btnmenudengonsend.jpg",
                Fill(TwoAreaStrip,
                     {"btnreturnandsend.jpg", MainFrame,
                      "JavaScript:parent.frames['umaintarget'].document.dengonsend.submit();", "", CloseLink})};
    }
    return {};
}

}  // namespace

std::string BuildOperationMenuText(const TKavelPerson& person, const std::string& operation) {
    const std::string fileName = person.FileName();
    // Links carry the key percent-encoded so they find the person again;
    // the hidden field is encoded by the browser when the form is sent.
    const std::string key = HtmlEscape(UrlEncodeKey(fileName));
    const TMenuVariant variant = VariantOf(operation, key);
    const std::string clicks[] = {Fill(MenuClickScript, {"uinfo"}), Fill(MenuClickScript, {"uhuzai"}),
                                  Fill(MenuClickScript, {"udengoncheck"}), Fill(MenuClickScript, {"udengonsend"})};
    return Fill(MenuTemplate,
                {MenuStyle, "uopmenu", "uopmenu", HtmlEscape(fileName), variant.Picture, MainFrame, "uinfo?user=" + key,
                 clicks[0], MainFrame, "uhuzai?user=" + key, clicks[1], MainFrame, "udengoncheck?user=" + key,
                 clicks[2], MainFrame, "udengonsend?user=" + key, clicks[3], variant.Strip});
}

std::string TKavelPageMaker::MakeOperationMenuPage(const TIdHTTPRequestInfo& request) {
    std::string operation = request.QueryFields.ValueOf("Operation");
    const TKavelEnv::TPersonsPtr persons = Env_.GetPersons();
    const TKavelPerson& person = RequestedPerson(*persons, request);
    if (operation.empty()) operation = "uinfo";
    return BuildOperationMenuText(person, operation);
}
