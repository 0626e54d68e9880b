#include "ui/scan_controller.h"

#include "platform/tick.h"
#include "ui/scan_bridge.h"

namespace corvexa::ui {

ScanController::ScanController(QObject* parent) : QObject(parent) {}

ScanController::~ScanController() {
    Abort();
}

void ScanController::Start(ScanJob job, SharedList& files, SharedList& urls,
                           DocumentReaders readers, FindingOrigins* origins) {
    if (state_ != State::Idle) return;
    control_.StopRequested.store(false);
    walkDone_ = job.Mode != ScanMode::Directory;
    figures_ = Figures{};
    failures_.clear();
    clock_.start();
    if (walkDone_) figures_.filesListed = static_cast<qint64>(files.Size());
    bridge_ = std::make_unique<ScanBridge>(urls);
    connect(
        bridge_.get(), &ScanBridge::wake, this, [this] { TakeNotifications(); },
        Qt::QueuedConnection);
    collector_ = std::make_unique<TCollector>(std::move(job), files, urls, control_, *bridge_,
                                              std::move(readers));
    if (origins) {
        origins->Clear();
        collector_->RecordOrigins(origins);
    }
    SetState(State::Running);
    collector_->Start();
}

void ScanController::RequestStop() {
    if (state_ != State::Running) return;
    control_.StopRequested.store(true);
    SetState(State::Stopping);
}

void ScanController::Abort() {
    if (!collector_) return;
    control_.StopRequested.store(true);
    bridge_->Detach();
    collector_->Wait();
    collector_.reset();
    bridge_.reset();  // a wake still queued dies with its sender's connection
    SetState(State::Idle);
}

// Applies what the collector did since the last visit, in the order it
// happened: the walk's start, the files it found, its end, the file being read,
// the files done, the end of the scan.
void ScanController::TakeNotifications() {
    if (!bridge_) return;
    const ScanBridge::Pending p = bridge_->Take();
    Count(p);
    if (p.walkStarted) emit walkStarted();
    if (p.filesFound) emit filesFound(static_cast<qint64>(p.filesFound));
    if (p.walkFinished) emit walkFinished();
    if (p.filesStarted) emit readingFile(p.readingPath);
    if (p.fileDone) emit fileDone(static_cast<qint64>(p.urlsDone));
    if (p.membersListed) emit membersListed();
    emit progressed();
    if (p.finished) Finish(p.maskInvalid, p.maskError);
}

// All figures of one visit move together, before anyone is told.
void ScanController::Count(const ScanBridge::Pending& p) {
    const auto n = [](std::uint64_t v) { return static_cast<qint64>(v); };
    figures_.filesListed += n(p.filesFound);
    if (p.walkFinished) walkDone_ = true;
    figures_.filesStarted += n(p.filesStarted);
    figures_.filesRead += n(p.filesRead);
    figures_.filesFailed += n(p.filesFailed);
    figures_.entriesMissing += n(p.entriesMissing);
    figures_.bytesRead += n(p.bytesRead);
    figures_.bytesListed += n(p.bytesFound);
    figures_.seconds = static_cast<double>(clock_.elapsed()) / 1000.0;
    for (const FailedFile& f : p.failures) {
        if (failures_.size() >= kFailuresKept) break;
        failures_.push_back(f);
    }
    if (p.fileDone) figures_.urls = n(p.urlsDone);
    if (p.finished) figures_.stopped = p.summary.Stopped;
}

void ScanController::Finish(bool maskInvalid, const QString& maskError) {
    if (!collector_) return;
    collector_->Wait();
    const std::uint32_t startTick = collector_->StartTick();
    collector_.reset();
    bridge_.reset();
    SetState(State::Idle);
    emit finished(maskInvalid, maskError, ElapsedSeconds(startTick, platform::TickCount32()));
}

void ScanController::SetState(State state) {
    if (state_ == state) return;
    state_ = state;
    emit stateChanged(state);
}

}  // namespace corvexa::ui
