#include "pages/message_check_page.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "data/kavel_env.h"
#include "data/kavel_person.h"
#include "data/persons_list.h"
#include "http/http_request_info.h"
#include "pages/html_escape.h"
#include "pages/page_maker.h"
#include "platform/file_system.h"
#include "platform/sjis_text.h"

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

constexpr size_t ReadBlock = 1u << 20;

bool IsHeaderLine(std::string_view line) { return line.substr(0, 2) == HeaderMark; }

// One message file's lines written as they come, each entry's header in its
// own <pre>, the body lines between two headers in one. The parser drops one
// line break right after <pre>, so a body that starts with one gets an extra
// break to look the same.
class TMessageRenderer {
public:
    TMessageRenderer(std::string& out, bool read) : Out_(out), Read_(read) {}

    void Line(std::string_view line) {
        if (!Started_) {
            Out_ += Read_ ? "<font style=\"color: gray;\">" : "<font style=\"color: white;\">";
            Started_ = true;
        }
        if (IsHeaderLine(line)) {
            // The body so far ends with a line break of its own.
            if (!BodyOpen_) Out_ += "<pre>\r\n";
            Out_ += "\r\n</pre>\r\n";
            Out_ += Read_ ? "<pre style=\"color: blue;\">" : "<pre style=\"color: Cyan;\">";
            AppendHtmlEscaped(Out_, line);
            Out_ += "</pre>\r\n";
            BodyOpen_ = false;
            return;
        }
        if (!BodyOpen_) {
            Out_ += "<pre>";
            if (line.empty()) Out_ += CRLF;
            BodyOpen_ = true;
        }
        AppendHtmlEscaped(Out_, line);
        Out_ += CRLF;
    }
    // A file without lines writes nothing at all.
    void Finish() {
        if (!Started_) return;
        Out_ += BodyOpen_ ? "</pre></font>" : "<pre></pre></font>";
    }

private:
    std::string& Out_;
    const bool Read_;
    bool Started_ = false;
    bool BodyOpen_ = false;
};

// Cuts blocks into lines as SplitLines does, a line break split
// between two blocks included.
class TLineSplitter {
public:
    explicit TLineSplitter(TMessageRenderer& renderer) : Renderer_(renderer) {}

    void Feed(std::string_view block) {
        if (Ended_) return;
        const size_t zero = block.find('\0');
        if (zero != std::string_view::npos) {
            block = block.substr(0, zero);
            Ended_ = true;
        }
        size_t i = 0;
        if (SkipLf_ && !block.empty()) {
            if (block[0] == '\n') i = 1;
            SkipLf_ = false;
        }
        while (i < block.size()) {
            size_t stop = block.find_first_of("\r\n", i);
            if (stop == std::string_view::npos) {
                Partial_.append(block.data() + i, block.size() - i);
                return;
            }
            if (Partial_.empty()) {
                Renderer_.Line(block.substr(i, stop - i));
            } else {
                Partial_.append(block.data() + i, stop - i);
                Renderer_.Line(Partial_);
                Partial_.clear();
            }
            if (block[stop] == '\r') {
                if (stop + 1 == block.size())
                    SkipLf_ = true;
                else if (block[stop + 1] == '\n')
                    ++stop;
            }
            i = stop + 1;
        }
    }
    void End() {
        if (!Partial_.empty()) Renderer_.Line(Partial_);
        std::string().swap(Partial_);
    }

private:
    TMessageRenderer& Renderer_;
    std::string Partial_;
    bool SkipLf_ = false;
    bool Ended_ = false;
};

// Renders the file into out; false (and nothing written) when there is no
// such file. A file that goes away between the test and the read counts as
// absent: the clients remove read message files on their own.
bool RenderMessageFile(std::string& out, const std::string& path, bool read) {
    if (!FileExists(path)) return false;
    TMessageRenderer renderer(out, read);
    TLineSplitter lines(renderer);
    try {
        ReadFileBlocks(
            path, [&](std::string_view block) { lines.Feed(block); }, ReadBlock);
    } catch (const EFOpenError& e) {
        if (e.ErrorCode() == ENOENT) return false;
        throw;
    }
    lines.End();
    renderer.Finish();
    return true;
}

// The board cell, appended to out in one pass over each file: unread
// messages, the divider, then the read ones.
void AppendMessages(std::string& out, const TKavelPerson& person) {
    const size_t cell = out.size();
    if (RenderMessageFile(out, ChangeFileExt(person.FilePath, ".mil"), false))
        out += "\r\n<div style=\"color: YELLOW; text-align: CENTER;\">\r\n- 以上が未読伝言です -\r\n</div>\r\n";
    if (RenderMessageFile(out, ChangeFileExt(person.FilePath, ".old"), true)) out += CRLF;
    if (IsBlankText(std::string_view(out).substr(cell))) {
        out.resize(cell);
        out += "伝言はありません。";
    }
}

std::uintmax_t SizeOrZero(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

// What tells one version of a message file from another: its size and time
// of last writing (every write of ours and the clients' changes the size).
std::string FileStamp(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) return "-";
    const auto written = std::filesystem::last_write_time(path, error);
    if (error) return "-";
    return std::to_string(size) + ":" + std::to_string(written.time_since_epoch().count());
}

// Pages still on their way to some reader, by person and file versions: a
// second viewer of the same board shares the first one's bytes. Only weak
// references are kept, so a page goes as soon as its last answer is sent.
std::mutex SharedPagesLock;
std::map<std::string, std::weak_ptr<const std::string>> SharedPages;

}  // namespace

std::string RenderMessageLines(const std::vector<std::string>& lines, bool read) {
    std::string out;
    TMessageRenderer renderer(out, read);
    for (const std::string& line : lines) renderer.Line(line);
    renderer.Finish();
    return out;
}

std::string RenderMessages(const TKavelPerson& person) {
    std::string result;
    AppendMessages(result, person);
    return result;
}

TKavelPageMaker::TSharedText TKavelPageMaker::SharedMessageCheckPage(const TIdHTTPRequestInfo& request) {
    const TKavelEnv::TPersonsPtr persons = Env().GetPersons();
    const TKavelPerson* person = &RequestedPerson(*persons, request);

    const std::string unread = ChangeFileExt(person->FilePath, ".mil");
    const std::string read = ChangeFileExt(person->FilePath, ".old");
    const std::string key = person->FilePath + "\n" + person->Name + "\n" + FileStamp(unread) + "\n" + FileStamp(read);
    {
        std::lock_guard<std::mutex> hold(SharedPagesLock);
        auto found = SharedPages.find(key);
        if (found != SharedPages.end())
            if (TSharedText page = found->second.lock()) return page;
    }

    // One buffer the size of the page: the files are rendered into it
    // block by block, never held whole beside it.
    const std::uintmax_t files = SizeOrZero(unread) + SizeOrZero(read);
    std::string page;
    page.reserve(static_cast<size_t>(files + files / 8) + 4096 + person->Name.size());
    page = "<HTML>\r\n  <HEAD>";
    page += StyleSheet;
    page += "</HEAD>\r\n  <BODY>\r\n    <CENTER>\r\n      <SPAN CLASS=\"Title\">";
    page += HtmlEscape(person->Name);
    page += "さんの伝言板</SPAN>\r\n      <TABLE>\r\n        <TR><TD>";
    AppendMessages(page, *person);
    page += "</TD></TR>\r\n      </TABLE>\r\n    </CENTER>\r\n  </BODY>\r\n</HTML>";
    auto shared = std::make_shared<const std::string>(std::move(page));

    std::lock_guard<std::mutex> hold(SharedPagesLock);
    for (auto it = SharedPages.begin(); it != SharedPages.end();)
        it = it->second.expired() ? SharedPages.erase(it) : std::next(it);
    SharedPages[key] = shared;
    return shared;
}

std::string TKavelPageMaker::MakeMessageCheckPage(const TIdHTTPRequestInfo& request) {
    return *SharedMessageCheckPage(request);
}
