#include "ui/language_flags.h"

#include <QHash>

namespace corvexa::ui {

QString FlagImageName(const QString& languageName) {
    static const QHash<QString, QString> table = {
        {QStringLiteral("English"), QStringLiteral("flag")},
        {QStringLiteral("German"), QStringLiteral("de")},
        {QStringLiteral("French"), QStringLiteral("fr")},
        {QStringLiteral("Turkish"), QStringLiteral("tr")},
        {QStringLiteral("Albanian"), QStringLiteral("al")},
        {QStringLiteral("Arabic"), QStringLiteral("sa")},
        {QStringLiteral("Bulgarian"), QStringLiteral("bg")},
        {QStringLiteral("ChineseSimplified"), QStringLiteral("cn")},
        {QStringLiteral("ChineseTraditional"), QStringLiteral("tw")},
        {QStringLiteral("Czech"), QStringLiteral("cz")},
        {QStringLiteral("Dutch"), QStringLiteral("nl")},
        {QStringLiteral("Finnish"), QStringLiteral("fi")},
        {QStringLiteral("Greek"), QStringLiteral("gr")},
        {QStringLiteral("Hebrew"), QStringLiteral("il")},
        {QStringLiteral("Hungarian"), QStringLiteral("hu")},
        {QStringLiteral("Italian"), QStringLiteral("it")},
        {QStringLiteral("Japanese"), QStringLiteral("jp")},
        {QStringLiteral("Korean"), QStringLiteral("kr")},
        {QStringLiteral("Persian"), QStringLiteral("ir")},
        {QStringLiteral("Polish"), QStringLiteral("pl")},
        {QStringLiteral("PortugueseBrazil"), QStringLiteral("br")},
        {QStringLiteral("PortuguesePortugal"), QStringLiteral("pt")},
        {QStringLiteral("Russian"), QStringLiteral("ru")},
        {QStringLiteral("Slovenian"), QStringLiteral("si")},
        {QStringLiteral("Spanish"), QStringLiteral("es")},
        {QStringLiteral("Swedish"), QStringLiteral("se")},
        {QStringLiteral("Ukrainian"), QStringLiteral("ua")},
        {QStringLiteral("Vietnamese"), QStringLiteral("vi")},
        {QStringLiteral("Slovak"), QStringLiteral("sk")},
    };
    return table.value(languageName, QStringLiteral("xx"));
}

QIcon FlagIcon(const QString& imageName) {
    // The generic and the blank flag are the program's own icons; the country
    // flags come from the public-domain set in resources/flags.
    if (imageName == QLatin1String("flag") || imageName == QLatin1String("xx"))
        return QIcon(QStringLiteral(":/icons/%1.svg").arg(imageName));
    return QIcon(QStringLiteral(":/flags/%1.svg").arg(imageName));
}

}  // namespace corvexa::ui
