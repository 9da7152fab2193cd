#include "engine/parallel_walk.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/file_search.h"
#include "engine/match_loop.h"
#include "engine/paths.h"
#include "platform/files.h"
#include "platform/system.h"

namespace gleanery {

namespace {

constexpr unsigned kMostWorkers = 64;
// Files handed out and not yet written, per worker. Small files take a few tens of microseconds
// each: a deep window lets a worker go from file to file without waiting for the host's thread,
// which then writes finished files in runs. The host's thread is woken when half the window is
// left: at 16 files a worker that was once every 15 files or so, a sleep and a wake-up of the
// host's thread each time (a third of a context switch a file on a 20,000-file tree); at 64 a
// quarter of that. A slot takes a few hundred bytes besides the output, which has its own
// bound.
constexpr size_t kFilesPerWorker = 64;
// The window holds at least this many files, however few the workers. On two cores the host's
// thread and the command line's walk share them with the workers, and the host's thread is not
// always running when the workers run low: with 128 files a real tree of 27,000 files cost 950
// sleeps of the threads (workers idle until the host's thread came), with 512 a third of that.
constexpr size_t kLeastWindow = 512;
// The slots handed out in one hold of the walk's lock.
constexpr size_t kHandOutBatch = 32;
// Output waiting for the writer, all files together: a worker whose file is not the first one
// not yet written waits while this much waits, and the first one waits while this much of its
// own waits (the writer takes that file's output as it comes). The output held in memory stays
// within this limit and one write per worker.
constexpr size_t kWaitingOutputLimit = size_t{4} << 20;
// How long the host's thread waits for the next file at a time: results waiting in the output
// buffer are written at least this often, so a host that follows the output file sees them.
constexpr std::chrono::milliseconds kWriterWait{100};
// The host hears from the job at least this often while a file is searched.
constexpr uint32_t kProgressIntervalMs = 500;

// One entry of the add list on its way through the walk.
struct Slot {
    std::u16string FullName;
    std::u16string AccessName;
    FileSearch Search;
    // The counters of the file's own results.
    uint64_t Matches = 0;
    uint64_t PartsEndedEarly = 0;
    uint32_t PartsInFile = 0;
    uint32_t LastItemsWritten = 0;
    std::exception_ptr Failure;
    // The bytes searched (counted by the worker), and those the host was told of.
    std::atomic<uint64_t> Bytes{0};
    uint64_t Reported = 0;
    // Under the walk's lock: output the writer has not taken yet, with the records of its
    // matches when the writer filters or numbers them, and whether the worker is done.
    std::string Output;
    std::vector<MatchRecord> Records;
    std::vector<CounterMark> Counters;
    // Taken by a worker; one that is not when the walk stops never will be.
    bool Taken = false;
    bool Done = false;
};

// What records count for in the output waiting for the writer.
size_t RecordBytes(const std::vector<MatchRecord>& matches, const std::vector<CounterMark>& marks) {
    return matches.size() * sizeof(MatchRecord) + marks.size() * sizeof(CounterMark);
}

struct Walk {
    explicit Walk(const ExtractionJob& job) : Job(job) {}

    const ExtractionJob& Job;
    unsigned Workers = 1;
    // The files handed out and not yet written at most (see kFilesPerWorker, kLeastWindow).
    size_t WindowFiles = kLeastWindow;
    // The read memory a worker may take for a file at any time; a file that takes more waits
    // until it is the first one not yet written, so one such file is read at a time and a job
    // takes at most about twice the read memory it takes on the host's thread alone (the granted
    // memory once, and a share of it, at least 5 MiB, per other worker).
    int64_t ShareBytes = 0;
    std::mutex Lock;
    std::condition_variable WriterWakes;
    std::condition_variable WorkWaits;
    std::condition_variable TurnWaits;
    // The files handed out, in add-list order: the first is the writer's next.
    std::deque<std::unique_ptr<Slot>> Window;
    std::deque<Slot*> Todo;
    // The job filters duplicates or numbers its results: the workers leave records of their
    // matches, and the writer does both in add-list order (see MatchRecord).
    bool Recorded = false;
    // The bytes in the slots' Output and records, together.
    size_t Waiting = 0;
    // Workers waiting for a file.
    unsigned Idle = 0;
    bool ListDone = false;
    std::atomic<bool> Stop{false};

    bool IsFirst(const Slot& slot) const {
        return !Window.empty() && Window.front().get() == &slot;
    }
    // The writer waits for the first file not yet written. It is woken when that file has output
    // piling up, or when it is done and the workers run low on files. While they have files
    // enough, it is left to come by itself within a wait and write the files finished meanwhile
    // in a run: the workers go from file to file without a switch to its thread and back for
    // every file.
    bool RunningLow() const { return Todo.size() <= WindowFiles / 2; }
    // The writer could hand out more files: the list goes on and the window has room. A file
    // that takes long at the window's front would otherwise leave the other workers without
    // files until it is done.
    bool CanHandOut() const {
        return !ListDone && Window.size() < WindowFiles && Waiting < kWaitingOutputLimit;
    }
    // The writer has work: the first file not yet written is done, or files are to be handed
    // out.
    bool WriterWanted() const { return Window.front()->Done || CanHandOut(); }
    // Ends the walk early: searches stop at their next look at the flag, waits end.
    void Halt() {
        std::lock_guard guard(Lock);
        Stop = true;
        ListDone = true;
        Todo.clear();
        WorkWaits.notify_all();
        TurnWaits.notify_all();
    }
};

// Takes the walk's lock where it is taken often: by a worker, once a file, and by the writer
// after waking idle workers. Every hold of it is short: a thread that found it held tries again
// for some 50 us before it sleeps, since a sleep and the wake-up after it cost more than the wait
// (with files of a few KiB, half the workers' context switches were such sleeps).
std::unique_lock<std::mutex> TakeLock(std::mutex& mutex) {
    std::unique_lock lock(mutex, std::try_to_lock);
    for (int tries = 0; !lock.owns_lock() && tries < 2000; ++tries) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        lock.try_lock();
    }
    if (!lock.owns_lock()) lock.lock();
    return lock;
}

struct SlotSink {
    Walk& walk;
    ResultState& result; // the worker's: its records go with its output
    Slot* slot = nullptr;
};

bool RestartNothing(void*) {
    return true;
}

// Puts output of a worker's file into its slot, with the records of the matches it holds, once
// not too much output is waiting. False when the walk ended meanwhile. Called under the walk's
// lock; sets `wakeWriter` when the writer is to be woken for the output, which the caller does
// once it has let go of the lock.
bool PutIntoSlot(Walk& walk, Slot& slot, std::unique_lock<std::mutex>& lock, const char* bytes,
                 size_t count, ResultState& result, bool& wakeWriter) {
    walk.TurnWaits.wait(lock, [&] {
        const size_t waiting = walk.IsFirst(slot) ? slot.Output.size() : walk.Waiting;
        return waiting < kWaitingOutputLimit || walk.Stop;
    });
    if (walk.Stop) return false;
    slot.Output.append(bytes, count);
    walk.Waiting += count + RecordBytes(result.Records.Matches, result.Records.Counters);
    MatchRecords& records = result.Records;
    slot.Records.insert(slot.Records.end(), records.Matches.begin(), records.Matches.end());
    slot.Counters.insert(slot.Counters.end(), records.Counters.begin(), records.Counters.end());
    records.Matches.clear();
    records.Counters.clear();
    if (slot.Output.size() >= kFlushThreshold && walk.IsFirst(slot)) wakeWriter = true;
    return true;
}

// A worker's output goes to its file's slot while the file is searched.
bool WriteToSlot(void* target, const char* bytes, size_t count) {
    SlotSink& sink = *static_cast<SlotSink*>(target);
    bool wakeWriter = false;
    bool put = false;
    {
        std::unique_lock lock = TakeLock(sink.walk.Lock);
        put = PutIntoSlot(sink.walk, *sink.slot, lock, bytes, count, sink.result, wakeWriter);
    }
    if (wakeWriter) sink.walk.WriterWakes.notify_one();
    return put;
}

// The next entry to search, taken under the walk's lock; null once the list is done.
Slot* TakeNext(Walk& walk, std::unique_lock<std::mutex>& lock) {
    ++walk.Idle;
    walk.WorkWaits.wait(lock, [&] { return !walk.Todo.empty() || walk.ListDone; });
    --walk.Idle;
    if (walk.Todo.empty()) return nullptr;
    Slot* slot = walk.Todo.front();
    walk.Todo.pop_front();
    slot->Taken = true;
    return slot;
}

// Ends a worker's file and takes its next one in one hold of the walk's lock (taking it once
// for the file's last output, once to mark it done and once for the next file made every file
// a round of lock hand-overs between the threads): the output the search left in `rest` goes to
// the slot, the slot is marked done, and the writer is woken when it has work waiting. The
// wake-up comes after the lock is let go: woken while the worker holds it, the writer would find
// it taken and sleep again, and on a busy machine it takes the worker's processor at once, the
// lock still held, so that the other workers sleep on the lock as well.
Slot* FinishAndTakeNext(Walk& walk, Slot& slot, ResultState& result) {
    std::string& rest = result.OutputBuffer;
    bool wakeWriter = false;
    std::unique_lock lock = TakeLock(walk.Lock);
    if ((!rest.empty() || !result.Records.Matches.empty()) && !slot.Failure &&
        !PutIntoSlot(walk, slot, lock, rest.data(), rest.size(), result, wakeWriter))
        slot.Search.Status = SearchStatus::Cancelled;
    rest.clear();
    result.Records.Matches.clear();
    result.Records.Counters.clear();
    slot.Done = true;
    wakeWriter = wakeWriter || (walk.RunningLow() && walk.WriterWanted());
    if (!wakeWriter) return TakeNext(walk, lock);
    Slot* next = walk.Todo.empty() ? nullptr : TakeNext(walk, lock);
    const bool waits = next == nullptr && !walk.ListDone;
    lock.unlock();
    walk.WriterWakes.notify_one();
    if (!waits) return next;
    lock = TakeLock(walk.Lock);
    return TakeNext(walk, lock);
}

// A file that takes more than a worker's share of the read memory is searched once it is the
// first one not yet written. False when the walk ended meanwhile.
bool AwaitLargeReadTurn(Walk& walk, const Slot& slot) {
    std::unique_lock lock(walk.Lock);
    walk.TurnWaits.wait(lock, [&] { return walk.IsFirst(slot) || walk.Stop; });
    return !walk.Stop;
}

// Searches one entry into the worker's result, as if it were the first file of the job with
// results: the writer puts the separator or the byte order mark before them.
void SearchSlot(Walk& walk, SearchContext& context, LoadBuffer& buffer, Slot& slot) {
    ResultState& result = context.Result;
    result.OutputBuffer.clear();
    result.BytesWritten = 0;
    result.MatchCount = 0;
    result.ItemsWritten = 0;
    result.PartsEndedEarly = 0;
    result.PartsInFile = 0;
    platform::File input;
    const Settings& settings = context.JobSettings;
    if (!OpenForSearch(settings, walk.Job.Output, slot.FullName, slot.AccessName, input, buffer,
                       slot.Search))
        return;
    if (ReadMemoryOf(settings, slot.Search.DataSize) > walk.ShareBytes &&
        !AwaitLargeReadTurn(walk, slot)) {
        ReleaseLoaded(slot.Search.Loaded);
        slot.Search.Status = SearchStatus::Cancelled;
        return;
    }
    // What the search leaves in the output buffer goes to the slot as the file is marked done.
    SearchOpened(context, input, slot.Search);
    slot.Matches = result.MatchCount;
    slot.PartsEndedEarly = result.PartsEndedEarly;
    slot.PartsInFile = result.PartsInFile;
    slot.LastItemsWritten = result.ItemsWritten;
}

// Names the worker's own JIT stacks for the thread's searches while it runs.
struct ThreadStacks {
    JitStacks Stacks;
    explicit ThreadStacks(unsigned workers) {
        Stacks.Max = WorkerJitStackMax(workers);
        UseThreadJitStacks(&Stacks);
    }
    ~ThreadStacks() { UseThreadJitStacks(nullptr); }
    ThreadStacks(const ThreadStacks&) = delete;
    ThreadStacks& operator=(const ThreadStacks&) = delete;
};

// Lets go of the directory the worker's thread kept open for its inputs, however the worker ends.
struct ForgetInputDirectoryAtEnd {
    ~ForgetInputDirectoryAtEnd() { platform::ForgetInputDirectory(); }
};

void RunWorker(Walk& walk) {
    const ExtractionJob& job = walk.Job;
    ForgetInputDirectoryAtEnd forget;
    ThreadStacks stacks(walk.Workers);
    ResultState result;
    SlotSink sink{walk, result};
    // A worker's searches never call the host: they read the stop flag instead.
    SearchContext context{job.JobSettings,
                          job.Compiled,
                          job.System,
                          result,
                          OutputSink{&sink, &RestartNothing, &WriteToSlot},
                          nullptr,
                          &walk.Stop,
                          nullptr};
    try {
        result.Template = job.Result.Template;
        result.OutputBuffer.reserve(kOutputBufferCapacity);
    } catch (...) {
        // Without its own template and buffer the worker takes no file; the others take them.
        return;
    }
    // Output into the slot needs no restart, and the writer puts the byte order mark in.
    result.OutputStarted = true;
    result.Records.On = walk.Recorded;
    result.BomWritten = true;
    result.ProgressClockStarted = true;
    result.LastProgressTick = platform::TickCount();
    // The worker's own room for the files it reads whole.
    LoadBuffer buffer;
    Slot* slot = nullptr;
    {
        std::unique_lock lock(walk.Lock);
        slot = TakeNext(walk, lock);
    }
    while (slot != nullptr) {
        sink.slot = slot;
        context.BytesDone = &slot->Bytes;
        try {
            SearchSlot(walk, context, buffer, *slot);
        } catch (...) {
            slot->Failure = std::current_exception();
        }
        slot = FinishAndTakeNext(walk, *slot, result);
    }
}

// The workers of one walk; ending it early or leaving by an exception stops and joins them.
struct Crew {
    Walk& walk;
    std::vector<std::thread> Threads;

    explicit Crew(Walk& w) : walk(w) {
        Threads.reserve(walk.Workers);
        for (unsigned i = 0; i < walk.Workers; ++i) {
            try {
                Threads.emplace_back(&RunWorker, std::ref(walk));
            } catch (const std::system_error&) {
                break; // the system has no more threads for us: the ones started do the work
            }
        }
    }
    ~Crew() {
        walk.Halt();
        for (std::thread& thread : Threads) thread.join();
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;
};

// The separator or the byte order mark before a file's first result, where a walk on the host's
// thread writes them (see the match loop's Report).
void OpenFileResults(ExtractionJob& job) {
    ResultState& result = job.Result;
    const Settings& settings = job.JobSettings;
    if (result.MatchCount == 0 && settings.WriteBom && !result.BomWritten) {
        result.OutputBuffer += "\xEF\xBB\xBF";
        result.BomWritten = true;
    } else if (result.MatchCount != 0 && !settings.SearchAndReplace &&
               !(result.ItemsWritten == 0 && result.Template.MissingGroupCount > 0)) {
        result.OutputBuffer += "\r\n";
    }
}

// Output taken from a slot for the writer.
struct Taken {
    std::string bytes;
    std::vector<MatchRecord> records;
    std::vector<CounterMark> counters;
};

// The host's thread: hands out the entries, writes the results in order, merges the files and
// talks to the host.
struct Writer {
    ExtractionJob& job;
    JobOutcome& outcome;
    Walk& walk;
    SearchContext& context = *job.Context;
    bool frontOpened = false;
    // The recorded output of the first file not yet written (see MatchRecord) that is not
    // written yet: its bytes from `start` on, the records of its matches (some still to come) and
    // the counter marks in them.
    struct Recorded {
        std::string bytes;
        uint64_t start = 0;
        std::vector<MatchRecord> records;
        std::vector<CounterMark> counters;
        bool fileHeader = false;
        uint32_t line = 0;
    } replay{};
    uint32_t lastProgress = platform::TickCount();
    uint32_t lastFlush = lastProgress;
    // Slots written, for the next entries: their names keep their room.
    std::vector<std::unique_ptr<Slot>> spare{};

    void Reuse(std::unique_ptr<Slot> slot) {
        if (spare.size() >= walk.WindowFiles) return;
        std::u16string fullName = std::move(slot->FullName);
        std::u16string accessName = std::move(slot->AccessName);
        std::u16string fileName = std::move(slot->Search.File.FileName);
        std::destroy_at(slot.get());
        std::construct_at(slot.get());
        slot->FullName = std::move(fullName);
        slot->AccessName = std::move(accessName);
        fileName.clear();
        slot->Search.File.FileName = std::move(fileName);
        spare.push_back(std::move(slot));
    }

    bool Going() const { return outcome.ok && !outcome.aborted; }

    // Writes the output buffer (and empties an existing output file before its first write):
    // now, or when due (full, or written last more than a wait ago).
    void Flush(bool whenDue) {
        const std::string& buffer = job.Result.OutputBuffer;
        if (!outcome.ok) return;
        const uint32_t now = platform::TickCount();
        if (whenDue && (buffer.empty() || (buffer.size() <= kFlushThreshold &&
                                           now - lastFlush < kWriterWait.count())))
            return;
        lastFlush = now;
        if (!FlushOutput(context.Output, job.Result)) outcome.ok = false;
    }

    void Put(const std::string& bytes) {
        if (!frontOpened) {
            OpenFileResults(job);
            frontOpened = true;
        }
        if (bytes.size() > kFlushThreshold) {
            Flush(false);
            if (outcome.ok &&
                !context.Output.Write(context.Output.Target, bytes.data(), bytes.size()))
                outcome.ok = false;
            return;
        }
        job.Result.OutputBuffer += bytes;
        Flush(true);
    }

    // Writes one recorded match as a search on this thread would have: unless it is a duplicate
    // of one written before, after the separator or byte order mark and line mode's headers, with
    // its counters numbered among the results written so far.
    void WriteRecord(const Slot& slot, const MatchRecord& record, const CounterMark* marks,
                     uint64_t itemsStart) {
        ResultState& result = job.Result;
        const Settings& settings = job.JobSettings;
        if (settings.NoDuplicates && !result.SeenHashes.insert(record.Hash).second) {
            ++result.DuplicateCount;
            return;
        }
        std::string& out = result.OutputBuffer;
        if (result.MatchCount == 0 && settings.WriteBom && !result.BomWritten) {
            out += "\xEF\xBB\xBF";
            result.BomWritten = true;
        } else if (result.MatchCount != 0 &&
                   !(result.ItemsWritten == 0 && result.Template.MissingGroupCount > 0)) {
            out += "\r\n";
        }
        result.ItemsWritten = record.Items;
        if (settings.LineMode) {
            if (!replay.fileHeader) AppendFileHeader(out, slot.FullName, settings);
            if (!replay.fileHeader || replay.line != record.Line)
                AppendLineHeader(out, record.Line);
            replay.fileHeader = true;
            replay.line = record.Line;
        }
        // Offsets count from the start of the file's output; the bytes held start at `start`.
        auto items = [&](uint64_t from, uint64_t to) {
            out.append(replay.bytes, static_cast<size_t>(from - replay.start),
                       static_cast<size_t>(to - from));
        };
        uint64_t at = itemsStart;
        for (uint32_t k = 0; k < record.Counters; ++k) {
            items(at, marks[k].At);
            char digits[32];
            out.append(digits, CounterText(result.MatchCount, marks[k].Code, digits));
            at = marks[k].At;
        }
        items(at, record.End);
        ++result.MatchCount;
        if (out.size() > kFlushThreshold) Flush(false);
    }

    // Takes recorded output of the first file not yet written and writes the matches whose items
    // are all there.
    void Replay(const Slot& slot, const Taken& taken) {
        replay.bytes += taken.bytes;
        replay.records.insert(replay.records.end(), taken.records.begin(), taken.records.end());
        replay.counters.insert(replay.counters.end(), taken.counters.begin(), taken.counters.end());
        const uint64_t arrived = replay.start + replay.bytes.size();
        uint64_t done = replay.start;
        size_t r = 0;
        size_t c = 0;
        for (; r < replay.records.size() && replay.records[r].End <= arrived && Going(); ++r) {
            const MatchRecord& record = replay.records[r];
            WriteRecord(slot, record, replay.counters.data() + c, done);
            c += record.Counters;
            done = record.End;
        }
        replay.records.erase(replay.records.begin(), replay.records.begin() + r);
        replay.counters.erase(replay.counters.begin(), replay.counters.begin() + c);
        replay.bytes.erase(0, static_cast<size_t>(done - replay.start));
        replay.start = done;
        Flush(true);
    }

    // Tells the host the bytes of the file searched since the last call; its answer may stop
    // the job.
    void Progress(Slot& slot) {
        lastProgress = platform::TickCount();
        uint64_t bytes = slot.Bytes.load() - slot.Reported;
        do {
            const int step = static_cast<int>(std::min<uint64_t>(bytes, INT_MAX));
            slot.Reported += static_cast<uint64_t>(step);
            bytes -= static_cast<uint64_t>(step);
            if (!context.KeepGoing(slot.FullName, step)) outcome.aborted = true;
        } while (bytes > 0 && !outcome.aborted);
    }

    void Merge(Slot& slot) {
        if (slot.Failure) std::rethrow_exception(slot.Failure);
        if (slot.Search.NotAFile) {
            if (!context.KeepGoing(slot.FullName, 0)) outcome.aborted = true;
            return;
        }
        if (walk.Recorded) {
            // The next file's recorded output starts afresh.
            replay = {};
        } else if (slot.Matches != 0 && !frontOpened) {
            OpenFileResults(job);
        }
        frontOpened = false;
        // A worker's search ends cancelled or failed only when this thread stopped the walk, for
        // reasons the outcome holds already.
        const JobOutcome before = outcome;
        MergeFileSearch(job, outcome, slot.FullName, slot.Search, slot.PartsInFile);
        outcome.ok = before.ok;
        outcome.aborted = before.aborted;
        ResultState& result = job.Result;
        result.PartsEndedEarly += slot.PartsEndedEarly;
        result.PartsInFile = slot.PartsInFile;
        // Recorded matches were counted as they were written.
        if (!walk.Recorded) result.MatchCount += slot.Matches;
        if (!walk.Recorded && slot.Matches != 0) result.ItemsWritten = slot.LastItemsWritten;
        if (Going()) Progress(slot);
    }

    // Adds entries to the window while it has room. Called under the walk's lock, which it lets
    // go while it makes the slots, a batch at a time: workers that ran out of files start on the
    // first ones while the rest are made (a window's worth takes a few milliseconds). Waits for
    // the host's next names only when it has none at hand (a host still finding the files).
    void HandOut(std::unique_lock<std::mutex>& lock, const std::u16string& sourcePath,
                 AddList& names, AddListPlace& at) {
        bool listEnds = false;
        bool first = true;
        // Idle workers are woken once the lock is let go (see FinishAndTakeNext).
        bool wakeWorkers = false;
        std::u16string_view entry;
        std::vector<std::unique_ptr<Slot>> fresh;
        while (!listEnds && walk.CanHandOut()) {
            const size_t room = std::min(walk.WindowFiles - walk.Window.size(), kHandOutBatch);
            lock.unlock();
            if (wakeWorkers) walk.WorkWaits.notify_all();
            wakeWorkers = false;
            fresh.clear();
            while (fresh.size() < room) {
                if ((!first || !fresh.empty()) && !EntryAtHand(names, at) && !names.Ended) break;
                if (!NextEntry(names, at, entry)) {
                    listEnds = true;
                    break;
                }
                std::unique_ptr<Slot> slot;
                if (spare.empty()) {
                    slot = std::make_unique<Slot>();
                } else {
                    slot = std::move(spare.back());
                    spare.pop_back();
                }
                slot->FullName.assign(sourcePath).append(entry);
                AssignAccessName(slot->FullName, slot->AccessName);
                fresh.push_back(std::move(slot));
            }
            first = false;
            lock.lock();
            for (std::unique_ptr<Slot>& slot : fresh) {
                walk.Todo.push_back(slot.get());
                walk.Window.push_back(std::move(slot));
            }
            if (listEnds) walk.ListDone = true;
            wakeWorkers = walk.Idle != 0;
            if (fresh.size() < room) break; // nothing more at hand
        }
        if (wakeWorkers) {
            lock.unlock();
            walk.WorkWaits.notify_all();
            lock = TakeLock(walk.Lock);
        }
    }

    // Takes a slot's output and records, under the walk's lock.
    void Take(Slot& slot, Taken& taken) {
        taken.bytes.swap(slot.Output);
        taken.records.swap(slot.Records);
        taken.counters.swap(slot.Counters);
        walk.Waiting -= taken.bytes.size() + RecordBytes(taken.records, taken.counters);
    }

    // Writes output taken from a slot.
    void Write(const Slot& slot, Taken& taken) {
        if (walk.Recorded)
            Replay(slot, taken);
        else if (!taken.bytes.empty())
            Put(taken.bytes);
        taken.bytes.clear();
        taken.records.clear();
        taken.counters.clear();
    }

    void Run(const std::u16string& sourcePath, AddList& names) {
        AddListPlace at;
        std::unique_lock lock(walk.Lock);
        // The files done at the window's front, taken in one hold of the lock, with their output.
        std::vector<std::pair<std::unique_ptr<Slot>, Taken>> finished;
        // (Room for a whole window: no allocation while the workers wait for the lock.)
        finished.reserve(walk.WindowFiles);
        Taken partial;
        while (Going()) {
            HandOut(lock, sourcePath, names, at);
            if (walk.Window.empty()) break;
            Slot* front = walk.Window.front().get();
            walk.WriterWakes.wait_for(lock, kWriterWait, [&] {
                return front->Done || !front->Output.empty() ||
                       (walk.RunningLow() && walk.CanHandOut());
            });
            finished.clear();
            while (!walk.Window.empty() && walk.Window.front()->Done) {
                finished.emplace_back(std::move(walk.Window.front()), Taken{});
                walk.Window.pop_front();
                Take(*finished.back().first, finished.back().second);
            }
            if (finished.empty()) Take(*front, partial);
            lock.unlock();
            // Room for the output waiting behind, or the turn of a large file.
            walk.TurnWaits.notify_all();
            for (auto& [slot, taken] : finished) {
                if (!Going()) break;
                Write(*slot, taken);
                Merge(*slot);
            }
            for (auto& done : finished) Reuse(std::move(done.first));
            if (finished.empty()) Write(*front, partial);
            Flush(true);
            if (finished.empty() && Going() &&
                platform::TickCount() - lastProgress >= kProgressIntervalMs)
                Progress(*front);
            if (finished.empty() && !Going()) CountStoppedFile(*front);
            lock.lock();
        }
    }

    // A cancel or a failed write ends the walk in the middle of the file being written: it is
    // counted with what its search found until the workers stopped, as on the host's thread. A
    // file no worker had taken yet (the host was asked about it the moment it was handed out)
    // was not searched, and no worker will take it now: there is nothing to wait for or count.
    void CountStoppedFile(Slot& front) {
        walk.Halt();
        {
            std::unique_lock lock(walk.Lock);
            walk.WriterWakes.wait(lock, [&] { return front.Done || !front.Taken; });
            if (!front.Done) return;
        }
        if (!front.Failure) Merge(front);
    }
};

// Whether the job's results depend on every result before them: duplicates are filtered, or
// the template numbers them.
bool FiltersOrNumbers(const ExtractionJob& job) {
    const std::vector<int32_t>& codes = job.Result.Template.ItemCodes;
    return job.JobSettings.NoDuplicates || std::any_of(codes.begin(), codes.end(), IsCounterItem);
}

} // namespace

unsigned WorkerCount(int32_t threadsSetting) {
    if (threadsSetting > 0) return std::min(static_cast<unsigned>(threadsSetting), kMostWorkers);
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMostWorkers);
}

bool SearchesInParallel(const ExtractionJob& job, AddList& names) {
    const Settings& settings = job.JobSettings;
    if (WorkerCount(settings.Threads) < 2) return false;
    AddListPlace at;
    std::u16string_view entry;
    if (!NextEntry(names, at, entry) || !NextEntry(names, at, entry)) return false;
    // A byte order mark with search and replace goes in the middle of the copied text, before
    // the part that holds the first match; the duplicates filter and the counters with search and
    // replace would decide what is copied. Such jobs keep to the host's thread.
    if (settings.SearchAndReplace && (settings.WriteBom || FiltersOrNumbers(job))) return false;
    return true;
}

bool WalkInParallel(ExtractionJob& job, JobOutcome& outcome, const std::u16string& sourcePath,
                    AddList& names) {
    Walk walk(job);
    walk.Workers = WorkerCount(job.JobSettings.Threads);
    walk.WindowFiles = std::max(walk.Workers * kFilesPerWorker, kLeastWindow);
    walk.Recorded = FiltersOrNumbers(job);
    const int64_t granted = int64_t{SettingGrantMiB(job.JobSettings.Memory)} << 20;
    walk.ShareBytes = std::max<int64_t>(granted / walk.Workers, int64_t{5} << 20);
    Crew crew(walk);
    if (crew.Threads.empty()) return false;
    Writer writer{job, outcome, walk};
    writer.Run(sourcePath, names);
    return true;
}

} // namespace gleanery
