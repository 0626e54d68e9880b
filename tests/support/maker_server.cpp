#include "support/maker_server.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QMetaObject>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWaitCondition>
#include <stdexcept>

namespace corvexa::test {

QString RecordedRequest::Field(const QString& name) const {
    for (const auto& [n, v] : fields)
        if (n == name) return v;
    return {};
}

bool RecordedRequest::Has(const QString& name) const {
    for (const auto& field : fields)
        if (field.first == name) return true;
    return false;
}

QStringList RecordedRequest::Names() const {
    QStringList out;
    for (const auto& field : fields) out << field.first;
    return out;
}

QList<QPair<QString, QString>> DecodeForm(const QByteArray& body) {
    QList<QPair<QString, QString>> out;
    if (body.isEmpty()) return out;
    for (QByteArray pair : body.split('&')) {
        pair.replace('+', ' ');
        const qsizetype eq = pair.indexOf('=');
        const QByteArray name = eq < 0 ? pair : pair.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        out.append({QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
                    QString::fromUtf8(QByteArray::fromPercentEncoding(value))});
    }
    return out;
}

QByteArray CheckReply(const QString& version, const QString& url, const QString& result,
                      const QString& important) {
    QStringList lines{QStringLiteral("<version>%1</version>").arg(version),
                      QStringLiteral("<url>%1</url>").arg(url),
                      QStringLiteral("<date>2026-12-01</date>"),
                      QStringLiteral("<result>%1</result>").arg(result),
                      QStringLiteral("<size>1234567</size>"),
                      QStringLiteral("<important>%1</important>").arg(important),
                      QStringLiteral("<unused1></unused1>"),
                      QStringLiteral("<unused2></unused2>")};
    return lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

namespace {

// What the listener shares with the test's thread.
struct Shared {
    mutable QMutex mutex;
    QWaitCondition arrived;
    QMap<QPair<QByteArray, bool>, ServerReply> replies;
    bool refuseHttps = false;
    QList<RecordedRequest> requests;
    int connections = 0;
    QWaitCondition closedChanged;
    int closed = 0;
    qint64 endlessSent = 0;
};

class Listener : public QTcpServer {
public:
    Listener(Shared& shared, QSslCertificate cert, QSslKey key)
        : shared_(shared), cert_(std::move(cert)), key_(std::move(key)) {}

protected:
    void incomingConnection(qintptr handle) override {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(handle)) {
            delete socket;
            return;
        }
        {
            QMutexLocker lock(&shared_.mutex);
            ++shared_.connections;
        }
        socket->setLocalCertificate(cert_);
        socket->setPrivateKey(key_);
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        auto buffer = std::make_shared<QByteArray>();
        auto decided = std::make_shared<bool>(false);
        connect(socket, &QSslSocket::disconnected, this, [this] {
            QMutexLocker lock(&shared_.mutex);
            ++shared_.closed;
            shared_.closedChanged.wakeAll();
        });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QSslSocket::readyRead, this, [this, socket, buffer, decided] {
            if (!*decided) {
                char first = 0;
                if (socket->peek(&first, 1) != 1) return;
                *decided = true;
                if (first == 0x16) {  // a TLS handshake record
                    bool refuse;
                    {
                        QMutexLocker lock(&shared_.mutex);
                        refuse = shared_.refuseHttps;
                    }
                    if (refuse) {
                        socket->abort();
                        socket->deleteLater();
                        return;
                    }
                    socket->startServerEncryption();
                    return;
                }
            }
            buffer->append(socket->readAll());
            TryAnswer(socket, *buffer);
        });
    }

private:
    void TryAnswer(QSslSocket* socket, QByteArray& buffer) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0) return;
        RecordedRequest request;
        request.secure = socket->isEncrypted();
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                       lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length").toLongLong();
        if (buffer.size() < end + 4 + length) return;
        request.body = buffer.mid(end + 4, length);
        request.fields = DecodeForm(request.body);
        buffer.clear();
        ServerReply reply;
        {
            QMutexLocker lock(&shared_.mutex);
            reply = shared_.replies.value({request.path, request.secure},
                                          ServerReply{404, "not found", "text/plain", 0, false, -1,
                                                      ServerReply::Endless::No});
            shared_.requests << request;
            shared_.arrived.wakeAll();
        }
        if (reply.silent) return;
        if (reply.endless != ServerReply::Endless::No) return SendEndlessly(socket, reply);
        QPointer<QSslSocket> guard(socket);
        QTimer::singleShot(reply.delayMs, this, [guard, reply] {
            if (!guard) return;
            QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
            if (!reply.contentType.isEmpty()) out += "Content-Type: " + reply.contentType + "\r\n";
            out += "Content-Length: " + QByteArray::number(reply.body.size()) +
                   "\r\nConnection: close\r\n\r\n";
            out += reply.truncateTo >= 0 ? reply.body.left(reply.truncateTo) : reply.body;
            guard->write(out);
            guard->disconnectFromHost();
        });
    }

    // Feeds the connection while it takes the bytes (at most 64 KiB waiting in
    // the socket at any time), until the client closes it.
    void SendEndlessly(QSslSocket* socket, const ServerReply& reply) {
        const bool headers = reply.endless == ServerReply::Endless::Headers;
        socket->write(
            headers
                ? QByteArray("HTTP/1.1 200 OK\r\n")
                : QByteArray(
                      "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n"));
        QByteArray chunk;
        for (int i = 0; chunk.size() < 16 * 1024; ++i)
            chunk += headers
                         ? "X-Filler-" + QByteArray::number(i) + ": " + QByteArray(64, 'h') + "\r\n"
                         : QByteArray(1024, 'b');
        auto* pump = new QTimer(socket);
        pump->setInterval(1);
        connect(pump, &QTimer::timeout, socket, [this, socket, chunk] {
            if (socket->state() != QAbstractSocket::ConnectedState) return;
            if (socket->bytesToWrite() + socket->encryptedBytesToWrite() >= 64 * 1024) return;
            socket->write(chunk);
            QMutexLocker lock(&shared_.mutex);
            shared_.endlessSent += chunk.size();
        });
        pump->start();
    }

    Shared& shared_;
    QSslCertificate cert_;
    QSslKey key_;
};

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

}  // namespace

struct MakerServer::Impl {
    QTemporaryDir dir;
    Shared shared;
    QThread thread;
    Listener* listener = nullptr;
    QByteArray certPem;
    quint16 port = 0;
};

MakerServer::MakerServer(quint16 port) : impl_(std::make_unique<Impl>()) {
    const QString key = impl_->dir.filePath(QStringLiteral("key.pem"));
    const QString cert = impl_->dir.filePath(QStringLiteral("cert.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                   "-addext", "subjectAltName=IP:127.0.0.1"});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        throw std::runtime_error("openssl could not make the test certificate: " +
                                 openssl.readAllStandardError().toStdString());
    impl_->certPem = ReadFile(cert);
    QSslCertificate certificate(impl_->certPem, QSsl::Pem);
    QSslKey privateKey(ReadFile(key), QSsl::Ec, QSsl::Pem);
    if (certificate.isNull() || privateKey.isNull())
        throw std::runtime_error("the test certificate cannot be loaded");

    impl_->listener = new Listener(impl_->shared, certificate, privateKey);
    impl_->listener->moveToThread(&impl_->thread);
    impl_->thread.start();
    bool ok = false;
    QMetaObject::invokeMethod(
        impl_->listener, [&] { ok = impl_->listener->listen(QHostAddress::LocalHost, port); },
        Qt::BlockingQueuedConnection);
    if (!ok) {
        QMetaObject::invokeMethod(
            impl_->listener, [this] { delete impl_->listener; }, Qt::BlockingQueuedConnection);
        impl_->thread.quit();
        impl_->thread.wait();
        throw std::runtime_error("the test server cannot listen on 127.0.0.1");
    }
    impl_->port = impl_->listener->serverPort();
}

MakerServer::~MakerServer() {
    QMetaObject::invokeMethod(
        impl_->listener, [this] { delete impl_->listener; }, Qt::BlockingQueuedConnection);
    impl_->thread.quit();
    impl_->thread.wait();
}

quint16 MakerServer::Port() const {
    return impl_->port;
}

QString MakerServer::Host() const {
    return QStringLiteral("127.0.0.1:%1").arg(impl_->port);
}

void MakerServer::SetReply(const QByteArray& path, const ServerReply& reply) {
    SetReply(path, true, reply);
    SetReply(path, false, reply);
}

void MakerServer::SetReply(const QByteArray& path, bool secure, const ServerReply& reply) {
    QMutexLocker lock(&impl_->shared.mutex);
    impl_->shared.replies[{path, secure}] = reply;
}

void MakerServer::RefuseHttps(bool refuse) {
    QMutexLocker lock(&impl_->shared.mutex);
    impl_->shared.refuseHttps = refuse;
}

QList<RecordedRequest> MakerServer::Requests() const {
    QMutexLocker lock(&impl_->shared.mutex);
    return impl_->shared.requests;
}

void MakerServer::ClearRequests() {
    QMutexLocker lock(&impl_->shared.mutex);
    impl_->shared.requests.clear();
}

bool MakerServer::WaitForRequests(int count, int timeoutMs) const {
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&impl_->shared.mutex);
    while (impl_->shared.requests.size() < count)
        if (!impl_->shared.arrived.wait(&impl_->shared.mutex, deadline))
            return impl_->shared.requests.size() >= count;
    return true;
}

int MakerServer::Connections() const {
    QMutexLocker lock(&impl_->shared.mutex);
    return impl_->shared.connections;
}

int MakerServer::Closed() const {
    QMutexLocker lock(&impl_->shared.mutex);
    return impl_->shared.closed;
}

bool MakerServer::WaitForClosed(int count, int timeoutMs) const {
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&impl_->shared.mutex);
    while (impl_->shared.closed < count)
        if (!impl_->shared.closedChanged.wait(&impl_->shared.mutex, deadline))
            return impl_->shared.closed >= count;
    return true;
}

qint64 MakerServer::EndlessBytesSent() const {
    QMutexLocker lock(&impl_->shared.mutex);
    return impl_->shared.endlessSent;
}

QByteArray MakerServer::CertificatePem() const {
    return impl_->certPem;
}

QString MakerServer::CertificateFile() const {
    return impl_->dir.filePath(QStringLiteral("cert.pem"));
}

void MakerServer::TrustInThisProcess() const {
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.addCaCertificates(QSslCertificate::fromData(impl_->certPem, QSsl::Pem));
    QSslConfiguration::setDefaultConfiguration(conf);
}

ServerReply BodyReply(const QByteArray& body) {
    ServerReply r;
    r.body = body;
    return r;
}

void UseMakerHost(const QString& host) {
    qputenv("CORVEXA_MAKER_HOST", host.toUtf8());
}

std::unique_ptr<MakerServer> StartMakerServer() {
    auto server = std::make_unique<MakerServer>();
    server->TrustInThisProcess();
    UseMakerHost(server->Host());
    return server;
}

QString HostNobodyListensOn() {
    quint16 port;
    {
        MakerServer gone;
        port = gone.Port();
    }
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

MakerServer& TakeSecurePathDown(MakerServer& home, MakerServer& stranger, bool untrusted,
                                const QByteArray& path, const ServerReply& reply) {
    MakerServer& target = untrusted ? stranger : home;
    target.SetReply(path, reply);
    if (untrusted)
        UseMakerHost(stranger.Host());
    else
        home.RefuseHttps(true);
    return target;
}

}  // namespace corvexa::test
