#include "ui/scan_bridge.h"

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

void ScanBridge::FileFound(const Text&) {
    // The window reads the path from the files list itself.
    std::lock_guard lock(mutex_);
    ++pending_.filesFound;
    WakeLocked();
}

void ScanBridge::WalkFinished() {
    std::lock_guard lock(mutex_);
    pending_.walkFinished = true;
    WakeLocked();
}

void ScanBridge::ReadingFile(const Text& path) {
    QString text = QString::fromStdU16String(path);
    std::lock_guard lock(mutex_);
    ++pending_.filesStarted;
    pending_.readingPath = std::move(text);
    WakeLocked();
}

void ScanBridge::FileDone() {
    const std::size_t urls = urls_.Size();
    std::lock_guard lock(mutex_);
    pending_.fileDone = true;
    pending_.urlsDone = urls;
    WakeLocked();
}

void ScanBridge::ScanFinished(const ScanSummary& summary) {
    std::lock_guard lock(mutex_);
    pending_.finished = true;
    pending_.maskInvalid = summary.MaskInvalid;
    pending_.maskError = QString::fromStdString(summary.MaskError);
    WakeLocked();
}

}  // namespace corvexa::ui
