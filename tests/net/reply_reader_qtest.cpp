// The bounded reply reader, fed by hand: framing, bounds and cut-off replies,
// each reply given whole and again one byte at a time.

#include <QTest>
#include <algorithm>

#include "net/reply_reader.h"

using corvexa::net::kMaxHeaderBytes;
using corvexa::net::ReplyReader;
using State = ReplyReader::State;

Q_DECLARE_METATYPE(ReplyReader::State)

namespace {

constexpr qsizetype kCap = 100;

// Feeds the bytes in pieces of the given size, then the close when asked;
// returns the reader's final state.
State Run(ReplyReader& reader, const QByteArray& bytes, qsizetype piece, bool close) {
    for (qsizetype i = 0; i < bytes.size() && reader.Current() != State::Failed; i += piece)
        reader.Feed(QByteArrayView(bytes).sliced(i, std::min(piece, bytes.size() - i)));
    return close ? reader.Closed() : reader.Current();
}

}  // namespace

class ReplyReaderTest : public QObject {
    Q_OBJECT

private slots:
    // Each row: the bytes, whether the connection then closes; the state,
    // the body (or a word of the failure) and the status.
    void replies_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("close");
        QTest::addColumn<State>("state");
        QTest::addColumn<QByteArray>("result");
        QTest::addColumn<int>("status");
        const QByteArray ok = "HTTP/1.1 200 OK\r\n";
        QTest::newRow("length") << ok + "Content-Length: 5\r\n\r\nhello" << false << State::Done
                                << QByteArray("hello") << 200;
        QTest::newRow("length, bytes after it ignored")
            << ok + "Content-Length: 2\r\n\r\nhello" << false << State::Done << QByteArray("he")
            << 200;
        QTest::newRow("length, cut short")
            << ok + "Content-Length: 9\r\n\r\nhello" << true << State::Failed
            << QByteArray("ended after 5 of the 9") << 200;
        QTest::newRow("length over the cap fails at once")
            << ok + "Content-Length: 101\r\n\r\n"
            << false << State::Failed << QByteArray("longer than 100") << 200;
        QTest::newRow("length exactly the cap")
            << ok + "Content-Length: 100\r\n\r\n" + QByteArray(100, 'x') << false << State::Done
            << QByteArray(100, 'x') << 200;
        QTest::newRow("invalid length")
            << ok + "Content-Length: -1\r\n\r\n"
            << false << State::Failed << QByteArray("invalid length") << 200;
        QTest::newRow("until close") << QByteArray("HTTP/1.0 500 Oops\nX: y\n\nbroken") << true
                                     << State::Done << QByteArray("broken") << 500;
        QTest::newRow("until close, not closed yet")
            << QByteArray("HTTP/1.0 200 OK\r\n\r\nmore to come") << false << State::Body
            << QByteArray("more to come") << 200;
        QTest::newRow("until close, over the cap")
            << ok + "\r\n" + QByteArray(101, 'x') << false << State::Failed
            << QByteArray("longer than 100") << 200;
        QTest::newRow("chunked")
            << ok +
                   "Transfer-Encoding: chunked\r\n\r\n5;x=1\r\nhello\r\n1\r\n!\r\n0\r\nT: v\r\n\r\n"
            << false << State::Done << QByteArray("hello!") << 200;
        QTest::newRow("chunked, cut before the last chunk")
            << ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"
            << true << State::Failed << QByteArray("last chunk") << 200;
        QTest::newRow("chunked, one chunk over the cap")
            << ok + "Transfer-Encoding: chunked\r\n\r\n65\r\n"
            << false << State::Failed << QByteArray("longer than 100") << 200;
        QTest::newRow("chunked, chunks adding up over the cap")
            << ok + "Transfer-Encoding: chunked\r\n\r\n32\r\n" + QByteArray(50, 'x') + "\r\n33\r\n"
            << false << State::Failed << QByteArray("longer than 100") << 200;
        QTest::newRow("chunked, bad size")
            << ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n"
            << false << State::Failed << QByteArray("chunk size") << 200;
        QTest::newRow("chunked, data past its size")
            << ok + "Transfer-Encoding: chunked\r\n\r\n1\r\nab\r\n0\r\n\r\n"
            << false << State::Failed << QByteArray("past its size") << 200;
        QTest::newRow("chunk size line without end")
            << ok + "Transfer-Encoding: chunked\r\n\r\n" + QByteArray(2000, '0') << false
            << State::Failed << QByteArray("size line") << 200;
        QTest::newRow("interim reply skipped")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\n") + ok + "Content-Length: 2\r\n\r\nOK"
            << false << State::Done << QByteArray("OK") << 200;
        QTest::newRow("no body for 204") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << false
                                         << State::Done << QByteArray() << 204;
        QTest::newRow("not HTTP") << QByteArray("SSH-2.0-x\r\n\r\n") << false << State::Failed
                                  << QByteArray("not HTTP") << 0;
        QTest::newRow("closed before the headers end")
            << ok + "X: y\r\n"
            << true << State::Failed << QByteArray("closed before") << 0;
        QTest::newRow("closed at once")
            << QByteArray() << true << State::Failed << QByteArray("closed before") << 0;
    }
    void replies() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, close);
        QFETCH(State, state);
        QFETCH(QByteArray, result);
        QFETCH(int, status);
        for (const qsizetype piece : {bytes.size() + 1, qsizetype{1}}) {
            ReplyReader reader(kCap);
            QCOMPARE(Run(reader, bytes, piece, close), state);
            if (state == State::Failed) {
                QVERIFY2(reader.Error().contains(QString::fromUtf8(result)),
                         qPrintable(reader.Error()));
            } else {
                QCOMPARE(reader.Body(), result);
                QCOMPARE(reader.Status(), status);
            }
        }
    }

    void headersAreReadByName() {
        ReplyReader reader(kCap);
        reader.Feed(
            "HTTP/1.1 200 OK\r\ncontent-TYPE:  text/plain; charset=Latin1 \r\nX: 1\r\nX: "
            "2\r\n\r\n");
        QCOMPARE(reader.Header("Content-Type"), QByteArray("text/plain; charset=Latin1"));
        QCOMPARE(reader.Header("x"), QByteArray("1"));
        QCOMPARE(reader.Header("absent"), QByteArray());
    }

    // Headers that never end fail once their bound is passed, whether they
    // come as many lines or as one line without end, and nothing more is kept.
    void endlessHeadersFailAtTheirBound_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("many lines") << QByteArray("X-Filler: hhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhh\r\n");
        QTest::newRow("one endless line") << QByteArray("hhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhh");
    }
    void endlessHeadersFailAtTheirBound() {
        QFETCH(QByteArray, line);
        ReplyReader reader(kCap);
        reader.Feed("HTTP/1.1 200 OK\r\n");
        qsizetype fed = 0;
        while (reader.Current() == State::Headers && fed < 10 * kMaxHeaderBytes) {
            reader.Feed(line);
            fed += line.size();
        }
        QCOMPARE(reader.Current(), State::Failed);
        QVERIFY(fed <= kMaxHeaderBytes + line.size());
        QVERIFY(reader.Error().contains(QStringLiteral("header")));
        QCOMPARE(reader.Feed("more"), State::Failed);
    }
};

QTEST_GUILESS_MAIN(ReplyReaderTest)
#include "reply_reader_qtest.moc"
