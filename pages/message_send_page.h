#pragma once

#include <string>

#include "platform/date_time.h"

class TKavelEnv;
class TKavelPerson;

// The header line that opens a stored message: "○", the sender, the tag and
// the send time as the clients show it.
std::string MessageHeaderLine(const std::string& sender, TDateTime sendTime);

// Puts text in front of the person's unread message file (.mil beside the
// person file), then tells the person's client. The message counts as
// delivered once it is stored: a notice that cannot be sent is logged as a
// warning and does not fail the call. File errors raise.
void DeliverMessage(TKavelEnv& env, const TKavelPerson& person, const std::string& text);

// The message form's way in: sender (blank: the guest) and body admitted
// through data/store_gate.h, stamped with the time, delivered, and noted as
// source's with the peer. Returns the sender as stored.
std::string SendMessage(TKavelEnv& env, const TKavelPerson& person, const std::string& sender, const std::string& body,
                        const std::string& source, const std::string& peer);
