#include "ui/widget_kit.h"

#include <QFontDatabase>

namespace corvexa::ui {

QIcon Icon(const char* name) {
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

namespace {

QString BaseFamily() {
    static const QString family = [] {
        const QString tahoma = QStringLiteral("Tahoma");
        if (QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive)) return tahoma;
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

}  // namespace

QFont PixelFont(int pixels, bool bold) {
    QFont font(BaseFamily());
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace corvexa::ui
