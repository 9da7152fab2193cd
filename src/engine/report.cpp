// The last stage of a job: the statistics block, deleting an empty or aborted output file, and
// the copy of the output to the clipboard.
#include "engine/report.h"

#include <cstring>
#include <initializer_list>

#include "engine/paths.h"
#include "engine/readers.h"
#include "engine/replacement_template.h"
#include "engine/utf8_validity.h"
#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/unicode.h"
#include "settings/texts.h"

namespace gleanery {

namespace {

constexpr char16_t kNl[] = u"\r\n";
constexpr uint64_t kClipboardLimit = 0x500000; // 5 MiB
constexpr char16_t kTitle[] = u"Gleanery";

std::u16string Ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

using platform::Decimal;

// numerator / denominator in fixed-point with `decimals` places, rounded half away from zero.
// Integer arithmetic keeps the text the same on every platform and runtime.
std::u16string FixedPoint(int64_t numerator, uint64_t denominator, int decimals) {
    const bool negative = numerator < 0;
    const uint64_t magnitude =
        negative ? static_cast<uint64_t>(-(numerator + 1)) + 1 : static_cast<uint64_t>(numerator);
    uint64_t scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    uint64_t whole = magnitude / denominator;
    const uint64_t rest = magnitude % denominator;
    // rest < denominator (at most 2^20 here), so rest * scale * 2 cannot overflow.
    uint64_t fraction = (rest * scale * 2 + denominator) / (2 * denominator);
    if (fraction == scale) {
        ++whole;
        fraction = 0;
    }
    std::string digits = std::to_string(fraction);
    digits.insert(0, static_cast<size_t>(decimals) - digits.size(), '0');
    std::string text = (negative ? "-" : "") + std::to_string(whole);
    if (decimals > 0) text += "." + digits;
    return Ascii(text);
}

uint32_t ResolvedCodePage(const ExtractionJob& job, int32_t codePage) {
    if (codePage == 0) return job.System.AnsiCodePage;
    if (codePage == 1) return job.System.OemCodePage;
    return static_cast<uint32_t>(codePage);
}

bool IsPrintable(int8_t c) {
    return c >= 32 && c <= 126;
}

void DeleteIfFile(const std::u16string& path) {
    if (platform::KindOf(path) == platform::PathKind::File) platform::DeleteFileAt(path);
}

void Warn(const std::u16string& text) {
    platform::ShowMessageBox(text, kTitle, platform::kMbOk | platform::kMbIconWarning);
}

// Appends the statistics to the still open output file and closes it.
void WriteStatistics(ExtractionJob& job, JobOutcome& outcome) {
    const Settings& settings = job.JobSettings;
    const std::u16string text = StatisticsText(job, outcome);
    std::string bytes;
    bool converted = false;
    if (settings.BinaryMode) {
        const int8_t substitute = IsPrintable(settings.DefaultCharacter) ? settings.DefaultCharacter
                                                                         : static_cast<int8_t>(-1);
        converted = platform::AppendWideAsCodePage(ResolvedCodePage(job, settings.CodePage), text,
                                                   substitute, bytes);
    }
    // A code page that the system cannot convert to still gets readable statistics.
    if (!converted) {
        bytes.clear();
        bytes = platform::WideToUtf8(text);
    }

    outcome.ok = outcome.ok && StartOutput(FileSink(job.Output), job.Result);
    if (job.JobSettings.WriteBom && !job.Result.BomWritten && outcome.ok) {
        static const unsigned char kBom[3] = {0xEF, 0xBB, 0xBF};
        outcome.ok = platform::Write(job.Output, kBom, sizeof kBom);
        job.Result.BomWritten = true;
    }
    if (outcome.ok && !bytes.empty())
        outcome.ok = platform::Write(job.Output, bytes.data(), bytes.size());
    platform::Close(job.Output);
    job.OutputSize = platform::SizeOf(job.OutputPath);
}

void AppendLittleEndian(std::u16string_view units, std::string& out) {
    const size_t old = out.size();
    out.resize(old + units.size() * 2);
    char* dst = out.data() + old;
    if (!platform::kHostIsBigEndian) {
        std::memcpy(dst, units.data(), units.size() * 2);
        return;
    }
    for (char16_t u : units) {
        *dst++ = static_cast<char>(u & 0xFF);
        *dst++ = static_cast<char>(u >> 8);
    }
}

// The output as the clipboard takes it: at most kClipboardLimit bytes (`cut` when there were more),
// without the byte order mark a statistics block or the first result put at its start; null when
// it could not be read.
detail::AlignedUnits<unsigned char> ReadOutputBack(const ExtractionJob& job, bool cut,
                                                   uint64_t& count) {
    const int64_t size = job.OutputSize;
    platform::File file = platform::OpenForReading(job.OutputPath);
    if (!file.IsOpen()) return nullptr;
    count = cut ? kClipboardLimit : static_cast<uint64_t>(size);
    if (!cut && job.BomAtStart && size >= 3) count -= 3;
    auto buffer = detail::TryAllocate<unsigned char>(count + 2);
    if (!buffer) return nullptr;
    buffer[count] = 0;
    buffer[count + 1] = 0;
    if (job.BomAtStart && !platform::Seek(file, 3)) return nullptr;
    size_t got = 0;
    if (count != 0 &&
        (!platform::Read(file, buffer.get(), static_cast<size_t>(count), got) || got != count))
        return nullptr;
    return buffer;
}

// Search and replace writes each file's own encoding: when all files shared a Unicode one, the
// clipboard gets Unicode text, else the bytes as they are.
bool SharesUnicode(SharedEncoding encoding) {
    return encoding == SharedEncoding::Utf8 || encoding == SharedEncoding::Utf16LittleEndian ||
           encoding == SharedEncoding::Utf16BigEndian;
}

// The clipboard's block for the output read back: UTF-16 in little-endian order, or 8-bit text,
// ended by two zero bytes.
std::string ClipboardBlock(const ExtractionJob& job, const unsigned char* text, size_t length,
                           bool cut) {
    const Settings& settings = job.JobSettings;
    const SharedEncoding agreement = job.EncodingAgreement;
    const bool utf16 = agreement == SharedEncoding::Utf16LittleEndian ||
                       agreement == SharedEncoding::Utf16BigEndian;
    bool asUtf8 = !settings.SearchAndReplace && !settings.BinaryMode;
    if (agreement == SharedEncoding::Utf8) {
        if (length >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) {
            text += 3;
            length -= 3;
        }
        asUtf8 = true;
    } else if (utf16) {
        // The mark of the inputs, in their own byte order.
        const bool little = agreement == SharedEncoding::Utf16LittleEndian;
        const unsigned char first = little ? 0xFF : 0xFE;
        const unsigned char second = little ? 0xFE : 0xFF;
        if (length >= 2 && text[0] == first && text[1] == second) {
            text += 2;
            length -= 2;
        }
    }

    std::string block;
    if (asUtf8) {
        if (cut) {
            // The read may have ended inside a character.
            for (int i = 0; i < 3 && length > 0 && !IsValidUtf8(text, length); ++i) --length;
        }
        const std::u16string wide =
            platform::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(text), length));
        AppendLittleEndian(wide, block);
    } else {
        block.assign(reinterpret_cast<const char*>(text), length);
        if (utf16 && length % 2 == 0) {
            if (agreement == SharedEncoding::Utf16BigEndian) {
                for (size_t i = 0; i + 1 < block.size(); i += 2) std::swap(block[i], block[i + 1]);
            }
            if (cut && block.size() >= 2) {
                const unsigned lastUnit = static_cast<unsigned char>(block[block.size() - 2]) |
                                          static_cast<unsigned char>(block.back()) << 8;
                if (platform::IsHighSurrogate(lastUnit)) block.resize(block.size() - 2);
            }
        }
    }
    block.push_back('\0');
    block.push_back('\0');
    return block;
}

// Reads the output back and puts it on the clipboard; deletes the file afterwards on request.
void CopyToClipboard(const ExtractionJob& job) {
    const Settings& settings = job.JobSettings;
    const bool cut = static_cast<uint64_t>(job.OutputSize) > kClipboardLimit;
    uint64_t count = 0;
    auto buffer = ReadOutputBack(job, cut, count);
    if (!buffer) return;
    const std::string block = ClipboardBlock(job, buffer.get(), static_cast<size_t>(count), cut);
    buffer.reset();

    const uint32_t format =
        SharesUnicode(job.EncodingAgreement) || (!settings.SearchAndReplace && !settings.BinaryMode)
            ? platform::kCfUnicodeText
            : platform::kCfText;
    if (!platform::SetClipboard(format, block)) {
        Warn(Text(kTextClipboardFailed));
        return;
    }
    if (settings.CopyClip == 2) {
        if (cut) {
            Warn(Text(kTextTooBigForClipboard) + kNl + Text(kTextOutfileNotDeleted));
        } else {
            DeleteIfFile(job.OutputPath);
        }
    }
}

// Appends each line after a line break; a null line stands for an empty one.
void AppendLines(std::u16string& t, std::initializer_list<const char16_t*> lines) {
    for (const char16_t* line : lines) {
        t += kNl;
        if (line != nullptr) t += line;
    }
}

// Files that could not be opened or examined: neither searched whole nor in part.
uint32_t SkippedFiles(const ExtractionJob& job) {
    return job.Attempted - job.Searched - job.SearchedInPart;
}

// The heading: a failed write, and the mode of the run.
void AppendHeading(const ExtractionJob& job, const JobOutcome& outcome, std::u16string& t) {
    const Settings& s = job.JobSettings;
    if (!outcome.ok)
        AppendLines(t, {nullptr, u"***************", u"Write error !!!", u"***************"});
    if (s.LineMode)
        AppendLines(t, {nullptr, u"*** Line mode ***"});
    else if (s.SearchAndReplace)
        AppendLines(t, {nullptr, u"*** Search and replace ***"});
    else
        AppendLines(t, {nullptr});
}

// What was searched, and with which expression, template and options.
void AppendSearchSettings(const ExtractionJob& job, std::u16string& t) {
    const Settings& s = job.JobSettings;
    const ResultState& r = job.Result;
    t += kNl + std::u16string(u"Searched file(s): ") + Decimal(uint64_t{job.Searched});
    if (job.SearchedInPart != 0)
        t += kNl + std::u16string(u"Searched only in part (not read whole): ") +
             Decimal(uint64_t{job.SearchedInPart});
    if (SkippedFiles(job) != 0)
        t += kNl + std::u16string(u"Skipped file(s): ") + Decimal(uint64_t{SkippedFiles(job)});
    t += kNl + std::u16string(u"With Regular Expression: \"") +
         (s.regex.empty() ? u".*" : s.regex) + u"\"";
    t += kNl + std::u16string(u"Replacement string: \"") + DisplayForm(r.Template) + u"\"";
    if (r.Template.MissingGroupCount != 0)
        t +=
            kNl + std::u16string(u"One or more subpattern(s) not found in expression and ignored!");

    std::u16string options;
    auto option = [&options](bool set, const char16_t* name) {
        if (!set) return;
        if (!options.empty()) options += u", ";
        options += name;
    };
    option(s.CaseSensitive, u"Case sensitive");
    option(s.Dotall, u"Dotall");
    option(s.Multiline, u"Line anchors");
    option(s.UnicodeProperties, u"Unicode properties");
    option(s.EmptyValid, u"Empty match is valid");
    if (!options.empty()) t += kNl + std::u16string(u"PCRE options: ") + options;

    t += kNl + std::u16string(u"Read memory: ") + Decimal(int64_t{s.Memory}) + u" MiB";
    if (job.Declined != 0)
        t += kNl + std::u16string(u"*** Requested read memory declined for ") +
             Decimal(uint64_t{job.Declined}) + u" files! ***";
    if (!s.BinaryMode)
        t += kNl + std::u16string(u"Encoding check buffer: ") +
             FixedPoint(s.EncodingCheck, 1048576, 2) + u" MiB";
    t += kNl + std::u16string(u"Code page used for recoding: ") +
         Decimal(uint64_t{ResolvedCodePage(job, s.CodePage)});
    t += kNl + std::u16string(u"Replacement character: ");
    if (s.DefaultCharacter == -1) {
        t += u"default";
    } else if (IsPrintable(s.DefaultCharacter)) {
        t += u'"';
        t += static_cast<char16_t>(s.DefaultCharacter);
        t += u'"';
    }
}

// What the search found and wrote, and how long it took.
void AppendCounts(const ExtractionJob& job, const JobOutcome& outcome, std::u16string& t) {
    const Settings& s = job.JobSettings;
    const ResultState& r = job.Result;
    t += kNl;
    t +=
        s.LineMode ? u"Lines extracted and searched: " : u"File parts searched (cut at newlines): ";
    t += Decimal(r.TotalParts);
    if (s.BinaryMode) t += kNl + std::u16string(u"*** all files treated binary ***");
    if (s.NoDuplicates)
        t += kNl + std::u16string(u"*** ") + Decimal(r.DuplicateCount) +
             u" duplicate search results omitted ***";
    if (r.PartsEndedEarly != 0)
        t += kNl + std::u16string(u"*** ") + Decimal(r.PartsEndedEarly) +
             u" file part(s) searched only in part: the search ended early at a limit ***";
    t += kNl + std::u16string(u"Successful matches: ");
    t += r.MatchCount != 0 ? Decimal(r.MatchCount) : std::u16string(u"*** No matches! ***");
    t += kNl + std::u16string(u"Output file: \"") + DisplayPath(job.OutputPath) + u"\": " +
         SizeText(job.OutputSize) + u" (without statistics)";
    t += kNl;
    t += outcome.ok ? u"Operation completed in " : u"Operation aborted after ";
    t += FixedPoint(int64_t{job.Elapsed}, 1000, 3) + u" seconds";
}

// The files whose search was incomplete or did not happen.
void AppendFileLists(const ExtractionJob& job, std::u16string& t) {
    if (!job.BadEncoding.empty()) {
        AppendLines(
            t, {nullptr,
                u"The following file(s) were at least partially skipped due to bad UTF encoding,",
                u"therefore some results could be missing. Try them again in binary mode with",
                u"or without a smaller read buffer, in line mode, or fix the encoding first:"});
        t += job.BadEncoding;
    }
    const std::u16string incomplete = IncompleteSearchesText(job);
    if (!incomplete.empty()) {
        AppendLines(t, {nullptr, nullptr});
        t += incomplete;
    }
    if (SkippedFiles(job) != 0) {
        AppendLines(t, {nullptr, u"Could not open the following file(s) for reading:"});
        t += job.CouldNotOpen;
    }
}

} // namespace

std::u16string SizeText(int64_t size) {
    if (size < 0) return u"";
    if (size == 0) return u"*** Empty file! ***";
    if (size < 1024) return Decimal(size) + u" Bytes";
    if (size < 1048576) return FixedPoint(size, 1024, 2) + u" kiB";
    return FixedPoint(size, 1048576, 2) + u" MiB";
}

std::u16string IncompleteSearchesText(const ExtractionJob& job, IncompleteLists lists) {
    std::u16string t;
    auto list = [&t](const std::u16string& heading, const std::u16string& files) {
        if (files.empty()) return;
        if (!t.empty()) t += u"\r\n\r\n";
        t += heading + files;
    };
    list(Text(kTextNotCompiled), job.NotCompiled);
    list(Text(kTextEndedEarly), job.EndedEarly);
    list(Text(kTextCutMatchLost), job.CutMatchLost);
    list(Text(kTextNotReadWhole), job.NotReadWhole);
    if (lists == IncompleteLists::WithUnsearched) {
        list(kBadEncodingHeading, job.BadEncoding);
        list(kNotOpenedHeading, job.CouldNotOpen);
    }
    return t;
}

std::u16string StatisticsText(const ExtractionJob& job, const JobOutcome& outcome) {
    std::u16string t;
    AppendHeading(job, outcome, t);
    AppendSearchSettings(job, t);
    AppendCounts(job, outcome, t);
    AppendFileLists(job, t);
    return t;
}

void ReportAndDeliver(ExtractionJob& job, JobOutcome& outcome) {
    outcome.Notes = IncompleteSearchesText(job, IncompleteLists::WithUnsearched);
    // An output file that was never truncated still holds what an overwritten file held before;
    // none of that is this job's output.
    if (!job.Result.OutputStarted && job.OutputSize > 0) job.OutputSize = 0;
    const bool writeStats =
        job.JobSettings.WriteStats && outcome.ok && !outcome.aborted && job.OutputSize >= 0;
    if (writeStats) WriteStatistics(job, outcome);
    // Whatever path the job took, the output is not held open past this point: an aborted or
    // empty file could not be deleted otherwise.
    if (job.Output.IsOpen()) platform::Close(job.Output);

    if (job.OutputSize == 0 || outcome.aborted) DeleteIfFile(job.OutputPath);

    const int8_t copy = job.JobSettings.CopyClip;
    if ((copy == 1 || copy == 2) && outcome.ok && job.OutputSize > 0 && !outcome.aborted)
        CopyToClipboard(job);
}

} // namespace gleanery
