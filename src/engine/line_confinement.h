// Whether an expression can only ever match, and look at, text within one line.
#pragma once

#include <string_view>

namespace gleanery {

// True when no match of `regex` (compiled without dotall, with CR, LF and CR LF as line breaks)
// can contain a CR or an LF, and no assertion in it can tell a line's end from the text's: no
// anchors, no \G, \K or verbs, no escapes or classes that take in line breaks, no options beyond
// caseless. The answer errs on the side of false: whatever the check does not know is refused.
// Such an expression finds the same matches in a line (with its line break) as in the whole text,
// which lets a search go from line to line.
bool IsLineConfined(std::u16string_view regex);

// Of the ASCII characters that every match of a line-confined `regex` must hold (plain literals
// outside any group, class or optional repeat, in an expression without alternatives at its top
// level), the one least likely in ordinary text; -1 when there is none.
int RarestMandatoryCharacter(std::u16string_view regex);
// How uncommon an ASCII character is in ordinary text: 0 (space) to 5 (rare punctuation).
int Rarity(char16_t c);

} // namespace gleanery
