#pragma once

// An HTTP/1.1 reply read as its bytes arrive, within fixed bounds: whatever a
// server sends, no more than the bounds is ever kept, and the reader says
// "failed" the moment a bound is passed, so the caller can close the
// connection at once instead of reading on.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

namespace corvexa::net {

// The largest header block (status line, fields and the blank line) a reply
// may have; the same bound applies to the trailer of a chunked body.
inline constexpr qsizetype kMaxHeaderBytes = 16 * 1024;

class ReplyReader {
public:
    enum class State { Headers, Body, Done, Failed };

    // bodyCap: the largest body accepted, counted after chunked decoding.
    explicit ReplyReader(qsizetype bodyCap);

    // Takes the next bytes of the connection; returns the state after them.
    // Bytes after a complete reply are ignored.
    State Feed(QByteArrayView bytes);
    // The connection has closed: a body that runs to the close ends here, a
    // reply cut short fails.
    State Closed();

    State Current() const { return state_; }
    const QString& Error() const { return error_; }
    int Status() const { return status_; }
    // A header's value (the first field of that name, compared without case),
    // empty when there is none.
    QByteArray Header(QByteArrayView name) const;
    const QByteArray& Body() const { return body_; }

private:
    enum class Framing { Length, Chunked, UntilClose };
    enum class ChunkStep { Size, Data, DataEnd, Trailer };

    State Fail(const QString& why);
    bool ParseHeaders();  // false: more bytes are needed or the reader failed
    bool StartBody();
    bool ParseBody();
    bool ParseChunks();
    bool TakeLine(QByteArray& line, qsizetype bound, const QString& what);
    bool AddToBody(QByteArrayView bytes);

    qsizetype bodyCap_;
    State state_ = State::Headers;
    QString error_;
    QByteArray pending_;  // received, not parsed yet; never over the bounds
    int status_ = 0;
    QList<QPair<QByteArray, QByteArray>> headers_;
    QByteArray body_;
    Framing framing_ = Framing::UntilClose;
    qint64 length_ = 0;  // Framing::Length: the announced length
    ChunkStep chunkStep_ = ChunkStep::Size;
    qint64 chunkLeft_ = 0;
    qsizetype trailerBytes_ = 0;
};

}  // namespace corvexa::net
