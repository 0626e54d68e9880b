#pragma once

#include <QObject>
#include <QString>

class QLabel;
class QProgressBar;
class QStatusBar;

namespace corvexa::ui {

// The window's status bar: "Total Files: " and "Total URLs: " with their
// counts, a text panel for what the scan is doing, and a progress bar for the
// files read once the folder walk is over.
class StatusLine : public QObject {
    Q_OBJECT
public:
    explicit StatusLine(QStatusBar* bar);

    void SetCounters(qint64 files, qint64 urls);
    void SetText(const QString& text);
    // Files read of the total, or nothing shown (total < 0).
    void ShowProgress(qint64 read, qint64 total);
    void HideProgress();
    // Beside the progress bar: what has been read so far; empty hides it.
    void SetProgressText(const QString& text);
    // After a scan: "3 files not read", a link that opens their list
    // (notReadClicked); 0 hides it.
    void SetNotRead(qint64 count);

signals:
    void notReadClicked();

private:
    QLabel* panels_[3] = {nullptr, nullptr, nullptr};
    QProgressBar* progress_ = nullptr;
    QLabel* progressText_ = nullptr;
    QLabel* notRead_ = nullptr;
};

}  // namespace corvexa::ui
