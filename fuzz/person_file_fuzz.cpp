// Person files are written by every client of the office and by hand; the
// reader must take any bytes. The first input byte decides whether the ".off"
// marker lies beside the file and which head length is asked for; the rest is
// the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/kavel_person.h"
#include "data/store_gate.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_dir.h"
#include "platform/date_time.h"
#include "platform/file_system.h"

namespace {

const char* const CRLF = "\r\n";

bool SameValues(const TKavelPerson& a, const TKavelPerson& b) {
    return a.Furigana == b.Furigana && a.Name == b.Name && a.Group == b.Group && a.Tel == b.Tel &&
           a.Huzairiyu == b.Huzairiyu && a.ModoriDate == b.ModoriDate && a.ModoriTime == b.ModoriTime &&
           a.Memo == b.Memo && a.IP == b.IP && a.StatusIcon == b.StatusIcon && a.Unknown == b.Unknown;
}

bool Holds(const std::string& s, std::string_view bytes) { return s.find_first_of(bytes) != std::string::npos; }

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// The texts of one line: nothing that ends a line or the readable content.
void CheckSingleLines(const TKavelPerson& p) {
    static const std::string_view breaks("\r\n\0", 3);
    for (const std::string* s : {&p.Furigana, &p.Name, &p.Group, &p.Tel, &p.ModoriDate, &p.ModoriTime, &p.Memo, &p.IP})
        FUZZ_CHECK(!Holds(*s, breaks));
    for (const std::string& line : p.Unknown) FUZZ_CHECK(!Holds(line, breaks));
    FUZZ_CHECK(p.Huzairiyu.find('\0') == std::string::npos);
    FUZZ_CHECK(p.Huzairiyu.empty() || p.Huzairiyu.ends_with(CRLF));
}

void CheckHead(const std::string& text, const std::string& head, int n) {
    FUZZ_CHECK(StartsWith(text, head));
    FUZZ_CHECK(head.size() <= static_cast<std::size_t>(n) + 1);
    if (text.size() <= static_cast<std::size_t>(n))
        FUZZ_CHECK(head == text);
    else
        FUZZ_CHECK(head.size() >= static_cast<std::size_t>(n));
}

void CheckReturn(const TKavelPerson& p, TDateTime now) {
    const TReturnState state = p.ReturnState(now);
    FUZZ_CHECK(state >= rsUnparsable && state <= rsLater);
    FUZZ_CHECK(p.ModoriDate.empty() == (state == rsPowerOff || state == rsPresent));
    if (p.ModoriDate.empty()) FUZZ_CHECK((state == rsPowerOff) == p.PowerOFF);
    const std::string text = p.ReturnText(now);
    FUZZ_CHECK(text.ends_with(" " + p.ModoriTime));
    if (state == rsUnparsable) FUZZ_CHECK(text == p.ModoriDate + " " + p.ModoriTime);
    if (state == rsPowerOff || state == rsPresent) FUZZ_CHECK(text == " " + p.ModoriTime);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned control = data[0];
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
    const TScratchDir& dir = Scratch();
    const bool marker = control & 1;
    dir.Write("someone.kvl", file);
    if (marker)
        dir.Write("someone.off", "");
    else
        dir.Remove("someone.off");
    const std::string path = dir.Path("someone.kvl");

    const TKavelPerson person(path);
    FUZZ_CHECK(person.FilePath == path);
    FUZZ_CHECK(person.FileName() == "someone");
    FUZZ_CHECK(person.PowerOFF == marker);
    CheckSingleLines(person);

    // Loading over a filled record gives what a fresh one reads.
    TKavelPerson reloaded;
    reloaded.Name = "stale";
    reloaded.Huzairiyu = "stale\r\n";
    reloaded.StatusIcon = 7;
    reloaded.Unknown.push_back("stale");
    reloaded.LoadPersonFile(path);
    FUZZ_CHECK(SameValues(reloaded, person));
    FUZZ_CHECK(reloaded.PowerOFF == person.PowerOFF);

    TKavelPerson copy;
    copy.Assign(person);
    FUZZ_CHECK(SameValues(copy, person) && copy.FilePath == person.FilePath);

    const int n = static_cast<int>(control >> 1) % 24;
    CheckHead(person.Huzairiyu, person.ReasonHead(n), n);
    CheckHead(person.Memo, person.MemoHead(n), n);
    CheckHead(person.Huzairiyu, person.ReasonHead(14), 14);
    CheckHead(person.Memo, person.MemoHead(14), 14);

    const TDateTime evening = EncodeDate(2004, 12, 24) + 0.75;
    CheckReturn(person, evening);
    CheckReturn(person, EncodeDate(2004, 12, 25));
    CheckReturn(person, 0);
    (void)IsDateTimeText(person.ModoriDate);

    // Saving writes the ten quoted values and the kept lines, each ended by
    // CR LF, and reading that back gives the record again, the reason with
    // its last line break; saved again, the bytes stay. Only a value a
    // datagram cannot carry (0x01) keeps a record from being saved.
    copy.FilePath = dir.Path("saved.kvl");
    try {
        copy.SavePersonFile();
    } catch (const ERefusedValue&) {
        FUZZ_CHECK(Holds(person.Huzairiyu + person.ModoriDate + person.ModoriTime, "\x01"));
        return 0;
    }
    const std::string saved = ReadWholeFile(copy.FilePath);
    FUZZ_CHECK(saved == person.PersonFileText());
    FUZZ_CHECK(saved.ends_with(CRLF));
    const TKavelPerson back(copy.FilePath);
    FUZZ_CHECK(!back.PowerOFF);
    TKavelPerson expected;
    expected.Assign(person);
    expected.Huzairiyu = ReasonAsRead(person.Huzairiyu);
    FUZZ_CHECK(SameValues(back, expected));
    back.SavePersonFile();
    FUZZ_CHECK(ReadWholeFile(copy.FilePath) == saved);
    return 0;
}
