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
    return QStringLiteral("http://") + MakerHost() + QStringLiteral("/help/") + path +
           QLatin1Char('/');
}

QString HomePage() { return QStringLiteral("https://") + MakerHost() + QLatin1Char('/'); }

}  // namespace corvexa::net
