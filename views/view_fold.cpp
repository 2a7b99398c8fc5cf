#include "views/view_fold.h"

#include "platform/sjis_text.h"

// Literals: this file's strings come out as Shift-JIS.
const std::string_view HalfKanaFold =
    "。「」、・をぁぃぅぇぉゃゅょっーあいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわん゛゜";
const std::string_view VoicedHalfKana = "ｳｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾊﾋﾌﾍﾎ";
const std::string_view SemiVoicedHalfKana = "ﾊﾋﾌﾍﾎ";

namespace {

constexpr unsigned char HalfFirst = 0xA1, HalfLast = 0xDF, HalfVoiced = 0xDE, HalfSemiVoiced = 0xDF, HalfU = 0xB3;

bool Holds(std::string_view set, unsigned char c) { return set.find(static_cast<char>(c)) != std::string_view::npos; }

void Put(std::string& out, unsigned char a, unsigned char b) {
    out += static_cast<char>(a);
    out += static_cast<char>(b);
}

}  // namespace

std::string FoldForSearch(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const auto next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
        if (c >= HalfFirst && c <= HalfLast) {
            const size_t at = 2 * (c - HalfFirst);
            auto lead = static_cast<unsigned char>(HalfKanaFold[at]),
                 trail = static_cast<unsigned char>(HalfKanaFold[at + 1]);
            i += 1;
            if (next == HalfVoiced && Holds(VoicedHalfKana, c)) {
                // ゔ has no Shift-JIS form: ｳﾞ stays the katakana ヴ.
                if (c == HalfU)
                    lead = 0x83, trail = 0x94;
                else
                    trail += 1;
                i += 1;
            } else if (next == HalfSemiVoiced && Holds(SemiVoicedHalfKana, c)) {
                trail += 2;
                i += 1;
            }
            Put(out, lead, trail);
        } else if (IsLeadByte(c) && i + 1 < s.size()) {
            i += 2;
            if (c == 0x83 && next >= 0x40 && next <= 0x93 && next != 0x7F) {
                // ァ..ン (0x7F is no character) onto ぁ..ん, which have no gap.
                Put(out, 0x82, 0x9F + (next - 0x40) - (next > 0x7F ? 1 : 0));
            } else if (c == 0x82 && next >= 0x4F && next <= 0x58) {
                out += static_cast<char>('0' + (next - 0x4F));
            } else if (c == 0x82 && next >= 0x60 && next <= 0x79) {
                out += static_cast<char>('a' + (next - 0x60));
            } else if (c == 0x82 && next >= 0x81 && next <= 0x9A) {
                out += static_cast<char>('a' + (next - 0x81));
            } else if (!(c == 0x81 && next == 0x40)) {
                Put(out, c, next);
            }
        } else {
            i += 1;
            if (c == ' ') continue;
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
    }
    return out;
}
