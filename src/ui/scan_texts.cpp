#include "ui/scan_texts.h"

#include <QLocale>
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

QString ProgressText(const ScanController::Figures& f) {
    return Counted(f.filesRead, "file", "files") + QStringLiteral(", ") + ByteText(f.bytesRead) +
           QStringLiteral(" read");
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
