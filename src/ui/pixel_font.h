#pragma once

#include <QFont>
#include <QFontDatabase>
#include <QString>

namespace corvexa::ui {

// Tahoma where it is installed, otherwise the system's sans-serif face, at a
// character height in pixels.
inline QFont WindowFont(int pixels, bool bold = false) {
    static const QString family = [] {
        const QString tahoma = QStringLiteral("Tahoma");
        if (QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive)) return tahoma;
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace corvexa::ui
