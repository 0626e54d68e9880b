#pragma once

#include <QObject>
#include <QString>

#include <atomic>

#include "engine/collector.h"

namespace corvexa::ui {

// Carries the collector's notifications to the window's thread. The signals
// are emitted on the collector thread and delivered through queued
// connections, so the window applies them in the order they were posted. Once
// detached (the window is going away) nothing more is posted.
class ScanBridge : public QObject, public ScanSink {
    Q_OBJECT
public:
    using QObject::QObject;

    void Detach() { detached_.store(true, std::memory_order_release); }

    void WalkStarted() override;
    void FileFound(const Text& path) override;
    void WalkFinished() override;
    void ReadingFile(const Text& path) override;
    void FileDone() override;
    void ScanFinished(const ScanSummary& summary) override;

signals:
    void walkStarted();
    void fileFound();
    void walkFinished();
    void readingFile(const QString& path);
    void fileDone();
    void scanFinished(bool maskInvalid, const QString& maskError);

private:
    bool Live() const { return !detached_.load(std::memory_order_acquire); }
    std::atomic<bool> detached_{false};
};

}  // namespace corvexa::ui
