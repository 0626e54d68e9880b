#include "net/reply_reader.h"

#include <algorithm>

namespace corvexa::net {

namespace {

constexpr qsizetype kMaxChunkLine = 1024;

QString LongerThan(qsizetype cap) {
    return QStringLiteral("The reply is longer than %1 bytes.").arg(cap);
}

bool AllOf(QByteArrayView text, bool (*allowed)(char)) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), allowed);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The index just past the blank line that ends a header block, or -1.
qsizetype EndOfHeaders(const QByteArray& bytes) {
    const qsizetype crlf = bytes.indexOf("\n\r\n");
    const qsizetype lf = bytes.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf)) return crlf + 3;
    return lf >= 0 ? lf + 2 : -1;
}

}  // namespace

ReplyReader::ReplyReader(qsizetype bodyCap) : bodyCap_(bodyCap) {}

ReplyReader::State ReplyReader::Fail(const QString& why) {
    if (state_ != State::Failed) error_ = why;
    state_ = State::Failed;
    pending_.clear();
    return state_;
}

QByteArray ReplyReader::Header(QByteArrayView name) const {
    for (const auto& [n, v] : headers_)
        if (n.compare(name, Qt::CaseInsensitive) == 0) return v;
    return {};
}

ReplyReader::State ReplyReader::Feed(QByteArrayView bytes) {
    if (state_ == State::Done || state_ == State::Failed) return state_;
    pending_.append(bytes);
    while (state_ == State::Headers)
        if (!ParseHeaders()) break;  // more bytes needed, or the body begins, or a failure
    if (state_ == State::Body) ParseBody();
    return state_;
}

ReplyReader::State ReplyReader::Closed() {
    if (state_ == State::Headers)
        return Fail(QStringLiteral("The connection closed before a complete reply arrived."));
    if (state_ != State::Body) return state_;
    if (framing_ == Framing::Length)
        return Fail(QStringLiteral("The reply ended after %1 of the %2 bytes it announced.")
                        .arg(body_.size())
                        .arg(length_));
    if (framing_ == Framing::Chunked)
        return Fail(QStringLiteral("The reply ended before its last chunk."));
    state_ = State::Done;
    return state_;
}

bool ReplyReader::ParseHeaders() {
    const qsizetype end = EndOfHeaders(pending_);
    if (end < 0 ? pending_.size() > kMaxHeaderBytes : end > kMaxHeaderBytes) {
        Fail(QStringLiteral("The reply's header is longer than %1 bytes.").arg(kMaxHeaderBytes));
        return false;
    }
    if (end < 0) return false;
    const QList<QByteArray> lines = pending_.left(end).trimmed().split('\n');
    pending_.remove(0, end);
    const QByteArray statusLine = lines.value(0).trimmed();
    const QByteArray code = statusLine.mid(9, 3);
    const bool valid = (statusLine.startsWith("HTTP/1.1 ") || statusLine.startsWith("HTTP/1.0 ")) &&
                       AllOf(code, IsDigit) &&
                       (statusLine.size() == 12 || statusLine.at(12) == ' ');
    if (!valid) {
        Fail(QStringLiteral("The reply is not HTTP."));
        return false;
    }
    status_ = code.toInt();
    headers_.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            headers_.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    if (status_ >= 100 && status_ < 200) {
        if (status_ == 101) {
            Fail(QStringLiteral("The server switched protocols."));
            return false;
        }
        return true;  // an interim reply: the real one follows
    }
    return StartBody();
}

bool ReplyReader::StartBody() {
    state_ = State::Body;
    if (status_ == 204 || status_ == 304) {
        state_ = State::Done;
        return false;
    }
    const QByteArray coding = Header("Transfer-Encoding").trimmed().toLower();
    const QByteArray length = Header("Content-Length").trimmed();
    if (!coding.isEmpty()) {
        framing_ = coding.endsWith("chunked") ? Framing::Chunked : Framing::UntilClose;
    } else if (!length.isEmpty()) {
        if (!AllOf(length, IsDigit) || length.size() > 15) {
            Fail(QStringLiteral("The reply announces an invalid length."));
            return false;
        }
        framing_ = Framing::Length;
        length_ = length.toLongLong();
        if (length_ > bodyCap_) {
            Fail(LongerThan(bodyCap_));
            return false;
        }
        if (length_ == 0) state_ = State::Done;
    } else {
        framing_ = Framing::UntilClose;
    }
    return false;
}

bool ReplyReader::AddToBody(QByteArrayView bytes) {
    if (body_.size() + bytes.size() > bodyCap_) {
        Fail(LongerThan(bodyCap_));
        return false;
    }
    body_.append(bytes);
    return true;
}

bool ReplyReader::ParseBody() {
    if (framing_ == Framing::Chunked) return ParseChunks();
    if (framing_ == Framing::UntilClose) {
        const bool ok = AddToBody(pending_);
        pending_.clear();
        return ok;
    }
    const qsizetype take =
        std::min<qsizetype>(pending_.size(), static_cast<qsizetype>(length_) - body_.size());
    body_.append(pending_.left(take));
    pending_.clear();  // anything after the announced length is not this reply's
    if (body_.size() == length_) state_ = State::Done;
    return true;
}

bool ReplyReader::TakeLine(QByteArray& line, qsizetype bound, const QString& what) {
    const qsizetype lf = pending_.indexOf('\n');
    if ((lf < 0 && pending_.size() > bound) || lf > bound) {
        Fail(what + QStringLiteral(" is longer than %1 bytes.").arg(bound));
        return false;
    }
    if (lf < 0) return false;
    line = pending_.left(lf);
    if (line.endsWith('\r')) line.chop(1);
    pending_.remove(0, lf + 1);
    return true;
}

bool ReplyReader::ParseChunks() {
    QByteArray line;
    while (state_ == State::Body) {
        switch (chunkStep_) {
            case ChunkStep::Size: {
                if (!TakeLine(line, kMaxChunkLine, QStringLiteral("A chunk's size line")))
                    return false;
                const qsizetype semicolon = line.indexOf(';');
                const QByteArray digits = (semicolon < 0 ? line : line.left(semicolon)).trimmed();
                if (!AllOf(digits, IsHexDigit) || digits.size() > 15) {
                    Fail(QStringLiteral("The reply has an invalid chunk size."));
                    return false;
                }
                chunkLeft_ = digits.toLongLong(nullptr, 16);
                if (body_.size() + chunkLeft_ > bodyCap_) {
                    Fail(LongerThan(bodyCap_));
                    return false;
                }
                chunkStep_ = chunkLeft_ == 0 ? ChunkStep::Trailer : ChunkStep::Data;
                break;
            }
            case ChunkStep::Data: {
                if (pending_.isEmpty()) return false;
                const qsizetype take =
                    std::min<qsizetype>(pending_.size(), static_cast<qsizetype>(chunkLeft_));
                body_.append(pending_.left(take));
                pending_.remove(0, take);
                chunkLeft_ -= take;
                if (chunkLeft_ == 0) chunkStep_ = ChunkStep::DataEnd;
                break;
            }
            case ChunkStep::DataEnd:
                if (!TakeLine(line, 2, QStringLiteral("A chunk's end"))) return false;
                if (!line.isEmpty()) {
                    Fail(QStringLiteral("A chunk of the reply runs past its size."));
                    return false;
                }
                chunkStep_ = ChunkStep::Size;
                break;
            case ChunkStep::Trailer:
                if (!TakeLine(line, kMaxHeaderBytes - trailerBytes_,
                              QStringLiteral("The reply's trailer")))
                    return false;
                trailerBytes_ += line.size() + 2;
                if (line.isEmpty()) state_ = State::Done;
                break;
        }
    }
    return true;
}

}  // namespace corvexa::net
