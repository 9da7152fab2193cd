#include "engine/file_search.h"

#include <algorithm>
#include <cstring>

#include "engine/detect_encoding.h"
#include "engine/readers.h"
#include "platform/system.h"

namespace gleanery {

namespace {

constexpr int64_t kWholeFileLimit = kLoadBytes;
constexpr int64_t kUtfCheckThreshold = 0x40000;

SharedEncoding EncodingOf(const FileState& file) {
    if (file.IsUtf16)
        return file.IsBigEndian ? SharedEncoding::Utf16BigEndian
                                : SharedEncoding::Utf16LittleEndian;
    return file.IsUtf8 ? SharedEncoding::Utf8 : SharedEncoding::CodePage;
}

// Whether a file of `size` bytes is read in one go at its open, whatever its byte order mark, to
// be searched whole or line by line. Only these are, so that a file read in parts or lines takes
// no more memory than its reader grants (the least grant is larger than they are), and the walk's
// bound on read memory holds.
bool LoadedAtOpen(int64_t size) {
    return size >= 0 && size <= kWholeFileLimit;
}

// The input of a file whose first bytes the encoding check kept in the thread's room: those from
// the data's start on, then the file from where the check left it. Only a stream reads into the
// room, and its first read asks for a whole block, at least as much as was kept: it takes them
// all before it writes anything there.
struct KeptInput {
    platform::File& file;
    const void* room;
    size_t at;  // the next kept byte (from the room's start)
    size_t end; // past the last kept byte
};

bool ReadKept(void* target, void* buffer, size_t count, size_t& got) {
    auto& in = *static_cast<KeptInput*>(target);
    got = 0;
    if (in.at < in.end) {
        got = std::min(count, in.end - in.at);
        const auto* from = static_cast<const unsigned char*>(in.room) + in.at;
        if (from != buffer) std::memmove(buffer, from, got);
        in.at += got;
        if (got == count) return true;
    }
    size_t more = 0;
    const bool read =
        platform::Read(in.file, static_cast<unsigned char*>(buffer) + got, count - got, more);
    got += more;
    return read;
}

void CloseKept(void* target) {
    platform::Close(static_cast<KeptInput*>(target)->file);
}

InputSource KeptSource(KeptInput& kept) {
    return kept.at < kept.end ? InputSource{&kept, &ReadKept, &CloseKept} : FileSource(kept.file);
}

} // namespace

bool OpenForSearch(const Settings& settings, const platform::File& output,
                   const std::u16string& fullName, const std::u16string& accessName,
                   platform::File& input, LoadBuffer& buffer, FileSearch& search) {
    input = platform::OpenInputForReading(accessName);
    if (!input.IsOpen()) {
        // What the entry is, asked only when it could not be opened (a file costs one look-up of
        // its name less). A name too long to ask about was still handed over as an entry: it is
        // listed with the files that could not be opened rather than passed over without a word.
        const platform::PathKind kind = platform::KindOf(accessName);
        search.NotAFile = kind != platform::PathKind::File && kind != platform::PathKind::TooLong;
        return false;
    }
    // The output file itself is never read as input: it is being rewritten while it would be read.
    if (platform::IsSameFile(input, output)) {
        platform::Close(input);
        return false;
    }
    FileState& file = search.File;
    file.FileName = fullName;
    // The size the open read with the file's identity: asking the name again would cost another
    // look-up of every directory on its path.
    const int64_t size = platform::SizeOf(input);
    uint32_t& bomLength = search.BomLength;
    LoadedFile& loaded = search.Loaded;
    const bool small = LoadedAtOpen(size);
    // A larger file searched whole goes through the buffer a block at a time (should it prove
    // too large for the read memory, SearchOpened gives the buffer back before its parts).
    const bool streamed = !small && !settings.LineMode && !settings.SearchAndReplace && size > 0;
    search.Room = streamed && EnsureLoadRoom(buffer) ? &buffer : nullptr;
    if (!small && search.Room == nullptr) GiveBack(buffer);
    // A small file is read once: the encoding check looks at its first bytes before the rest is
    // read, so that the rest of a UTF-8 file can be checked as it arrives.
    const bool loading =
        small && StartLoading(input, size, EncodingCheckLength(size, settings), buffer, loaded);
    auto* const room = search.Room != nullptr
                           ? reinterpret_cast<unsigned char*>(search.Room->Units.get())
                           : nullptr;
    const bool detected =
        loading ? DetectEncodingOf(reinterpret_cast<const unsigned char*>(buffer.Units.get()),
                                   loaded.Arrived, size, bomLength, file, settings)
                : DetectEncoding(size, bomLength, input, file, settings, room,
                                 room != nullptr ? search.Room->Capacity * 2 : 0,
                                 room != nullptr ? &search.Kept : nullptr);
    if (!detected) {
        platform::Close(input);
        ReleaseLoaded(loaded);
        return false;
    }
    // Data past the encoding check buffer was never validated; searching it unchecked would hand
    // the library invalid UTF, which it does not survive.
    const bool checkRest = (file.IsUtf8 || file.IsUtf16) &&
                           (size > kUtfCheckThreshold || size > settings.EncodingCheck);
    if (loading) FinishLoading(input, loaded, checkRest && file.IsUtf8);
    if (checkRest && !(loading && loaded.WellFormedUtf8)) file.CheckUtfOnFirstSearch = true;
    search.DataSize = size - bomLength;
    search.Opened = true;
    return true;
}

void SearchOpened(SearchContext& context, platform::File& input, FileSearch& search) {
    const Settings& settings = context.JobSettings;
    FileState& file = search.File;
    const int64_t dataSize = search.DataSize;
    context.Result.PartsInFile = 0;
    SearchStatus& status = search.Status;
    if (search.Loaded.Buffer != nullptr) {
        status = settings.LineMode
                     ? SearchLoadedLines(search.Loaded, search.BomLength, dataSize, context, file,
                                         SettingGrantMiB(settings.Memory))
                     : SearchLoadedFile(search.Loaded, search.BomLength, dataSize, context, file);
        return;
    }
    // The bytes the encoding check kept in the room come first, then the rest of the file.
    KeptInput kept{input, search.Room != nullptr ? search.Room->Units.get() : nullptr,
                   search.BomLength, search.Kept};
    if (!settings.LineMode && dataSize <= kWholeFileLimit) {
        status = ReadWholeFile(KeptSource(kept), dataSize, context, file, search.Room);
        return;
    }
    // No grant is below 5 MiB, so a smaller file is read alike whatever the system has free: it
    // is asked only about larger ones (in line mode every file comes here, and the question costs
    // an open and a read of the system's memory table).
    const uint32_t granted =
        dataSize < static_cast<int64_t>(kLeastGrantMiB) << 20
            ? SettingGrantMiB(settings.Memory)
            : GrantedReadMemory(settings.Memory, platform::AvailablePhysicalMemory());
    const bool fits = static_cast<int64_t>(granted) * 1048576 > dataSize;
    search.Declined = !fits && static_cast<int32_t>(granted) < settings.Memory;
    const bool whole = !settings.LineMode && fits && !settings.SearchAndReplace;
    if (!whole && search.Room != nullptr) {
        // The parts are read from the start, into memory of their own.
        if (search.Kept != 0 && !platform::Seek(input, search.BomLength)) {
            platform::Close(input);
            file.ReadIncomplete = true;
            status = SearchStatus::GoOn;
            return;
        }
        search.Kept = 0;
        GiveBack(*search.Room);
        search.Room = nullptr;
    }
    if (settings.LineMode)
        status = ReadLines(FileSource(input), dataSize, context, file, granted);
    else if (!whole)
        status = ReadFileInParts(FileSource(input), dataSize, context, file, granted);
    else
        status = ReadWholeFile(KeptSource(kept), dataSize, context, file, search.Room);
}

int64_t ReadMemoryOf(const Settings& settings, int64_t dataSize) {
    const int64_t most = int64_t{SettingGrantMiB(settings.Memory)} << 20;
    return std::clamp<int64_t>(dataSize, 0, most);
}

void MergeFileSearch(ExtractionJob& job, JobOutcome& outcome, const std::u16string& fullName,
                     const FileSearch& search, uint32_t partsInFile) {
    ++job.Attempted;
    if (!search.Opened) {
        job.CouldNotOpen += u"\r\n" + fullName;
        return;
    }
    const FileState& file = search.File;
    if (job.JobSettings.SearchAndReplace) {
        const SharedEncoding encoding = EncodingOf(file);
        if (job.EncodingAgreement == SharedEncoding::NoFileYet)
            job.EncodingAgreement = encoding;
        else if (job.EncodingAgreement != encoding)
            job.EncodingAgreement = SharedEncoding::Mixed;
    }
    if (search.Declined) ++job.Declined;
    outcome.ok = search.Status != SearchStatus::WriteFailed;
    outcome.aborted = search.Status == SearchStatus::Cancelled;

    job.Result.TotalParts += partsInFile;
    if (file.BadEncoding) job.BadEncoding += u"\r\n" + fullName;
    if (file.EndedEarly) job.EndedEarly += u"\r\n" + fullName;
    if (file.NotCompiled) job.NotCompiled += u"\r\n" + fullName;
    if (file.CutMatchLost) job.CutMatchLost += u"\r\n" + fullName;
    if (file.ReadIncomplete) {
        ++job.SearchedInPart;
        job.NotReadWhole += u"\r\n" + fullName;
    } else {
        ++job.Searched;
    }
}

} // namespace gleanery
