#include "ui/file_name_mime.h"

#include <QByteArray>
#include <QList>
#include <QMimeData>
#include <QStringList>
#include <QUrl>
#include <algorithm>

#include "platform/native_path.h"

namespace corvexa::ui {
namespace {

// U+DC80..U+DCFF carry the bytes of a name that are not valid UTF-8.
bool IsRawByte(char16_t c) {
    return c >= 0xDC80 && c <= 0xDCFF;
}

bool IsPlain(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           QStringView(u"_./+:@%,=-").contains(QChar(c));
}

// $'\xNN' for one byte.
QString Escaped(unsigned byte) {
    return QStringLiteral("$'\\x%1'").arg(byte, 2, 16, QLatin1Char('0'));
}

}  // namespace

QString ShellQuoted(const Text& path) {
    if (!path.empty() && std::all_of(path.begin(), path.end(), IsPlain))
        return QString::fromStdU16String(path);
    QString out;
    QString quoted;  // the run of ordinary characters not yet written
    auto flush = [&] {
        if (quoted.isEmpty()) return;
        out += QLatin1Char('\'') + quoted + QLatin1Char('\'');
        quoted.clear();
    };
    for (char16_t c : path) {
        if (IsRawByte(c) || c < 0x20 || c == 0x7F) {
            flush();
            out += Escaped(IsRawByte(c) ? static_cast<unsigned>(c - 0xDC00)
                                        : static_cast<unsigned>(c));
        } else if (c == u'\'') {
            flush();
            out += QStringLiteral("\\'");
        } else {
            quoted += QChar(c);
        }
    }
    flush();
    return out.isEmpty() ? QStringLiteral("''") : out;
}

std::unique_ptr<QMimeData> FileNamesMime(const std::vector<Text>& paths) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    QStringList lines;
    for (const Text& path : paths) {
        const QByteArray native = QByteArray::fromStdString(platform::NativeFromPath(path));
        urls << QUrl::fromEncoded("file://" + native.toPercentEncoding("/"), QUrl::StrictMode);
        lines << ShellQuoted(path);
    }
    mime->setUrls(urls);
    mime->setText(lines.join(QLatin1Char('\n')));
    return mime;
}

}  // namespace corvexa::ui
