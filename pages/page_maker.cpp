#include "pages/page_maker.h"

#include <cerrno>

#include <memory>
#include <stdexcept>

#include "data/kavel_env.h"
#include "data/kavel_person.h"
#include "data/persons_list.h"
#include "http/http_body_stream.h"
#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "log/event_log.h"
#include "log/log_file.h"
#include "pages/contents_cache.h"
#include "platform/file_system.h"

namespace {

using TSharedPage = std::shared_ptr<const std::string> (TKavelPageMaker::*)(const TIdHTTPRequestInfo&);
using TPlainPage = std::string (TKavelPageMaker::*)(const TIdHTTPRequestInfo&);

// The pages that write a person's files, and the file each writes.
const char* WrittenExtension(const std::string& path) {
    if (path == "/udengonsendresult") return ".mil";
    if (path == "/uhuzaisetsubmit") return ".kvl";
    return nullptr;
}

// A write into a share that is gone would fail deep in the file layer with
// its own words, or, on a share that comes and goes, land in a directory the
// clients no longer look at: refuse it first, with the file-error text.
void CheckShareForWrite(TKavelEnv& env, const TIdHTTPRequestInfo& request, const char* extension) {
    if (env.ShareReadable()) return;
    const TKavelEnv::TPersonsPtr persons = env.GetPersons();
    const TKavelPerson* person = persons->FindPerson(request.QueryFields.ValueOf("user"));
    if (!person) return;  // the page reports the unknown person itself
    ThrowFileCreateError(ChangeFileExt(person->FilePath, extension), ENOENT,
                         "Kavel達の環境" + env.CommonDirectory() + "を読めません");
}

}  // namespace

const TKavelPerson& RequestedPerson(const TKavelPersonsList& persons, const TIdHTTPRequestInfo& request) {
    const TKavelPerson* person = persons.FindPerson(request.QueryFields.ValueOf("user"));
    if (!person) throw std::runtime_error("存在しないユーザ情報を要求されました。");
    return *person;
}

std::string MakeLink(const std::string& caption, const std::string& url, const std::string& target) {
    std::string out;
    out.reserve(caption.size() + url.size() + target.size() + 32);
    out += "<A HREF=\"";
    out += url;
    if (target.empty()) {
        out += "\" >";
    } else {
        out += "\" TARGET=\"";
        out += target;
        out += "\">";
    }
    out += caption;
    out += "</A>";
    return out;
}

// The routes live inside the class's scope so the table may name the private
// shared-text forms of the cached pages.
bool TKavelPageMaker::MakePage(const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
    struct TRoute {
        const char* Path;
        TSharedPage Shared;  // cached pages: sent from the cache's buffer
        TPlainPage Plain;
    };
    static const TRoute routes[] = {
        {"/", &TKavelPageMaker::SharedFramesetPage, nullptr},
        {"/controls", &TKavelPageMaker::SharedControlsPage, nullptr},
        {"/keiziban", &TKavelPageMaker::SharedBoardPage, nullptr},
        {"/uframe", nullptr, &TKavelPageMaker::MakeUserFramePage},
        {"/uinfo", nullptr, &TKavelPageMaker::MakeInfoPage},
        {"/udengoncheck", &TKavelPageMaker::SharedMessageCheckPage, nullptr},
        {"/udengonsend", nullptr, &TKavelPageMaker::MakeMessageSendPage},
        {"/udengonsendresult", nullptr, &TKavelPageMaker::MakeMessageSentPage},
        {"/uopmenu", nullptr, &TKavelPageMaker::MakeOperationMenuPage},
        {"/uhuzai", nullptr, &TKavelPageMaker::MakeAbsencePage},
        {"/uhuzaisetsubmit", nullptr, &TKavelPageMaker::MakeAbsenceSubmitPage},
    };

    response.ContentType = "text/html; charset=SJIS";
    for (const TRoute& route : routes) {
        if (request.DocumentPath != route.Path) continue;
        if (const char* extension = WrittenExtension(request.DocumentPath))
            CheckShareForWrite(Env_, request, extension);
        if (route.Shared) {
            TSharedText text = (this->*route.Shared)(request);
            response.BodyText.clear();
            response.BodyStream = std::make_unique<TBodyStream>(std::move(text));
        } else {
            response.BodyText = (this->*route.Plain)(request);
        }
        return true;
    }

    // The path is the request's own text: keep its control bytes off the line.
    WriteLogFile(request.RemoteAddress + " " + EscapeLogText(request.DocumentPath) + "が見つかりませんでした。",
                 EventWarning);
    response.SetStatus(501);
    response.BodyText.clear();
    return false;
}

TKavelPageMaker::TSharedText TKavelPageMaker::CachedPage(std::mutex& lock, const std::string& pageKey,
                                                         const TPageBuilder& build, bool showsShare) {
    std::string key = TContentsCache::CaseExactKey(pageKey);
    std::lock_guard<std::mutex> hold(lock);
    const TKavelEnv::TPersonsPtr persons = Env_.GetPersons();
    // Request keys begin with "/": the stale page's key cannot be asked for.
    ShareLostSince_ = showsShare ? Env_.ShareLostSince() : 0;
    if (ShareLostSince_ != 0) key.insert(0, "!");
    // Read once: lookup and store must use the same stamp even if the list is
    // marked for a rescan meanwhile.
    const TDateTime stamp = persons->LoadTime();
    if (std::optional<TContents> found = Cache_.FindContents(key, stamp)) return found->Text;
    TContents item(build(*persons), stamp);
    TSharedText text = item.Text;
    Cache_.AddObject(key, std::move(item));
    return text;
}
