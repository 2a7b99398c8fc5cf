#pragma once

// What the views' pages share; for views/*.cpp only.

#include <string>
#include <string_view>

#include "data/kavel_person.h"
#include "views/view_text.h"
#include "views/views.h"

class TKavelEnv;
class TPersonStatusCollection;

struct TViewCall {
    TLive& Live;
    const TViewSettings& Settings;
    const TIdHTTPRequestInfo& Request;
    TIdHTTPResponseInfo& Response;
    std::string Token;  // the same-site token of this browser, for the forms
};

// <!DOCTYPE html> to <body>: title (Shift-JIS, escaped), the style and the
// script by their versioned URLs; extraHead goes into <head> as it is.
void PageStart(TViewText& out, std::string_view title, std::string_view bodyClass, std::string_view extraHead = {});
void PageEnd(TViewText& out);
// The answer: UTF-8 HTML, never cached (each page shows the current state).
void AnswerHtml(TIdHTTPResponseInfo& response, int status, std::string utf8);
// A short page with a heading and a sentence (Shift-JIS) and a way back.
void AnswerMessagePage(TIdHTTPResponseInfo& response, int status, std::string_view heading, std::string_view text);

// The state's word for CSS and scripts: off, in, over, today, later, unknown.
const char* StateClass(TReturnState state);
// The return text as the classic board shows it, without blanks around.
std::string ReturnTextOf(const TKavelPerson& person, TDateTime now);

// Whether a form write comes from elsewhere than a page of ours; why says
// so in Shift-JIS.
bool CrossSiteWrite(const TIdHTTPRequestInfo& request, std::string& why);

void AnswerBoard(TViewCall& call, bool fragmentOnly);
void AnswerWall(TViewCall& call, bool fragmentOnly);
// The person page, its live part, and its two forms' writes. rest is what
// follows the key in the path ("", "/part", "/message", "/absence").
void AnswerPerson(TViewCall& call, const std::string& key, std::string_view rest);
