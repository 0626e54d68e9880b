#include "ui/scan_bridge.h"

namespace corvexa::ui {

void ScanBridge::WalkStarted() {
    if (Live()) emit walkStarted();
}

void ScanBridge::FileFound(const Text&) {
    // The window reads the path from the files list itself.
    if (Live()) emit fileFound();
}

void ScanBridge::WalkFinished() {
    if (Live()) emit walkFinished();
}

void ScanBridge::ReadingFile(const Text& path) {
    if (Live()) emit readingFile(QString::fromStdU16String(path));
}

void ScanBridge::FileDone() {
    if (Live()) emit fileDone();
}

void ScanBridge::ScanFinished(const ScanSummary& summary) {
    if (Live()) emit scanFinished(summary.MaskInvalid, QString::fromStdString(summary.MaskError));
}

}  // namespace corvexa::ui
