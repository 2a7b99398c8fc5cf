#pragma once

// Values refused before they reach the clients. The person files are guarded
// in data/store_gate.h; the datagram rule is here, so that the sender applies
// it to every value it sends without reaching up to the person files.

#include <stdexcept>
#include <string>
#include <string_view>

// A value the formats cannot carry. The message names the field and why
// (Shift-JIS); nothing has been written or sent when it is raised.
class ERefusedValue : public std::runtime_error {
public:
    ERefusedValue(std::string field, const std::string& why);
    const std::string& Field() const { return Field_; }  // its label, as the forms show it

private:
    std::string Field_;
};

// Refuses a datagram value holding the separator 0x01.
void CheckDatagramValue(std::string_view label, std::string_view value);
