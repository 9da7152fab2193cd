#include "engine/extraction_job.h"

#include <algorithm>

#include "engine/file_search.h"
#include "engine/parallel_walk.h"
#include "engine/paths.h"
#include "engine/report.h"
#include "platform/message_box.h"
#include "platform/system.h"
#include "settings/texts.h"

namespace gleanery {

namespace {

// Cuts the extension of the file's own name. A dot in a directory name above it is no extension:
// cutting there would send the output to another directory (a "v1.2" or "tmp.XXXX" folder). Nor
// is the dot that starts a name (".notes"): cutting there would leave no name at all, and the
// output would become the hidden ".txt".
std::u16string CutExtension(const std::u16string& path) {
    const size_t dot = path.rfind(u'.');
    const size_t separator = path.find_last_of(u"\\/");
    const size_t nameStart = separator == std::u16string::npos ? 0 : separator + 1;
    if (dot == std::u16string::npos || dot < nameStart + 1) return path;
    return path.substr(0, dot);
}

// The output path made full: long form where needed, the system's resolution applied.
std::u16string ResolveOutputPath(const std::u16string& name) {
    const bool longForm = name.size() >= kMaxPath && platform::UsesLongPathPrefix();
    const std::u16string formed = longForm ? ToLongForm(name) : name;
    std::u16string resolved;
    if (!platform::FullPathOf(formed, resolved)) return formed;
    if (longForm || resolved.size() < kMaxPath || !platform::UsesLongPathPrefix()) return resolved;
    return ToLongForm(resolved);
}

// A new output file is created here and now or not at all, so that two packs started at once
// for the same name never both take it for their own new file and write into each other's
// results: whichever comes second finds it existing. An existing file is written only after the
// user agreed to replace it; anything else in its place (a directory, a FIFO, a dangling link)
// is not asked about and cannot be created.
bool OpenOutput(ExtractionJob& job, JobOutcome& outcome) {
    uint32_t lastError = platform::kErrorSuccess;
    job.Output = platform::CreateNewForWriting(job.OutputPath, lastError);
    if (job.Output.IsOpen()) return true;
    const bool taken =
        lastError == platform::kErrorFileExists || lastError == platform::kErrorAlreadyExists;
    if (!taken || platform::KindOf(job.OutputPath) != platform::PathKind::File) {
        outcome.created = false;
        return false;
    }
    const std::u16string question = Text(kTextOverwrite) + u" \"" + FileNamePart(job.OutputPath) +
                                    u"\" " + Text(kTextQuestionMark);
    if (!platform::AskYesNo(question, u"Gleanery")) return false;
    job.Output = platform::OpenOrCreateForWriting(job.OutputPath);
    if (!job.Output.IsOpen()) {
        outcome.created = false;
        return false;
    }
    return true;
}

// Searches one entry of the add list.
void SearchFile(ExtractionJob& job, JobOutcome& outcome, const std::u16string& fullName,
                const std::u16string& accessName, LoadBuffer& buffer) {
    FileSearch search;
    platform::File input;
    if (OpenForSearch(job.JobSettings, job.Output, fullName, accessName, input, buffer, search))
        SearchOpened(*job.Context, input, search);
    if (search.NotAFile) {
        // A directory, a special file or one that is gone: passed over, only the host hears of it.
        if (!job.Context->KeepGoing(fullName, 0)) outcome.aborted = true;
        return;
    }
    MergeFileSearch(job, outcome, fullName, search, job.Result.PartsInFile);
}

void WalkAddList(ExtractionJob& job, JobOutcome& outcome, const std::u16string& sourcePath,
                 AddList& names) {
    AddListPlace at;
    std::u16string_view entry;
    // One name and one read buffer for all entries: their room is kept from file to file.
    std::u16string fullName;
    LoadBuffer buffer;
    while (outcome.ok && !outcome.aborted && NextEntry(names, at, entry)) {
        fullName.assign(sourcePath).append(entry);
        SearchFile(job, outcome, fullName, AccessName(fullName), buffer);
    }
}

} // namespace

uint32_t GrantedReadMemory(int32_t memorySetting, uint64_t availablePhysical) {
    const uint32_t system =
        availablePhysical < (uint64_t{kLeastGrantMiB} << 20)
            ? kLeastGrantMiB
            : static_cast<uint32_t>(std::min<uint64_t>(availablePhysical >> 21, kMostGrantMiB));
    return std::min(SettingGrantMiB(memorySetting), system);
}

std::u16string OutputNameFor(const std::u16string& archivePath, int8_t outfileExtension,
                             const std::u16string& sourcePath, AddList& names) {
    if (outfileExtension >= 2) return archivePath;
    std::u16string name = CutExtension(archivePath);
    std::u16string extension = u".txt";
    if (outfileExtension == 1) {
        AddListPlace at;
        std::u16string_view item;
        while (NextEntry(names, at, item)) {
            if (platform::KindOf(AccessName(sourcePath + std::u16string(item))) !=
                platform::PathKind::File)
                continue;
            // The extension comes from the file's own name, never from a directory above it.
            const std::u16string fileName = FileNamePart(std::u16string(item));
            const size_t dot = fileName.rfind(u'.');
            if (dot != std::u16string::npos) extension = fileName.substr(dot);
            break;
        }
    }
    return name + extension;
}

int PackResultCode(const JobOutcome& outcome) {
    if (outcome.aborted && outcome.ok && outcome.created) return 21;
    if (!outcome.matched && outcome.ok) return outcome.created ? 22 : 16;
    if (!outcome.created) return 16;
    return outcome.ok ? 0 : 19;
}

void RunExtractionJob(const JobRequest& request, JobOutcome& outcome) {
    ExtractionJob job;
    AddList names = request.Names;
    job.System = request.System;
    Settings& settings = job.JobSettings;
    settings = request.CurrentSettings;
    if (settings.CodePage == 0)
        settings.CodePage = static_cast<int32_t>(job.System.AnsiCodePage);
    else if (settings.CodePage == 1)
        settings.CodePage = static_cast<int32_t>(job.System.OemCodePage);
    if (settings.regex.empty()) settings.regex = u".*";
    job.BomAtStart = settings.WriteBom;

    job.OutputPath = ResolveOutputPath(
        OutputNameFor(request.ArchivePath, settings.OutfileExtension, request.SourcePath, names));

    job.Result.OutputBuffer.reserve(kOutputBufferCapacity);
    CompileExpression(settings, job.System, job.Compiled);
    ParseReplacement(settings, job.Result.Template, job.Compiled);

    if (!OpenOutput(job, outcome)) {
        outcome.ok = true;
        return;
    }
    SearchContext context{settings,   job.Compiled,         job.System,
                          job.Result, FileSink(job.Output), request.Progress};
    job.Context = &context;

    outcome.ok = true;
    job.StartTime = platform::TickCount();
    job.Result.ProgressClockStarted = true;
    job.Result.LastProgressTick = job.StartTime;
    // Threads=1, a single entry, and output that depends on every result before keep the walk
    // on the host's thread.
    {
        // The directory the host's thread kept open while it opened the inputs is let go with
        // the walk, however the walk ends: a kept directory would hold its volume busy.
        struct ForgetAtEnd {
            ~ForgetAtEnd() { platform::ForgetInputDirectory(); }
        } forget;
        if (!SearchesInParallel(job, names) ||
            !WalkInParallel(job, outcome, request.SourcePath, names))
            WalkAddList(job, outcome, request.SourcePath, names);
    }
    // A host that handed the names over as it found them may have stopped finding them because
    // the user cancelled: it is asked once more at the list's end, so that such a list is not
    // taken for a whole one.
    if (names.More != nullptr && outcome.ok && !outcome.aborted &&
        !context.KeepGoing(std::u16string(), 0))
        outcome.aborted = true;

    if (!job.Result.OutputBuffer.empty() && outcome.ok)
        outcome.ok = FlushOutput(context.Output, job.Result);
    // An existing file that the user agreed to replace must not keep its old content when this
    // run wrote nothing into it.
    if (!job.Result.OutputStarted && outcome.ok && !outcome.aborted)
        outcome.ok = StartOutput(context.Output, job.Result);
    job.Context = nullptr;
    job.Elapsed = platform::TickCount() - job.StartTime;
    if (!(settings.WriteStats && outcome.ok && !outcome.aborted)) platform::Close(job.Output);
    ReleaseCompiledExpression(job.Compiled);
    job.OutputSize = platform::SizeOf(job.OutputPath);

    ReportAndDeliver(job, outcome);

    if (job.Result.MatchCount == 0 && !settings.SearchAndReplace) outcome.matched = false;
}

} // namespace gleanery
