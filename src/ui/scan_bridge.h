#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/collector.h"

namespace corvexa::ui {

// Carries the collector's notifications to the window's thread.
//
// The collector may finish thousands of small files a second, faster than a
// window can apply one queued event per notification; a queue of single
// events would grow without bound and keep the window from answering the
// user. So the notifications are gathered here, in the order they happened,
// and the window is woken once (a queued signal) to take everything gathered
// since its last visit. Taking them is cheap and the collector never waits for
// the window.
class ScanBridge : public QObject, public ScanSink {
    Q_OBJECT
public:
    // urls: the URL list, whose length FileDone records.
    explicit ScanBridge(const SharedList& urls, QObject* parent = nullptr);

    struct FailedFile {
        QString path;
        QString reason;
    };
    // The failures gathered between two visits of the window are kept up to
    // this many; the rest are only counted.
    static constexpr std::size_t kFailuresKept = 10000;

    // What happened since the last Take, in notification order.
    struct Pending {
        bool walkStarted = false;
        std::size_t filesFound = 0;  // FileFound notifications
        bool walkFinished = false;
        std::size_t filesStarted = 0;    // ReadingFile notifications
        QString readingPath;             // the last file handed to the reader
        bool fileDone = false;           // a file was read, failed or named nothing
        std::size_t urlsDone = 0;        // URL list length when the last file was done
        std::size_t filesRead = 0;       // FileDone notifications
        std::size_t filesFailed = 0;     // FileFailed notifications
        std::size_t entriesMissing = 0;  // EntryMissing notifications
        bool membersListed = false;      // members' entries went into the files list
        std::uint64_t bytesRead = 0;     // the sizes of the files read
        std::uint64_t bytesFound = 0;    // the sizes of the files the walk found
        // The files that could not be read and the list entries that name no
        // file, each with its reason; at most kFailuresKept of them.
        std::vector<FailedFile> failures;
        bool finished = false;
        bool maskInvalid = false;
        QString maskError;
        ScanSummary summary;
    };
    Pending Take();

    // Once detached (the window is going away) nothing more is posted.
    void Detach() { detached_.store(true, std::memory_order_release); }

    void WalkStarted() override;
    void FileFound(const Text& path) override;
    void WalkFinished() override;
    void ReadingFile(const Text& path) override;
    void FileDone() override;
    void FileFailed(const Text& path, const std::string& reason) override;
    void EntryMissing(const Text& path, const std::string& reason) override;
    void MembersListed(std::size_t at, std::size_t count) override;
    void ScanFinished(const ScanSummary& summary) override;

signals:
    // Something is waiting to be taken. Emitted on the collector thread.
    void wake();

private:
    // Call with the lock held; wakes the window unless it is already due.
    void WakeLocked();
    // Call with the lock held: the file handed out last is done, one way or another.
    void FileEndedLocked(std::size_t urls);
    // Call with the lock held: keeps a failure for the list of files not read.
    void KeepFailureLocked(const Text& path, const std::string& reason);

    const SharedList& urls_;
    Text reading_;  // the file being read (the collector thread's own)
    std::mutex mutex_;
    Pending pending_;
    bool wakePosted_ = false;
    std::atomic<bool> detached_{false};
};

}  // namespace corvexa::ui
