#pragma once

// Shift-JIS (CP932) text as the clients and the browsers hand it to us:
// bytes, in which the second byte of a two-byte character may look like an
// ASCII letter, '\\', '|' or '@' (ア is 83 41, 表 is 95 5C). Everything here
// works on those bytes as they are; only the converters at the end leave
// Shift-JIS, for the edges that must speak UTF-8 (terminal, syslog, JSON).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// True for a byte that starts a two-byte character.
inline bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
// True for a byte that can be the second byte of one.
inline bool IsTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// ---- Letter case. Only the ASCII letters fold. ----

// What becomes of the byte after a lead byte.
enum class TTrailBytes {
    Keep,  // text: a two-byte character is never changed
    Fold,  // every byte alike: for names known to be ASCII, and for the
           // datagram path the clients compare upper-cased byte by byte
};

// Order with ASCII letters as upper case, trail bytes kept, every other byte
// by unsigned value; a text sorts after its own prefixes. Every lookup by
// name that ignores case (groups, parameters, headers, settings, cache keys,
// image names, command-line switches) uses it.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
bool StartsWithText(std::string_view text, std::string_view prefix);
bool EndsWithText(std::string_view text, std::string_view suffix);
std::string UpperCase(std::string_view text, TTrailBytes trail = TTrailBytes::Keep);
std::string LowerCase(std::string_view text, TTrailBytes trail = TTrailBytes::Keep);

// The characters of text that begin within its first n bytes: a two-byte
// character whose lead byte lies within n is taken whole (n + 1 bytes at
// most).
std::string HeadOfText(std::string_view text, int n);

// ---- Blanks. ----

// Blanks and control bytes (every byte up to 0x20) off both ends.
std::string_view TrimControls(std::string_view text);
inline bool IsBlankText(std::string_view text) { return TrimControls(text).empty(); }

// ---- Integers. ----

struct TIntRules {
    bool LeadingBlanks = false;  // blanks (' ') may stand before the sign
};
// A decimal 32-bit integer with an optional sign and nothing after it;
// nothing for any other text or a number out of range.
std::optional<int32_t> ParseInt32(std::string_view text, TIntRules rules = {});

// ---- Lines. ----

struct TLineRules {
    bool ZeroEndsText = true;     // a zero byte ends what is read (the clients' files)
    bool FinalEmptyLine = false;  // a break at the very end starts one more, empty line
};
// Calls line(text) for each line: CR LF, a lone CR and a lone LF each end
// one. An empty text has no lines (one empty line with FinalEmptyLine).
template <typename F>
void ForEachLine(std::string_view text, F&& line, TLineRules rules = {});
std::vector<std::string> SplitLines(std::string_view text, TLineRules rules = {});

// ---- Percent-encoding. ----

// 0 to 15 for a hexadecimal digit, -1 for anything else.
int HexDigitValue(char c);
// Appends text with every byte for which escape is true as %XX (upper-case
// hex). Choose escape so that it never picks a trail byte unless the
// receiver reads bytes, not characters.
void AppendPercentEncoded(std::string& out, std::string_view text, bool (*escape)(unsigned char));
std::string PercentEncode(std::string_view text, bool (*escape)(unsigned char));
// Every %XX of text as its byte, everything else as it is: the decoding of a
// URL path segment ('+' stays '+', a lone '%' stays '%').
std::string PercentDecode(std::string_view text);

// ---- UTF-8 at the edges. ----

// What a byte that is no CP932 character becomes.
enum class TBadBytes {
    Replace,  // U+FFFD: for readers of the text (syslog, the event log, JSON)
    Keep,     // the byte itself: for a terminal that shows what it can
};
std::string Cp932ToUtf8(std::string_view cp932, TBadBytes bad);
// The CP932 bytes of UTF-8 text, or nothing when the text is not UTF-8 or
// holds a character CP932 has no code for: such text is refused, never
// guessed at.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);
// The length of the well-formed UTF-8 sequence that starts at text[at], or 0
// when none does (a stray byte, a cut sequence, an overlong form, a surrogate,
// a code point above U+10FFFF).
size_t Utf8SequenceLength(std::string_view text, size_t at);

// ---- Implementation of the template above. ----

template <typename F>
void ForEachLine(std::string_view text, F&& line, TLineRules rules) {
    if (rules.ZeroEndsText) text = text.substr(0, text.find('\0'));
    const size_t end = text.size();
    size_t start = 0;
    while (start < end) {
        const size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string_view::npos) {
            line(text.substr(start));
            return;
        }
        line(text.substr(start, stop - start));
        start = stop + ((text[stop] == '\r' && stop + 1 < end && text[stop + 1] == '\n') ? 2 : 1);
    }
    if (rules.FinalEmptyLine) line(std::string_view());
}
