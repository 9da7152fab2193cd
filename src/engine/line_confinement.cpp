// Readings of the expression's pieces (see expression_reading.h): whatever the reading does not
// follow with certainty makes the answer the one that takes no shortcut.
#include "engine/line_confinement.h"

#include "engine/expression_reading.h"

namespace gleanery {

bool IsLineConfined(std::u16string_view regex) {
    const ExpressionReading reading = ReadExpression(regex);
    if (!reading.understood) return false;
    for (const ExpressionPiece& piece : reading.pieces) {
        switch (piece.kind) {
        case PieceKind::Character:
        case PieceKind::Set:
            if (piece.breaks) return false;
            break;
        case PieceKind::Assertion:
            // Word boundaries look at the characters on either side, which the line holds
            // (with its line break); the others tell a line's end from the text's.
            if (piece.value != U'b' && piece.value != U'B') return false;
            break;
        case PieceKind::Reset:
        case PieceKind::Call:
        case PieceKind::Callout:
        case PieceKind::Verb:
            return false;
        default:
            // Groups, alternatives, quantifiers, backreferences (to groups of the same kind)
            // and option settings (a later dotall makes '.' a set with line breaks).
            break;
        }
    }
    return true;
}

int Rarity(char16_t c, bool caseless) {
    // Letters from the most to the least frequent in English prose (German differs little): "er"
    // stands on every line of most texts, "rr" rarely, and a literal's two rarest letters are
    // what its scan looks for.
    constexpr std::u16string_view kByFrequency = u"etaoinsrhldcumfpgwybvkxjqz";
    constexpr int kClass = 32;
    if (c == u' ') return 0;
    if (caseless && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 0x20);
    if (c >= u'a' && c <= u'z') return kClass + static_cast<int>(kByFrequency.find(c));
    if (c >= u'0' && c <= u'9') return 2 * kClass;
    if (c >= u'A' && c <= u'Z')
        return 3 * kClass + static_cast<int>(kByFrequency.find(static_cast<char16_t>(c + 0x20)));
    if (std::u16string_view(u".,-/:_=()'\"").find(c) != std::u16string_view::npos)
        return 4 * kClass;
    return 5 * kClass;
}

int RarestMandatoryCharacter(std::u16string_view regex) {
    const ExpressionReading reading = ReadExpression(regex);
    if (!reading.understood) return -1;
    const std::vector<ExpressionPiece>& pieces = reading.pieces;
    int best = -1;
    int depth = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const ExpressionPiece& piece = pieces[i];
        switch (piece.kind) {
        case PieceKind::Open:
            ++depth;
            continue;
        case PieceKind::Close:
            --depth;
            continue;
        case PieceKind::Alternative:
            if (depth == 0) return -1; // no character is in every alternative
            continue;
        case PieceKind::Verb:
            return -1; // (*ACCEPT) ends a match wherever it stands
        case PieceKind::Character:
            break;
        default:
            continue;
        }
        if (depth != 0 || piece.value <= U' ' || piece.value >= 0x7F) continue;
        // A repeat that allows none makes the character optional; an option setting between it
        // and what follows is not worth following.
        bool optional = false;
        for (size_t j = i + 1; j < pieces.size() && !optional; ++j) {
            if (pieces[j].kind == PieceKind::Options) optional = true;
            if (pieces[j].kind != PieceKind::Quantifier) break;
            optional = pieces[j].min == 0;
        }
        if (optional) continue;
        const auto c = static_cast<char16_t>(piece.value);
        if (best < 0 || Rarity(c) > Rarity(static_cast<char16_t>(best))) best = c;
    }
    return best;
}

std::u16string LeadingLiteral(std::u16string_view regex) {
    const ExpressionReading reading = ReadExpression(regex);
    if (!reading.understood) return {};
    int depth = 0;
    for (const ExpressionPiece& piece : reading.pieces) {
        if (piece.kind == PieceKind::Open) ++depth;
        if (piece.kind == PieceKind::Close) --depth;
        if ((piece.kind == PieceKind::Alternative && depth == 0) || piece.kind == PieceKind::Verb ||
            piece.kind == PieceKind::Callout)
            return {};
    }
    std::u16string literal;
    for (const ExpressionPiece& piece : reading.pieces) {
        if (piece.kind == PieceKind::Quantifier) {
            // The repeat may leave its character out, or take it more than once.
            if (!literal.empty()) literal.pop_back();
            break;
        }
        if (piece.kind != PieceKind::Character || piece.value < U' ' || piece.value >= 0x7F) break;
        literal.push_back(static_cast<char16_t>(piece.value));
    }
    return literal;
}

} // namespace gleanery
