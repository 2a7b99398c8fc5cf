#include "pages/message_check_page.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "data/kavel_env.h"
#include "data/kavel_person.h"
#include "data/persons_list.h"
#include "http/http_request_info.h"
#include "pages/html_escape.h"
#include "pages/page_maker.h"
#include "platform/file_system.h"

namespace {

constexpr const char* CRLF = "\r\n";
constexpr const char* HeaderMark = "○";  // 0x81 0x9B

const char* const StyleSheet =
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
    "TD\t\t\t\t\t\t\t\t{WIDTH:600; \t\t\t\tTEXT-ALIGN:left;   FONT-SIZE:12pt; COLOR:white; "
    "BACKGROUND-COLOR:black; padding:10px; OVERFLOW-X:scroll;}\r\n"
    "</STYLE>";

bool IsHeaderLine(const std::string& line) { return line.rfind(HeaderMark, 0) == 0; }

// A <pre> element around escaped text, shown as an <xmp> would show it raw.
void AppendPre(std::string& out, const std::string& openTag, const std::string& text) {
    out += openTag;
    out += HtmlEscapeBlock(text);
    out += "</pre>";
}

// The file's lines, or false when there is no such file. A file that goes
// away between the test and the read counts as absent: the clients remove
// read message files on their own.
bool LoadMessageFile(const std::string& path, std::vector<std::string>& lines) {
    if (!FileExists(path)) return false;
    std::string content;
    try {
        content = ReadWholeFile(path);
    } catch (const EFOpenError& e) {
        if (e.ErrorCode() == ENOENT) return false;
        throw;
    }
    lines = SplitMessageLines(content);
    return true;
}

bool IsBlankText(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ') return false;
    return true;
}

}  // namespace

std::vector<std::string> SplitMessageLines(const std::string& content) {
    std::vector<std::string> lines;
    const size_t end = std::min(content.find('\0'), content.size());
    size_t start = 0;
    while (start < end) {
        size_t stop = start;
        while (stop < end && content[stop] != '\r' && content[stop] != '\n') ++stop;
        lines.emplace_back(content, start, stop - start);
        if (stop < end && content[stop] == '\r' && stop + 1 < end && content[stop + 1] == '\n')
            ++stop;
        start = stop + 1;
    }
    return lines;
}

std::string RenderMessageLines(const std::vector<std::string>& lines, bool read) {
    if (lines.empty()) return std::string();
    const std::string headerStyle = read ? "color: blue;" : "color: Cyan;";
    const std::string bodyStyle = read ? "color: gray;" : "color: white;";
    const std::string headerTag = "<pre style=\"" + headerStyle + "\">";

    std::string out;
    std::string pending;
    for (const std::string& line : lines) {
        if (IsHeaderLine(line)) {
            AppendPre(out, "<pre>", pending + CRLF);
            out += CRLF;
            AppendPre(out, headerTag, line);
            out += CRLF;
            pending.clear();
        } else {
            pending += line;
            pending += CRLF;
        }
    }
    std::string result = "<font style=\"" + bodyStyle + "\">";
    result += out;
    AppendPre(result, "<pre>", pending);
    result += "</font>";
    return result;
}

std::string RenderMessages(const TKavelPerson& person) {
    std::string result;
    std::vector<std::string> lines;
    if (LoadMessageFile(ChangeFileExt(person.FilePath, ".old"), lines))
        result = RenderMessageLines(lines, true) + CRLF;
    lines.clear();
    if (LoadMessageFile(ChangeFileExt(person.FilePath, ".mil"), lines)) {
        result = RenderMessageLines(lines, false) + CRLF +
                 "<div style=\"color: YELLOW; text-align: CENTER;\">" + CRLF +
                 "- 以上が未読伝言です -" + CRLF + "</div>" + CRLF + result;
    }
    if (IsBlankText(result)) result = "伝言はありません。";
    return result;
}

std::string TKavelPageMaker::MakeMessageCheckPage(const TIdHTTPRequestInfo& request) {
    const TKavelEnv::TPersonsPtr persons = Env().GetPersons();
    const TKavelPerson* person = persons->FindPerson(request.QueryFields.ValueOf("user"));
    if (!person) throw std::runtime_error("存在しないユーザ情報を要求されました。");

    std::string page = "<HTML>\r\n  <HEAD>";
    page += StyleSheet;
    page += "</HEAD>\r\n  <BODY>\r\n    <CENTER>\r\n      <SPAN CLASS=\"Title\">";
    page += HtmlEscape(person->Name);
    page += "さんの伝言板</SPAN>\r\n      <TABLE>\r\n        <TR><TD>";
    page += RenderMessages(*person);
    page += "</TD></TR>\r\n      </TABLE>\r\n    </CENTER>\r\n  </BODY>\r\n</HTML>";
    return page;
}
