#pragma once

#include <QString>

#include "ui/scan_controller.h"

namespace corvexa::ui {

// While a scan runs: "1,153 files, 34.5 MB read".
QString ProgressText(const ScanController::Figures& figures);

// What follows the elapsed time when a scan ends: nothing for a scan that read
// every file, else " · Stopped: 30,662 of 65,458 files read", " · 3 files
// could not be read", " · 1 list entry names no file", in that order.
QString OutcomeText(const ScanController::Figures& figures);

// "512 bytes", "34.5 KB", "1.2 MB", "3.0 GB" (1024-based).
QString ByteText(qint64 bytes);

}  // namespace corvexa::ui
