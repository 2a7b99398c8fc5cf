#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/date_time.h"

class TKavelEnv;
class TKavelPerson;
class TKavelPersonsList;
class TContentsCache;
class TIdHTTPRequestInfo;
class TIdHTTPResponseInfo;

// Anchor text: "<A HREF=\"url\" >caption</A>", or with TARGET when target
// is not empty. Arguments are inserted as given.
std::string MakeLink(const std::string& caption, const std::string& url, const std::string& target);

// The person the request's "user" names, exactly as the key is spelled;
// raises "存在しないユーザ情報を要求されました。" when there is none.
const TKavelPerson& RequestedPerson(const TKavelPersonsList& persons, const TIdHTTPRequestInfo& request);

// Builds the page for one request. Lives for one request; every page method
// returns the whole page and reports failure only by raising.
class TKavelPageMaker {
public:
    TKavelPageMaker(TKavelEnv& env, TContentsCache& cache) : Env_(env), Cache_(cache) {}

    // Routes DocumentPath to a page method; false (and 501) for an unknown path.
    bool MakePage(const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response);

    std::string MakeFramesetPage(const TIdHTTPRequestInfo& request);       // "/"
    std::string MakeControlsPage(const TIdHTTPRequestInfo& request);       // "/controls"
    std::string MakeBoardPage(const TIdHTTPRequestInfo& request);          // "/keiziban"
    std::string MakeUserFramePage(const TIdHTTPRequestInfo& request);      // "/uframe"
    std::string MakeInfoPage(const TIdHTTPRequestInfo& request);           // "/uinfo"
    std::string MakeMessageCheckPage(const TIdHTTPRequestInfo& request);   // "/udengoncheck"
    std::string MakeMessageSendPage(const TIdHTTPRequestInfo& request);    // "/udengonsend"
    std::string MakeMessageSentPage(const TIdHTTPRequestInfo& request);    // "/udengonsendresult"
    std::string MakeOperationMenuPage(const TIdHTTPRequestInfo& request);  // "/uopmenu"
    std::string MakeAbsencePage(const TIdHTTPRequestInfo& request);        // "/uhuzai"
    std::string MakeAbsenceSubmitPage(const TIdHTTPRequestInfo& request);  // "/uhuzaisetsubmit"

    TKavelEnv& Env() const { return Env_; }
    TContentsCache& Cache() const { return Cache_; }

private:
    using TSharedText = std::shared_ptr<const std::string>;
    using TPageBuilder = std::function<std::string(const TKavelPersonsList& persons)>;

    // The cached-page procedure: holds lock, takes the persons list once, and
    // returns the page stored under key when it is not older than that list;
    // otherwise build's page from that list, stored with its LoadTime. A page
    // that raises is not stored. The text is shared with the cache.
    // With showsShare, a page built while the share is lost is kept apart
    // from the healthy one, and its builder finds the moment in ShareLostSince_.
    TSharedText CachedPage(std::mutex& lock, const std::string& key, const TPageBuilder& build,
                           bool showsShare = false);

    // The cached pages as shared text, so MakePage can send them uncopied.
    TSharedText SharedFramesetPage(const TIdHTTPRequestInfo& request);
    TSharedText SharedControlsPage(const TIdHTTPRequestInfo& request);
    TSharedText SharedBoardPage(const TIdHTTPRequestInfo& request);
    // Not cached, but shared by the answers of one version of the files.
    TSharedText SharedMessageCheckPage(const TIdHTTPRequestInfo& request);

    TKavelEnv& Env_;
    TContentsCache& Cache_;
    TDateTime ShareLostSince_ = 0;
};
