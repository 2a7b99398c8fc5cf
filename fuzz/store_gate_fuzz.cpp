// What browsers send ends up in files and datagrams the clients parse. Any
// bytes typed into any field are either refused for a control byte or stored
// so that they read back exactly as admitted, each value in its own field,
// and datagrams and message files keep their structure. The input is a run of
// fields, each a length byte and that many bytes: the eight one-line values
// of a person file, the reason, a kept line, a message sender and body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/kavel_person.h"
#include "data/store_gate.h"
#include "data/text_file.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_dir.h"
#include "platform/file_system.h"
#include "protocol/kavel_protocol.h"

namespace {

constexpr int Fields = 12;

bool HasControl(std::string_view value, bool linesAllowed) {
    for (unsigned char c : value)
        if (c < 0x20 && c != '\t' && !(linesAllowed && (c == '\r' || c == '\n'))) return true;
    return false;
}

size_t Count(std::string_view text, std::string_view what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void CheckPerson(const std::string (&typed)[Fields]) {
    const TScratchDir& dir = Scratch();
    TKavelPerson p;
    p.FilePath = dir.Path("someone.kvl");
    std::string* const oneLine[] = {&p.Furigana,   &p.Name,       &p.Group, &p.Memo,
                                    &p.ModoriDate, &p.ModoriTime, &p.Tel,   &p.IP};
    try {
        for (int i = 0; i < 8; ++i) *oneLine[i] = AdmitText("f", typed[i], TValueShape::OneLine);
        p.Huzairiyu = AdmitReason(typed[8]);
        p.Unknown.push_back(AdmitText("f", typed[9], TValueShape::OneLine));
    } catch (const ERefusedValue&) {
        bool control = HasControl(typed[8], true);
        for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 9}) control = control || HasControl(typed[i], false);
        FUZZ_CHECK(control);
        return;
    }
    // Admission changes only what could not be stored as typed.
    if (typed[0].find('\t') == std::string::npos) FUZZ_CHECK(p.Furigana == typed[0]);
    p.StatusIcon = static_cast<int32_t>(typed[0].size());
    p.SavePersonFile();
    const TKavelPerson back(p.FilePath);
    const std::string* const got[] = {&back.Furigana,   &back.Name,       &back.Group, &back.Memo,
                                      &back.ModoriDate, &back.ModoriTime, &back.Tel,   &back.IP};
    for (int i = 0; i < 8; ++i) FUZZ_CHECK(*got[i] == *oneLine[i]);
    FUZZ_CHECK(back.Huzairiyu == ReasonAsRead(p.Huzairiyu));
    FUZZ_CHECK(back.StatusIcon == p.StatusIcon);
    FUZZ_CHECK(back.Unknown == p.Unknown);
    FUZZ_CHECK(Count(TKavelProtocol::PersonData(p.Datagram()), "\x01") == 6);
}

void CheckMessage(const std::string& sender, const std::string& body) {
    const TScratchDir& dir = Scratch();
    std::string entry;
    try {
        entry = "○" + AdmitText("f", sender, TValueShape::OneLine) + "\r\n" + AdmitMessageBody(body);
    } catch (const ERefusedValue&) {
        FUZZ_CHECK(HasControl(sender, false) || HasControl(body, true));
        return;
    }
    dir.Write("someone.mil", "○old\r\nkept\r\n");
    PrependToFile(dir.Path("someone.mil"), entry);
    const std::string file = ReadWholeFile(dir.Path("someone.mil"));
    // One new entry header, nothing else that reads as one, the old entry whole.
    FUZZ_CHECK(file.starts_with("○") && file.ends_with("\r\n\r\n○old\r\nkept\r\n"));
    FUZZ_CHECK(Count(file, "\r\n○") == 1);
    FUZZ_CHECK(Count(file, "\r○") == 0 && Count(file, "\n○") == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string typed[Fields];
    size_t at = 0;
    for (std::string& field : typed) {
        if (at >= size) break;
        const size_t length = data[at++];
        const size_t n = std::min(length, size - at);
        field.assign(reinterpret_cast<const char*>(data + at), n);
        at += n;
    }
    CheckPerson(typed);
    CheckMessage(typed[10], typed[11]);
    return 0;
}
