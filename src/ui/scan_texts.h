#pragma once

#include <QString>
#include <optional>

#include "ui/scan_controller.h"

namespace corvexa::ui {

// While a scan runs: "1,153 files, 34.5 MB read" during the folder walk; once
// the total is known (after the walk, or from the start for a file list)
// "1,153 of 5,503 files, 34.5 MB of 120.0 MB read · about 3 min left" (the
// byte total only where the walk measured it).
QString ProgressText(const ScanController::Figures& figures, bool walkDone);

// The time left at the pace so far: by bytes where the total is known, else by
// files; none before the total is known or anything is done.
std::optional<double> SecondsLeft(const ScanController::Figures& figures, bool walkDone);

// "about 40 s left", "about 3 min left", "about 1 h 20 min left".
QString TimeLeftText(double seconds);

// What follows the elapsed time when a scan ends: nothing for a scan that read
// every file, else " · Stopped: 30,662 of 65,458 files read", " · 3 files
// could not be read", " · 1 list entry names no file", in that order.
QString OutcomeText(const ScanController::Figures& figures);

// "512 bytes", "34.5 KB", "1.2 MB", "3.0 GB" (1024-based).
QString ByteText(qint64 bytes);

}  // namespace corvexa::ui
