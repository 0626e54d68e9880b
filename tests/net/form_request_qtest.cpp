// Requests to the maker's web server, against a real server on 127.0.0.1 that
// speaks HTTP and HTTPS on one port.

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>

#include "net/field_values.h"
#include "net/form_request.h"
#include "support/maker_server.h"

using namespace corvexa::net;
using corvexa::test::HostNobodyListensOn;
using corvexa::test::MakerServer;
using corvexa::test::ServerReply;
using corvexa::test::UseMakerHost;

namespace {

ServerReply Reply(int status, const QByteArray& body,
                  const QByteArray& type = "text/plain; charset=UTF-8") {
    ServerReply r;
    r.status = status;
    r.body = body;
    r.contentType = type;
    return r;
}

QString Failure(const QString& url, const RequestFields& fields, int timeoutMs) {
    try {
        PostForm(url, fields, timeoutMs);
    } catch (const RequestError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

}  // namespace

class FormRequestTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MakerServer> server_;
    QString Https(const char* path) const {
        return QStringLiteral("https://") + server_->Host() + QLatin1String(path);
    }

private slots:
    void initTestCase() {
        server_ = std::make_unique<MakerServer>();
        // A second server's certificate is never trusted: its secure path must fail.
        MakerServer untrusted;
        untrusted.SetReply("/p", Reply(200, "secret"));
        QVERIFY(!Failure(QStringLiteral("https://") + untrusted.Host() + "/p", {"cmd=x"}, 3000)
                     .isEmpty());
        QVERIFY(untrusted.Requests().isEmpty());
        server_->TrustInThisProcess();
        qputenv("CORVEXA_MAKER_HOST", server_->Host().toUtf8());
    }

    void init() {
        server_->ClearRequests();
        server_->RefuseHttps(false);
    }

    void extractTagValue_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "<result>1</result>"
                               << "result"
                               << "1";
        QTest::newRow("space after close") << "<result>1</result> "
                                           << "result"
                                           << "";
        QTest::newRow("space before open") << " <result>1</result>"
                                           << "result"
                                           << "";
        QTest::newRow("upper-case tags in line") << "<RESULT>1</RESULT>"
                                                 << "result"
                                                 << "";
        QTest::newRow("upper-case tag argument") << "<result>1</result>"
                                                 << "RESULT"
                                                 << "1";
        QTest::newRow("empty value") << "<url></url>"
                                     << "url"
                                     << "";
        QTest::newRow("only the opening tag") << "<url>"
                                              << "url"
                                              << "";
        QTest::newRow("other tag") << "<version>2.6</version>"
                                   << "url"
                                   << "";
        QTest::newRow("markup inside kept as text") << "<important><b>x</b></important>"
                                                    << "important"
                                                    << "<b>x</b>";
        QTest::newRow("empty line") << ""
                                    << "url"
                                    << "";
        QTest::newRow("empty tag") << "<>x</>"
                                   << ""
                                   << "";
    }
    void extractTagValue() {
        QFETCH(QString, line);
        QFETCH(QString, tag);
        QFETCH(QString, value);
        QCOMPARE(ExtractTagValue(line, tag), value);
    }

    void replyLines_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("CR LF, final break adds nothing") << "a\r\nb\r\n" << QStringList{"a", "b"};
        QTest::newRow("CR and LF alone") << "a\rb\nc" << QStringList{"a", "b", "c"};
        QTest::newRow("empty line kept") << "a\n\nb" << QStringList{"a", "", "b"};
        QTest::newRow("LF CR is two breaks") << "a\n\rb" << QStringList{"a", "", "b"};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void replyLines() {
        QFETCH(QString, reply);
        QFETCH(QStringList, lines);
        QCOMPARE(SplitReplyLines(reply), lines);
    }

    // The bytes that arrive, for both schemes.
    void fieldsArriveIntact_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QString>("value");
        QTest::newRow("spaces") << "feedback=I like it" << QByteArray("feedback=I+like+it")
                                << "I like it";
        QTest::newRow("& and =") << "feedback=a&b=c" << QByteArray("feedback=a%26b%3Dc") << "a&b=c";
        QTest::newRow("kept characters") << "v=*-._Az09" << QByteArray("v=*-._Az09") << "*-._Az09";
        QTest::newRow("non-ASCII")
            << "feedback=\u00FCber \u20AC" << QByteArray("feedback=%C3%BCber+%E2%82%AC")
            << "\u00FCber \u20AC";
        QTest::newRow("CR and plus")
            << "feedback=I like it!\r1+1" << QByteArray("feedback=I+like+it%21%0D1%2B1")
            << "I like it!\r1+1";
        QTest::newRow("empty value") << "guid=" << QByteArray("guid=") << "";
    }
    void fieldsArriveIntact() {
        QFETCH(QString, field);
        QFETCH(QByteArray, encoded);
        QFETCH(QString, value);
        server_->SetReply("/php/feedback.php", Reply(200, "OK"));
        const QString name = field.left(field.indexOf(QLatin1Char('=')));
        {
            server_->ClearRequests();
            QCOMPARE(PostForm(Https("/php/feedback.php"), {"cmd=feedback", field}, 3000),
                     QStringLiteral("OK"));
            const auto requests = server_->Requests();
            QCOMPARE(requests.size(), 1);
            QCOMPARE(requests[0].body, QByteArray("cmd=feedback&") + encoded);
            QCOMPARE(requests[0].Field(name), value);
        }
    }

    void headersOfARequest() {
        server_->SetReply("/php/check2.php", Reply(200, "x"));
        PostForm(Https("/php/check2.php"), {"cmd=check"}, 3000);
        const auto requests = server_->Requests();
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests[0].secure);
        QCOMPARE(requests[0].method, QByteArray("POST"));
        QCOMPARE(requests[0].path, QByteArray("/php/check2.php"));
        QCOMPARE(requests[0].headers.value("connection").toLower(), QByteArray("close"));
        QCOMPARE(requests[0].headers.value("content-type"),
                 QByteArray("application/x-www-form-urlencoded; charset=UTF-8"));
        QVERIFY(!requests[0].headers.contains("cookie"));
    }

    // Any status comes back as the reply; a redirect is never followed.
    void statusOfTheReply_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("200") << 200;
        QTest::newRow("500 returned") << 500;
        QTest::newRow("404 returned") << 404;
        QTest::newRow("302 returned, not followed") << 302;
    }
    void statusOfTheReply() {
        QFETCH(int, status);
        server_->SetReply("/s", Reply(status, "body of the reply"));
        QCOMPARE(PostForm(Https("/s"), {"cmd=x"}, 3000), QStringLiteral("body of the reply"));
        QCOMPARE(server_->Requests().size(), 1);
    }

    // Nothing goes out in clear: an address of any other scheme fails before
    // a connection is made, though the server would answer it.
    void onlySecureAddressesAreUsed_data() {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("http") << "http://";
        QTest::newRow("upper-case HTTP") << "HTTP://";
        QTest::newRow("ftp") << "ftp://";
        QTest::newRow("no scheme") << "";
    }
    void onlySecureAddressesAreUsed() {
        QFETCH(QString, scheme);
        server_->SetReply("/s", Reply(200, "answered in clear"));
        const int before = server_->Connections();
        QVERIFY(Failure(scheme + server_->Host() + "/s", {"cmd=x", "guid=personal"}, 3000)
                    .contains(QStringLiteral("https")));
        QCOMPARE(server_->Connections(), before);
        QVERIFY(server_->Requests().isEmpty());
    }

    void replyDecodedByItsCharset_data() {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::newRow("UTF-8") << QByteArray("text/plain; charset=UTF-8")
                               << QByteArray("\xC3\xA9t\xC3\xA9\r\n") << "\u00E9t\u00E9\r\n";
        QTest::newRow("Latin-1") << QByteArray("text/plain; charset=ISO-8859-1")
                                 << QByteArray("\xE9t\xE9") << "\u00E9t\u00E9";
        QTest::newRow("quoted, upper case")
            << QByteArray("text/plain; CHARSET=\"utf-8\"") << QByteArray("\xC3\xA9") << "\u00E9";
        QTest::newRow("windows-1251")
            << QByteArray("text/plain; charset=windows-1251")
            << QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2") << "\u041F\u0440\u0438\u0432\u0435\u0442";
        QTest::newRow("unknown charset: UTF-8") << QByteArray("text/plain; charset=x-no-such-set")
                                                << QByteArray("\xC3\xA9") << "\u00E9";
        QTest::newRow("none: UTF-8")
            << QByteArray("text/plain") << QByteArray("\xC3\xA9") << "\u00E9";
        QTest::newRow("kept untrimmed")
            << QByteArray("text/plain") << QByteArray("  OK \n") << "  OK \n";
    }
    void replyDecodedByItsCharset() {
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        server_->SetReply("/c", Reply(200, body, type));
        QCOMPARE(PostForm(Https("/c"), {"cmd=x"}, 3000), text);
    }

    void replyLongerThanTheCapFails() {
        server_->SetReply("/big", Reply(200, QByteArray(kMaxReplyBytes, 'a')));
        QCOMPARE(PostForm(Https("/big"), {"cmd=x"}, 3000).size(), kMaxReplyBytes);
        server_->SetReply("/big", Reply(200, QByteArray(kMaxReplyBytes + 1, 'a')));
        QVERIFY(Failure(Https("/big"), {"cmd=x"}, 3000).contains(QStringLiteral("longer")));
    }

    // A reply that ends before the length it announced is no reply: a cut-off
    // update check must not be read as a shorter one.
    void replyCutShortFails() {
        ServerReply cut =
            Reply(200, corvexa::test::CheckReply(QStringLiteral("7.7"),
                                                 QStringLiteral("https://example.com/")) +
                           QByteArray(1000, 'x'));
        cut.truncateTo = 127;
        server_->SetReply("/cut", cut);
        QVERIFY(!Failure(Https("/cut"), {"cmd=x"}, 3000).isEmpty());
        cut.truncateTo = -1;
        server_->SetReply("/cut", cut);
        QVERIFY(PostForm(Https("/cut"), {"cmd=x"}, 3000).contains(QStringLiteral("7.7")));
    }

    void silentServerBoundedByTheTimeOut() {
        ServerReply silent;
        silent.silent = true;
        server_->SetReply("/quiet", silent);
        {
            const int closed = server_->Closed();
            QElapsedTimer clock;
            clock.start();
            QVERIFY(!Failure(Https("/quiet"), {"cmd=x"}, 400).isEmpty());
            QVERIFY2(clock.elapsed() >= 380 && clock.elapsed() < 3000,
                     qPrintable(QString::number(clock.elapsed())));
            QVERIFY(server_->WaitForClosed(closed + 1,
                                           5000));  // given up for real: the connection is closed
        }
        // A slow answer within the time-out is still taken.
        ServerReply slow = Reply(200, "late");
        slow.delayMs = 200;
        server_->SetReply("/slow", slow);
        QCOMPARE(PostForm(Https("/slow"), {"cmd=x"}, 2000), QStringLiteral("late"));
    }

    // A reply whose headers never end, or whose body never ends: the request
    // fails on the size bound, long before its time-out, and the connection is
    // closed then, so the server's sending stops with a bounded amount sent.
    void endlessRepliesAreCutOff_data() {
        QTest::addColumn<int>("endless");
        QTest::addColumn<QString>("failure");
        QTest::newRow("headers") << int(ServerReply::Endless::Headers) << "header is longer";
        QTest::newRow("body") << int(ServerReply::Endless::Body) << "reply is longer";
    }
    void endlessRepliesAreCutOff() {
        QFETCH(int, endless);
        QFETCH(QString, failure);
        ServerReply reply;
        reply.endless = ServerReply::Endless(endless);
        server_->SetReply("/endless", reply);
        const int closed = server_->Closed();
        const qint64 sentBefore = server_->EndlessBytesSent();
        const QString why = Failure(Https("/endless"), {"cmd=x"}, 60000);
        QVERIFY2(why.contains(failure), qPrintable(why));
        QVERIFY(server_->WaitForClosed(closed + 1, 10000));
        const qint64 sent = server_->EndlessBytesSent() - sentBefore;
        QVERIFY2(sent < 16 * 1024 * 1024, qPrintable(QString::number(sent)));
        QCOMPARE(PostForm(Https("/absent"), {"cmd=x"}, 3000),
                 QStringLiteral("not found"));  // all is well after it
    }

    void cancellationEndsAWaitingRequestAtOnce() {
        ServerReply silent;
        silent.silent = true;
        server_->SetReply("/quiet", silent);
        Cancellation cancel;
        QString failure;
        QElapsedTimer clock;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            try {
                PostForm(Https("/quiet"), {"cmd=x"}, 10000, &cancel);
            } catch (const RequestError& e) {
                failure = QString::fromUtf8(e.what());
            }
        }));
        worker->start();
        QVERIFY(server_->WaitForRequests(1, 5000));
        clock.start();
        cancel.Request();
        QVERIFY(worker->wait(5000));
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(failure.contains(QStringLiteral("cancelled")));
        QVERIFY(!Failure(Https("/quiet"), {"cmd=x"}, 100).isEmpty());  // the server lives on
    }

    // A failed secure attempt is the outcome: the same fields never follow in
    // clear, though the server answers plain HTTP on the same port.
    void noPlainAttemptAfterASecureFailure() {
        server_->SetReply("/php/check2.php", true, Reply(200, "over https"));
        server_->SetReply("/php/check2.php", false, Reply(200, "over http"));
        Exchange secure = PostToMaker("/php/check2.php", {"cmd=check"}, 3000);
        QCOMPARE(secure.reply.value_or("none"), QStringLiteral("over https"));
        QVERIFY(secure.error.isEmpty());

        server_->RefuseHttps(true);
        server_->ClearRequests();
        const Exchange refused =
            PostToMaker("/php/check2.php", {"cmd=check", "guid=personal"}, 3000);
        QVERIFY(!refused.reply);
        QVERIFY(!refused.error.isEmpty());
        QVERIFY(server_->Requests().isEmpty());

        // A secure 500 is the reply.
        server_->RefuseHttps(false);
        server_->SetReply("/php/check2.php", true, Reply(500, "broken"));
        QCOMPARE(PostToMaker("/php/check2.php", {"cmd=check"}, 3000).reply.value_or("none"),
                 QStringLiteral("broken"));
        QCOMPARE(server_->Requests().size(), 1);
    }

    // A certificate nobody trusts: the exchange fails and the server, which
    // also speaks plain HTTP on that port, sees no request at all.
    void untrustedCertificateSendsNothing() {
        MakerServer untrusted;
        untrusted.SetReply("/php/check2.php", Reply(200, "over http"));
        UseMakerHost(untrusted.Host());
        const Exchange none = PostToMaker("/php/check2.php", {"cmd=check", "guid=personal"}, 3000);
        qputenv("CORVEXA_MAKER_HOST", server_->Host().toUtf8());
        QVERIFY(!none.reply);
        QVERIFY(!none.error.isEmpty());
        QVERIFY(untrusted.Requests().isEmpty());
        // Trusted by name for a run by hand, the same server answers securely.
        qputenv("CORVEXA_MAKER_CA", untrusted.CertificateFile().toUtf8());
        untrusted.SetReply("/p", Reply(200, "named"));
        const QString reply =
            PostForm(QStringLiteral("https://") + untrusted.Host() + "/p", {"cmd=x"}, 3000);
        qunsetenv("CORVEXA_MAKER_CA");
        QCOMPARE(reply, QStringLiteral("named"));
        QVERIFY(untrusted.Requests().value(0).secure);
    }

    void serverDown() {
        UseMakerHost(HostNobodyListensOn());
        const Exchange none = PostToMaker("/php/check2.php", {"cmd=check"}, 3000);
        qputenv("CORVEXA_MAKER_HOST", server_->Host().toUtf8());
        QVERIFY(!none.reply);
        QVERIFY(!none.error.isEmpty());
    }

    void osDescription_data() {
        QTest::addColumn<int>("servicePack");
        QTest::addColumn<bool>("is64");
        QTest::addColumn<QString>("text");
        QTest::newRow("64-bit") << 0 << true
                                << "Debian GNU/Linux 12 (Version 6.1, Build 0, 64-bit Edition)";
        QTest::newRow("32-bit") << 0 << false
                                << "Debian GNU/Linux 12 (Version 6.1, Build 0, 32-bit Edition)";
        QTest::newRow("service pack")
            << 1 << true
            << "Debian GNU/Linux 12 Service Pack 1 (Version 6.1, Build 0, 64-bit Edition)";
    }
    void osDescription() {
        QFETCH(int, servicePack);
        QFETCH(bool, is64);
        QFETCH(QString, text);
        const KernelNumbers k = ParseKernelRelease(QStringLiteral("6.1.0-18-amd64"));
        QCOMPARE(FormatOsDescription(QStringLiteral("Debian GNU/Linux 12"), k.major, k.minor,
                                     k.build, servicePack, is64),
                 text);
    }

    void osDescriptionOfThisSystem() {
        const QString text = GetOsDescription();
        QVERIFY(text.startsWith(QSysInfo::prettyProductName() + QStringLiteral(" (Version ")));
        const KernelNumbers k = ParseKernelRelease(QSysInfo::kernelVersion());
        QVERIFY(k.major > 0);
        QVERIFY(text.contains(
            QStringLiteral("Version %1.%2, Build %3, ").arg(k.major).arg(k.minor).arg(k.build)));
        QVERIFY(text.endsWith(QStringLiteral("-bit Edition)")));
    }

    void requestLocale_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("locale");
        QTest::newRow("POSIX with charset") << "de_DE.UTF-8"
                                            << "de-DE";
        QTest::newRow("Qt form") << "en_US"
                                 << "en-US";
        QTest::newRow("modifier") << "sr_RS@latin"
                                  << "sr-RS";
        QTest::newRow("three-letter language") << "fil_PH"
                                               << "fil-PH";
        QTest::newRow("numeric region") << "es_419"
                                        << "es-419";
        QTest::newRow("C") << "C"
                           << "xx";
        QTest::newRow("POSIX") << "POSIX"
                               << "xx";
        QTest::newRow("language only") << "en"
                                       << "xx";
        QTest::newRow("empty") << ""
                               << "xx";
        QTest::newRow("digits as language") << "12_34"
                                            << "xx";
    }
    void requestLocale() {
        QFETCH(QString, name);
        QFETCH(QString, locale);
        QCOMPARE(RequestLocaleFromName(name), locale);
    }

    void machineId() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("machine-id"));
        QCOMPARE(MachineIdFromFile(path), QString());  // absent: empty
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("0123456789abcdef0123456789abcdef\n");
        f.close();
        QCOMPARE(MachineIdFromFile(path), QStringLiteral("0123456789abcdef0123456789abcdef"));
    }

    // The identifier sent is derived for this product, never the raw id: a
    // known answer (worked out with an independent HMAC-SHA256), stable, and
    // different for another application or machine.
    void identifierSentIsDerivedForThisProduct() {
        const QString raw = QStringLiteral("0123456789abcdef0123456789abcdef");
        const QString app = QString::fromLatin1(kApplicationId);
        const QString id = AppSpecificMachineId(raw, app);
        QCOMPARE(id, QStringLiteral("42a2fbdfc8c0487dbd3f90383970482b"));
        QCOMPARE(AppSpecificMachineId(raw, app), id);
        QCOMPARE(AppSpecificMachineId(raw, QStringLiteral("ffffffffffffffffffffffffffffffff")),
                 QStringLiteral("ba7f0236bb85447ab66743dff5693b04"));
        QVERIFY(AppSpecificMachineId(QStringLiteral("0123456789abcdef0123456789abcdee"), app) !=
                id);
        QVERIFY(AppSpecificMachineId(QStringLiteral("not hexadecimal"), app)
                    .contains(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$"))));
        QCOMPARE(AppSpecificMachineId(QString(), app),
                 QString());  // no machine id: the field stays empty

        QFile system(QStringLiteral("/etc/machine-id"));
        if (!system.open(QIODevice::ReadOnly)) QSKIP("this machine has no /etc/machine-id");
        const QString systemRaw = QString::fromLatin1(system.readAll().trimmed());
        const QString sent = GetMachineId();
        QCOMPARE(sent, AppSpecificMachineId(systemRaw, app));
        QVERIFY(sent != systemRaw);
        QCOMPARE(GetMachineId(), sent);
        QVERIFY(sent.contains(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$"))));
    }
};

QTEST_GUILESS_MAIN(FormRequestTest)
#include "form_request_qtest.moc"
