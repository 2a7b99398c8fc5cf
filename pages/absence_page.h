#pragma once

#include <cstdint>
#include <string>

#include "platform/date_time.h"

class TKavelEnv;
class TKavelPerson;
class TKavelPersonsList;
class TPersonStatusCollection;
class TIdHTTPRequestInfo;

// What the absence form sends, as its fields name it: "datetime", "nolimit"
// or "reset" in Kind; Mark is the status-mark number as text.
struct TAbsenceFields {
    std::string Kind;
    std::string Date;
    std::string Time;
    std::string Reason;
    std::string Mark;
};

// The return-date choice of the absence form: today and the 90 days after
// it, the day of modoriDate selected when modoriDate is that day's midnight.
std::string AbsenceDateList(TDateTime now, const std::string& modoriDate);

// The status-mark choice: every catalogue entry from the first absence mark
// on, numbered from 0, the one equal to statusIcon selected.
std::string AbsenceStatusList(const TPersonStatusCollection& statuses, int32_t statusIcon);

// The record the submitted absence form asks for, built on a copy of
// current ("datetime", "nolimit" or "reset" in "modoritype"). Raises
// "リストのインデックスが範囲を超えています (n)" for a "nolimit" mark that names
// no catalogue entry, ERefusedValue for a value the person file or the
// datagram cannot carry (the fields are admitted through data/store_gate.h).
TKavelPerson ApplyAbsenceForm(const TKavelPerson& current, const TIdHTTPRequestInfo& request,
                              const TPersonStatusCollection& statuses);
TKavelPerson ApplyAbsence(const TKavelPerson& current, const TAbsenceFields& fields,
                          const TPersonStatusCollection& statuses);

// The one way a changed absence is stored: the person file written, the
// change noted as source's (with the peer), the list marked for a rescan, and
// every listed client told (one that cannot be reached is logged, not fatal).
void StoreAbsence(TKavelEnv& env, const TKavelPersonsList& persons, const TKavelPerson& before,
                  const TKavelPerson& changed, const std::string& source, const std::string& peer);
