#include "engine/match_loop.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <type_traits>

#include "engine/match_finder.h"
#include "platform/codepage.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace gleanery {

namespace {

using detail::kOutputVectorSize;
constexpr int kRetryOptions = PCRE_NOTEMPTY_ATSTART | PCRE_ANCHORED; // 0x10000010
// Units byte-swapped at a time when UTF-16 output goes in the other byte order.
constexpr size_t kSwapChunkUnits = 0x8000;

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
            result.BytesWritten += n;
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
    detail::MatchFinder<CharT> finder{text, length, context, file};
    bool& abort = finder.abort; // the host asked to stop
    int* ov = context.Result.OutputVector.data();
    bool utf8 = !kWide && file.IsUtf8;
    bool swap = kWide && file.IsBigEndian != platform::kHostIsBigEndian;
    size_t copyPos = 0;
    // Search and replace copies the text up to here at the end (less than the length when the
    // rest is carried into the next piece).
    size_t copyEnd = length;
    // The piece as the reader gave it: line breaks at its end are left to the next piece when
    // more follows (see SearchPiece), and the reader carries them too.
    size_t pieceLength = length;
    bool limitHit = false;

    void Progress() {
        finder.Progress();
        if (finder.writeFailed) out.ok = false;
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

    void Counter(uint64_t matchesBefore, int32_t code) {
        char text8[64];
        const size_t k = CounterText(matchesBefore, code, text8);
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
            } else if (IsCounterItem(code)) {
                if (result.Records.On) {
                    result.Records.Counters.push_back(
                        {result.BytesWritten + result.OutputBuffer.size(), code});
                    ++result.Records.CountersMade;
                } else {
                    Counter(result.MatchCount, code);
                }
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
        uint64_t hash = 0;
        if (settings.NoDuplicates) {
            hash = hasText ? Hash(start, end) : MatchHash(nullptr, 0);
            if (!result.Records.On && !result.SeenHashes.insert(hash).second) {
                ++result.DuplicateCount;
                return;
            }
        }
        if (result.Records.On) {
            Record(hash);
            return;
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
            if (!result.FileHeaderWritten && out.Room()) {
                AppendFileHeader(result.OutputBuffer, file.FileName, settings);
                result.FileHeaderWritten = true;
            }
            if (!file.LineHeaderWritten && out.Room()) {
                AppendLineHeader(result.OutputBuffer, result.PartsInFile);
                file.LineHeaderWritten = true;
            }
        }
        Items();
        if (out.ok) ++result.MatchCount;
    }

    // A match of a worker whose results the host's thread filters or numbers (see MatchRecord).
    void Record(uint64_t hash) {
        MatchRecords& records = result.Records;
        const uint64_t countersBefore = records.CountersMade;
        result.ItemsWritten = 0;
        if (!out.ok) return;
        Items();
        if (!out.ok) return;
        records.Matches.push_back({result.BytesWritten + result.OutputBuffer.size(), hash,
                                   result.PartsInFile, result.ItemsWritten,
                                   static_cast<uint32_t>(records.CountersMade - countersBefore)});
        ++result.MatchCount;
    }

    // The search needs the text beyond the piece from `at` on: the rest is left to the next piece,
    // with the characters before `at` that the search may look back at. False when that would be
    // more than the reader can carry: the piece's end is then taken for the text's end, and the
    // file is marked, since a match across the cut may be missing.
    bool LeaveRest(size_t at) {
        const size_t carryStart = finder.CarryStart(at);
        if (pieceLength - carryStart > file.CarryLimit) {
            finder.moreFollows = false;
            file.CutMatchLost = true;
            return false;
        }
        file.ResumeAt = carryStart;
        file.SearchFrom = at - carryStart;
        copyEnd = at;
        return true;
    }

    SearchStatus Run() {
        if (result.PartsInFile == 0) result.FileHeaderWritten = false;
        if (!file.ContinuesLine || result.PartsInFile == 0) {
            ++result.PartsInFile;
            file.LineHeaderWritten = false;
        }
        // A piece that continues a carried rest starts where the last search stopped.
        const size_t searchFrom = std::min(file.SearchFrom, length);
        file.SearchFrom = 0;
        file.ResumeAt = length;
        copyPos = searchFrom;
        if (!file.SearchOver) Search(searchFrom);
        // All of the piece was decided: the next one still begins with what a lookbehind at its
        // start looks at (when that fits what the reader can carry).
        if (finder.moreFollows && copyEnd == length && !abort && out.ok && !limitHit &&
            !file.BadEncoding) {
            const size_t carryStart = finder.CarryStart(length);
            if (pieceLength - carryStart <= file.CarryLimit) {
                file.ResumeAt = carryStart;
                file.SearchFrom = length - carryStart;
            }
        }
        if (settings.SearchAndReplace && out.ok && !abort) Copy(copyPos, copyEnd);
        if (!out.ok) return SearchStatus::WriteFailed;
        if (abort) return SearchStatus::Cancelled;
        return limitHit ? SearchStatus::LimitHit : SearchStatus::GoOn;
    }

    void Search(size_t from) {
        if (!finder.MayHoldAMatch()) return;
        if constexpr (!kWide)
            PrepareCodePageText(result.Conversion, static_cast<uint32_t>(settings.CodePage));

        const int base = finder.BaseOptions();
        const bool checkFirst = (kWide || utf8) && file.CheckUtfOnFirstSearch;
        const int groupInts = 2 * std::clamp(compiled.CaptureCount + 1, 1, 100);
        int saved[200];
        bool firstSearch = true;
        size_t pos = from;

        while (!abort) {
            int options = base;
            if (firstSearch && checkFirst) options &= ~static_cast<int>(kNoUtfCheck);
            firstSearch = false;

            int rc = finder.Find(pos, options);
            if (finder.writeFailed) out.ok = false;
            if (!out.ok) break;
            if (rc == detail::kNeedsMore) {
                if (LeaveRest(finder.resumeAt)) break;
                firstSearch = checkFirst;
                continue; // the same search, with the piece's end as the text's
            }
            size_t next = rc >= 0 ? static_cast<size_t>(ov[1]) : pos;
            if (rc >= 0 && ov[0] == ov[1]) {
                const size_t at = static_cast<size_t>(ov[0]);
                if (length > 0 && at == length) break;
                if (settings.EmptyValid) std::copy(ov, ov + groupInts, saved);
                const int retry = finder.Exec(at, base | kRetryOptions);
                if (retry == PCRE_ERROR_PARTIAL) {
                    // Whether a longer match starts here depends on the text that follows.
                    if (LeaveRest(compiled.Sliceable ? at : pos)) break;
                    firstSearch = checkFirst;
                    continue;
                }
                if (retry != PCRE_ERROR_NOMATCH) {
                    rc = retry;
                    next = rc >= 0 ? static_cast<size_t>(ov[1]) : pos;
                } else {
                    next = finder.Advance(at);
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
            if (rc == PCRE_ERROR_NOMATCH && finder.moreFollows && !compiled.Sliceable) {
                // A search that treats its start specially ended without a match: over the whole
                // text that ends the search of the file, unless the text beyond could change it.
                if (finder.Anchored() && pos < length) {
                    file.SearchOver = true;
                    break;
                }
                if (LeaveRest(pos)) break;
                firstSearch = checkFirst;
                continue;
            }
            if (rc < 0) {
                if (rc == PCRE_ERROR_BADUTF8 || rc == PCRE_ERROR_BADUTF8_OFFSET ||
                    rc == PCRE_ERROR_SHORTUTF8)
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
            if (next <= pos && ov[0] != ov[1]) next = finder.Advance(pos);
            // After an empty match on an empty text, or at the end: nothing more to find.
            if (next > length) break;
            pos = next;
        }
    }
};

} // namespace

namespace {

// A piece of a text that goes on is searched up to its last unit that is not part of a line
// break: `$` takes a line break at the end of what it is given for the text's last, and a CR at
// the end may be the first half of a CR LF. The rest goes with the next piece. A piece of nothing
// but line breaks (or more of them than half of what the reader can carry) is searched whole,
// and the file is marked (a match across the cut may be lost).
template <typename CharT>
SearchStatus SearchPiece(const CharT* text, size_t length, SearchContext& context,
                         FileState& file) {
    size_t searched = length;
    if (file.MoreFollows) {
        for (;;) {
            // (On a character's start: the bytes of a NEL, LS or PS may end other characters.)
            if constexpr (sizeof(CharT) == 2) {
                if (searched > 0 && searched < length && platform::IsLowSurrogate(text[searched]))
                    --searched;
            } else if (file.IsUtf8) {
                while (searched > 0 && searched < length &&
                       (static_cast<unsigned char>(text[searched]) & 0xC0) == 0x80)
                    --searched;
            }
            if (searched == 0 || !detail::MatchFinder<CharT>::MayEndALine(text[searched - 1]))
                break;
            --searched;
        }
        // (Line breaks are carried too: more than half of what may be carried, and the piece is
        // searched as it is. A reader that carries without limit is left all of a piece of line
        // breaks, to search with what follows.)
        if (searched == 0 && file.CarryLimit == kCarryWithoutLimit) {
            file.ResumeAt = 0;
            return SearchStatus::GoOn;
        }
        if (searched == 0 || length - searched > file.CarryLimit / 2) {
            file.MoreFollows = false;
            file.CutMatchLost = true;
            searched = length;
        }
    }
    Loop<CharT> loop{text, searched, context, file};
    loop.pieceLength = length;
    return loop.Run();
}

} // namespace

SearchStatus SearchBytes(const char* text, size_t length, SearchContext& context, FileState& file) {
    return SearchPiece(text, length, context, file);
}

SearchStatus SearchUnits(const char16_t* text, size_t length, SearchContext& context,
                         FileState& file) {
    return SearchPiece(text, length, context, file);
}

namespace {

template <typename CharT>
size_t NextPossible(const CharT* text, size_t length, size_t from, SearchContext& context,
                    FileState& file, bool& wellFormed) {
    wellFormed = false;
    if (context.JobSettings.SearchAndReplace || file.ContinuesLine) return SIZE_MAX;
    detail::MatchFinder<CharT> finder{text, length, context, file};
    return finder.NextPossibleMatch(from, wellFormed);
}

// What the search of a line without a match leaves behind (see Loop::Run): the line is counted,
// and the next one starts afresh.
template <typename CharT>
bool PassOver(const CharT* line, size_t length, bool wellFormed, SearchContext& context,
              FileState& file) {
    if (file.ContinuesLine) return false;
    // A line whose first search would have the library check its encoding is passed over only
    // where that check passes.
    if (!wellFormed && file.CheckUtfOnFirstSearch) {
        if constexpr (sizeof(CharT) == 2) {
            return false;
        } else {
            const auto* bytes = reinterpret_cast<const unsigned char*>(line);
            if (file.IsUtf8 && AsciiPrefixLength(bytes, length) != length &&
                !IsValidUtf8(bytes, length))
                return false;
        }
    }
    PassOverLines(1, context, file);
    return true;
}

} // namespace

void AppendFileHeader(std::string& out, std::u16string_view name, const Settings& settings) {
    out += ">>>> \"";
    if (settings.BinaryMode)
        platform::AppendWideAsCodePage(static_cast<uint32_t>(settings.CodePage), name,
                                       settings.DefaultCharacter, out);
    else
        platform::AppendUtf16AsUtf8(name, out);
    out += "\":\r\n";
}

void AppendLineHeader(std::string& out, uint32_t line) {
    char header[48] = ">> Line ";
    char* p = std::to_chars(header + 8, header + 40, line).ptr;
    *p++ = ':';
    *p++ = '\r';
    *p++ = '\n';
    out.append(header, static_cast<size_t>(p - header));
}

size_t NextPossibleMatch(const char* text, size_t length, size_t from, SearchContext& context,
                         FileState& file, bool& wellFormed) {
    return NextPossible(text, length, from, context, file, wellFormed);
}
size_t NextPossibleMatch(const char16_t* text, size_t length, size_t from, SearchContext& context,
                         FileState& file, bool& wellFormed) {
    return NextPossible(text, length, from, context, file, wellFormed);
}
bool PassOverLine(const char* line, size_t length, bool wellFormed, SearchContext& context,
                  FileState& file) {
    return PassOver(line, length, wellFormed, context, file);
}
bool PassOverLine(const char16_t* line, size_t length, bool wellFormed, SearchContext& context,
                  FileState& file) {
    return PassOver(line, length, wellFormed, context, file);
}

void PassOverLines(uint64_t lines, SearchContext& context, FileState& file) {
    if (lines == 0) return;
    ResultState& result = context.Result;
    if (result.PartsInFile == 0) result.FileHeaderWritten = false;
    result.PartsInFile += static_cast<uint32_t>(lines);
    file.LineHeaderWritten = false;
    file.SearchFrom = 0;
    file.SearchOver = false;
}

bool FlushWhenDue(SearchContext& context, uint32_t now) {
    ResultState& result = context.Result;
    if (!result.FlushClockStarted) {
        result.FlushClockStarted = true;
        result.LastFlushTick = now;
        return true;
    }
    if (result.OutputBuffer.empty() || now - result.LastFlushTick < kFlushIntervalMs) return true;
    result.LastFlushTick = now;
    return FlushOutput(context.Output, result);
}

namespace detail {
SearchSlices& Slices() {
    static SearchSlices slices;
    return slices;
}
} // namespace detail

} // namespace gleanery
