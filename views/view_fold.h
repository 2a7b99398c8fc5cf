#pragma once

#include <string>
#include <string_view>

// Search folding on Shift-JIS text, so that a name or reading is found
// however it was typed: half-width katakana become full-width hiragana (a
// following voiced or semi-voiced mark joins its letter), full-width
// katakana become hiragana, full-width digits and letters become ASCII,
// letters lower case, blanks (half and full width) go. The script folds what
// one types with the same tables (views/assets/m.js: FULL, VOICE, SEMI).
std::string FoldForSearch(std::string_view cp932);

// The tables as the script must hold them, in Shift-JIS: the fold of each
// half-width katakana 0xA1..0xDF in order, and the letters a voiced and a
// semi-voiced mark join.
extern const std::string_view HalfKanaFold;
extern const std::string_view VoicedHalfKana;
extern const std::string_view SemiVoicedHalfKana;
