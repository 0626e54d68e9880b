#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/collector.h"
#include "engine/finding_origins.h"

namespace corvexa {

// How far the readers of a parallel scan may run ahead of the oldest file whose
// findings are not in the URL list yet. The window is wide, so that one large
// file keeps one reader while the others go on through the small ones after
// it; what it costs is bounded by the storage the waiting findings take.
struct ParallelLimits {
    // A reader starts file i only while i < oldest + filesAhead; 0 means
    // 1024 a reader (half of the bytes may be in a hundred files of thousands).
    std::size_t filesAhead = 0;
    // Storage (bytes, as SharedList::MemoryUsage counts it) of findings one
    // file may hold back. A reader whose file reaches it waits until that file
    // is the oldest, then writes its findings straight into the URL list and
    // goes on. So no more than filesAhead files' findings wait at any time,
    // each of them within this limit (plus the findings of a few lines).
    std::size_t heldBytes = std::size_t{1} << 20;
    // Storage of the findings waiting, all files together, at which no reader
    // starts another file until some of them are in the list; 0 means 16
    // times heldBytes a reader.
    std::size_t waitingBytes = 0;
};

// The scan of TCollector with the files read on several threads. The findings,
// the files list and the notifications come out exactly as one collector
// would produce them: in file order, each file's findings in the order found.
//
// The walk (directory mode) runs first, on the scan's own thread. Then every
// reader takes the next file of the list, reads it into a buffer of its own,
// and the buffers go into the URL list in file order. ReadingFile and FileDone
// of a file are posted when its findings begin to go into the list, so a sink
// sees the files list, the URL list and the counts agree, as after -j 1.
//
// Stop: no reader starts another file; each ends its file at the next line.
// The URL list then holds every finding of files 0..k-1, the findings of file k
// up to the line where it was stopped, and nothing of later files: what one
// collector stopped in file k would have found.
//
// Document readers are called one at a time (the outside programs behind them
// must not run side by side); plain text is read fully in parallel.
class ParallelCollector {
public:
    ParallelCollector(ScanJob job, SharedList& files, SharedList& urls, ScanControl& control,
                      ScanSink& sink, unsigned readers,
                      DocumentReaders documentReaders = DocumentReaders::BuiltIn(),
                      ParallelLimits limits = {});
    ~ParallelCollector();  // waits for the thread
    ParallelCollector(const ParallelCollector&) = delete;
    ParallelCollector& operator=(const ParallelCollector&) = delete;

    // Notes each finding's file and line in `origins`; call before Start.
    void RecordOrigins(FindingOrigins* origins) { origins_ = origins; }
    // File-list mode: the list is still being read; the readers start on the
    // first names and wait at the list's end until it is closed. Before Start.
    void SetFeed(FileListFeed* feed) { feed_ = feed; }

    void Start();
    void Wait();
    // The whole scan on the current thread (the readers on threads of their own).
    void CollectNow();

    std::uint32_t StartTick() const { return startTick_; }
    // The most storage that findings held while waiting for their file's
    // turn (finished files and readers waiting at the limit), for
    // measurements and tests.
    std::size_t PeakWaitingBytes() const;
    // How many files are read to their end and wait for their turn.
    std::size_t FilesWaiting() const;

private:
    class Reader;
    // A file between the oldest one not in the list and the next to start.
    struct Slot {
        Text path;
        // Held back until the file's turn; or, for the file at the head whose
        // reader commits it itself, in that reader's own buffer (direct).
        // What is held goes back to its reader to be freed, so that memory is
        // freed by the thread that took it (no waits for another's arena).
        Reader* reader = nullptr;
        bool direct = false;
        std::unique_ptr<SharedList> held;
        std::unique_ptr<FindingOrigins> heldOrigins;
        std::size_t bytes = 0;
        bool announced = false;  // ReadingFile posted
        bool finished = false;
        bool ok = false;            // read to its end without a failure
        bool cut = false;           // ended by a stop
        bool missing = false;       // a list entry that names no file
        std::string failure;        // why it could not be read, when not ok
        std::size_t index = 0;      // the file's place among the scan's files
        std::vector<Text> members;  // entries of an archive's members, put in after its commit
    };
    bool Stopping() const { return control_.StopRequested.load(std::memory_order_relaxed); }
    void RunReader(Reader& reader);
    bool Claim(Reader& reader, Text& path);
    void Finish(Reader& reader, bool ok, bool missing, std::string failure);
    void Overflow(Reader& reader);
    void CommitReady(std::unique_lock<std::mutex>& lock);
    void Commit(Slot& slot, std::size_t shift);
    // Puts the members' entries of committed files into the files list.
    void ListMembersLocked(std::vector<Slot>& batch);

    ScanJob job_;
    SharedList& files_;
    SharedList& urls_;
    ScanControl& control_;
    ScanSink& sink_;
    unsigned readers_;
    DocumentReaders documentReaders_;
    ParallelLimits limits_;
    FindingOrigins* origins_ = nullptr;
    FileListFeed* feed_ = nullptr;
    std::uint32_t startTick_ = 0;

    // Guards the window of files below. The findings go into the URL list
    // and the notifications to the sink outside it, by one thread at a time:
    // the one that holds the commit turn (committing_), so that a reader
    // never waits for another's copying to claim or finish a file.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t head_ = 0;     // oldest file not yet handed to a commit
    std::size_t next_ = 0;     // next file to start
    std::deque<Slot> slots_;   // files head_ .. next_-1
    bool committing_ = false;  // a thread holds the commit turn
    bool ended_ = false;       // a stopped file was committed: nothing more goes in
    // Members' entries put into the files list so far, all after files
    // before head_: file i of the scan is entry i + membersListed_ once the
    // files before it are in.
    std::size_t membersListed_ = 0;
    std::size_t waitingBytes_ = 0;
    std::size_t peakWaitingBytes_ = 0;
    // Counted by the thread with the commit turn.
    std::uint64_t filesRead_ = 0, filesFailed_ = 0, entriesMissing_ = 0;
    std::thread thread_;
};

}  // namespace corvexa
