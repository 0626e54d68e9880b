#include "net/form_request.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>

#include <memory>

#include "net/maker_host.h"

namespace corvexa::net {

void Cancellation::Request() {
    requested_.store(true, std::memory_order_release);
    emit requested();
}

QByteArray FormEncode(const QString& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const QByteArray bytes = text.toUtf8();
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '*' || c == '-' || c == '.' || c == '_';
        if (kept) {
            out += ch;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

QByteArray EncodeFields(const RequestFields& fields) {
    QByteArray body;
    for (const QString& line : fields) {
        if (!body.isEmpty()) body += '&';
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            body += FormEncode(line);
            continue;
        }
        body += FormEncode(line.left(eq)) + '=' + FormEncode(line.mid(eq + 1));
    }
    return body;
}

namespace {

// The charset parameter of a Content-Type value, empty when there is none.
QByteArray DeclaredCharset(const QByteArray& contentType) {
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray param = parts[i].trimmed();
        if (!param.toLower().startsWith("charset=")) continue;
        QByteArray value = param.mid(8).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

// A charset the converter does not know is read as UTF-8, as a reply that
// declares none.
QString DecodeBody(const QByteArray& body, const QByteArray& charset) {
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid()) return decoder.decode(body);
    }
    return QString::fromUtf8(body);
}

QNetworkRequest MakeRequest(const QString& url, bool secure) {
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      secure ? QByteArrayLiteral("application/x-www-form-urlencoded; charset=UTF-8")
                             : QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Corvexa"));
    if (secure) request.setRawHeader("Connection", "close");
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(0);  // Await's deadline bounds the exchange
    return request;
}

// Runs the reply to its end; returns a failure text, or the empty text when it
// finished on its own.
QString Await(QNetworkReply& reply, int timeoutMs, const Cancellation* cancel) {
    QEventLoop loop;
    QString failure;
    const auto fail = [&](const QString& why) {
        if (failure.isEmpty()) failure = why;
        reply.abort();
    };
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        fail(QStringLiteral("No answer within %1 ms.").arg(timeoutMs));
    });
    // The connection phase ends once the request is on its way; the reply then
    // gets its own time-out.
    QObject::connect(&reply, &QNetworkReply::requestSent, &loop, [&] { deadline.start(timeoutMs); });
    QObject::connect(&reply, &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64 total) {
        if (received > kMaxReplyBytes || total > kMaxReplyBytes)
            fail(QStringLiteral("The reply is longer than %1 bytes.").arg(kMaxReplyBytes));
    });
    QObject::connect(&reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (cancel) {
        QObject::connect(cancel, &Cancellation::requested, &loop,
                         [&] { fail(QStringLiteral("The request was cancelled.")); }, Qt::QueuedConnection);
        if (cancel->Requested()) fail(QStringLiteral("The request was cancelled."));
    }
    deadline.start(timeoutMs);
    if (!reply.isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    return failure;
}

// A reply that ends before the length it announced, or on a broken
// connection, is a failure: part of an answer is never taken for the whole.
// HTTP status errors are left to the caller's own rules.
void ThrowIfCutShort(const QNetworkReply& reply, const QByteArray& body) {
    const QNetworkReply::NetworkError error = reply.error();
    if (error != QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError)
        throw RequestError(reply.errorString().toStdString());
    const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != body.size())
        throw RequestError(QStringLiteral("The reply ended after %1 of the %2 bytes it announced.")
                               .arg(body.size())
                               .arg(length.toLongLong())
                               .toStdString());
}

}  // namespace

QString PostForm(const QString& url, const RequestFields& fields, int timeoutMs, const Cancellation* cancel) {
    if (cancel && cancel->Requested()) throw RequestError("The request was cancelled.");
    const bool secure = url.toLower().startsWith(QStringLiteral("https://"));
    QNetworkAccessManager manager;  // fresh for this call, released with it
    manager.setProxy(QNetworkProxy::NoProxy);
    manager.setAutoDeleteReplies(false);
    std::unique_ptr<QNetworkReply> reply(
        manager.post(MakeRequest(url, secure), EncodeFields(fields)));
    const QString failure = Await(*reply, timeoutMs, cancel);
    if (!failure.isEmpty()) throw RequestError(failure.toStdString());

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) throw RequestError(reply->errorString().toStdString());
    const int code = status.toInt();
    if (!secure && (code < 200 || code > 299))
        throw RequestError(QStringLiteral("HTTP status %1").arg(code).toStdString());
    const QByteArray body = reply->readAll();
    if (body.size() > kMaxReplyBytes)
        throw RequestError(QStringLiteral("The reply is longer than %1 bytes.").arg(kMaxReplyBytes).toStdString());
    ThrowIfCutShort(*reply, body);
    return DecodeBody(body, DeclaredCharset(reply->rawHeader("Content-Type")));
}

QStringList SplitReplyLines(const QString& reply) {
    QStringList lines;
    QString current;
    for (qsizetype i = 0; i < reply.size(); ++i) {
        const QChar c = reply[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << current;
            current.clear();
            if (c == QLatin1Char('\r') && i + 1 < reply.size() && reply[i + 1] == QLatin1Char('\n')) ++i;
        } else {
            current += c;
        }
    }
    if (!current.isEmpty()) lines << current;
    return lines;
}

QString ReplyLine(const QStringList& lines, int index) {
    return index >= 0 && index < lines.size() ? lines[index] : QString();
}

QString ExtractTagValue(const QString& line, const QString& tag) {
    if (line.isEmpty() || tag.isEmpty()) return {};
    const QString lower = tag.toLower();
    const QString open = QLatin1Char('<') + lower + QLatin1Char('>');
    const QString close = QStringLiteral("</") + lower + QLatin1Char('>');
    if (line.size() < open.size() + close.size()) return {};
    if (!line.startsWith(open) || !line.endsWith(close)) return {};
    return line.mid(open.size(), line.size() - open.size() - close.size());
}

Exchange PostWithFallback(const QString& path, const RequestFields& fields, int timeoutMs,
                          const Cancellation* cancel) {
    Exchange out;
    const QString host = MakerHost();
    try {
        out.reply = PostForm(QStringLiteral("https://") + host + path, fields, timeoutMs, cancel);
        return out;
    } catch (const std::exception& e) {
        out.httpsError = QString::fromUtf8(e.what());
    }
    try {
        out.reply = PostForm(QStringLiteral("http://") + host + path, fields, timeoutMs, cancel);
        out.overHttp = true;
    } catch (const std::exception& e) {
        out.httpError = QString::fromUtf8(e.what());
    }
    return out;
}

}  // namespace corvexa::net
