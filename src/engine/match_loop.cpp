#include "engine/match_loop.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <type_traits>

#include "engine/deep_search.h"
#include "engine/utf8_validity.h"
#include "platform/codepage.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace gleanery {

namespace {

constexpr int kOutputVectorSize = 300;
constexpr int kRetryOptions = PCRE_NOTEMPTY_ATSTART | PCRE_ANCHORED; // 0x10000010
constexpr uint32_t kProgressIntervalMs = 500;
// A slice of a long search that took longer than this is halved, one quicker than the other
// doubled (within the bounds of SearchSlices).
constexpr uint32_t kSliceSlowMs = 100;
constexpr uint32_t kSliceFastMs = 20;
// Units byte-swapped at a time when UTF-16 output goes in the other byte order.
constexpr size_t kSwapChunkUnits = 0x8000;
// Texts up to this many units are first scanned for a character every match holds (see
// MayHoldAMatch); in longer ones the library's own scan for it is as quick.
constexpr size_t kPrefilterUnits = 0x1000;

// Output of one call of the loop: everything goes through the run's buffer, which is written
// whenever it holds more than kFlushThreshold bytes; once a write failed nothing more is written.
struct Writer {
    SearchContext& context;
    ResultState& result = context.Result;
    bool ok = true;

    // Called before every piece is appended.
    bool Room() {
        if (ok && result.OutputBuffer.size() > kFlushThreshold)
            ok = FlushOutput(context.Output, result);
        return ok;
    }
    void Small(const char* p, size_t n) {
        if (Room()) result.OutputBuffer.append(p, n);
    }
    void Small(std::string_view s) { Small(s.data(), s.size()); }
    // Matched or copied text: a piece too big for the buffer goes to the file directly.
    void Text(const char* p, size_t n) {
        if (!Room() || n == 0) return;
        if (n > kFlushThreshold) {
            ok = FlushOutput(context.Output, result);
            if (ok) ok = context.Output.Write(context.Output.Target, p, n);
            return;
        }
        result.OutputBuffer.append(p, n);
    }
    // UTF-16 units in the machine's order, written in the file's order.
    void Units(const char16_t* p, size_t n, bool swap) {
        if (!swap) {
            Text(reinterpret_cast<const char*>(p), n * 2);
            return;
        }
        while (n > 0 && Room()) {
            const size_t chunk = std::min(n, kSwapChunkUnits);
            std::string& buffer = result.OutputBuffer;
            size_t at = buffer.size();
            buffer.resize(at + chunk * 2);
            char* q = buffer.data() + at;
            for (size_t i = 0; i < chunk; ++i) {
                const char16_t u = p[i];
                const char* bytes = reinterpret_cast<const char*>(&u);
                *q++ = bytes[1];
                *q++ = bytes[0];
            }
            p += chunk;
            n -= chunk;
        }
    }
    void Unit(char16_t u, bool swap) { Units(&u, 1, swap); }
};

// The library stopped the search before it had an answer.
bool IsLimit(int rc) {
    return rc == PCRE_ERROR_MATCHLIMIT || rc == PCRE_ERROR_RECURSIONLIMIT ||
           rc == PCRE_ERROR_JIT_STACKLIMIT || rc == PCRE_ERROR_NOMEMORY;
}

std::u16string_view NameOnly(const std::u16string& path) {
    size_t cut = path.find_last_of(u"\\/");
    return cut == std::u16string::npos ? std::u16string_view(path)
                                       : std::u16string_view(path).substr(cut + 1);
}

// Everything one call of the loop needs, for 8-bit text (char) or UTF-16 text (char16_t).
template <typename CharT>
struct Loop {
    static constexpr bool kWide = sizeof(CharT) == 2;

    const CharT* text;
    size_t length;
    SearchContext& context;
    FileState& file;
    Writer out{context};

    const CompiledExpression& compiled = context.Compiled;
    const Settings& settings = context.JobSettings;
    ResultState& result = context.Result;
    bool abort = false; // the host asked to stop
    int* ov = file.OutputVector.data();
    bool utf8 = !kWide && file.IsUtf8;
    bool swap = kWide && file.IsBigEndian != platform::kHostIsBigEndian;
    size_t copyPos = 0;
    size_t slice = detail::Slices().First;
    bool limitHit = false;

    // One call of the library over the first `end` units of the text. An interpreter search that
    // ran out of recursion on this thread's stack runs again on a larger one.
    int Exec(size_t start, int options, size_t end) {
        if (end > static_cast<size_t>(INT_MAX)) return PCRE_ERROR_BADLENGTH;
        const int count = static_cast<int>(end);
        const int from = static_cast<int>(start);
        if constexpr (kWide) {
            if (!compiled.Utf16Code) return PCRE_ERROR_NULL;
            const auto* units = reinterpret_cast<PCRE_SPTR16>(text);
            const int rc = pcre16_exec(compiled.Utf16Code.get(), compiled.Utf16Extra.get(), units,
                                       count, from, options, ov, kOutputVectorSize);
            if (rc != PCRE_ERROR_RECURSIONLIMIT) return rc;
            return ExecDeep(compiled.Utf16Code.get(), compiled.Utf16Extra.get(), units, count, from,
                            options, ov, kOutputVectorSize);
        } else {
            const pcre* code = utf8 ? compiled.Utf8Code.get() : compiled.AnsiCode.get();
            const pcre_extra* extra = utf8 ? compiled.Utf8Extra.get() : compiled.AnsiExtra.get();
            if (code == nullptr) return PCRE_ERROR_NULL;
            const int rc =
                pcre_exec(code, extra, text, count, from, options, ov, kOutputVectorSize);
            if (rc != PCRE_ERROR_RECURSIONLIMIT) return rc;
            return ExecDeep(code, extra, text, count, from, options, ov, kOutputVectorSize);
        }
    }
    int Exec(size_t start, int options) { return Exec(start, options, length); }

    // Where a slice that should end near `end` may end: never inside a character and never right
    // after a line break (nor between its CR and LF), so that the next slice starts where a search
    // of the whole text could start too, and `$` and `\Z` never take the slice's last line break
    // for the text's.
    size_t SliceEnd(size_t from, size_t end) const {
        for (;;) {
            if constexpr (kWide) {
                if (end > from && platform::IsLowSurrogate(text[end])) --end;
            } else if (utf8) {
                while (end > from && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
            }
            if (end <= from || !MayEndALine(text[end - 1])) return end;
            --end;
        }
    }
    // Units that end a line under some newline convention (CR, LF, VT, FF, NEL, LS, PS), or the
    // last byte of such a character in UTF-8.
    static bool MayEndALine(CharT c) {
        const auto u = static_cast<char16_t>(static_cast<std::make_unsigned_t<CharT>>(c));
        if (u >= 0x0A && u <= 0x0D) return true;
        if constexpr (kWide) return u == 0x85 || u == 0x2028 || u == 0x2029;
        return u == 0x85 || u == 0xA8 || u == 0xA9;
    }

    // The next match at or after `start`, as one call over the whole text would find it.
    int Find(size_t start, int options) {
        // (Short texts, such as line mode's lines, gain nothing from it: the library rejects
        // them by its required character itself.)
        const bool byLine = compiled.LineConfined && Required() >= 0 &&
                            length - start >= detail::Slices().LinesFrom;
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

    // The library's verdict on the whole text's encoding. UTF-8 is checked by our own scan, which
    // passes ASCII eight bytes at a time where the library looks at each byte, and rejects what
    // the library rejects; for UTF-16 a library call at the text's end does the check and nothing
    // else worth the name.
    int CheckWholeText(int options) {
        if constexpr (!kWide)
            return IsValidUtf8(reinterpret_cast<const unsigned char*>(text), length)
                       ? 0
                       : PCRE_ERROR_BADUTF8;
        return Exec(length, options);
    }

    // The search of an expression whose matches lie within one line and hold a required
    // character: only the lines that hold that character (in either case, for a letter) can
    // hold a match, and each is searched up to and with its line break, which gives the
    // matches the whole text gives. Other lines cost a scan for one character, as in tools
    // that search line by line.
    int FindInLines(size_t start, int options) {
        const auto required = static_cast<CharT>(Required());
        const CharT otherCase = OtherCase(required);
        size_t from = start;
        while (from < length) {
            const size_t at = NextOf(from, required, otherCase);
            if (at == length) return PCRE_ERROR_NOMATCH;
            size_t lineStart = at;
            while (lineStart > from && !IsLineBreak(text[lineStart - 1])) --lineStart;
            size_t lineEnd = at;
            while (lineEnd < length && !IsLineBreak(text[lineEnd])) ++lineEnd;
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
        int held = -1;
        if constexpr (kWide)
            held = compiled.Utf16Held;
        else
            held = utf8 ? compiled.Utf8Held : compiled.AnsiHeld;
        if (held < 0 || length > kPrefilterUnits || settings.SearchAndReplace) return true;
        if (kWide && file.CheckUtfOnFirstSearch) return true;
        const auto c = static_cast<CharT>(held);
        if (NextOf(0, c, compiled.HeldInOneCase ? c : OtherCase(c)) != length) return true;
        if constexpr (!kWide) {
            if (utf8 && file.CheckUtfOnFirstSearch) {
                const auto* bytes = reinterpret_cast<const unsigned char*>(text);
                return AsciiPrefixLength(bytes, length) != length && !IsValidUtf8(bytes, length);
            }
        }
        return false;
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
    // The first unit at or after `from` that is `a` or `b`; `length` when there is none.
    size_t NextOf(size_t from, CharT a, CharT b) const {
        if constexpr (!kWide) {
            if (a == b) {
                const void* hit = std::memchr(text + from, a, length - from);
                return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text) : length;
            }
        }
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
        if (!compiled.Sliceable) return Exec(start, options, limit);
        while (limit - start > slice) {
            const size_t end = SliceEnd(start, start + slice);
            if (end <= start) break;
            const size_t used = slice;
            const uint32_t began = platform::TickCount();
            const int rc = Exec(start, options | PCRE_PARTIAL_HARD, end);
            Adapt(platform::TickCount() - began);
            // An empty match at the slice's end looked at nothing: the text beyond decides.
            const bool atEnd = rc >= 0 && static_cast<size_t>(ov[0]) == end;
            if (rc >= 0 && !atEnd) return rc;
            if (rc != PCRE_ERROR_NOMATCH && rc != PCRE_ERROR_PARTIAL && !atEnd) return rc;
            size_t next = end;
            if (rc == PCRE_ERROR_PARTIAL) {
                next = std::max(start, static_cast<size_t>(std::max(ov[0], 0)));
                // An attempt from the slice's first position reached its end: only a larger
                // slice can tell, so it grows whatever the time was.
                if (next == start) slice = std::max(slice, std::min(used * 2, limit));
            }
            start = next;
            Progress();
            if (abort) return PCRE_ERROR_NOMATCH;
        }
        return Exec(start, options, limit);
    }

    void Adapt(uint32_t elapsedMs) {
        const SearchSlices& bounds = detail::Slices();
        if (elapsedMs > kSliceSlowMs)
            slice = std::max(slice / 2, bounds.Smallest);
        else if (elapsedMs < kSliceFastMs && slice < bounds.Largest)
            slice = std::min(slice * 2, bounds.Largest);
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
        const uint32_t now = platform::TickCount();
        if (!result.ProgressClockStarted) {
            result.ProgressClockStarted = true;
            result.LastProgressTick = now;
            return;
        }
        if (now - result.LastProgressTick <= kProgressIntervalMs) return;
        if (!context.KeepGoing(file.FileName, 0)) abort = true;
        result.LastProgressTick = platform::TickCount();
    }

    // Group n as offsets into the text; false when it is unset.
    bool Group(int n, size_t& start, size_t& end) const {
        const int s = ov[2 * n];
        const int e = ov[2 * n + 1];
        if (s < 0 || e <= s) return false;
        start = static_cast<size_t>(s);
        end = static_cast<size_t>(e);
        return true;
    }

    uint64_t Hash(size_t s, size_t e) {
        uint64_t h = MatchHash(nullptr, 0);
        if constexpr (kWide) {
            const char16_t* p = text + s;
            size_t n = e - s;
            while (n > 0) {
                size_t piece = NextUnitPiece(p, n, kHashUnitPieceLimit);
                if (piece == 0) break;
                result.HashScratch.clear();
                platform::AppendUtf16AsUtf8(std::u16string_view(p, piece), result.HashScratch);
                h = MatchHash(result.HashScratch.data(), result.HashScratch.size(), h);
                p += piece;
                n -= piece;
            }
        } else if (utf8 || settings.BinaryMode) {
            h = MatchHash(text + s, e - s, h);
        } else {
            const char* p = text + s;
            size_t n = e - s;
            if (result.Conversion.AsciiIdentity) {
                // Leading bytes below 0x80 are their own UTF-8 form (they never lead or, at the
                // start of the text, trail a double-byte character): hashed where they lie.
                const size_t ascii =
                    AsciiPrefixLength(reinterpret_cast<const unsigned char*>(p), n);
                h = MatchHash(p, ascii, h);
                p += ascii;
                n -= ascii;
            }
            while (n > 0) {
                size_t piece = NextBytePiece(result.Conversion, p, n);
                result.HashScratch.clear();
                AppendBytePieceAsUtf8(result.Conversion, p, piece, result.HashScratch);
                h = MatchHash(result.HashScratch.data(), result.HashScratch.size(), h);
                p += piece;
                n -= piece;
            }
        }
        return h;
    }

    void Copy(size_t from, size_t to) {
        if (to <= from) return;
        if constexpr (kWide)
            out.Units(text + from, to - from, swap);
        else
            out.Text(text + from, to - from);
    }

    // Texts that binary mode (and search-and-replace on code-page text) keep in the code page.
    bool CodePageForms() const {
        return !kWide && (settings.BinaryMode || (settings.SearchAndReplace && !file.IsUtf8));
    }
    bool WideForms() const { return kWide && settings.SearchAndReplace; }

    void Name(std::u16string_view name, bool codePage) {
        if (!out.Room()) return;
        if (codePage)
            platform::AppendWideAsCodePage(static_cast<uint32_t>(settings.CodePage), name,
                                           settings.DefaultCharacter, result.OutputBuffer);
        else
            platform::AppendUtf16AsUtf8(name, result.OutputBuffer);
    }

    void GroupText(size_t s, size_t e) {
        if constexpr (kWide) {
            if (settings.SearchAndReplace) {
                out.Units(text + s, e - s, swap);
                return;
            }
            const char16_t* p = text + s;
            size_t n = e - s;
            while (n > 0 && out.Room()) {
                size_t piece = NextUnitPiece(p, n, kOutputUnitPieceLimit);
                if (piece == 0) break;
                platform::AppendUtf16AsUtf8(std::u16string_view(p, piece), result.OutputBuffer);
                p += piece;
                n -= piece;
            }
        } else {
            if (utf8 || settings.BinaryMode || settings.SearchAndReplace) {
                out.Text(text + s, e - s);
                return;
            }
            const char* p = text + s;
            size_t n = e - s;
            while (n > 0 && out.Room()) {
                size_t piece = NextBytePiece(result.Conversion, p, n);
                AppendBytePieceAsUtf8(result.Conversion, p, piece, result.OutputBuffer);
                p += piece;
                n -= piece;
            }
        }
    }

    void Counter(uint64_t value, int digits) {
        char buffer[32];
        char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        size_t n = static_cast<size_t>(end - buffer);
        size_t width = digits > 0 ? static_cast<size_t>(digits) + 1 : 0;
        char text8[64];
        size_t k = 0;
        for (; n + k < width; ++k) text8[k] = '0';
        std::copy(buffer, end, text8 + k);
        k += n;
        if (WideForms()) {
            char16_t units[64];
            for (size_t i = 0; i < k; ++i) units[i] = static_cast<char16_t>(text8[i]);
            out.Units(units, k, swap);
        } else {
            out.Small(text8, k);
        }
    }

    void Items() {
        const ReplacementTemplate& tmpl = result.Template;
        for (size_t k = 0; k < tmpl.ItemCodes.size() && out.ok; ++k) {
            const int32_t code = tmpl.ItemCodes[k];
            if (IsGroupItem(code)) {
                const int n = GroupOf(code);
                if (n > compiled.CaptureCount || 2 * n + 1 >= kOutputVectorSize * 2 / 3) continue;
                size_t s = 0;
                size_t e = 0;
                if (Group(n, s, e)) GroupText(s, e);
            } else if (code <= 0xFF) {
                if (WideForms())
                    out.Unit(static_cast<char16_t>(code), swap);
                else {
                    const char byte = static_cast<char>(code);
                    out.Small(&byte, 1);
                }
            } else if (code == kItemLiteral) {
                if (WideForms())
                    out.Units(tmpl.LiteralWide[k].data(), tmpl.LiteralWide[k].size(), swap);
                else
                    out.Small(CodePageForms() ? tmpl.LiteralCodePage[k] : tmpl.LiteralUtf8[k]);
            } else if (code == kItemFileName || code == kItemPathAndFileName) {
                std::u16string_view name = code == kItemFileName
                                               ? NameOnly(file.FileName)
                                               : std::u16string_view(file.FileName);
                if (WideForms())
                    out.Units(name.data(), name.size(), swap);
                else
                    Name(name, CodePageForms());
            } else if (code >= kItemCounterFromZero && code <= kItemCounterFromZero + 9) {
                Counter(result.MatchCount, code - kItemCounterFromZero);
            } else if (code >= kItemCounterFromOne && code <= kItemCounterFromOne + 9) {
                Counter(result.MatchCount + 1, code - kItemCounterFromOne);
            } else {
                continue; // not an item code
            }
            ++result.ItemsWritten;
        }
    }

    void Report() {
        size_t start = 0;
        size_t end = 0;
        const bool hasText = Group(0, start, end);
        if (settings.NoDuplicates) {
            const uint64_t h = hasText ? Hash(start, end) : MatchHash(nullptr, 0);
            if (!result.SeenHashes.insert(h).second) {
                ++result.DuplicateCount;
                return;
            }
        }
        if (result.MatchCount == 0 && settings.WriteBom && !result.BomWritten) {
            out.Small("\xEF\xBB\xBF", 3);
            result.BomWritten = true;
        } else if (result.MatchCount != 0 && !settings.SearchAndReplace &&
                   !(result.ItemsWritten == 0 && result.Template.MissingGroupCount > 0)) {
            out.Small("\r\n", 2);
        }
        if (settings.SearchAndReplace) {
            // A match can reach back before the end of the previous one (\K in a lookbehind) or
            // end before its start (\K in a lookahead): copy each input unit at most once.
            const size_t matchStart = static_cast<size_t>(std::max(ov[0], 0));
            const size_t matchEnd = std::max(matchStart, static_cast<size_t>(std::max(ov[1], 0)));
            Copy(copyPos, matchStart);
            copyPos = std::max(copyPos, matchEnd);
        }
        result.ItemsWritten = 0;
        if (!out.ok) return;
        if (settings.LineMode) {
            if (!result.FileHeaderWritten) {
                out.Small(">>>> \"", 6);
                Name(file.FileName, settings.BinaryMode);
                out.Small("\":\r\n", 4);
                result.FileHeaderWritten = true;
            }
            if (!file.LineHeaderWritten) {
                char header[48] = ">> Line ";
                char* p = std::to_chars(header + 8, header + 40, result.PartsInFile).ptr;
                *p++ = ':';
                *p++ = '\r';
                *p++ = '\n';
                out.Small(header, static_cast<size_t>(p - header));
                file.LineHeaderWritten = true;
            }
        }
        Items();
        if (out.ok) ++result.MatchCount;
    }

    SearchStatus Run() {
        if (result.PartsInFile == 0) result.FileHeaderWritten = false;
        if (!file.ContinuesLine || result.PartsInFile == 0) {
            ++result.PartsInFile;
            file.LineHeaderWritten = false;
        }
        if (!MayHoldAMatch()) return SearchStatus::GoOn;
        if constexpr (!kWide)
            PrepareCodePageText(result.Conversion, static_cast<uint32_t>(settings.CodePage));

        const int base = BaseOptions();
        const bool checkFirst = (kWide || utf8) && file.CheckUtfOnFirstSearch;
        const int groupInts = 2 * std::clamp(compiled.CaptureCount + 1, 1, 100);
        int saved[200];
        bool firstSearch = true;
        size_t pos = 0;

        while (!abort) {
            int options = base;
            if (firstSearch && checkFirst) options &= ~static_cast<int>(kNoUtfCheck);
            firstSearch = false;

            int rc = Find(pos, options);
            size_t next = rc >= 0 ? static_cast<size_t>(ov[1]) : pos;
            if (rc >= 0 && ov[0] == ov[1]) {
                const size_t at = static_cast<size_t>(ov[0]);
                if (length > 0 && at == length) break;
                if (settings.EmptyValid) std::copy(ov, ov + groupInts, saved);
                const int retry = Exec(at, base | kRetryOptions);
                if (retry != PCRE_ERROR_NOMATCH) {
                    rc = retry;
                    next = rc >= 0 ? static_cast<size_t>(ov[1]) : pos;
                } else {
                    next = Advance(at);
                    if (!settings.EmptyValid) {
                        // On an empty text there is nowhere to advance to.
                        if (next > length) break;
                        pos = next;
                        // A long run of unreported empty matches still lets the host cancel.
                        Progress();
                        continue;
                    }
                    std::copy(saved, saved + groupInts, ov);
                }
            }
            if (rc < 0) {
                if (rc == PCRE_ERROR_BADUTF8 || rc == PCRE_ERROR_BADUTF8_OFFSET)
                    file.BadEncoding = true; // same values as the UTF-16 errors
                if (IsLimit(rc)) {
                    limitHit = true;
                    file.EndedEarly = true;
                    ++result.PartsEndedEarly;
                }
                if (rc == PCRE_ERROR_NULL) file.NotCompiled = true;
                Progress();
                break;
            }
            if (ov[0] != ov[1] || settings.EmptyValid) Report();
            if (!out.ok) break;
            Progress();
            // A match that ends where the search started (possible only through \K) must not
            // be found again and again.
            if (next <= pos && ov[0] != ov[1]) next = Advance(pos);
            // After an empty match on an empty text, or at the end: nothing more to find.
            if (next > length) break;
            pos = next;
        }

        if (settings.SearchAndReplace && out.ok && !abort) Copy(copyPos, length);
        if (!out.ok) return SearchStatus::WriteFailed;
        if (abort) return SearchStatus::Cancelled;
        return limitHit ? SearchStatus::LimitHit : SearchStatus::GoOn;
    }
};

} // namespace

SearchStatus SearchBytes(const char* text, size_t length, SearchContext& context, FileState& file) {
    return Loop<char>{text, length, context, file}.Run();
}

SearchStatus SearchUnits(const char16_t* text, size_t length, SearchContext& context,
                         FileState& file) {
    return Loop<char16_t>{text, length, context, file}.Run();
}

namespace detail {
SearchSlices& Slices() {
    static SearchSlices slices;
    return slices;
}
} // namespace detail

uint64_t MatchHash(const char* bytes, size_t length, uint64_t h) {
    for (size_t i = 0; i < length; ++i) {
        const uint64_t b =
            static_cast<uint64_t>(static_cast<int64_t>(static_cast<int8_t>(bytes[i])));
        const uint64_t x = (h ^ b) * 0x106CC0001B3ULL;
        const uint64_t y = (x ^ (x >> 14)) * 0x41ULL;
        h = (y ^ (y >> 34)) * 0x401ULL;
    }
    return h;
}

} // namespace gleanery
