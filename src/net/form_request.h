#pragma once

// The shape of every exchange with the maker's web server: form fields posted
// to a path on its host, a short text reply whose lines carry tagged values.

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>
#include <stdexcept>

namespace corvexa::net {

// An exchange that failed: an address that is not https, no connection, no
// secure channel, no reply within the time-out, a reply over the size cap, a
// cut-off reply, or a cancelled request. what() is the message text.
class RequestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Lets another thread end a request that is waiting on the network: Request()
// may be called from any thread; a PostForm given this object fails at once.
class Cancellation : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void Request();
    bool Requested() const { return requested_.load(std::memory_order_acquire); }

signals:
    void requested();

private:
    std::atomic<bool> requested_{false};
};

// Request fields: lines "name=value", the value in plain text.
using RequestFields = QStringList;

// The largest reply body PostForm accepts; a longer one fails the exchange as
// soon as it announces itself or its bytes pass the bound, and the connection
// is closed then (the header block has a bound of its own, kMaxHeaderBytes).
inline constexpr qint64 kMaxReplyBytes = 64 * 1024;

// Form encoding of the UTF-8 bytes of text: ASCII letters, digits and "*-._"
// stay, a space becomes "+", every other byte "%XX" in upper case.
QByteArray FormEncode(const QString& text);

// The body of a request: each line split at its first "=", name and value each
// form-encoded and joined with "=", the pairs joined with "&" in order.
QByteArray EncodeFields(const RequestFields& fields);

// Posts the fields to url and returns the reply body decoded by the charset its
// content type declares (UTF-8 when none). Only "https://" addresses are used:
// any other fails before a connection is made, so nothing is ever sent in
// clear. "Connection: close", the certificate always verified, the body
// returned whatever the HTTP status. timeoutMs bounds the connection (up to the
// request being sent) and then the reply. A fresh connection per call, read on
// the calling thread's own event loop and closed the moment the exchange ends
// or fails: no connection reuse, no cookies, no redirects followed, no thread
// left reading. Throws RequestError.
QString PostForm(const QString& url, const RequestFields& fields, int timeoutMs,
                 const Cancellation* cancel = nullptr);

// The reply's lines: split at CR LF, CR or LF; a break at the very end adds no
// empty line.
QStringList SplitReplyLines(const QString& reply);

// The reply line at index, or the empty text when there is none.
QString ReplyLine(const QStringList& lines, int index);

// The value of a line "<tag>value</tag>" (the tag in lower case, the line
// compared as it is); the empty text for any other line.
QString ExtractTagValue(const QString& line, const QString& tag);

// The outcome of posting to the maker's host.
struct Exchange {
    std::optional<QString> reply;  // absent when the exchange failed
    QString error;                 // why it failed
};

// Posts to MakerAddress(path) over HTTPS. A failure is the outcome: there is
// no second attempt over plain HTTP, since that would send the same fields in
// clear and trust whatever a network in between answered.
Exchange PostToMaker(const QString& path, const RequestFields& fields, int timeoutMs,
                     const Cancellation* cancel = nullptr);

}  // namespace corvexa::net
