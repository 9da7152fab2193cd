// Whether an expression can only ever match, and look at, text within one line, and which
// character every match holds.
#pragma once

#include <string>
#include <string_view>

namespace gleanery {

// True when no match of `regex` (compiled without dotall, with CR, LF and CR LF as line breaks)
// can contain a CR or an LF, and no assertion in it can tell a line's end from the text's: no
// anchors, no \G, \K, verbs, calls or callouts, no characters, escapes or classes that take in
// line breaks. The answer errs on the side of false: whatever the reading does not follow is
// refused. Such an expression finds the same matches in a line (with its line break) as in the
// whole text, which lets a search go from line to line.
bool IsLineConfined(std::u16string_view regex);

// Of the printable ASCII characters that every match of `regex` holds (characters outside any
// group that no repeat allows to be absent, in an expression without alternatives at its top
// level nor verbs), the one least likely in ordinary text; -1 when there is none or the reading
// does not follow the expression.
int RarestMandatoryCharacter(std::u16string_view regex);
// The printable ASCII characters every match of `regex` starts with: the plain characters it opens
// with, up to the first one a repeat follows, in an expression without alternatives at its top
// level, verbs or callouts (which may move where attempts start). A search may then go straight to
// their next occurrence. Empty when there are none or the reading does not follow the expression.
std::u16string LeadingLiteral(std::u16string_view regex);
// How uncommon an ASCII character is in ordinary text, higher for rarer: a space, small letters,
// digits, capitals, common punctuation, any other character; letters among themselves by how often
// they stand in prose. A caseless search finds a capital wherever its small letter stands:
// `caseless` ranks it as that.
int Rarity(char16_t c, bool caseless = false);

} // namespace gleanery
