#pragma once

#include <QThread>
#include <atomic>
#include <functional>

#include "net/form_request.h"
#include "net/update_check.h"

namespace corvexa::net {

// The update-check worker: one per run, started by the window's check timer.
// It runs the check on its own thread, publishes the results and sets the
// completion flag last (release); the window reads the flag (acquire) and only
// then the results. The server's message is shown on the window's thread while
// the worker waits for the box to close. Destroying the worker cancels a
// request in flight and waits for the thread, which ends at once.
class TChecker : public QThread {
    Q_OBJECT
public:
    // showMessage runs on the thread that owns this object (the window's) and
    // returns once the user has closed the box.
    TChecker(CheckSetup setup, std::function<void(const QString&)> showMessage,
             QObject* parent = nullptr);
    ~TChecker() override;

    // Ends a request in flight and stops waiting for the message box; the
    // check then runs to its end without the network. Any thread.
    void Cancel();

    bool Completed() const { return completed_.load(std::memory_order_acquire); }
    // Valid once Completed() is true.
    const CheckResults& Results() const { return results_; }
    const FailureRecord& Failures() const { return failures_; }

protected:
    void run() override;

private:
    void ShowAndWait(const QString& text);

    CheckSetup setup_;
    std::function<void(const QString&)> showMessage_;
    Cancellation cancel_;
    CheckResults results_;
    FailureRecord failures_;
    std::atomic<bool> completed_{false};
};

}  // namespace corvexa::net
