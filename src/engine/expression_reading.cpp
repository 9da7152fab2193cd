// The reading follows the library's own compile where it matters to the pieces (what a class
// holds, where a quantifier belongs, which text is a comment) and gives up on anything whose
// reading depends on more than the text in front of it: an escape with a doubtful meaning, a
// range that starts or ends in an escape of several characters, a POSIX name it does not know,
// extended-mode text beyond printable ASCII, a "#" comment once a verb may have changed the
// newline convention.
#include "engine/expression_reading.h"

#include <string_view>

namespace gleanery {

namespace {

constexpr char32_t kCr = U'\r';
constexpr char32_t kLf = U'\n';

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
bool IsWordCharacter(char16_t c) {
    return IsDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}
bool IsAlnum(char16_t c) {
    return IsWordCharacter(c) && c != u'_';
}
int HexValue(char16_t c) {
    if (IsDigit(c)) return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}
// The characters extended mode passes over with the library's built-in tables.
bool IsExtendedSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// Whether a set holds a CR (or an LF): surely, surely not, or not known.
enum class Holds : uint8_t { No, Yes, Maybe };
struct Breaks {
    Holds cr = Holds::No;
    Holds lf = Holds::No;
};
constexpr Breaks kNoBreaks{Holds::No, Holds::No};
constexpr Breaks kBothBreaks{Holds::Yes, Holds::Yes};
constexpr Breaks kUnknownBreaks{Holds::Maybe, Holds::Maybe};

Breaks Flip(Breaks b) {
    auto flip = [](Holds h) {
        return h == Holds::Yes ? Holds::No : h == Holds::No ? Holds::Yes : Holds::Maybe;
    };
    return {flip(b.cr), flip(b.lf)};
}

Breaks OfRange(char32_t low, char32_t high) {
    auto in = [&](char32_t c) { return low <= c && c <= high ? Holds::Yes : Holds::No; };
    return {in(kCr), in(kLf)};
}

// Escapes by a letter that stand for a set of characters, in and outside a class.
bool SetEscape(char16_t c, Breaks& breaks) {
    switch (c) {
    case u'd':
    case u'w':
    case u'h':
    case u'S':
    case u'V':
        breaks = kNoBreaks;
        return true;
    case u'D':
    case u'W':
    case u's':
    case u'H':
    case u'v':
        breaks = kBothBreaks;
        return true;
    default:
        return false;
    }
}

// Unicode properties whose members are no line break (CR and LF are of the category Cc).
bool PropertyLacksBreaks(std::u16string_view name) {
    static constexpr std::u16string_view kNames[] = {
        u"L",  u"L&", u"Lu",  u"Ll",  u"Lt",    u"Lm",    u"Lo",      u"M",  u"Mc", u"Me",
        u"Mn", u"N",  u"Nd",  u"Nl",  u"No",    u"P",     u"Pc",      u"Pd", u"Pe", u"Pf",
        u"Pi", u"Po", u"Ps",  u"S",   u"Sc",    u"Sk",    u"Sm",      u"So", u"Z",  u"Zs",
        u"Zl", u"Zp", u"Xan", u"Xwd", u"Latin", u"Greek", u"Cyrillic"};
    for (std::u16string_view known : kNames)
        if (name == known) return true;
    return false;
}
bool PropertyHoldsBreaks(std::u16string_view name) {
    return name == u"C" || name == u"Cc" || name == u"Any" || name == u"Xsp" || name == u"Xps";
}

// POSIX names inside a class: which ones hold CR and LF (in every table the library may get).
bool PosixBreaks(std::u16string_view name, Breaks& breaks) {
    static constexpr std::u16string_view kWithout[] = {u"alpha", u"lower", u"upper", u"alnum",
                                                       u"blank", u"digit", u"graph", u"print",
                                                       u"punct", u"word",  u"xdigit"};
    static constexpr std::u16string_view kWith[] = {u"ascii", u"cntrl", u"space"};
    for (std::u16string_view known : kWithout)
        if (name == known) {
            breaks = kNoBreaks;
            return true;
        }
    for (std::u16string_view known : kWith)
        if (name == known) {
            breaks = kBothBreaks;
            return true;
        }
    return false;
}

struct Reader {
    std::u16string_view text;
    size_t at = 0;
    bool ok = true;
    // \Q...\E: every character stands for itself until \E.
    bool quoted = false;
    // A verb may have changed the newline convention, which ends an extended-mode comment.
    bool verbSeen = false;
    struct Flags {
        bool extended = false;
        bool dotall = false;
    };
    // The options in force, one entry per open group.
    std::vector<Flags> frames{Flags{}};
    std::vector<ExpressionPiece> pieces;

    bool Done() const { return at >= text.size(); }
    char16_t Peek(size_t ahead = 0) const {
        return at + ahead < text.size() ? text[at + ahead] : char16_t(0);
    }
    bool Fail() {
        ok = false;
        return false;
    }
    void Add(PieceKind kind) { pieces.push_back(ExpressionPiece{kind}); }
    void AddCharacter(char32_t c) {
        ExpressionPiece p{PieceKind::Character};
        p.value = c;
        p.breaks = c == kCr || c == kLf;
        pieces.push_back(p);
    }
    void AddSet(Breaks b) {
        ExpressionPiece p{PieceKind::Set};
        p.breaks = b.cr != Holds::No || b.lf != Holds::No;
        pieces.push_back(p);
    }
    void Open(GroupKind kind) {
        frames.push_back(frames.back());
        ExpressionPiece p{PieceKind::Open};
        p.group = kind;
        pieces.push_back(p);
    }

    // A character whose first unit was just read: a surrogate pair is one character.
    char32_t Character(char16_t first) {
        if (first >= 0xD800 && first <= 0xDBFF && Peek() >= 0xDC00 && Peek() <= 0xDFFF) {
            const char16_t low = text[at++];
            return 0x10000 + ((char32_t(first) - 0xD800) << 10) + (low - 0xDC00);
        }
        return first;
    }

    // {n}, {n,} or {n,m} starting at `from` (the brace): the library's own test, which takes
    // nothing else (not "{,n}", not spaces) for a repeat.
    bool CountedRepeat(size_t from, uint32_t& min, uint32_t& max, size_t& end) const {
        size_t i = from + 1;
        auto number = [&](uint32_t& value) {
            if (i >= text.size() || !IsDigit(text[i])) return false;
            uint64_t n = 0;
            while (i < text.size() && IsDigit(text[i])) {
                n = n * 10 + (text[i++] - u'0');
                if (n > 0xFFFF) return false; // the library refuses such counts
            }
            value = static_cast<uint32_t>(n);
            return true;
        };
        if (!number(min)) return false;
        max = min;
        if (i < text.size() && text[i] == u',') {
            ++i;
            max = kUnbounded;
            if (i < text.size() && text[i] != u'}' && !number(max)) return false;
        }
        if (i >= text.size() || text[i] != u'}') return false;
        end = i + 1;
        return true;
    }

    void Quantifier(uint32_t min, uint32_t max) {
        // Lazy or possessive.
        if (Peek() == u'?' || Peek() == u'+') ++at;
        ExpressionPiece p{PieceKind::Quantifier};
        p.min = min;
        p.max = max;
        pieces.push_back(p);
    }

    // An escape that stands for one character, its letter (or other character) just read.
    bool CharacterEscape(char16_t c, char32_t& value) {
        switch (c) {
        case u'a':
            value = 7;
            return true;
        case u'e':
            value = 0x1B;
            return true;
        case u'f':
            value = 0x0C;
            return true;
        case u'n':
            value = kLf;
            return true;
        case u'r':
            value = kCr;
            return true;
        case u't':
            value = 9;
            return true;
        case u'0': {
            value = 0;
            for (int n = 0; n < 2 && Peek() >= u'0' && Peek() <= u'7'; ++n)
                value = value * 8 + (text[at++] - u'0');
            return true;
        }
        case u'o': {
            if (Peek() != u'{') return false;
            size_t i = at + 1;
            uint32_t v = 0;
            for (; i < text.size() && text[i] >= u'0' && text[i] <= u'7' && v < 0x110000; ++i)
                v = v * 8 + (text[i] - u'0');
            if (i == at + 1 || i >= text.size() || text[i] != u'}') return false;
            at = i + 1;
            value = v;
            return true;
        }
        case u'x': {
            uint32_t v = 0;
            if (Peek() == u'{') {
                size_t i = at + 1;
                for (; i < text.size() && HexValue(text[i]) >= 0 && v < 0x110000; ++i)
                    v = v * 16 + static_cast<uint32_t>(HexValue(text[i]));
                if (i == at + 1 || i >= text.size() || text[i] != u'}') return false;
                at = i + 1;
            } else {
                for (int n = 0; n < 2 && HexValue(Peek()) >= 0; ++n)
                    v = v * 16 + static_cast<uint32_t>(HexValue(text[at++]));
            }
            value = v;
            return true;
        }
        case u'c': {
            const char16_t next = Peek();
            if (next < 0x20 || next > 0x7E) return false;
            ++at;
            const char16_t upper = next >= u'a' && next <= u'z' ? next - 0x20 : next;
            value = upper ^ 0x40;
            return true;
        }
        default:
            // Any character but a letter or digit stands for itself.
            if (IsAlnum(c)) return false;
            value = Character(c);
            return true;
        }
    }

    // \p{..}, \P{..}, \pL (the letter just read).
    bool Property(bool negated, Breaks& breaks) {
        std::u16string_view name;
        if (Peek() == u'{') {
            const size_t close = text.find(u'}', at);
            if (close == std::u16string_view::npos) return false;
            name = text.substr(at + 1, close - at - 1);
            at = close + 1;
            if (!name.empty() && name[0] == u'^') {
                negated = !negated;
                name.remove_prefix(1);
            }
        } else {
            if (Done()) return false;
            name = text.substr(at++, 1);
        }
        if (PropertyLacksBreaks(name))
            breaks = kNoBreaks;
        else if (PropertyHoldsBreaks(name))
            breaks = kBothBreaks;
        else
            breaks = kUnknownBreaks;
        if (negated) breaks = Flip(breaks);
        return true;
    }

    // A name of letters, digits and underscores, then `close`.
    bool Name(char16_t close) {
        const size_t from = at;
        while (!Done() && IsWordCharacter(text[at])) ++at;
        if (at == from || Peek() != close) return false;
        ++at;
        return true;
    }

    // An escape outside a class (the backslash already read).
    bool PatternEscape() {
        if (Done()) return Fail();
        const char16_t c = text[at++];
        Breaks breaks;
        switch (c) {
        case u'Q':
            quoted = true;
            return true;
        case u'E':
            return true;
        case u'b':
        case u'B':
        case u'A':
        case u'z':
        case u'Z':
        case u'G': {
            ExpressionPiece p{PieceKind::Assertion};
            p.value = c;
            p.end = at;
            pieces.push_back(p);
            return true;
        }
        case u'K':
            Add(PieceKind::Reset);
            return true;
        case u'N': {
            uint32_t min = 0;
            uint32_t max = 0;
            size_t end = 0;
            if (Peek() == u'{' && !CountedRepeat(at, min, max, end)) return Fail();
            AddSet(kNoBreaks);
            return true;
        }
        case u'R':
        case u'X':
        case u'C':
            AddSet(kBothBreaks);
            return true;
        case u'p':
        case u'P':
            if (!Property(c == u'P', breaks)) return Fail();
            AddSet(breaks);
            return true;
        case u'g':
            if (Peek() == u'<' || Peek() == u'\'') {
                const char16_t close = Peek() == u'<' ? u'>' : u'\'';
                ++at;
                if (Peek() == u'-' || Peek() == u'+') ++at;
                if (!Name(close)) return Fail();
                Add(PieceKind::Call);
                return true;
            }
            if (Peek() == u'{') {
                ++at;
                if (Peek() == u'-') ++at;
                if (!Name(u'}')) return Fail();
            } else {
                if (Peek() == u'-' || Peek() == u'+') ++at;
                if (!IsDigit(Peek())) return Fail();
                while (IsDigit(Peek())) ++at;
            }
            Add(PieceKind::Backreference);
            return true;
        case u'k': {
            const char16_t open = Peek();
            const char16_t close = open == u'<' ? u'>' : open == u'{' ? u'}' : u'\'';
            if (open != u'<' && open != u'{' && open != u'\'') return Fail();
            ++at;
            if (!Name(close)) return Fail();
            Add(PieceKind::Backreference);
            return true;
        }
        default:
            break;
        }
        if (c >= u'1' && c <= u'9') {
            // A second digit may make it octal, depending on how many groups there are.
            if (IsDigit(Peek())) return Fail();
            Add(PieceKind::Backreference);
            return true;
        }
        if (SetEscape(c, breaks)) {
            AddSet(breaks);
            return true;
        }
        char32_t value = 0;
        if (!CharacterEscape(c, value)) return Fail();
        AddCharacter(value);
        return true;
    }

    // What a class member escape stands for: one character, or a set.
    enum class Member { Character, Set, Nothing };
    Member ClassEscape(char32_t& value, Breaks& breaks) {
        if (Done()) return Fail(), Member::Nothing;
        const char16_t c = text[at++];
        if (c == u'Q') {
            quoted = true;
            return Member::Nothing;
        }
        if (c == u'E') return Member::Nothing;
        if (c == u'b') {
            value = 8; // backspace inside a class
            return Member::Character;
        }
        if (SetEscape(c, breaks)) return Member::Set;
        if (c == u'p' || c == u'P') {
            if (!Property(c == u'P', breaks)) return Fail(), Member::Nothing;
            return Member::Set;
        }
        // Digits other than \0 are octal here, letters other than the above are errors or
        // escapes we do not follow.
        if ((c >= u'1' && c <= u'9') || !CharacterEscape(c, value)) return Fail(), Member::Nothing;
        return Member::Character;
    }

    // [:name:] or [:^name:] (at the '[' that opens it).
    bool Posix(Breaks& breaks) {
        size_t i = at + 2;
        const bool negated = i < text.size() && text[i] == u'^';
        if (negated) ++i;
        const size_t end = text.find(u":]", i);
        if (end == std::u16string_view::npos || !PosixBreaks(text.substr(i, end - i), breaks))
            return false;
        if (negated) breaks = Flip(breaks);
        at = end + 2;
        return true;
    }

    // A class (the '[' already read).
    void Class() {
        bool negated = false;
        // The library passes over \E and \Q\E, and one '^', at the start.
        for (;;) {
            if (Peek() == u'\\' && Peek(1) == u'E')
                at += 2;
            else if (Peek() == u'\\' && Peek(1) == u'Q' && Peek(2) == u'\\' && Peek(3) == u'E')
                at += 4;
            else if (!negated && Peek() == u'^')
                ++at, negated = true;
            else
                break;
        }
        Breaks any;            // whether some member may hold CR, LF
        bool surelyCr = false; // whether some member surely holds CR
        bool surelyLf = false;
        auto note = [&](Breaks b) {
            if (b.cr != Holds::No) any.cr = Holds::Maybe;
            if (b.lf != Holds::No) any.lf = Holds::Maybe;
            surelyCr = surelyCr || b.cr == Holds::Yes;
            surelyLf = surelyLf || b.lf == Holds::Yes;
        };
        // The first member is read as one even when it is ']'.
        bool first = true;
        for (;;) {
            if (Done()) {
                Fail();
                return;
            }
            const char16_t c = text[at++];
            char32_t low = 0;
            Breaks breaks;
            if (quoted) {
                if (c == u'\\' && Peek() == u'E') {
                    ++at;
                    quoted = false;
                    continue;
                }
                low = Character(c);
            } else if (c == u']' && !first) {
                break;
            } else if (c == u'[' && (Peek() == u':' || Peek() == u'.' || Peek() == u'=')) {
                --at;
                if (!Posix(breaks) || (Peek() == u'-' && Peek(1) != u']')) {
                    Fail();
                    return;
                }
                first = false;
                note(breaks);
                continue;
            } else if (c == u'\\') {
                const Member member = ClassEscape(low, breaks);
                if (!ok) return;
                if (member == Member::Nothing) continue;
                if (member == Member::Set) {
                    // A set followed by a range's hyphen is refused by the library.
                    if (Peek() == u'-' && Peek(1) != u']') {
                        Fail();
                        return;
                    }
                    first = false;
                    note(breaks);
                    continue;
                }
            } else {
                low = Character(c);
            }
            first = false;
            char32_t high = low;
            if (!Range(high)) return;
            if (high < low) {
                Fail();
                return;
            }
            note(OfRange(low, high));
        }
        bool breaks = any.cr != Holds::No || any.lf != Holds::No;
        if (negated) breaks = !(surelyCr && surelyLf);
        ExpressionPiece p{PieceKind::Set};
        p.breaks = breaks;
        pieces.push_back(p);
    }

    // After a class member that is one character: a range's upper end, if a hyphen follows
    // (\E between them is passed over, as the library does). False when not understood.
    bool Range(char32_t& high) {
        size_t i = at;
        while (i + 1 < text.size() && text[i] == u'\\' && text[i + 1] == u'E') i += 2;
        if (i > at) quoted = false;
        if (quoted || i >= text.size() || text[i] != u'-') return true;
        size_t j = i + 1;
        while (j + 1 < text.size() && text[j] == u'\\' && text[j + 1] == u'E') j += 2;
        if (j >= text.size()) return Fail();
        if (text[j] == u']') return true; // a hyphen at the end is a literal
        if (j + 1 < text.size() && text[j] == u'\\' && text[j + 1] == u'Q') return Fail();
        at = j + 1;
        const char16_t c = text[j];
        if (c == u'\\') {
            if (Done()) return Fail();
            const char16_t e = text[at++];
            if (e == u'b') {
                high = 8;
                return true;
            }
            if ((e >= u'1' && e <= u'9') || !CharacterEscape(e, high)) return Fail();
            return true;
        }
        if (c == u'[' && (Peek() == u':' || Peek() == u'.' || Peek() == u'=')) return Fail();
        high = Character(c);
        return true;
    }

    // Option letters after "(?", up to ')' or ':'; applies them to `flags`.
    bool OptionLetters(Flags& flags) {
        bool on = true;
        for (; !Done(); ++at) {
            const char16_t c = text[at];
            if (c == u')' || c == u':') return true;
            if (c == u'-') {
                if (!on) return false;
                on = false;
            } else if (c == u'x') {
                flags.extended = on;
            } else if (c == u's') {
                flags.dotall = on;
            } else if (c != u'i' && c != u'm' && c != u'J' && c != u'U' && c != u'X') {
                return false;
            }
        }
        return false;
    }

    // A group's opening (the '(' already read), or a verb, comment, call or option setting.
    void Group() {
        if (Peek() == u'*') {
            const size_t close = text.find(u')', at);
            if (close == std::u16string_view::npos) {
                Fail();
                return;
            }
            at = close + 1;
            verbSeen = true;
            Add(PieceKind::Verb);
            return;
        }
        if (Peek() != u'?') {
            Open(GroupKind::Capture);
            return;
        }
        ++at;
        const char16_t c = Peek();
        const char16_t d = Peek(1);
        auto openAfter = [&](size_t skip, GroupKind kind) {
            at += skip;
            Open(kind);
        };
        auto nameThen = [&](size_t skip, char16_t close, PieceKind kind, bool opens) {
            at += skip;
            if (!Name(close)) {
                Fail();
                return;
            }
            if (opens)
                Open(GroupKind::Capture);
            else
                Add(kind);
        };
        switch (c) {
        case u'#': {
            const size_t close = text.find(u')', at);
            if (close == std::u16string_view::npos) {
                Fail();
                return;
            }
            at = close + 1;
            return;
        }
        case u':':
            return openAfter(1, GroupKind::Plain);
        case u'|':
            return openAfter(1, GroupKind::BranchReset);
        case u'>':
            return openAfter(1, GroupKind::Atomic);
        case u'=':
            return openAfter(1, GroupKind::Ahead);
        case u'!':
            return openAfter(1, GroupKind::NotAhead);
        case u'<':
            if (d == u'=') return openAfter(2, GroupKind::Behind);
            if (d == u'!') return openAfter(2, GroupKind::NotBehind);
            return nameThen(1, u'>', PieceKind::Open, true);
        case u'\'':
            return nameThen(1, u'\'', PieceKind::Open, true);
        case u'P':
            if (d == u'<') return nameThen(2, u'>', PieceKind::Open, true);
            if (d == u'=') return nameThen(2, u')', PieceKind::Backreference, false);
            if (d == u'>') return nameThen(2, u')', PieceKind::Call, false);
            Fail();
            return;
        case u'&':
            return nameThen(1, u')', PieceKind::Call, false);
        case u'C': {
            const size_t close = text.find(u')', at);
            if (close == std::u16string_view::npos) {
                Fail();
                return;
            }
            at = close + 1;
            Add(PieceKind::Callout);
            return;
        }
        case u'(':
            Condition();
            return;
        default:
            break;
        }
        if (c == u'R' || IsDigit(c) || ((c == u'+' || c == u'-') && IsDigit(d))) {
            at += c == u'R' || !IsDigit(c) ? 1 : 0;
            while (IsDigit(Peek())) ++at;
            if (Peek() != u')') {
                Fail();
                return;
            }
            ++at;
            Add(PieceKind::Call);
            return;
        }
        Flags flags = frames.back();
        if (!OptionLetters(flags)) {
            Fail();
            return;
        }
        if (text[at++] == u')') {
            frames.back() = flags;
            Add(PieceKind::Options);
            return;
        }
        Open(GroupKind::Options);
        frames.back() = flags;
    }

    // "(?(" read: a reference to a group, recursion or DEFINE, or an assertion.
    void Condition() {
        ++at; // the condition's '('
        Open(GroupKind::Condition);
        if (Peek() == u'?' && (Peek(1) == u'=' || Peek(1) == u'!' ||
                               (Peek(1) == u'<' && (Peek(2) == u'=' || Peek(2) == u'!')))) {
            Group(); // the assertion, its '(' already read
            return;
        }
        const size_t from = at;
        while (!Done() &&
               (IsWordCharacter(text[at]) || text[at] == u'<' || text[at] == u'>' ||
                text[at] == u'\'' || text[at] == u'&' || text[at] == u'+' || text[at] == u'-'))
            ++at;
        if (at == from || Peek() != u')') {
            Fail();
            return;
        }
        ++at;
    }

    void Piece() {
        if (quoted) {
            if (Peek() == u'\\' && Peek(1) == u'E') {
                at += 2;
                quoted = false;
                return;
            }
            const char16_t c = text[at++];
            AddCharacter(Character(c));
            return;
        }
        const char16_t c = text[at];
        if (frames.back().extended) {
            if (IsExtendedSpace(c)) {
                ++at;
                return;
            }
            if (c == u'#') {
                if (verbSeen) {
                    Fail();
                    return;
                }
                while (!Done() && text[at] != u'\r' && text[at] != u'\n') ++at;
                return;
            }
            // Characters that a code page's tables might count as white space.
            if (c < 0x20 || c >= 0x7F) {
                Fail();
                return;
            }
        }
        ++at;
        uint32_t min = 0;
        uint32_t max = 0;
        size_t end = 0;
        switch (c) {
        case u'\\':
            PatternEscape();
            return;
        case u'[':
            Class();
            return;
        case u'(':
            Group();
            return;
        case u')':
            if (frames.size() <= 1) {
                Fail();
                return;
            }
            frames.pop_back();
            Add(PieceKind::Close);
            return;
        case u'|':
            Add(PieceKind::Alternative);
            return;
        case u'*':
            return Quantifier(0, kUnbounded);
        case u'+':
            return Quantifier(1, kUnbounded);
        case u'?':
            return Quantifier(0, 1);
        case u'{':
            if (CountedRepeat(at - 1, min, max, end)) {
                at = end;
                return Quantifier(min, max);
            }
            AddCharacter(c);
            return;
        case u'.':
            AddSet(frames.back().dotall ? kBothBreaks : kNoBreaks);
            return;
        case u'^':
        case u'$': {
            ExpressionPiece p{PieceKind::Assertion};
            p.value = c;
            pieces.push_back(p);
            return;
        }
        default:
            AddCharacter(Character(c));
            return;
        }
    }
};

} // namespace

ExpressionReading ReadExpression(std::u16string_view pattern) {
    Reader r;
    r.text = pattern;
    while (r.ok && !r.Done()) r.Piece();
    ExpressionReading reading;
    reading.understood = r.ok && r.frames.size() == 1;
    if (reading.understood) reading.pieces = std::move(r.pieces);
    return reading;
}

} // namespace gleanery
