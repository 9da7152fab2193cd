// A conservative reading of the expression's text: every construct it accepts matches (and looks
// at) only characters that are not line breaks; any other construct, or one it cannot read with
// certainty, makes the answer false.
#include "engine/line_confinement.h"

#include <string>

namespace gleanery {

namespace {

constexpr char16_t kLf = u'\n';
constexpr char16_t kCr = u'\r';

bool IsAlnum(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Escapes by a letter whose every character is no line break, outside and inside a class.
bool IsSafeLetterEscape(char16_t c, bool inClass) {
    switch (c) {
    case u'w':
    case u'd':
    case u'h':
    case u'S':
    case u'V':
    case u't':
    case u'f':
    case u'a':
    case u'e':
        return true;
    case u'b': // a word boundary outside a class, the backspace character inside one
    case u'B':
    case u'N':
        return !inClass || c == u'b';
    default:
        return false;
    }
}

struct Reader {
    std::u16string_view text;
    size_t at = 0;

    bool Done() const { return at >= text.size(); }
    char16_t Peek(size_t ahead = 0) const {
        return at + ahead < text.size() ? text[at + ahead] : char16_t(0);
    }
};

// Where an escape stands: in a character class or in the pattern itself.
enum class EscapeIn { Pattern, Class };

// An escape (the backslash already read). Outside a class, \1 to \9 refer back to a group.
bool Escape(Reader& r, EscapeIn where, bool negated, bool& excludesCr, bool& excludesLf) {
    const bool inClass = where == EscapeIn::Class;
    if (r.Done()) return false;
    const char16_t c = r.text[r.at++];
    if (!IsAlnum(c)) return c != kLf && c != kCr; // an escaped punctuation character
    if (inClass && (c == u'n' || c == u'r' || c == u's' || c == u'v')) {
        // Line breaks, or sets holding them: only a negated class may list them, which takes
        // them out of it.
        if (c != u'r') excludesLf = true;
        if (c != u'n') excludesCr = true;
        return negated;
    }
    if (!inClass && c >= u'1' && c <= u'9') return !(r.Peek() >= u'0' && r.Peek() <= u'9');
    return IsSafeLetterEscape(c, inClass);
}

// POSIX names inside a class: only those without control characters.
bool PosixClass(Reader& r) {
    static constexpr std::u16string_view kSafe[] = {
        u"alpha", u"digit", u"alnum", u"upper", u"lower", u"xdigit", u"word", u"punct", u"graph"};
    for (std::u16string_view name : kSafe) {
        if (r.text.substr(r.at, name.size() + 2) == std::u16string(name) + u":]") {
            r.at += name.size() + 2;
            return true;
        }
    }
    return false;
}

// A class (the '[' already read). A negated class must list both CR and LF (or \s, \v).
bool Class(Reader& r) {
    const bool negated = r.Peek() == u'^';
    if (negated) ++r.at;
    bool excludesCr = false;
    bool excludesLf = false;
    bool first = true;
    for (;;) {
        if (r.Done()) return false;
        char16_t c = r.text[r.at++];
        if (c == u']' && !first) break;
        first = false;
        if (c == u'[' && r.Peek() == u':') {
            ++r.at;
            if (!PosixClass(r)) return false;
            continue;
        }
        if (c == u'\\') {
            if (!Escape(r, EscapeIn::Class, negated, excludesCr, excludesLf)) return false;
            // A range from an escape is read by the library in ways not worth following here.
            if (r.Peek() == u'-' && r.Peek(1) != u']') return false;
            continue;
        }
        if (c == kLf) excludesLf = true;
        if (c == kCr) excludesCr = true;
        char16_t high = c;
        if (r.Peek() == u'-' && r.Peek(1) != u']' && r.Peek(1) != 0) {
            high = r.Peek(1);
            if (high == u'\\' || high == u'[') return false;
            r.at += 2;
        }
        // A range (or single character) that holds a line break: only a negated class may.
        if (!negated && c <= kCr && high >= kLf) return false;
        if (negated && c <= kLf && high >= kLf) excludesLf = true;
        if (negated && c <= kCr && high >= kCr) excludesCr = true;
    }
    return !negated || (excludesCr && excludesLf);
}

// A group opening (the '(' already read): plain, named, assertions, atomic, branch reset,
// comments and the caseless or ungreedy option. Everything else is refused.
bool GroupOpening(Reader& r) {
    if (r.Peek() == u'*') return false; // verbs and start-of-pattern settings
    if (r.Peek() != u'?') return true;
    ++r.at;
    const char16_t c = r.Peek();
    if (c == u':' || c == u'=' || c == u'!' || c == u'>' || c == u'|') {
        ++r.at;
        return true;
    }
    if (c == u'#') {
        while (!r.Done() && r.text[r.at] != u')') ++r.at;
        return !r.Done();
    }
    if (c == u'<' && (r.Peek(1) == u'=' || r.Peek(1) == u'!')) {
        r.at += 2;
        return true;
    }
    if (c == u'<' || c == u'\'' || (c == u'P' && r.Peek(1) == u'<')) {
        r.at += c == u'P' ? 2 : 1;
        while (!r.Done() && (IsAlnum(r.text[r.at]) || r.text[r.at] == u'_')) ++r.at;
        if (r.Done() || (r.text[r.at] != u'>' && r.text[r.at] != u'\'')) return false;
        ++r.at;
        return true;
    }
    // Option settings: (?i) (?-i) (?iU:...) and the like.
    while (!r.Done() && (r.text[r.at] == u'i' || r.text[r.at] == u'J' || r.text[r.at] == u'U' ||
                         r.text[r.at] == u'm' || r.text[r.at] == u'-'))
        ++r.at;
    if (r.Done() || (r.text[r.at] != u')' && r.text[r.at] != u':')) return false;
    ++r.at;
    return true;
}

} // namespace

bool IsLineConfined(std::u16string_view regex) {
    Reader r{regex};
    bool unusedCr = false;
    bool unusedLf = false;
    while (!r.Done()) {
        const char16_t c = r.text[r.at++];
        switch (c) {
        case u'\\':
            if (!Escape(r, EscapeIn::Pattern, false, unusedCr, unusedLf)) return false;
            break;
        case u'[':
            if (!Class(r)) return false;
            break;
        case u'(':
            if (!GroupOpening(r)) return false;
            break;
        case u'^':
        case u'$':
        case kLf:
        case kCr:
            return false;
        default:
            break; // literals, '.', quantifiers, '|' and ')'
        }
    }
    return true;
}

int Rarity(char16_t c) {
    if (c == u' ') return 0;
    if (c >= u'a' && c <= u'z') return 1;
    if (c >= u'0' && c <= u'9') return 2;
    if (c >= u'A' && c <= u'Z') return 3;
    if (std::u16string_view(u".,-/:_=()'\"").find(c) != std::u16string_view::npos) return 4;
    return 5;
}

int RarestMandatoryCharacter(std::u16string_view regex) {
    int best = -1;
    int depth = 0;
    for (size_t i = 0; i < regex.size(); ++i) {
        char16_t c = regex[i];
        bool literal = false;
        if (c == u'\\') {
            if (i + 1 >= regex.size()) return -1;
            c = regex[++i];
            // An escaped ASCII punctuation character stands for itself; other characters are left
            // out, as below (a code page may not hold them as they are).
            literal = c > u' ' && c < 0x7F && !IsAlnum(c);
        } else if (c == u'[') {
            // Skip the class: its end is the first ']' after at least one member.
            size_t j = i + 1;
            if (j < regex.size() && regex[j] == u'^') ++j;
            if (j < regex.size() && regex[j] == u']') ++j;
            for (; j < regex.size() && regex[j] != u']'; ++j)
                if (regex[j] == u'\\') ++j;
            i = j;
            continue;
        } else if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            --depth;
        } else if (c == u'|') {
            if (depth == 0) return -1; // alternatives at the top: no character is in all of them
        } else if (c == u'{') {
            // A repeat count {n}, {n,} or {n,m} is skipped whole; any other brace is a literal
            // the library reads as such, left out here.
            size_t j = i + 1;
            while (j < regex.size() && ((regex[j] >= u'0' && regex[j] <= u'9') || regex[j] == u','))
                ++j;
            if (j > i + 1 && j < regex.size() && regex[j] == u'}' && regex[i + 1] != u',') i = j;
            continue;
        } else {
            literal = c > u' ' && c < 0x7F &&
                      std::u16string_view(u".*+?{}^$").find(c) == std::u16string_view::npos;
        }
        if (!literal || depth != 0) continue;
        // A repeat that allows none makes the character optional.
        const char16_t next = i + 1 < regex.size() ? regex[i + 1] : u'\0';
        if (next == u'?' || next == u'*' ||
            (next == u'{' && i + 2 < regex.size() && regex[i + 2] == u'0'))
            continue;
        if (best < 0 || Rarity(c) > Rarity(static_cast<char16_t>(best))) best = c;
    }
    return best;
}

} // namespace gleanery
