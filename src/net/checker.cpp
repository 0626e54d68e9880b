#include "net/checker.h"

#include <QMetaObject>
#include <QSemaphore>
#include <memory>

namespace corvexa::net {

TChecker::TChecker(CheckSetup setup, std::function<void(const QString&)> showMessage,
                   QObject* parent)
    : QThread(parent), setup_(std::move(setup)), showMessage_(std::move(showMessage)) {
    setObjectName(QStringLiteral("TChecker"));
}

TChecker::~TChecker() {
    Cancel();
    wait();
}

void TChecker::Cancel() {
    cancel_.Request();
}

void TChecker::run() {
    completed_.store(false, std::memory_order_relaxed);
    CheckSetup setup = setup_;
    setup.Cancel = &cancel_;
    setup.ShowMessage = [this](const QString& text) { ShowAndWait(text); };
    try {
        results_ = RunUpdateCheck(setup, failures_);
    } catch (const std::exception& e) {
        failures_.Record(QString::fromUtf8(e.what()));
    } catch (...) {
        failures_.Record(QStringLiteral("Unknown error"));
    }
    completed_.store(true, std::memory_order_release);
}

void TChecker::ShowAndWait(const QString& text) {
    if (!showMessage_ || cancel_.Requested()) return;
    auto closed = std::make_shared<QSemaphore>(0);
    // Queued to this object's thread, the window's; dropped if the object goes first.
    QMetaObject::invokeMethod(
        this,
        [this, text, closed] {
            if (!cancel_.Requested()) showMessage_(text);
            closed->release();
        },
        Qt::QueuedConnection);
    while (!closed->tryAcquire(1, 20))
        if (cancel_.Requested()) return;
}

}  // namespace corvexa::net
