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
// findings are not in the URL list yet.
struct ParallelLimits {
    // A reader starts file i only while i < oldest + filesAhead; 0 means
    // twice the number of readers.
    std::size_t filesAhead = 0;
    // Storage (bytes, as SharedList::MemoryUsage counts it) of findings one
    // file may hold back. A reader whose file reaches it waits until that file
    // is the oldest, then writes its findings straight into the URL list and
    // goes on. So no more than filesAhead files' findings wait at any time,
    // each of them within this limit (plus the findings of one line).
    std::size_t heldBytes = std::size_t{1} << 20;
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

    void Start();
    void Wait();
    // The whole scan on the current thread (the readers on threads of their own).
    void CollectNow();

    std::uint32_t StartTick() const { return startTick_; }
    // The most storage that findings held while waiting for their file's
    // turn (finished files and readers waiting at the limit), for
    // measurements and tests.
    std::size_t PeakWaitingBytes() const;

private:
    class Reader;
    // A file between the oldest one not in the list and the next to start.
    struct Slot {
        Text path;
        std::unique_ptr<SharedList> findings;  // held back until the file's turn
        FindingOrigins origins;
        std::size_t bytes = 0;
        bool announced = false;  // ReadingFile posted
        bool finished = false;
        bool ok = false;            // read to its end without a failure
        bool cut = false;           // ended by a stop
        std::string failure;        // why it could not be read, when not ok
        std::vector<Text> members;  // entries of an archive's members, put in at its turn
    };
    bool Stopping() const { return control_.StopRequested.load(std::memory_order_relaxed); }
    void RunReader();
    bool Claim(std::size_t& index, Text& path);
    void Finish(Reader& reader, bool ok, bool cut, std::string failure);
    void Overflow(Reader& reader);
    void FlushLocked(Slot& slot, Reader& reader);
    void CommitReadyLocked();

    ScanJob job_;
    SharedList& files_;
    SharedList& urls_;
    ScanControl& control_;
    ScanSink& sink_;
    unsigned readers_;
    DocumentReaders documentReaders_;
    ParallelLimits limits_;
    FindingOrigins* origins_ = nullptr;
    std::uint32_t startTick_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t head_ = 0;  // oldest file not yet in the list
    std::size_t next_ = 0;  // next file to start
    // Members' entries put into the files list so far (all after files
    // before head_): file i of the scan is entry i + membersListed_.
    std::size_t membersListed_ = 0;
    std::deque<Slot> slots_;  // files head_ .. next_-1
    bool ended_ = false;      // a stopped file was committed: nothing more goes in
    std::size_t waitingBytes_ = 0;
    std::size_t peakWaitingBytes_ = 0;
    std::thread thread_;
};

}  // namespace corvexa
