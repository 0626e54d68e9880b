#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "engine/collector.h"
#include "engine/readers/document_reader.h"
#include "engine/shared_list.h"
#include "ui/scan_bridge.h"

namespace corvexa::ui {

// One scan at a time, driven from the window's thread: owns the control block
// the collector reads its switches and stop flag from, the collector thread and
// the bridge that brings its notifications over. It reports, on the window's
// thread and in the order they happened, what the collector did, and the
// state: idle, running, or stopping (STOP pressed, the collector ends after
// its current line).
class ScanController : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Running, Stopping };

    explicit ScanController(QObject* parent = nullptr);
    ~ScanController() override;  // ends a running scan and waits for it

    ScanControl& Control() { return control_; }
    State CurrentState() const { return state_; }

    // Starts the collector on the job; nothing happens unless idle. The lists
    // must outlive the scan. With origins, where each finding was made is
    // noted there (emptied first); it may be read once the scan has ended.
    void Start(ScanJob job, SharedList& files, SharedList& urls,
               DocumentReaders readers = DocumentReaders::BuiltIn(),
               FindingOrigins* origins = nullptr);
    // STOP: the scan ends after the current line, with the usual finished().
    void RequestStop();
    // Ends a running scan at once and waits for its thread; finished() is not
    // emitted (the window is closing).
    void Abort();

    // The figures of the running (or last) scan, as the window has taken them
    // in: every counter the window shows comes from here, so the figures on
    // screen always belong to the same moment.
    struct Figures {
        qint64 filesListed = 0;     // the files list's length (the walk's finds so far)
        qint64 filesStarted = 0;    // files handed to the reader
        qint64 filesRead = 0;       // read to their end
        qint64 filesFailed = 0;     // could not be read
        qint64 entriesMissing = 0;  // list entries that name no file
        qint64 bytesRead = 0;       // the sizes of the files read
        qint64 bytesListed = 0;     // the sizes of the files the walk found
        double seconds = 0;         // since the start, at the last visit
        qint64 urls = 0;            // findings when the last file was done
        bool stopped = false;       // the scan ended on STOP
    };
    const Figures& Progress() const { return figures_; }
    qint64 FilesStarted() const { return figures_.filesStarted; }
    // Whether the folder walk is over (always so for a file list).
    bool WalkDone() const { return walkDone_; }
    // The files that could not be read and the list entries that name no file,
    // with their reasons, in the order met: the first kFailuresKept of them
    // (Progress() counts them all).
    using FailedFile = ScanBridge::FailedFile;
    static constexpr std::size_t kFailuresKept = ScanBridge::kFailuresKept;
    const std::vector<FailedFile>& Failures() const { return failures_; }

signals:
    void stateChanged(corvexa::ui::ScanController::State state);
    void walkStarted();
    void filesFound(qint64 count);
    void walkFinished();
    // Entries of archives' members went into the files list (not at its end).
    void membersListed();
    void readingFile(const QString& path);
    void fileDone(qint64 urls);
    // The figures changed; sent once after the other reports of a visit.
    void progressed();
    // The scan has ended (completed or stopped) and its thread is gone.
    void finished(bool maskInvalid, const QString& maskError, double seconds);

private:
    void TakeNotifications();
    void Count(const ScanBridge::Pending& p);
    void Finish(bool maskInvalid, const QString& maskError);
    void SetState(State state);

    ScanControl control_;
    State state_ = State::Idle;
    std::unique_ptr<ScanBridge> bridge_;
    std::unique_ptr<TCollector> collector_;
    Figures figures_;
    std::vector<FailedFile> failures_;
    QElapsedTimer clock_;
    bool walkDone_ = true;
};

}  // namespace corvexa::ui
