#pragma once

#include <cstdint>
#include <string>

#include "platform/date_time.h"

class TKavelPerson;
class TPersonStatusCollection;
class TIdHTTPRequestInfo;

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
