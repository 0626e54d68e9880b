#pragma once

// A maker's web server on 127.0.0.1 for tests and for trying the program by
// hand: it serves "/php/check2.php" and "/php/feedback.php" (any path, in
// fact) over plain HTTP and over TLS on ONE port, telling the two apart by the
// first byte a client sends, so one host "127.0.0.1:<port>" answers both
// "https://" and "http://". Its certificate is made when it starts (openssl)
// and trusted only where TrustInThisProcess is called. It runs on its own
// thread, so a client blocking its own thread still gets answers.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <memory>

namespace corvexa::test {

// How the server answers one path over one scheme.
struct ServerReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "text/plain; charset=UTF-8";
    int delayMs = 0;      // wait this long before answering
    bool silent = false;  // read the request, never answer, keep the connection open
    int truncateTo = -1;  // >= 0: announce the whole body, send this many bytes, close
    // Never ends: after the status line, header lines or body bytes (the body
    // without a length) as fast as the client takes them, until it closes.
    enum class Endless { No, Headers, Body };
    Endless endless = Endless::No;
};

// One request as it arrived.
struct RecordedRequest {
    bool secure = false;
    QByteArray method, path, body;
    QMap<QByteArray, QByteArray> headers;   // names in lower case
    QList<QPair<QString, QString>> fields;  // the body, form-decoded, in order

    QString Field(const QString& name) const;  // empty when absent
    bool Has(const QString& name) const;
    QStringList Names() const;
};

// Decodes an application/x-www-form-urlencoded body ("+" is a space).
QList<QPair<QString, QString>> DecodeForm(const QByteArray& body);

class MakerServer {
public:
    // Listens on 127.0.0.1 at port (0: any free port). Throws std::runtime_error
    // when the certificate cannot be made or the port cannot be taken.
    explicit MakerServer(quint16 port = 0);
    ~MakerServer();
    MakerServer(const MakerServer&) = delete;
    MakerServer& operator=(const MakerServer&) = delete;

    quint16 Port() const;
    QString Host() const;  // "127.0.0.1:<port>", for CORVEXA_MAKER_HOST

    // The reply for a path, over both schemes or one. Paths without a reply
    // get 404.
    void SetReply(const QByteArray& path, const ServerReply& reply);
    void SetReply(const QByteArray& path, bool secure, const ServerReply& reply);
    // Drops every TLS connection at its first byte (the secure path is down,
    // plain HTTP still answers).
    void RefuseHttps(bool refuse);

    QList<RecordedRequest> Requests() const;
    void ClearRequests();
    // Waits (running no event loop of the caller's) until count requests have arrived.
    bool WaitForRequests(int count, int timeoutMs) const;
    // Connections accepted so far (a request need not have arrived).
    int Connections() const;
    // Connections that have closed so far, by either side.
    int Closed() const;
    // Waits (running no event loop of the caller's) until count connections have closed.
    bool WaitForClosed(int count, int timeoutMs) const;
    // Bytes of endless replies handed to the connection so far.
    qint64 EndlessBytesSent() const;

    // The certificate's PEM, and a file holding it.
    QByteArray CertificatePem() const;
    QString CertificateFile() const;
    // Adds the certificate to this process's default TLS configuration.
    void TrustInThisProcess() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The reply of "cmd=check" with the update check's lines: version, url, an
// unused line, result, an unused line, important, two unused lines.
QByteArray CheckReply(const QString& version, const QString& url,
                      const QString& result = QStringLiteral("1"),
                      const QString& important = QString());

// A reply of status 200 with this body.
ServerReply BodyReply(const QByteArray& body);

// Names a host in CORVEXA_MAKER_HOST, where the online services look for the
// maker's server.
void UseMakerHost(const QString& host);

// The maker's server of a whole test program: started, trusted in this
// process and named in CORVEXA_MAKER_HOST.
std::unique_ptr<MakerServer> StartMakerServer();

// "127.0.0.1:<port>" at a port a server has just left: nothing listens there.
QString HostNobodyListensOn();

// The secure path to the maker down while plain HTTP would answer `reply` at
// `path`: either `home` refuses TLS, or (untrusted) `stranger`, whose
// certificate nobody trusts, is named in CORVEXA_MAKER_HOST. Returns the server
// a request would reach.
MakerServer& TakeSecurePathDown(MakerServer& home, MakerServer& stranger, bool untrusted,
                                const QByteArray& path, const ServerReply& reply);

}  // namespace corvexa::test
