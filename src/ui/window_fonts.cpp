#include "ui/window_fonts.h"

#include <QFontDatabase>
#include <QString>
#include <QStringList>

namespace corvexa::ui {

QFont TahomaFont(int pixels) {
    static const QString family = [] {
        const QString tahoma = QStringLiteral("Tahoma");
        if (QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive)) return tahoma;
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    QFont font(family);
    font.setPixelSize(pixels);
    return font;
}

}  // namespace corvexa::ui
