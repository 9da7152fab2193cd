// Finding the next match in one text as one library call over the whole text would find it,
// while the host can still cancel: long texts go in slices of start positions, expressions that
// stay within a line go to the lines that can hold a match, short texts without a character every
// match holds are passed over, and an interpreter search too deep for the host's stack runs again
// on a larger one. Used by the match loop, for 8-bit text (char) or UTF-16 text (char16_t).
#pragma once

#include <algorithm>
#include <climits>
#include <optional>
#include <type_traits>
#include <utility>

#include "engine/byte_pair_scan.h"
#include "engine/deep_search.h"
#include "engine/detect_encoding.h"
#include "engine/match_loop.h"
#include "engine/utf8_validity.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace gleanery::detail {

// The output vector of every search: the whole match, 99 groups and the library's work space.
inline constexpr int kOutputVectorSize = 300;
inline constexpr uint32_t kProgressIntervalMs = 500;
// A slice of a long search that took longer than this is halved, one quicker than the other
// doubled (within the bounds of SearchSlices).
inline constexpr uint32_t kSliceSlowMs = 100;
inline constexpr uint32_t kSliceFastMs = 20;
// Texts up to this many units are first scanned for a character every match holds (see
// MayHoldAMatch); in longer ones the library's own scan for it is as quick.
inline constexpr size_t kPrefilterUnits = 0x1000;
// The finder's answer when the next match depends on text beyond the piece (not a library code).
inline constexpr int kNeedsMore = -1000;

template <typename CharT>
struct MatchFinder {
    static constexpr bool kWide = sizeof(CharT) == 2;

    const CharT* text;
    size_t length;
    SearchContext& context;
    FileState& file;

    const CompiledExpression& compiled = context.Compiled;
    // The forms the library calls use: the compiled expression's own, or for a while its
    // start-free variant (see FindAfterStart).
    const CompiledExpression* forms = &compiled;
    const Settings& settings = context.JobSettings;
    ResultState& result = context.Result;
    bool abort = false; // the host asked to stop
    // Writing out the results found so far failed (see Progress): nothing more is written.
    bool writeFailed = false;
    int* ov = context.Result.OutputVector.data();
    bool utf8 = !kWide && file.IsUtf8;
    size_t slice = Slices().First;
    // The clock's reading after the last sliced search: the next slice's time is taken from it,
    // one reading a slice (a dense search, one match a slice, would otherwise pay for two). The
    // time between two searches counts to the later slice, which at worst makes it smaller.
    std::optional<uint32_t> sliceClock = std::nullopt;
    // The last sliced search's reading is the time of the match it returned, for the progress
    // check after that match (see Progress): one reading a match instead of two.
    bool clockFresh = false;
    // The slice end of the search that returned the last match, within the first `reusedLimit`
    // units: the search for the next match, which starts after it, ends its first slice there
    // too while that leaves a fair part of a slice (a slice end is a place where any search may be
    // cut; finding it afresh for every match looked at text a slice ahead each time).
    size_t reusedEnd = 0;
    size_t reusedLimit = 0;
    // The text goes on beyond this piece (see FileState::MoreFollows); cleared when the piece's
    // end must be taken for the text's end after all.
    bool moreFollows = file.MoreFollows;
    // The start of the last search that went up to the piece's end, and, once a search needed the
    // text beyond, the position the search must be taken up again from.
    size_t lastExecStart = 0;
    size_t resumeAt = 0;
    // The line the line search found last: [knownLineStart, knownLineEnd), its end being the
    // offset of its line break (or the text's end). Matches after the first on a long line reuse
    // it instead of looking for the line's end again.
    size_t knownLineStart = SIZE_MAX;
    size_t knownLineEnd = 0;

    // One call of the library over the first `end` units of the text. An interpreter search that
    // ran out of recursion on this thread's stack runs again on a larger one. When the file's text
    // goes on beyond this piece, a search up to the piece's end stops at the first attempt that
    // needs what follows (see NeedsMore).
    int Exec(size_t start, int options, size_t end) {
        clockFresh = false;
        if (end > static_cast<size_t>(INT_MAX)) return PCRE_ERROR_BADLENGTH;
        if (end == length && moreFollows) {
            options |= PCRE_PARTIAL_HARD;
            lastExecStart = start;
        }
        if (HasLiteral(options)) {
            // No attempt before the literal's next occurrence can match; where it does not occur
            // in full, only an attempt on a rest of it at the end can run into the end.
            const size_t at = NextLiteral(start, end);
            if (at != SIZE_MAX)
                start = at;
            else if ((options & PCRE_PARTIAL_HARD) == 0)
                return PCRE_ERROR_NOMATCH;
            else
                start = CharacterStart(start, end - std::min(end - start, LiteralSize() - 1));
        }
        const int count = static_cast<int>(end);
        const int from = static_cast<int>(start);
        if constexpr (kWide) {
            if (!forms->Utf16Code) return PCRE_ERROR_NULL;
            const auto* units = reinterpret_cast<PCRE_SPTR16>(text);
            const int rc = pcre16_exec(forms->Utf16Code.get(), forms->Utf16Extra.get(), units,
                                       count, from, options, ov, kOutputVectorSize);
            if (rc != PCRE_ERROR_RECURSIONLIMIT) return rc;
            return ExecDeep(forms->Utf16Code.get(), forms->Utf16Extra.get(), units, count, from,
                            options, ov, kOutputVectorSize);
        } else {
            const pcre* code = utf8 ? forms->Utf8Code.get() : forms->AnsiCode.get();
            const pcre_extra* extra = utf8 ? forms->Utf8Extra.get() : forms->AnsiExtra.get();
            if (code == nullptr) return PCRE_ERROR_NULL;
            const int rc =
                pcre_exec(code, extra, text, count, from, options, ov, kOutputVectorSize);
            if (rc != PCRE_ERROR_RECURSIONLIMIT) return rc;
            return ExecDeep(code, extra, text, count, from, options, ov, kOutputVectorSize);
        }
    }
    int Exec(size_t start, int options) { return Exec(start, options, length); }

    // Whether a search with these options may go straight to the literal every match starts
    // with. Searches that must start at their start position (retries after an empty match) may
    // not, nor may a search of UTF text not yet checked: the library's check of the whole text
    // has the first word.
    bool HasLiteral(int options) const {
        constexpr int kAtStart = PCRE_ANCHORED | PCRE_NOTEMPTY_ATSTART | PCRE_NOTEMPTY;
        if ((options & kAtStart) != 0) return false;
        if ((kWide || utf8) && (options & static_cast<int>(kNoUtfCheck)) == 0) return false;
        return !Literal().Text.empty();
    }
    const LiteralStart<CharT>& Literal() const {
        if constexpr (kWide)
            return forms->Utf16Literal;
        else
            return utf8 ? forms->Utf8Literal : forms->AnsiLiteral;
    }
    size_t LiteralSize() const { return Literal().Text.size(); }

    static bool IsLetter(CharT c) {
        return (c >= CharT('a') && c <= CharT('z')) || (c >= CharT('A') && c <= CharT('Z'));
    }
    static bool SameCharacter(CharT text, CharT literal, bool caseless) {
        return text == literal ||
               (caseless && IsLetter(literal) && (text ^ CharT(0x20)) == literal);
    }

    // The first position in [from, end) where the whole literal stands, or SIZE_MAX. The scan
    // looks for its two rarest characters at their distance (in both cases when a letter of a
    // caseless search; its one character when it has one) and compares the rest where they
    // stand. In UTF-16 it looks at the units' low bytes.
    size_t NextLiteral(size_t from, size_t end) const {
        const LiteralStart<CharT>& literal = Literal();
        const size_t size = literal.Text.size();
        if (end - from < size) return SIZE_MAX;
        const size_t lead = std::min(literal.Probe, literal.Partner);
        const size_t trail = std::max(literal.Probe, literal.Partner);
        const auto byteOf = [&](size_t i) { return static_cast<unsigned char>(literal.Text[i]); };
        const auto foldOf = [&](size_t i) {
            return static_cast<unsigned char>(literal.Caseless && IsLetter(literal.Text[i]) ? 0x20
                                                                                            : 0);
        };
        const BytePair pair{static_cast<unsigned char>(byteOf(lead) | foldOf(lead)), foldOf(lead),
                            static_cast<unsigned char>(byteOf(trail) | foldOf(trail)),
                            foldOf(trail), (trail - lead) * sizeof(CharT)};
        const auto* bytes = reinterpret_cast<const unsigned char*>(text);
        // Bytes in which the lead character may stand: it is at `lead` of a candidate in
        // [from, end - size]; the trailing one, `Gap` bytes on, stays within the text.
        size_t scan = (from + lead) * sizeof(CharT);
        const size_t scanEnd = (end - size + lead + 1) * sizeof(CharT);
        while (scan < scanEnd) {
            const size_t byte = lead == trail ? NextEitherByte(bytes, scan, scanEnd, pair.First,
                                                               pair.First ^ pair.FirstFold)
                                              : NextBytePair(bytes, scan, scanEnd, pair);
            if (byte == scanEnd) return SIZE_MAX;
            scan = byte + 1;
            // In UTF-16 only a unit's low byte starts a candidate.
            if (kWide && byte % sizeof(CharT) != 0) continue;
            const size_t at = byte / sizeof(CharT) - lead;
            size_t i = 0;
            while (i < size && SameCharacter(text[at + i], literal.Text[i], literal.Caseless)) ++i;
            if (i == size) return at;
        }
        return SIZE_MAX;
    }
    // `at`, or the start of the character it is inside of (not before `floor`).
    size_t CharacterStart(size_t floor, size_t at) const {
        if constexpr (kWide) {
            if (at > floor && platform::IsLowSurrogate(text[at])) --at;
        } else if (utf8) {
            while (at > floor && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
        }
        return at;
    }

    // Where a slice that should end near `end` may end: never inside a character and never right
    // after a line break (nor between its CR and LF), so that the next slice starts where a search
    // of the whole text could start too, and `$` and `\Z` never take the slice's last line break
    // for the text's.
    // A slice that would hold nothing but line breaks ends after their run instead (`limit` when
    // the run reaches it), so that a text starting with many empty lines is still searched in
    // slices.
    size_t SliceEnd(size_t from, size_t end, size_t limit) const {
        const size_t wanted = end;
        for (;;) {
            if constexpr (kWide) {
                if (end > from && platform::IsLowSurrogate(text[end])) --end;
            } else if (utf8) {
                while (end > from && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
            }
            if (end <= from) break;
            if (!MayEndALine(text[end - 1])) return end;
            --end;
        }
        for (end = wanted; end < limit; ++end) {
            if constexpr (kWide) {
                if (platform::IsLowSurrogate(text[end])) continue;
            } else if (utf8) {
                if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) continue;
            }
            if (!MayEndALine(text[end - 1])) return end;
        }
        return limit;
    }
    // Units that end a line under some newline convention (CR, LF, VT, FF, NEL, LS, PS), or the
    // last byte of such a character in UTF-8.
    static bool MayEndALine(CharT c) {
        const auto u = static_cast<char16_t>(static_cast<std::make_unsigned_t<CharT>>(c));
        if (u >= 0x0A && u <= 0x0D) return true;
        if constexpr (kWide) return u == 0x85 || u == 0x2028 || u == 0x2029;
        return u == 0x85 || u == 0xA8 || u == 0xA9;
    }

    // The next match at or after `start`, as one call over the whole text would find it; when the
    // text goes on beyond this piece and the answer depends on what follows, kNeedsMore, with
    // `resumeAt` where the search must be taken up again.
    int Find(size_t start, int options) {
        const int rc = FindInPiece(start, options);
        if (!moreFollows) return rc;
        if (rc == PCRE_ERROR_PARTIAL)
            return NeedsMore(static_cast<size_t>(std::max(ov[2], 0)), start);
        // An empty match at the piece's end may hang on what follows (see FindInSlices).
        if (rc >= 0 && static_cast<size_t>(ov[0]) == length && static_cast<size_t>(ov[1]) == length)
            return NeedsMore(lastExecStart, start);
        return rc;
    }
    // Where a search that needs the text beyond the piece is taken up again: at the attempt that
    // needed it, which a whole search tries too; an expression that cannot be sliced (it treats
    // the search's start specially: \G, (*COMMIT), anchoring) goes on from the search's start.
    int NeedsMore(size_t attempt, size_t searchStart) {
        resumeAt = compiled.Sliceable ? std::clamp(attempt, searchStart, length) : searchStart;
        return kNeedsMore;
    }

    int FindInPiece(size_t start, int options) {
        // (Short texts, such as line mode's lines, gain nothing from it: the library rejects
        // them by its required character itself.)
        const bool byLine =
            compiled.LineConfined && Required() >= 0 && length - start >= Slices().LinesFrom;
        if (!byLine && compiled.StartFree && length - start > slice)
            return FindAfterStart(start, options);
        if (!byLine && (!compiled.Sliceable || length - start <= slice))
            return Exec(start, options);
        if ((kWide || utf8) && (options & static_cast<int>(kNoUtfCheck)) == 0) {
            // UTF text is checked whole, once, before any part of it is searched unchecked.
            const int rc = CheckWholeText(options);
            if (rc == PCRE_ERROR_BADUTF8 || rc == PCRE_ERROR_BADUTF8_OFFSET) return rc;
            options |= static_cast<int>(kNoUtfCheck);
        }
        return byLine ? FindInLines(start, options) : FindInSlices(start, options, length);
    }

    // A search of an expression with \G, which holds only at the search's start: the start is
    // tried alone, anchored; the positions after it, where \G cannot hold, are searched with the
    // start-free variant in slices. The expression has no verb that could move the next start,
    // so after a failed first attempt a whole search goes on one character later (over a CR LF
    // as one, unless the expression names a CR or an LF itself).
    int FindAfterStart(size_t start, int options) {
        const int rc = Exec(start, options | PCRE_ANCHORED);
        if (rc != PCRE_ERROR_NOMATCH || start >= length) return rc;
        size_t next = start + 1;
        int namesBreaks = 0;
        Info(PCRE_INFO_HASCRORLF, &namesBreaks);
        if constexpr (kWide) {
            if (next < length && platform::IsLowSurrogate(text[next])) ++next;
        } else if (utf8) {
            while (next < length && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
        }
        if (compiled.CrlfIsNewline && namesBreaks == 0 && text[start] == CharT('\r') &&
            next < length && text[next] == CharT('\n'))
            ++next;
        // The anchored attempt checked the whole text's encoding if it was asked to.
        forms = compiled.StartFree.get();
        if (kWide || utf8) options |= static_cast<int>(kNoUtfCheck);
        const int found = FindInSlices(next, options, length);
        forms = &compiled;
        return found;
    }

    // The library's verdict on the whole text's encoding. UTF-8 is checked by our own scan, which
    // passes ASCII eight bytes at a time where the library looks at each byte, and rejects what
    // the library rejects; for UTF-16 a library call at the text's end does the check and nothing
    // else worth the name.
    int CheckWholeText(int options) {
        if constexpr (!kWide)
            return IsValidUtf8(reinterpret_cast<const unsigned char*>(text), length)
                       ? 0
                       : PCRE_ERROR_BADUTF8;
        // The library's check of UTF-16 is about surrogates alone: text without any passes.
        if (!HoldsSurrogates(reinterpret_cast<const char16_t*>(text), length)) return 0;
        return Exec(length, options);
    }
    // The search of an expression whose matches lie within one line and hold a required
    // character: only the lines that hold that character (in either case, for a letter) can
    // hold a match, and each is searched up to and with its line break, which gives the
    // matches the whole text gives. Other lines cost a scan for one character, as in tools
    // that search line by line.
    int FindInLines(size_t start, int options) {
        const auto required = static_cast<CharT>(Required());
        const CharT otherCase = compiled.HeldInOneCase ? required : OtherCase(required);
        size_t from = start;
        while (from < length) {
            const size_t at = NextOf(from, required, otherCase);
            if (at == length) {
                if (!moreFollows) return PCRE_ERROR_NOMATCH;
                // The last line goes on in the text that follows, where the character may stand:
                // it is searched like any piece's end, so that a match that needs the text beyond
                // leaves its start open for the next piece.
                const size_t openLine = LineStart(from, length);
                return openLine == length ? PCRE_ERROR_NOMATCH
                                          : FindInSlices(openLine, options, length);
            }
            const size_t lineStart = LineStart(from, at);
            // Each unit is looked at once on the way to a line's end, however many matches the
            // line holds.
            if (at < knownLineStart || at >= knownLineEnd) {
                knownLineStart = lineStart;
                knownLineEnd = LineEnd(at);
            }
            const size_t lineEnd = knownLineEnd;
            const size_t end = std::min(lineEnd + 1, length);
            const int rc = FindInSlices(lineStart, options, end);
            if (rc != PCRE_ERROR_NOMATCH || abort) return rc;
            from = end;
            Progress();
            if (abort) return PCRE_ERROR_NOMATCH;
        }
        return PCRE_ERROR_NOMATCH;
    }

    // False when the text is short and lacks a character every match holds: it then holds no
    // match, and the library need not be called (line mode calls the loop once per line, and most
    // lines of a file lack what a search is after). Text whose first search checks its encoding
    // is passed over only where that check would pass.
    bool MayHoldAMatch() const {
        if (Held() < 0 || length > kPrefilterUnits || settings.SearchAndReplace || moreFollows)
            return true;
        if (kWide && file.CheckUtfOnFirstSearch) return true;
        if (NextHeld(0) != length) return true;
        if constexpr (!kWide) {
            if (utf8 && file.CheckUtfOnFirstSearch) {
                const auto* bytes = reinterpret_cast<const unsigned char*>(text);
                return AsciiPrefixLength(bytes, length) != length && !IsValidUtf8(bytes, length);
            }
        }
        return false;
    }

    // Line mode: the first unit at or after `from` that a match could lie on (where the literal
    // every match starts with stands next, or the character every match holds); `length` when
    // there is none, SIZE_MAX when the expression offers neither or UTF-16 text is left to the
    // library's check of each line. `wellFormed` tells whether the lines before it need no check
    // of their encoding (UTF-8 text is checked here, once for all of them).
    size_t NextPossibleMatch(size_t from, bool& wellFormed) {
        wellFormed = !file.CheckUtfOnFirstSearch;
        if (from >= length) return length;
        if (kWide && file.CheckUtfOnFirstSearch) return SIZE_MAX;
        size_t at = SIZE_MAX;
        if (!Literal().Text.empty()) {
            at = NextLiteral(from, length);
            if (at == SIZE_MAX) at = length;
        } else {
            if (Held() < 0) return SIZE_MAX;
            at = NextHeld(from);
        }
        if constexpr (!kWide) {
            if (utf8 && !wellFormed) {
                // Up to the last line break before it: a piece may end inside a character.
                const size_t end = LineStart(from, at);
                wellFormed =
                    IsValidUtf8(reinterpret_cast<const unsigned char*>(text + from), end - from);
            }
        }
        return at;
    }

    // The ASCII character every match of this form holds, else -1 (see CompiledExpression).
    int Held() const {
        if constexpr (kWide) return compiled.Utf16Held;
        return utf8 ? compiled.Utf8Held : compiled.AnsiHeld;
    }
    // Where the held character (in either case where the search is caseless) stands next at or
    // after `from`; `length` when nowhere.
    size_t NextHeld(size_t from) const {
        const auto c = static_cast<CharT>(Held());
        return NextOf(from, c, compiled.HeldInOneCase ? c : OtherCase(c));
    }

    int Required() const {
        if constexpr (kWide) return compiled.Utf16Required;
        return utf8 ? compiled.Utf8Required : compiled.AnsiRequired;
    }
    static CharT OtherCase(CharT c) {
        if (c >= CharT('a') && c <= CharT('z')) return static_cast<CharT>(c - 0x20);
        if (c >= CharT('A') && c <= CharT('Z')) return static_cast<CharT>(c + 0x20);
        return c;
    }
    static bool IsLineBreak(CharT c) { return c == CharT('\n') || c == CharT('\r'); }
    // The start of the line `at` stands on, not before `from`.
    size_t LineStart(size_t from, size_t at) const {
        if constexpr (kWide) {
            while (at > from && !IsLineBreak(text[at - 1])) --at;
            return at;
        } else {
            const size_t lastBreak =
                LastEitherByte(reinterpret_cast<const unsigned char*>(text), from, at, '\n', '\r');
            return lastBreak == at ? from : lastBreak + 1;
        }
    }
    // The line break that ends the line `at` stands on, or the text's end.
    size_t LineEnd(size_t at) const {
        if constexpr (kWide) {
            while (at < length && !IsLineBreak(text[at])) ++at;
            return at;
        } else {
            return NextEitherByte(reinterpret_cast<const unsigned char*>(text), at, length, '\n',
                                  '\r');
        }
    }
    // The first unit at or after `from` that is `a` or `b`; `length` when there is none.
    size_t NextOf(size_t from, CharT a, CharT b) const {
        if constexpr (!kWide)
            return NextEitherByte(reinterpret_cast<const unsigned char*>(text), from, length,
                                  static_cast<unsigned char>(a), static_cast<unsigned char>(b));
        while (from < length && text[from] != a && text[from] != b) ++from;
        return from;
    }

    // The next match at or after `start` within the first `limit` units, as one call over them
    // would find it. A search that finds nothing for a long time would keep the host from
    // hearing about a cancel until it ends, so a long text is searched in slices of start
    // positions: the library searches up to the slice's end in its partial mode, which stops the
    // moment any attempt looks at the end. A match found without looking there is the one the
    // whole text gives; none at all means no start position before the end matches; an attempt
    // that reached the end is taken up again in the next, larger slice. Slices adapt to the time
    // one takes, so that the host is asked about a cancel at least every few hundred
    // milliseconds, while cheap searches go on in slices too large for the cutting to cost
    // anything measurable. The text is valid (checked) when this runs.
    int FindInSlices(size_t start, int options, size_t limit) {
        if (!forms->Sliceable) return Exec(start, options, limit);
        bool reuse = reusedLimit == limit && reusedEnd > start && reusedEnd - start >= slice / 4 &&
                     reusedEnd - start <= slice;
        const size_t reused = std::exchange(reusedEnd, 0);
        while (limit - start > slice) {
            const size_t end =
                std::exchange(reuse, false) ? reused : SliceEnd(start, start + slice, limit);
            if (end >= limit) break;
            const size_t used = slice;
            const uint32_t began = sliceClock ? *sliceClock : platform::TickCount();
            const int rc = Exec(start, options | PCRE_PARTIAL_HARD, end);
            const uint32_t now = platform::TickCount();
            Adapt(now - began);
            sliceClock = now;
            // An empty match at the slice's end may come from an attempt that started there and
            // looked at nothing (the text beyond decides), or from an earlier one that \K left
            // there (it stands): which, the library does not say, so a larger slice tells.
            const bool atEnd =
                rc >= 0 && static_cast<size_t>(ov[0]) == end && static_cast<size_t>(ov[1]) == end;
            if (rc >= 0 && !atEnd) {
                reusedEnd = end;
                reusedLimit = limit;
                clockFresh = true;
                return rc;
            }
            if (rc != PCRE_ERROR_NOMATCH && rc != PCRE_ERROR_PARTIAL && !atEnd) return rc;
            size_t next = end;
            if (rc == PCRE_ERROR_PARTIAL) {
                // The attempt that reached the end started at the third offset (the first is
                // the earliest character it looked at, which a lookbehind or \b puts earlier): a
                // whole search would try that position next too, and none before it that a
                // (*SKIP) passed over.
                next = std::clamp(static_cast<size_t>(std::max(ov[2], 0)), start, end);
            } else if (atEnd) {
                next = start;
            }
            // An attempt from the slice's first position reached its end: only a larger slice
            // can tell, so it grows whatever the time was.
            if (next == start) slice = std::max(slice, std::min(used * 2, limit - start));
            start = next;
            Progress(now);
            if (abort) return PCRE_ERROR_NOMATCH;
        }
        return Exec(start, options, limit);
    }

    void Adapt(uint32_t elapsedMs) {
        const SearchSlices& bounds = Slices();
        if (elapsedMs > kSliceSlowMs)
            slice = std::max(slice / 2, bounds.Smallest);
        else if (elapsedMs < kSliceFastMs && slice < bounds.Largest)
            slice = std::min(slice * 2, bounds.Largest);
    }

    // Where the carried rest of a piece begins when the search goes on at `at` in the next piece:
    // far enough back that lookbehinds, \b and a multiline ^ at `at` still see the characters
    // before it, and on a character's start.
    size_t CarryStart(size_t at) const {
        int lookbehind = 0;
        Info(PCRE_INFO_MAXLOOKBEHIND, &lookbehind);
        // One character more for \b and a multiline ^, and one for a CR LF before a multiline ^.
        const size_t characters = static_cast<size_t>(std::max(lookbehind, 0)) + 2;
        const size_t units = characters * (kWide ? 2 : utf8 ? 4 : 1);
        size_t from = at > units ? at - units : 0;
        if constexpr (kWide) {
            if (from > 0 && platform::IsLowSurrogate(text[from])) --from;
        } else if (utf8) {
            while (from > 0 && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) --from;
        }
        return from;
    }

    // The expression is tried only at the search's start position.
    bool Anchored() const {
        unsigned long options = 0;
        Info(PCRE_INFO_OPTIONS, &options);
        return (options & PCRE_ANCHORED) != 0;
    }

    // What the library knows of the expression's form for this text.
    template <typename T>
    void Info(int what, T* value) const {
        if constexpr (kWide)
            pcre16_fullinfo(compiled.Utf16Code.get(), compiled.Utf16Extra.get(), what, value);
        else
            pcre_fullinfo(utf8 ? compiled.Utf8Code.get() : compiled.AnsiCode.get(),
                          utf8 ? compiled.Utf8Extra.get() : compiled.AnsiExtra.get(), what, value);
    }

    int BaseOptions() const {
        if constexpr (kWide) return static_cast<int>(compiled.Utf16ExecOptions);
        return static_cast<int>(utf8 ? compiled.Utf8ExecOptions : compiled.AnsiExecOptions);
    }

    // Where the search goes on after an empty match at `at` that could not be extended.
    size_t Advance(size_t at) const {
        if (compiled.CrlfIsNewline && at + 1 < length && text[at] == CharT('\r') &&
            text[at + 1] == CharT('\n'))
            return at + 2;
        size_t next = at + 1;
        if constexpr (kWide) {
            if (next < length && platform::IsLowSurrogate(text[next])) ++next;
        } else if (utf8) {
            while (next < length && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
        }
        return next;
    }

    // Asks the host whether to go on when the last question (or the start of the job) lies more
    // than the interval back. One clock for the whole job: line mode runs the loop once per line,
    // and a clock started at each run would cost two readings per line.
    void Progress() {
        const bool fresh = std::exchange(clockFresh, false);
        Progress(fresh ? *sliceClock : platform::TickCount());
    }
    void Progress(uint32_t now) {
        if (!FlushWhenDue(context, now)) writeFailed = true;
        if (!result.ProgressClockStarted) {
            result.ProgressClockStarted = true;
            result.LastProgressTick = now;
            return;
        }
        if (now - result.LastProgressTick <= kProgressIntervalMs) return;
        if (!context.KeepGoing(file.FileName, 0)) abort = true;
        result.LastProgressTick = platform::TickCount();
    }
};

} // namespace gleanery::detail
