#include "net/maker_host.h"

#include <QByteArray>
#include <QtGlobal>

#include "platform/ascii.h"

namespace corvexa::net {
namespace {
constexpr char kDefaultHost[] = "www.kelmare.example";
}

QString MakerHost() {
    const QByteArray over = qgetenv("CORVEXA_MAKER_HOST");
    if (!over.isEmpty()) return QString::fromUtf8(over);
    return QString::fromLatin1(kDefaultHost);
}

QString HelpAddress(const QString& productName) {
    QString path;
    path.reserve(productName.size());
    for (QChar c : productName) {
        path += c == QLatin1Char(' ') ? QLatin1Char('-') : QChar(ascii::ToLower(c.unicode()));
    }
    return MakerAddress(QStringLiteral("/help/") + path + QLatin1Char('/'));
}

QString MakerAddress(const QString& path) {
    return QStringLiteral("https://") + MakerHost() + path;
}

QString HomePage() {
    return MakerAddress(QStringLiteral("/"));
}

QString CreditsPage() {
    return MakerAddress(QStringLiteral("/blog/credits-and-acknowledgements/"));
}

QString UninstallPage() {
    return MakerAddress(QStringLiteral("/blog/how-to-uninstall-kelmare-software/"));
}

QString TranslationPage() {
    return MakerAddress(QStringLiteral("/translation/"));
}

}  // namespace corvexa::net
