#pragma once

// The one way in for values that end up in the clients' files and datagrams.
// Person files are one quoted value per line with no escape, message files
// are split at lines that begin with "○", datagram values run to the next
// 0x01: bytes that mean structure there must never arrive as content. Every
// writer (the classic pages, the API, the views) admits its values here
// first; what it stores afterwards reads back as admitted, each value in its
// own field.

#include <string>
#include <string_view>

#include "protocol/refused_value.h"  // ERefusedValue, CheckDatagramValue

class TKavelPerson;

// What a field may carry.
enum class TValueShape {
    OneLine,  // no line break: every person-file value but the reason, a sender
    Lines,    // line breaks allowed: the absence reason, a message body
};

// Admits a value typed by a user: NUL and the other control bytes are
// refused, a tab becomes a blank, and for Lines every lone CR or LF becomes
// CR LF; OneLine refuses CR and LF. Raises ERefusedValue naming label.
std::string AdmitText(std::string_view label, std::string_view value, TValueShape shape);

// The absence reason as it can stand in a person file: admitted as Lines,
// and a line that ends with a double quote, the last line aside, gets a blank
// after it (the reader would take that quote as the value's end).
std::string AdmitReason(std::string_view value);

// A message body as it can stand in a message file: admitted as Lines, and a
// line that begins with "○" gets a full-width blank in front (that mark
// starts a new entry).
std::string AdmitMessageBody(std::string_view value);

// Refuses a person record whose values would not read back from its file or
// would break the datagram that carries it: a line break or a zero byte in a
// one-line value, a reason line but the last ending in a double quote, 0x01
// in the file path or in any value a datagram carries. Raises ERefusedValue.
void CheckStorable(const TKavelPerson& person);

// The reason as reading its person file back gives it: every line ended by
// CR LF (an empty reason reads as one empty line).
std::string ReasonAsRead(std::string_view reason);
