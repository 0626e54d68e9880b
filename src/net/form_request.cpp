#include "net/form_request.h"

#include <QEventLoop>
#include <QNetworkProxy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

#include "net/maker_host.h"
#include "net/reply_reader.h"

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
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '*' || c == '-' || c == '.' || c == '_';
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

// How much the socket takes from the connection before it is read.
constexpr qint64 kReadBufferBytes = 32 * 1024;

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

// The request as it goes on the wire: the fields form-encoded, the connection
// closed after the reply, nothing the server does not need.
QByteArray RequestBytes(const QUrl& url, const QByteArray& body) {
    QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
    if (target.isEmpty()) target = "/";
    if (url.hasQuery()) target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':')) host = '[' + host + ']';
    if (url.port(443) != 443) host += ':' + QByteArray::number(url.port());
    return "POST " + target + " HTTP/1.1\r\nHost: " + host +
           "\r\nUser-Agent: Corvexa\r\nContent-Type: application/x-www-form-urlencoded; "
           "charset=UTF-8"
           "\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// Runs one exchange over TLS on this thread's own event loop and returns a
// failure text, or the empty text when the reader holds a complete reply.
// timeoutMs bounds the connection up to the request being sent, then the
// reply. Every read goes through the reader, which fails the moment a bound
// is passed; any failure aborts the socket at once, so nothing reads on.
QString ExchangeOverTls(QSslSocket& socket, ReplyReader& reader, const QUrl& url,
                        const QByteArray& request, int timeoutMs, const Cancellation* cancel) {
    QEventLoop loop;
    QString failure;
    bool ended = false;
    const auto end = [&](const QString& why) {
        if (ended) return;
        ended = true;
        failure = why;
        socket.abort();
        loop.quit();
    };
    const auto drain = [&] {
        while (!ended && socket.bytesAvailable() > 0) {
            const ReplyReader::State state = reader.Feed(socket.read(16 * 1024));
            if (state == ReplyReader::State::Failed) end(reader.Error());
            if (state == ReplyReader::State::Done) end({});
        }
    };
    const auto closed = [&] {
        drain();
        if (ended) return;
        const bool complete = reader.Closed() == ReplyReader::State::Done;
        end(complete ? QString() : reader.Error());
    };
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop,
                     [&] { end(QStringLiteral("No answer within %1 ms.").arg(timeoutMs)); });
    QObject::connect(&socket, &QSslSocket::encrypted, &loop, [&] {
        socket.write(request);
        deadline.start(timeoutMs);  // the reply gets a time-out of its own
    });
    QObject::connect(&socket, &QSslSocket::readyRead, &loop, drain);
    QObject::connect(&socket, &QSslSocket::disconnected, &loop, closed);
    // The server closing a secure connection is told before its last bytes
    // are decrypted; "disconnected" follows once they can be read.
    QObject::connect(
        &socket, &QAbstractSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError error) {
            if (error != QAbstractSocket::RemoteHostClosedError || !socket.isEncrypted())
                end(socket.errorString());
        });
    if (cancel) {
        QObject::connect(
            cancel, &Cancellation::requested, &loop,
            [&] { end(QStringLiteral("The request was cancelled.")); }, Qt::QueuedConnection);
        if (cancel->Requested()) return QStringLiteral("The request was cancelled.");
    }
    deadline.start(timeoutMs);
    socket.connectToHostEncrypted(url.host(), static_cast<quint16>(url.port(443)));
    if (!ended) loop.exec(QEventLoop::ExcludeUserInputEvents);
    return failure;
}

// For trying a test server by hand: CORVEXA_MAKER_CA names a PEM file whose
// certificates this run trusts (as CORVEXA_MAKER_HOST names the host).
void TrustNamedAuthority(QSslSocket& socket) {
    const QString file = qEnvironmentVariable("CORVEXA_MAKER_CA");
    if (file.isEmpty()) return;
    const QList<QSslCertificate> named = QSslCertificate::fromPath(file, QSsl::Pem);
    if (named.isEmpty()) return;
    QSslConfiguration conf = socket.sslConfiguration();
    conf.addCaCertificates(named);
    socket.setSslConfiguration(conf);
}

}  // namespace

QString PostForm(const QString& url, const RequestFields& fields, int timeoutMs,
                 const Cancellation* cancel) {
    if (cancel && cancel->Requested()) throw RequestError("The request was cancelled.");
    const QUrl address(url);
    // Checked on the parsed address, so no spelling of another scheme slips by.
    if (!url.toLower().startsWith(QStringLiteral("https://")) ||
        address.scheme() != QStringLiteral("https") || address.host().isEmpty())
        throw RequestError(("Only secure https:// addresses are used: " + url).toStdString());
    QSslSocket socket;  // fresh for this call: no connection reuse, no cookies
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.setReadBufferSize(kReadBufferBytes);
    TrustNamedAuthority(socket);
    ReplyReader reader(kMaxReplyBytes);
    const QString failure = ExchangeOverTls(
        socket, reader, address, RequestBytes(address, EncodeFields(fields)), timeoutMs, cancel);
    if (!failure.isEmpty()) throw RequestError(failure.toStdString());
    return DecodeBody(reader.Body(), DeclaredCharset(reader.Header("Content-Type")));
}

QStringList SplitReplyLines(const QString& reply) {
    QStringList lines;
    QString current;
    for (qsizetype i = 0; i < reply.size(); ++i) {
        const QChar c = reply[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << current;
            current.clear();
            if (c == QLatin1Char('\r') && i + 1 < reply.size() && reply[i + 1] == QLatin1Char('\n'))
                ++i;
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

Exchange PostToMaker(const QString& path, const RequestFields& fields, int timeoutMs,
                     const Cancellation* cancel) {
    Exchange out;
    try {
        out.reply = PostForm(MakerAddress(path), fields, timeoutMs, cancel);
    } catch (const std::exception& e) {
        out.error = QString::fromUtf8(e.what());
    }
    return out;
}

}  // namespace corvexa::net
