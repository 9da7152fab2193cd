// Our own reading of an expression's text, as the library reads it: a list of pieces (characters,
// sets, assertions, groups, quantifiers...) for the few things the compiled form does not tell,
// such as whether a match can reach past a line. Comments, \Q\E, \E and extended-mode whitespace
// leave no piece, so a quantifier after them follows the piece it repeats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace gleanery {

enum class PieceKind : uint8_t {
    Character,     // one character matched as itself (`value`)
    Set,           // '.', a class or an escape that stands for a set of characters
    Assertion,     // ^ $ \b \B \A \z \Z \G (`value` is the character after any backslash)
    Reset,         // \K
    Backreference, // \1, \g{..}, \k<..>, (?P=..)
    Call,          // recursion or a subroutine call: (?R) (?1) (?&n) (?P>n) \g<n>
    Callout,       // (?C...)
    Verb,          // (*...): backtracking verbs and the settings at the start
    Open,          // a group's opening (`group`)
    Close,
    Alternative, // |
    Quantifier,  // `min` to `max` (kUnbounded) repeats of the piece before
    Options,     // an option setting that opens no group of its own: (?i)
};

enum class GroupKind : uint8_t {
    Capture,
    Plain, // (?:
    Atomic,
    BranchReset,
    Ahead,
    NotAhead,
    Behind,
    NotBehind,
    Condition, // (?( with a reference, or followed by the assertion's own opening
    Options,   // (?i:
};

inline constexpr uint32_t kUnbounded = UINT32_MAX;

struct ExpressionPiece {
    PieceKind kind = PieceKind::Character;
    GroupKind group = GroupKind::Plain;
    // A character or set that is, or may hold, a CR or an LF (for a set: unless it surely holds
    // neither).
    bool breaks = false;
    char32_t value = 0;
    uint32_t min = 0;
    uint32_t max = 0;
    // For an assertion: the offset in the text just after it.
    size_t end = 0;
};

struct ExpressionReading {
    // False when the text holds anything the reading does not follow with certainty; the pieces
    // then say nothing.
    bool understood = false;
    std::vector<ExpressionPiece> pieces;
};

// Reads `pattern` as the library compiles it (UTF-16, or any form whose ASCII reads the same),
// starting without extended mode and without dotall.
ExpressionReading ReadExpression(std::u16string_view pattern);

} // namespace gleanery
