#include "engine/parallel_scan.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/tick.h"

namespace corvexa {

namespace {

class NullSink : public ScanSink {
public:
    void WalkStarted() override {}
    void FileFound(const Text&) override {}
    void WalkFinished() override {}
    void ReadingFile(const Text&) override {}
    void FileDone() override {}
    void ScanFinished(const ScanSummary&) override {}
};

// Lets one document reader work at a time, across all readers that share the
// lock: the converters and office programs behind them run one at a time.
class SerialReader : public DocumentReader {
public:
    SerialReader(std::shared_ptr<DocumentReader> inner, std::shared_ptr<std::mutex> lock)
        : inner_(std::move(inner)), lock_(std::move(lock)) {}
    std::string_view Name() const override { return inner_->Name(); }
    std::string_view Description() const override { return inner_->Description(); }
    bool Available() const override {
        std::lock_guard guard(*lock_);
        return inner_->Available();
    }
    Text ReadText(const Text& path) override {
        std::lock_guard guard(*lock_);
        // The collector gives its stop flag to this wrapper; the reader inside
        // needs it to end an outside program at STOP or Ctrl-C.
        inner_->SetStopFlag(StopFlag());
        return inner_->ReadText(path);
    }
    bool ReadsMemory() const override { return inner_->ReadsMemory(); }
    Text ReadBytes(std::string_view bytes, const std::string& name) override {
        std::lock_guard guard(*lock_);
        inner_->SetStopFlag(StopFlag());
        return inner_->ReadBytes(bytes, name);
    }
    void StreamText(const Text& path, const TextPieces& feed) override {
        std::lock_guard guard(*lock_);
        inner_->SetStopFlag(StopFlag());
        inner_->StreamText(path, feed);
    }
    std::vector<LinkTarget> ReadLinks(const Text& path) override {
        std::lock_guard guard(*lock_);
        inner_->SetStopFlag(StopFlag());
        return inner_->ReadLinks(path);
    }
    std::vector<LinkTarget> ReadLinksOfBytes(std::string_view bytes,
                                             const std::string& name) override {
        std::lock_guard guard(*lock_);
        inner_->SetStopFlag(StopFlag());
        return inner_->ReadLinksOfBytes(bytes, name);
    }

private:
    std::shared_ptr<DocumentReader> inner_;
    std::shared_ptr<std::mutex> lock_;
};

DocumentReaders Serialised(const DocumentReaders& readers) {
    auto lock = std::make_shared<std::mutex>();
    auto wrap = [&](const std::shared_ptr<DocumentReader>& r) -> std::shared_ptr<DocumentReader> {
        if (!r) return nullptr;
        return std::make_shared<SerialReader>(r, lock);
    };
    DocumentReaders out = readers;
    out.xpdf = wrap(readers.xpdf);
    out.pdfium = wrap(readers.pdfium);
    for (const DocumentKindInfo& kind : DocumentKindTable())
        if (kind.oneAtATime) out.Of(kind.kind) = wrap(readers.Of(kind.kind));
    return out;
}

// How many characters of lines with findings' keys a reader hands to
// detection between two looks at its buffer's size. A look takes the buffer's
// lock, so not every line pays for one; findings are pieces of their line, so
// what comes in between stays within a few times this many characters.
constexpr std::size_t kCheckEveryChars = 4096;

// How many emptied lists a reader keeps for the findings of its next files,
// and the storage each may keep: most files' findings are few.
constexpr std::size_t kPooledLists = 16;
constexpr std::size_t kPooledBytes = 64 * 1024;

}  // namespace

// One reading thread: a collector of its own whose findings go to a buffer.
// It stands between the text readers and detection to watch that buffer.
class ParallelCollector::Reader : public LineSink {
public:
    Reader(ParallelCollector& owner)
        : owner_(owner),
          collector(owner.job_, owner.files_, buffer, owner.control_, nullSink_,
                    owner.documentReaders_) {
        collector.SetLineSink(*this);
        if (owner.origins_) collector.RecordOrigins(&origins);
    }

    // Everything detection offers a reader is offered through this sink too,
    // so that a file costs the same here as with one collector: the keys
    // found in ASCII bytes before decoding, and the line as bytes.
    std::size_t NextKey(const char16_t* text, std::size_t from, std::size_t n) const override {
        return detection_.NextKey(text, from, n);
    }
    bool KeysInAscii() const override { return detection_.KeysInAscii(); }
    std::size_t NextKeyAscii(const char* text, std::size_t from, std::size_t n) const override {
        return detection_.NextKeyAscii(text, from, n);
    }
    void Line(TextView line) override {
        detection_.lineNumber = lineNumber;
        detection_.lineBytes = lineBytes;
        detection_.Line(line);
        detection_.lineBytes = nullptr;
        sinceCheck_ += line.size() + 1;
        if (sinceCheck_ >= kCheckEveryChars) {
            sinceCheck_ = 0;
            if (buffer.MemoryUsage() >= owner_.limits_.heldBytes) owner_.Overflow(*this);
        }
    }
    // A long line in parts: detection holds the parts' findings until the end.
    const LineCuts* Cuts() const override { return detection_.Cuts(); }
    void LinePart(TextView part) override {
        detection_.lineNumber = lineNumber;
        detection_.lineBytes = nullptr;  // a part: the bytes are the whole line's
        detection_.LinePart(part);
        sinceCheck_ += part.size();  // held by detection until the line's end
    }
    void AbandonLine() override { detection_.AbandonLine(); }

    void Begin(std::size_t index) {
        file = index;
        origins.BeginFile(index);
        sinceCheck_ = 0;
    }

    SharedList buffer{SharedList::Use::OneThreadAtATime};
    FindingOrigins origins;
    std::size_t file = 0;
    // Held findings of this reader's files, back from their commit; the
    // owner's lock guards them.
    std::vector<std::unique_ptr<SharedList>> spentLists;
    std::vector<std::unique_ptr<FindingOrigins>> spentOrigins;
    // Emptied held lists whose storage serves again (this reader's thread only).
    std::vector<std::unique_ptr<SharedList>> pool;

private:
    ParallelCollector& owner_;
    NullSink nullSink_;
    std::size_t sinceCheck_ = 0;

public:
    TCollector collector;

private:
    Detector& detection_ = collector.Detection();
};

ParallelCollector::ParallelCollector(ScanJob job, SharedList& files, SharedList& urls,
                                     ScanControl& control, ScanSink& sink, unsigned readers,
                                     DocumentReaders documentReaders, ParallelLimits limits)
    : job_(std::move(job)),
      files_(files),
      urls_(urls),
      control_(control),
      sink_(sink),
      readers_(std::max(1u, readers)),
      documentReaders_(Serialised(documentReaders)),
      limits_(limits) {
    if (limits_.filesAhead == 0) limits_.filesAhead = 1024 * std::size_t{readers_};
    if (limits_.waitingBytes == 0) limits_.waitingBytes = 16 * limits_.heldBytes * readers_;
}

ParallelCollector::~ParallelCollector() {
    Wait();
}

void ParallelCollector::Start() {
    thread_ = std::thread([this] { CollectNow(); });
}

void ParallelCollector::Wait() {
    if (thread_.joinable()) thread_.join();
}

std::size_t ParallelCollector::PeakWaitingBytes() const {
    std::lock_guard lock(mutex_);
    return peakWaitingBytes_;
}

std::size_t ParallelCollector::FilesWaiting() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.finished; }));
}

void ParallelCollector::CollectNow() {
    startTick_ = platform::TickCount32();
    ScanSummary summary;
    summary.StartTick = startTick_;
    if (job_.Mode == ScanMode::Directory) {
        TCollector walker(job_, files_, urls_, control_, sink_, documentReaders_);
        walker.Walk(summary);
    } else if (!feed_) {
        DropMemberEntries(files_);  // an earlier scan's; they come again with their archive
    }
    // All readers are set up before any reads: setting one up asks the
    // document readers whether they can run, which waits while another
    // reader converts a document.
    std::vector<std::unique_ptr<Reader>> readers;
    for (unsigned i = 0; i < readers_; ++i) readers.push_back(std::make_unique<Reader>(*this));
    // This thread is one of the readers.
    std::vector<std::thread> threads;
    threads.reserve(readers_ - 1);
    for (unsigned i = 1; i < readers_; ++i)
        threads.emplace_back([this, &readers, i] { RunReader(*readers[i]); });
    RunReader(*readers[0]);
    for (std::thread& t : threads) t.join();
    summary.FilesListed = files_.Size() - membersListed_;
    summary.FilesRead = filesRead_;
    summary.FilesFailed = filesFailed_;
    summary.EntriesMissing = entriesMissing_;
    summary.Stopped = Stopping();
    sink_.ScanFinished(summary);
}

void ParallelCollector::RunReader(Reader& reader) {
    Text path;
    while (Claim(reader, path)) {
        // A file that fails is skipped; its findings so far stay. The reason
        // goes to the sink in file order, as the one-thread collector tells it.
        std::string failure;
        bool ok = true;
        try {
            reader.collector.ExtractURLsFromFile(path);
        } catch (const std::bad_alloc&) {
            ok = false;
            failure = "out of memory";
        } catch (const std::exception& e) {
            ok = false;
            failure = e.what();
        }
        const bool missing = !ok && failure != "out of memory" && job_.Mode == ScanMode::FileList &&
                             NamesNoFile(path);
        Finish(reader, ok, missing, std::move(failure));
    }
    reader.collector.ReleaseFolder();
}

bool ParallelCollector::Claim(Reader& reader, Text& path) {
    std::unique_lock lock(mutex_);
    if (!reader.spentLists.empty() || !reader.spentOrigins.empty()) {
        // Emptied here, by the thread that took the memory, outside the lock:
        // a few of them keep their storage for the reader's next files.
        auto lists = std::move(reader.spentLists);
        auto origins = std::move(reader.spentOrigins);
        reader.spentLists.clear();
        reader.spentOrigins.clear();
        lock.unlock();
        for (auto& list : lists) {
            if (reader.pool.size() >= kPooledLists) break;
            list->Recycle(kPooledBytes);
            reader.pool.push_back(std::move(list));
        }
        lists.clear();
        origins.clear();
        lock.lock();
    }
    for (;;) {
        changed_.wait(lock, [&] {
            return ended_ || Stopping() ||
                   (next_ < head_ + limits_.filesAhead && waitingBytes_ < limits_.waitingBytes);
        });
        if (ended_ || Stopping()) return false;
        // Every file before next_ that is in has its members' entries after it.
        if (files_.TryAt(next_ + membersListed_, path)) break;
        if (!feed_) return false;
        // The names still being read: wait for more without the lock, then
        // look again (another reader may have taken them meanwhile).
        const std::size_t have = files_.Size();
        lock.unlock();
        const bool more = feed_->WaitBeyond(have, control_.StopRequested);
        lock.lock();
        if (!more && !(files_.Size() > have)) return false;
    }
    slots_.emplace_back();
    slots_.back().path = path;
    slots_.back().index = next_;
    reader.Begin(next_++);
    slots_.back().reader = &reader;
    return true;
}

void ParallelCollector::Overflow(Reader& reader) {
    std::unique_lock lock(mutex_);
    if (head_ != reader.file || committing_) {
        // Counted as waiting while it waits.
        const std::size_t bytes = reader.buffer.MemoryUsage();
        waitingBytes_ += bytes;
        peakWaitingBytes_ = std::max(peakWaitingBytes_, waitingBytes_);
        changed_.wait(lock, [&] { return ended_ || (head_ == reader.file && !committing_); });
        waitingBytes_ -= bytes;
    }
    if (ended_) {
        // Only a stop ends the commits: this file's findings never go in, and
        // its reader stops at the next line.
        lock.unlock();
        reader.buffer.Clear();
        reader.origins.Clear();
        return;
    }
    // The file is the oldest and nobody commits: its findings so far go in
    // now, with the turn held, outside the lock.
    Slot& slot = slots_.front();
    const bool announce = !slot.announced;
    slot.announced = true;
    committing_ = true;
    const std::size_t shift = membersListed_;
    lock.unlock();
    if (announce) sink_.ReadingFile(slot.path);
    urls_.AppendFrom(reader.buffer);
    reader.buffer.Recycle();
    if (origins_) origins_->TakeFrom(reader.origins, shift);
    lock.lock();
    committing_ = false;
    changed_.notify_all();
}

void ParallelCollector::Finish(Reader& reader, bool ok, bool missing, std::string failure) {
    std::unique_lock lock(mutex_);
    if (ended_) {
        lock.unlock();
        reader.buffer.Clear();
        reader.origins.Clear();
        return;
    }
    Slot& slot = slots_[reader.file - head_];
    if (head_ == reader.file && !committing_) {
        // This thread takes the turn below and commits the file before it
        // returns: the findings need not leave its buffer.
        slot.direct = true;
    } else {
        // Held back until the files before it are in: moved, not copied; the
        // buffer goes on in the storage of a list that was held before.
        if (reader.pool.empty()) {
            slot.held = std::make_unique<SharedList>(SharedList::Use::OneThreadAtATime);
        } else {
            slot.held = std::move(reader.pool.back());
            reader.pool.pop_back();
        }
        slot.held->Swap(reader.buffer);
        slot.bytes = slot.held->MemoryUsage();
        waitingBytes_ += slot.bytes;
        peakWaitingBytes_ = std::max(peakWaitingBytes_, waitingBytes_);
        if (origins_) {
            slot.heldOrigins = std::make_unique<FindingOrigins>();
            slot.heldOrigins->TakeFrom(reader.origins);
        }
    }
    slot.members = reader.collector.TakeMembers();
    slot.finished = true;
    slot.ok = ok;
    slot.cut = Stopping();
    slot.missing = missing;
    slot.failure = std::move(failure);
    CommitReady(lock);
    lock.unlock();
    reader.buffer.Recycle();  // its storage serves the reader's next file
}

void ParallelCollector::CommitReady(std::unique_lock<std::mutex>& lock) {
    if (committing_) return;  // the thread with the turn commits these too
    committing_ = true;
    std::vector<Slot> batch;
    while (!ended_ && !slots_.empty() && slots_.front().finished) {
        // Every finished file at the front, up to a stopped one.
        batch.clear();
        while (!slots_.empty() && slots_.front().finished) {
            batch.push_back(std::move(slots_.front()));
            slots_.pop_front();
            ++head_;
            if (batch.back().cut) break;
        }
        std::size_t shift = membersListed_;
        lock.unlock();
        changed_.notify_all();  // the window moved on
        std::size_t freed = 0;
        bool cut = false;
        for (Slot& slot : batch) {
            Commit(slot, shift);
            shift += slot.members.size();
            freed += slot.bytes;
            cut = slot.cut;
        }
        lock.lock();
        ListMembersLocked(batch);
        for (Slot& slot : batch) {
            if (slot.held) slot.reader->spentLists.push_back(std::move(slot.held));
            if (slot.heldOrigins) slot.reader->spentOrigins.push_back(std::move(slot.heldOrigins));
        }
        waitingBytes_ -= freed;
        if (cut) ended_ = true;
    }
    committing_ = false;
    changed_.notify_all();
}

void ParallelCollector::ListMembersLocked(std::vector<Slot>& batch) {
    // With the lock held, so that a claim never sees the list and the count
    // of members' entries apart.
    for (Slot& slot : batch) {
        if (slot.members.empty()) continue;
        // An archive's members go right after it, in the order read.
        const std::size_t at = slot.index + membersListed_ + 1;
        files_.InsertAt(at, slot.members);
        membersListed_ += slot.members.size();
        sink_.MembersListed(at, slot.members.size());
    }
}

void ParallelCollector::Commit(Slot& slot, std::size_t shift) {
    if (!slot.announced) sink_.ReadingFile(slot.path);
    urls_.AppendFrom(slot.direct ? slot.reader->buffer : *slot.held);
    if (origins_) origins_->TakeFrom(slot.direct ? slot.reader->origins : *slot.heldOrigins, shift);
    if (slot.ok) {
        ++filesRead_;
        sink_.FileDone();
    } else if (slot.missing) {
        ++entriesMissing_;
        sink_.EntryMissing(slot.path, slot.failure);
    } else {
        ++filesFailed_;
        sink_.FileFailed(slot.path, slot.failure);
    }
}

}  // namespace corvexa
