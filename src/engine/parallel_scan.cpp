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

// How many findings a reader adds between two looks at its buffer's size.
constexpr std::size_t kCheckEvery = 64;

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

    std::size_t NextKey(const char16_t* text, std::size_t from, std::size_t n) const override {
        return detection_.NextKey(text, from, n);
    }
    void Line(TextView line) override {
        detection_.lineNumber = lineNumber;
        detection_.Line(line);
        if (buffer.Size() >= nextCheck) {
            if (buffer.MemoryUsage() >= owner_.limits_.heldBytes) owner_.Overflow(*this);
            nextCheck = buffer.Size() + kCheckEvery;
        }
    }
    // A long line in parts: detection holds the parts' findings until the end.
    const LineCuts* Cuts() const override { return detection_.Cuts(); }
    void LinePart(TextView part) override {
        detection_.lineNumber = lineNumber;
        detection_.LinePart(part);
    }
    void AbandonLine() override { detection_.AbandonLine(); }

    void Begin(std::size_t index) {
        file = index;
        origins.BeginFile(index);
        nextCheck = kCheckEvery;
    }

    SharedList buffer;
    FindingOrigins origins;
    std::size_t file = 0;
    std::size_t nextCheck = kCheckEvery;

private:
    ParallelCollector& owner_;
    NullSink nullSink_;

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
    if (limits_.filesAhead == 0) limits_.filesAhead = 2 * std::size_t{readers_};
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

void ParallelCollector::CollectNow() {
    startTick_ = platform::TickCount32();
    ScanSummary summary;
    summary.StartTick = startTick_;
    if (job_.Mode == ScanMode::Directory) {
        TCollector walker(job_, files_, urls_, control_, sink_, documentReaders_);
        walker.Walk(summary);
    } else {
        DropMemberEntries(files_);  // an earlier scan's; they come again with their archive
    }
    std::vector<std::thread> threads;
    threads.reserve(readers_);
    for (unsigned i = 0; i < readers_; ++i) threads.emplace_back([this] { RunReader(); });
    for (std::thread& t : threads) t.join();
    summary.Stopped = Stopping();
    sink_.ScanFinished(summary);
}

void ParallelCollector::RunReader() {
    Reader reader(*this);
    std::size_t index;
    Text path;
    while (Claim(index, path)) {
        reader.Begin(index);
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
        Finish(reader, ok, Stopping(), std::move(failure));
    }
}

bool ParallelCollector::Claim(std::size_t& index, Text& path) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ended_ || Stopping() || next_ < head_ + limits_.filesAhead; });
    if (ended_ || Stopping()) return false;
    // Every file before next_ that is in the list has its members after it.
    if (!files_.TryAt(next_ + membersListed_, path)) return false;
    index = next_++;
    slots_.emplace_back();
    slots_.back().path = path;
    return true;
}

void ParallelCollector::FlushLocked(Slot& slot, Reader& reader) {
    if (!slot.announced) {
        sink_.ReadingFile(slot.path);
        slot.announced = true;
    }
    urls_.AppendFrom(reader.buffer);
    reader.buffer.Clear();
    if (origins_) origins_->TakeFrom(reader.origins, membersListed_);
}

void ParallelCollector::Overflow(Reader& reader) {
    std::unique_lock lock(mutex_);
    if (head_ != reader.file) {
        // Counted as waiting while it waits.
        const std::size_t bytes = reader.buffer.MemoryUsage();
        waitingBytes_ += bytes;
        peakWaitingBytes_ = std::max(peakWaitingBytes_, waitingBytes_);
        changed_.wait(lock, [&] { return ended_ || head_ == reader.file; });
        waitingBytes_ -= bytes;
    }
    if (ended_) {
        // Only a stop ends the commits: this file's findings never go in, and
        // its reader stops at the next line.
        reader.buffer.Clear();
        reader.origins.Clear();
        return;
    }
    FlushLocked(slots_.front(), reader);
}

void ParallelCollector::Finish(Reader& reader, bool ok, bool cut, std::string failure) {
    std::unique_lock lock(mutex_);
    if (ended_) {
        reader.buffer.Clear();
        reader.origins.Clear();
        return;
    }
    if (head_ == reader.file) {
        FlushLocked(slots_.front(), reader);
    } else {
        // Held back until the files before it are in: moved, not copied.
        auto held = std::make_unique<SharedList>();
        held->Swap(reader.buffer);
        Slot& slot = slots_[reader.file - head_];
        slot.bytes = held->MemoryUsage();
        slot.findings = std::move(held);
        slot.origins.TakeFrom(reader.origins);
        waitingBytes_ += slot.bytes;
        peakWaitingBytes_ = std::max(peakWaitingBytes_, waitingBytes_);
    }
    Slot& slot = slots_[reader.file - head_];
    slot.members = reader.collector.TakeMembers();
    slot.finished = true;
    slot.ok = ok;
    slot.cut = cut;
    slot.failure = std::move(failure);
    CommitReadyLocked();
    changed_.notify_all();
}

void ParallelCollector::CommitReadyLocked() {
    while (!ended_ && !slots_.empty() && slots_.front().finished) {
        Slot& slot = slots_.front();
        if (!slot.announced) sink_.ReadingFile(slot.path);
        if (slot.findings) {
            urls_.AppendFrom(*slot.findings);
            waitingBytes_ -= slot.bytes;
        }
        if (origins_) origins_->TakeFrom(slot.origins, membersListed_);
        if (slot.ok)
            sink_.FileDone();
        else
            sink_.FileFailed(slot.path, slot.failure);
        if (!slot.members.empty()) {
            // An archive's members go right after it, in the order read.
            const std::size_t at = head_ + membersListed_ + 1;
            files_.InsertAt(at, slot.members);
            sink_.MembersListed(at, slot.members.size());
            membersListed_ += slot.members.size();
        }
        const bool cut = slot.cut;
        slots_.pop_front();
        ++head_;
        if (cut) ended_ = true;
    }
}

}  // namespace corvexa
