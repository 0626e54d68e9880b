#pragma once

#include <QDialog>
#include <vector>

#include "ui/scan_controller.h"

class QPlainTextEdit;
class QLabel;

namespace corvexa::ui {

// The files of the last scan that could not be read, and the list entries
// that named no file, each with its reason: a small window opened from the
// status bar or the View menu. `count` is how many there were in all, of
// which `failures` holds the first ones.
class FilesNotReadDialog : public QDialog {
    Q_OBJECT
public:
    FilesNotReadDialog(const std::vector<ScanController::FailedFile>& failures, qint64 count,
                       QWidget* parent = nullptr);

    // The listed text: "PATH<TAB>REASON", one a line.
    QString ListText() const;

private:
    QLabel* title_ = nullptr;
    QPlainTextEdit* list_ = nullptr;
};

}  // namespace corvexa::ui
