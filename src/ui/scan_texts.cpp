#include "ui/scan_texts.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <iterator>

namespace corvexa::ui {
namespace {

QString Count(qint64 n) {
    return QLocale().toString(n);
}

// "1 file" / "2 files": the noun follows the count.
QString Counted(qint64 n, const char* one, const char* many) {
    return Count(n) + QLatin1Char(' ') + QString::fromLatin1(n == 1 ? one : many);
}

}  // namespace

QString ByteText(qint64 bytes) {
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024) return Counted(bytes, "byte", "bytes");
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    return QLocale().toString(value, 'f', 1) + QLatin1Char(' ') + QString::fromLatin1(units[unit]);
}

std::optional<double> SecondsLeft(const ScanController::Figures& f, bool walkDone) {
    if (!walkDone || f.seconds <= 0) return std::nullopt;
    double done = 0, total = 0;
    if (f.bytesListed > 0) {
        done = static_cast<double>(f.bytesRead);
        total = static_cast<double>(f.bytesListed);
    } else {
        done = static_cast<double>(f.filesRead + f.filesFailed + f.entriesMissing);
        total = static_cast<double>(f.filesListed);
    }
    if (done <= 0) return std::nullopt;
    return f.seconds * std::max(0.0, total - done) / done;
}

QString TimeLeftText(double seconds) {
    const auto s = static_cast<qint64>(std::ceil(seconds));
    if (s < 60) return QStringLiteral("about %1 s left").arg(s);
    const qint64 minutes = (s + 30) / 60;
    if (minutes < 60) return QStringLiteral("about %1 min left").arg(minutes);
    return QStringLiteral("about %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}

QString ProgressText(const ScanController::Figures& f, bool walkDone) {
    QString out = Count(f.filesRead);
    if (walkDone) out += QStringLiteral(" of ") + Count(f.filesListed);
    out += QString::fromLatin1(f.filesListed == 1 && walkDone ? " file, " : " files, ") +
           ByteText(f.bytesRead);
    if (walkDone && f.bytesListed > 0) out += QStringLiteral(" of ") + ByteText(f.bytesListed);
    out += QStringLiteral(" read");
    if (const std::optional<double> left = SecondsLeft(f, walkDone))
        out += QStringLiteral(" \u00b7 ") + TimeLeftText(*left);
    return out;
}

QString OutcomeText(const ScanController::Figures& f) {
    QString out;
    const QString separator = QStringLiteral(" \u00b7 ");
    if (f.stopped)
        out += separator + QStringLiteral("Stopped: ") + Count(f.filesRead) +
               QStringLiteral(" of ") + Counted(f.filesListed, "file", "files") +
               QStringLiteral(" read");
    if (f.filesFailed > 0)
        out += separator + Counted(f.filesFailed, "file", "files") +
               QStringLiteral(" could not be read");
    if (f.entriesMissing > 0)
        out += separator + Counted(f.entriesMissing, "list entry names", "list entries name") +
               QStringLiteral(" no file");
    return out;
}

}  // namespace corvexa::ui
