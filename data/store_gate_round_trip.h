#pragma once

// The round trip the gate is held to, by its property test and its fuzz
// target alike: ten typed values (the eight one-line values of a person file,
// the reason, a kept line) are either refused for a control byte, or admitted,
// saved, and read back exactly as admitted, each in its own field, and saved
// again to the same bytes; their datagram has one separator per key.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/kavel_person.h"
#include "data/store_gate.h"
#include "platform/file_system.h"
#include "protocol/kavel_protocol.h"

inline bool HasControlByte(std::string_view value, bool linesAllowed) {
    for (unsigned char c : value)
        if (c < 0x20 && c != '\t' && !(linesAllowed && (c == '\r' || c == '\n'))) return true;
    return false;
}

// Empty when the property holds for typed, stored at path; else what broke.
inline std::string StoreRoundTripFault(const std::string (&typed)[10], const std::string& path, int32_t mark) {
    TKavelPerson p;
    p.FilePath = path;
    std::string* const oneLine[] = {&p.Furigana,   &p.Name,       &p.Group, &p.Memo,
                                    &p.ModoriDate, &p.ModoriTime, &p.Tel,   &p.IP};
    try {
        for (int i = 0; i < 8; ++i) *oneLine[i] = AdmitText("f", typed[i], TValueShape::OneLine);
        p.Huzairiyu = AdmitReason(typed[8]);
        p.Unknown.push_back(AdmitText("f", typed[9], TValueShape::OneLine));
    } catch (const ERefusedValue&) {
        bool control = HasControlByte(typed[8], true);
        for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 9}) control = control || HasControlByte(typed[i], false);
        return control ? std::string() : "refused without a control byte";
    }
    p.StatusIcon = mark;
    p.SavePersonFile();
    const std::string file = ReadWholeFile(path);
    const TKavelPerson back(path);
    const std::string* const got[] = {&back.Furigana,   &back.Name,       &back.Group, &back.Memo,
                                      &back.ModoriDate, &back.ModoriTime, &back.Tel,   &back.IP};
    for (int i = 0; i < 8; ++i)
        if (*got[i] != *oneLine[i]) return "value " + std::to_string(i) + " read back otherwise";
    if (back.Huzairiyu != ReasonAsRead(p.Huzairiyu)) return "the reason read back otherwise";
    if (back.StatusIcon != p.StatusIcon || back.Unknown != p.Unknown)
        return "the mark or a kept line read back otherwise";
    back.SavePersonFile();
    if (ReadWholeFile(path) != file) return "saved again, the file changed";
    const std::string datagram = TKavelProtocol::PersonData(p.Datagram());
    if (std::count(datagram.begin(), datagram.end(), '\x01') != 6) return "a value split the datagram";
    return std::string();
}
