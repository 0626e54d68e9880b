#include "ui/scan_bridge.h"

#include "ui/test_seams.h"

namespace corvexa::ui {

ScanBridge::ScanBridge(const SharedList& urls, QObject* parent) : QObject(parent), urls_(urls) {}

ScanBridge::Pending ScanBridge::Take() {
    std::lock_guard lock(mutex_);
    Pending out = std::move(pending_);
    pending_ = Pending{};
    wakePosted_ = false;
    return out;
}

void ScanBridge::WakeLocked() {
    if (wakePosted_ || detached_.load(std::memory_order_acquire)) return;
    wakePosted_ = true;
    emit wake();
}

void ScanBridge::WalkStarted() {
    std::lock_guard lock(mutex_);
    pending_.walkStarted = true;
    WakeLocked();
}

void ScanBridge::FileFound(const Text& path) {
    // The window reads the path from the files list itself; the size makes
    // the total to read known once the walk is over.
    const std::int64_t size = FileSizeOf(path);
    std::lock_guard lock(mutex_);
    ++pending_.filesFound;
    if (size > 0) pending_.bytesFound += static_cast<std::uint64_t>(size);
    WakeLocked();
}

void ScanBridge::WalkFinished() {
    std::lock_guard lock(mutex_);
    pending_.walkFinished = true;
    WakeLocked();
}

void ScanBridge::ReadingFile(const Text& path) {
    reading_ = path;
    QString text = QString::fromStdU16String(path);
    {
        std::lock_guard lock(mutex_);
        ++pending_.filesStarted;
        pending_.readingPath = std::move(text);
        WakeLocked();
    }
    PassScanFileGate(path);
}

void ScanBridge::FileEndedLocked(std::size_t urls) {
    pending_.fileDone = true;
    pending_.urlsDone = urls;
    WakeLocked();
}

void ScanBridge::MembersListed(std::size_t, std::size_t) {
    std::lock_guard lock(mutex_);
    pending_.membersListed = true;
    WakeLocked();
}

void ScanBridge::FileDone() {
    const std::size_t urls = urls_.Size();
    const std::int64_t size = FileSizeOf(reading_);
    std::lock_guard lock(mutex_);
    ++pending_.filesRead;
    if (size > 0) pending_.bytesRead += static_cast<std::uint64_t>(size);
    FileEndedLocked(urls);
}

void ScanBridge::KeepFailureLocked(const Text& path, const std::string& reason) {
    if (pending_.failures.size() >= kFailuresKept) return;
    pending_.failures.push_back(
        FailedFile{QString::fromStdU16String(path), QString::fromStdString(reason)});
}

void ScanBridge::FileFailed(const Text& path, const std::string& reason) {
    const std::size_t urls = urls_.Size();  // findings before the failure stay
    std::lock_guard lock(mutex_);
    ++pending_.filesFailed;
    KeepFailureLocked(path, reason);
    FileEndedLocked(urls);
}

void ScanBridge::EntryMissing(const Text& path, const std::string& reason) {
    const std::size_t urls = urls_.Size();
    std::lock_guard lock(mutex_);
    ++pending_.entriesMissing;
    KeepFailureLocked(path, reason);
    FileEndedLocked(urls);
}

void ScanBridge::ScanFinished(const ScanSummary& summary) {
    std::lock_guard lock(mutex_);
    pending_.finished = true;
    pending_.maskInvalid = summary.MaskInvalid;
    pending_.maskError = QString::fromStdString(summary.MaskError);
    pending_.summary = summary;
    WakeLocked();
}

}  // namespace corvexa::ui
