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
#include "data/store_gate_round_trip.h"
#include "data/text_file.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_dir.h"
#include "platform/file_system.h"
#include "protocol/kavel_protocol.h"

namespace {

size_t Count(std::string_view text, std::string_view what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void CheckMessage(const std::string& sender, const std::string& body) {
    const TScratchDir& dir = Scratch();
    std::string entry;
    try {
        entry = "○" + AdmitText("f", sender, TValueShape::OneLine) + "\r\n" + AdmitMessageBody(body);
    } catch (const ERefusedValue&) {
        FUZZ_CHECK(HasControlByte(sender, false) || HasControlByte(body, true));
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
    std::string person[10], sender, body;
    std::string* const fields[] = {&person[0], &person[1], &person[2], &person[3], &person[4], &person[5],
                                   &person[6], &person[7], &person[8], &person[9], &sender,    &body};
    size_t at = 0;
    for (std::string* field : fields) {
        if (at >= size) break;
        const size_t length = data[at++];
        const size_t n = std::min(length, size - at);
        field->assign(reinterpret_cast<const char*>(data + at), n);
        at += n;
    }
    FUZZ_CHECK(StoreRoundTripFault(person, Scratch().Path("someone.kvl"), static_cast<int32_t>(size)).empty());
    CheckMessage(sender, body);
    return 0;
}
