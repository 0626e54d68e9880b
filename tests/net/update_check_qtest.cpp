// The update check against a real server on 127.0.0.1, with its state in a
// product store under a temporary folder.

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "net/checker.h"
#include "net/field_values.h"
#include "net/form_request.h"
#include "net/update_check.h"
#include "platform/product_store.h"
#include "support/maker_server.h"

using namespace corvexa::net;
using corvexa::platform::ProductStore;
using corvexa::test::BodyReply;
using corvexa::test::CheckReply;
using corvexa::test::HostNobodyListensOn;
using corvexa::test::MakerServer;
using corvexa::test::ServerReply;
using corvexa::test::StartMakerServer;
using corvexa::test::TakeSecurePathDown;
using corvexa::test::UseMakerHost;

using StringMap = QMap<QString, QString>;

namespace {

const QString kToday = QStringLiteral("12/10/26");
const QString kCompany = QStringLiteral("KELMARE");
const QString kProduct = QStringLiteral("Corvexa");

}  // namespace

class UpdateCheckTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MakerServer> server_;
    std::unique_ptr<QTemporaryDir> storeDir_;
    QStringList shown_;  // server messages, in order

    CheckSetup Setup(const QString& today = kToday) {
        CheckSetup s;
        s.Company = kCompany;
        s.Product = kProduct;
        s.ProductTitle = QStringLiteral("KELMARE - Corvexa");
        s.VersionText = QStringLiteral("2.5");
        s.TodayText = [today] { return today; };
        s.ShowMessage = [this](const QString& text) { shown_ << text; };
        s.TimeoutMs = 3000;
        return s;
    }

    static void Store(const StringMap& values) {
        ProductStore store(kCompany, kProduct);
        for (auto it = values.begin(); it != values.end(); ++it)
            store.WriteString(it.key(), it.value());
    }
    static QString Stored(const QString& name) {
        return ProductStore(kCompany, kProduct).ReadString(name);
    }

    CheckResults Run(FailureRecord& failures, const QString& today = kToday) {
        return RunUpdateCheck(Setup(today), failures);
    }

private slots:
    void initTestCase() { server_ = StartMakerServer(); }

    void init() {
        storeDir_ = std::make_unique<QTemporaryDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, storeDir_->path());
        server_->ClearRequests();
        server_->RefuseHttps(false);
        server_->SetReply("/php/check2.php",
                          BodyReply(CheckReply("2.6", "https://www.kelmare.example/download/")));
        shown_.clear();
    }

    void firstStartSendsTheFieldsInOrder() {
        FailureRecord failures;
        const CheckResults r = Run(failures);
        QVERIFY2(!failures.Failed(), qPrintable(failures.Text()));
        const auto requests = server_->Requests();
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests[0].secure);
        QCOMPARE(requests[0].path, QByteArray("/php/check2.php"));
        QCOMPARE(requests[0].Names(),
                 QStringList({"cmd", "appname", "version", "os", "local", "guid", "howmany"}));
        QCOMPARE(requests[0].Field("cmd"), QStringLiteral("check"));
        QCOMPARE(requests[0].Field("appname"), QStringLiteral("KELMARE - Corvexa"));
        QCOMPARE(requests[0].Field("version"), QStringLiteral("2.5"));
        QCOMPARE(requests[0].Field("howmany"), QStringLiteral("1"));
        QVERIFY(requests[0].Field("os").endsWith(QStringLiteral("-bit Edition)")));
        QCOMPARE(requests[0].Field("guid"),
                 GetMachineId());  // the derived identifier, never the raw id
        QCOMPARE(Stored("HowMany"), QStringLiteral("1"));
        QCOMPARE(Stored("InstalledVersion"), QStringLiteral("2.5"));
        QCOMPARE(Stored("LastUpdateCheck"), kToday);
        QCOMPARE(Stored("LastUpdateCheckCount"), QStringLiteral("1"));
        QCOMPARE(Stored("CurrentVersion"), QStringLiteral("2.6"));
        QCOMPARE(UnscrambleUrl(Stored("CurrentURL")),
                 QStringLiteral("https://www.kelmare.example/download/"));
        QVERIFY(Stored("CurrentURL") != QStringLiteral("https://www.kelmare.example/download/"));
        QVERIFY(r.Notice);
        QCOMPARE(r.ServerVersion, QStringLiteral("2.6"));
        QCOMPARE(r.DownloadLink, QStringLiteral("https://www.kelmare.example/download/"));
        QVERIFY(shown_.isEmpty());  // no message on line 5
    }

    // Each row: the store before, the server's reply, today; whether a request
    // goes out, whether the notice is raised, and values of the store after.
    void check_data() {
        QTest::addColumn<StringMap>("before");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("today");
        QTest::addColumn<bool>("request");
        QTest::addColumn<bool>("notice");
        QTest::addColumn<StringMap>("after");
        const QByteArray good = CheckReply("2.6", "https://d.example/x");
        const StringMap same{{"HowMany", "7"}, {"InstalledVersion", "2.5"}};
        QTest::newRow("upgrade restarts the counter")
            << StringMap{{"HowMany", "7"}, {"InstalledVersion", "2.4"}} << good << kToday << true
            << true << StringMap{{"HowMany", "1"}, {"InstalledVersion", "2.5"}};
        QTest::newRow("same version counts on")
            << same << good << kToday << true << true << StringMap{{"HowMany", "8"}};
        QTest::newRow("negative counter counts as 0")
            << StringMap{{"HowMany", "-4"}, {"InstalledVersion", "2.5"}} << good << kToday << true
            << true << StringMap{{"HowMany", "1"}};
        QTest::newRow("ShowUpdate 0: no request, counter still counts")
            << StringMap{{"HowMany", "2"}, {"InstalledVersion", "2.5"}, {"ShowUpdate", "0"}} << good
            << kToday << false << false << StringMap{{"HowMany", "3"}, {"LastUpdateCheck", ""}};
        QTest::newRow("ShowUpdate 2: request, no notice")
            << StringMap{{"ShowUpdate", "2"}} << good << kToday << true << false
            << StringMap{{"CurrentVersion", "2.6"}, {"ShowUpdate", "2"}};
        QTest::newRow("sixth start of a day: no request")
            << StringMap{{"LastUpdateCheck", kToday},
                         {"LastUpdateCheckCount", "5"},
                         {"CurrentVersion", "2.4"}}
            << good << kToday << false << false
            << StringMap{{"LastUpdateCheckCount", "5"}, {"CurrentVersion", "2.4"}};
        QTest::newRow("next day: a request again, count restarts")
            << StringMap{{"LastUpdateCheck", kToday}, {"LastUpdateCheckCount", "5"}} << good
            << QStringLiteral("12/11/26") << true << true
            << StringMap{{"LastUpdateCheck", "12/11/26"}, {"LastUpdateCheckCount", "1"}};
        QTest::newRow("fifth exchange: stored values refreshed, no notice")
            << StringMap{{"LastUpdateCheck", kToday},
                         {"LastUpdateCheckCount", "4"},
                         {"CurrentVersion", "2.4"}}
            << good << kToday << true << false
            << StringMap{{"LastUpdateCheckCount", "5"}, {"CurrentVersion", "2.6"}};
        QTest::newRow("fourth exchange still raises the notice")
            << StringMap{{"LastUpdateCheck", kToday}, {"LastUpdateCheckCount", "3"}} << good
            << kToday << true << true << StringMap{{"LastUpdateCheckCount", "4"}};
        QTest::newRow("date format changed: the count restarts")
            << StringMap{{"LastUpdateCheck", "10.12.2026"}, {"LastUpdateCheckCount", "5"}} << good
            << kToday << true << true
            << StringMap{{"LastUpdateCheck", kToday}, {"LastUpdateCheckCount", "1"}};
        QTest::newRow("equal version: no notice")
            << same << CheckReply("2.5", "u") << kToday << true << false
            << StringMap{{"CurrentVersion", "2.5"}};
        QTest::newRow("lower version: notice") << same << CheckReply("2.4", "u") << kToday << true
                                               << true << StringMap{{"CurrentVersion", "2.4"}};
        QTest::newRow("2.6b: no notice") << same << CheckReply("2.6b", "u") << kToday << true
                                         << false << StringMap{{"CurrentVersion", "2.6b"}};
        QTest::newRow("empty version: no notice") << same << CheckReply("", "u") << kToday << true
                                                  << false << StringMap{{"CurrentVersion", ""}};
        QTest::newRow("status 0 is used too")
            << same << CheckReply("3.0", "u", "0") << kToday << true << true
            << StringMap{{"CurrentVersion", "3.0"}};
        const StringMap untouched{
            {"HowMany", "8"},           {"InstalledVersion", "2.5"},
            {"LastUpdateCheck", "old"}, {"LastUpdateCheckCount", "2"},
            {"CurrentVersion", "2.4"},  {"CurrentURL", ScrambleUrl("https://old/")}};
        StringMap before = untouched;
        before["HowMany"] = "7";
        QTest::newRow("reply beginning with ERROR is ignored")
            << before << QByteArray("ERROR ") + CheckReply("2.6", "u") << kToday << true << false
            << untouched;
        QTest::newRow("short reply is ignored")
            << before << QByteArray("<version>2.6</version>\r\n<url>u</url>\r\n") << kToday << true
            << false << untouched;
        QTest::newRow("status 2 is ignored")
            << before << CheckReply("2.6", "u", "2") << kToday << true << false << untouched;
        QTest::newRow("missing url tag empties the link")
            << before
            << QByteArray("<version>2.6</version>\r\nhttps://x/\r\n\r\n<result>1</result>\r\n")
            << kToday << true << true << StringMap{{"CurrentURL", ""}, {"CurrentVersion", "2.6"}};
    }
    void check() {
        QFETCH(StringMap, before);
        QFETCH(QByteArray, reply);
        QFETCH(QString, today);
        QFETCH(bool, request);
        QFETCH(bool, notice);
        QFETCH(StringMap, after);
        Store(before);
        server_->SetReply("/php/check2.php", BodyReply(reply));
        FailureRecord failures;
        const CheckResults r = Run(failures, today);
        QCOMPARE(server_->Requests().size(), request ? 1 : 0);
        QCOMPARE(r.Notice, notice);
        for (auto it = after.begin(); it != after.end(); ++it)
            QCOMPARE(Stored(it.key()) + "|" + it.key(), it.value() + "|" + it.key());
        if (QTest::currentDataTag() == QByteArray("missing url tag empties the link"))
            QCOMPARE(r.DownloadLink, QString());
    }

    void storedLinkIsLoadedWhenNoExchangeIsMade() {
        Store({{"CurrentURL", ScrambleUrl("https://stored.example/get")}, {"ShowUpdate", "0"}});
        FailureRecord failures;
        const CheckResults r = Run(failures);
        QCOMPARE(r.DownloadLink, QStringLiteral("https://stored.example/get"));
        QCOMPARE(r.ShowUpdate, 0);
        QVERIFY(!failures.Failed());
    }

    // HTTPS refused, or a certificate nobody trusts, while plain HTTP on the
    // same host would answer with a newer version: the failure is recorded,
    // no request arrives in clear and there is no notice.
    void secureFailureIsAFailure_data() {
        QTest::addColumn<bool>("untrusted");
        QTest::newRow("HTTPS refused") << false;
        QTest::newRow("self-signed certificate") << true;
    }
    void secureFailureIsAFailure() {
        QFETCH(bool, untrusted);
        MakerServer stranger;
        MakerServer& target = TakeSecurePathDown(
            *server_, stranger, untrusted, "/php/check2.php",
            BodyReply(CheckReply("9.9", "http://evil.example/get", "1", "Install now")));
        FailureRecord failures;
        const CheckResults r = Run(failures);
        qputenv("CORVEXA_MAKER_HOST", server_->Host().toUtf8());
        QVERIFY(failures.Text().startsWith(QStringLiteral("HTTPS Response:\r")));
        QVERIFY(!failures.Text().contains(QStringLiteral("HTTP Response")));
        QVERIFY(!r.Notice);
        QVERIFY(shown_.isEmpty());
        QVERIFY(target.Requests().isEmpty());
        QCOMPARE(Stored("LastUpdateCheck"), QString());
        QCOMPARE(Stored("CurrentVersion"), QString());
    }

    void httpsFiveHundredIsAnInvalidReply() {
        ServerReply broken = BodyReply("<html>Internal error</html>");
        broken.status = 500;
        server_->SetReply("/php/check2.php", true, broken);
        FailureRecord failures;
        const CheckResults r = Run(failures);
        QCOMPARE(failures.Text(), QStringLiteral("INVALIDSERVERRESPONSE"));
        QVERIFY(!r.Notice);
        QCOMPARE(server_->Requests().size(), 1);
    }

    void serverDownIsRecorded() {
        UseMakerHost(HostNobodyListensOn());
        FailureRecord failures;
        const CheckResults r = Run(failures);
        qputenv("CORVEXA_MAKER_HOST", server_->Host().toUtf8());
        QVERIFY(!r.Notice);
        QVERIFY(failures.Text().startsWith(QStringLiteral("HTTPS Response:\r")));
        QVERIFY(!failures.Text().contains(QStringLiteral("HTTP Response")));
        QCOMPARE(Stored("HowMany"), QStringLiteral("1"));
        QCOMPARE(Stored("LastUpdateCheck"), QString());
    }

    void serverMessageIsShownAsReceived() {
        server_->SetReply("/php/check2.php",
                          BodyReply(CheckReply("2.6", "u", "1", "<b>Please</b> update & restart")));
        FailureRecord failures;
        QVERIFY(Run(failures).Notice);
        QCOMPARE(shown_, QStringList{"<b>Please</b> update & restart"});
        server_->SetReply("/php/check2.php", BodyReply(CheckReply("2.6", "u", "1", "   ")));
        shown_.clear();
        Run(failures);
        QVERIFY(shown_.isEmpty());
    }

    void failureRecord() {
        FailureRecord f;
        f.Record(QStringLiteral("  \r\n"));
        QVERIFY(!f.Failed());
        f.Record(QStringLiteral("one"));
        f.Record(QStringLiteral("two"));
        QCOMPARE(f.Text(), QStringLiteral("one\r\rtwo"));
        f.Clear();
        QVERIFY(!f.Failed() && f.Text().isEmpty());
    }

    void scrambling_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("link");
        const QString link = QStringLiteral("https://www.kelmare.example/d\u00F6wnload?v=2.6");
        QTest::newRow("round trip") << ScrambleUrl(link) << link;
        QTest::newRow("lower case accepted") << ScrambleUrl(link).toLower() << link;
        QTest::newRow("odd last digit ignored") << ScrambleUrl(QStringLiteral("ab")) + "F"
                                                << "ab";
        QTest::newRow("not hexadecimal") << ScrambleUrl(QStringLiteral("ab")) + "ZZ"
                                         << "";
        QTest::newRow("0x is not hexadecimal digits") << QStringLiteral("0x") << "";
        QTest::newRow("empty") << QString() << "";
    }
    void scrambling() {
        QFETCH(QString, stored);
        QFETCH(QString, link);
        QCOMPARE(UnscrambleUrl(stored), link);
        QCOMPARE(ScrambleUrl(QString()), QString());
        QVERIFY(ScrambleUrl(QStringLiteral("aaaa")).mid(0, 2) !=
                ScrambleUrl(QStringLiteral("aaaa")).mid(2, 2));
    }

    // The worker: results published with the flag; the message shown on the
    // owner's thread before completion.
    void workerCompletesAndShowsTheMessageFirst() {
        server_->SetReply("/php/check2.php", BodyReply(CheckReply("2.6", "u", "1", "Read me")));
        QStringList events;
        bool onOwnerThread = false;
        TChecker checker(Setup(), [&](const QString& text) {
            onOwnerThread = QThread::currentThread() == thread();
            events << "box:" + text;
        });
        checker.start();
        QTRY_VERIFY_WITH_TIMEOUT(checker.Completed(), 10000);
        QVERIFY(onOwnerThread);
        QCOMPARE(events, QStringList{"box:Read me"});
        QVERIFY(checker.Results().Notice);
        QCOMPARE(checker.Results().ServerVersion, QStringLiteral("2.6"));
        QVERIFY(checker.wait(5000));
    }

    void destroyingTheWorkerDuringASilentExchangeEndsAtOnce() {
        ServerReply silent;
        silent.silent = true;
        server_->SetReply("/php/check2.php", silent);
        auto checker = std::make_unique<TChecker>(Setup(), [](const QString&) {});
        checker->start();
        QVERIFY(server_->WaitForRequests(1, 5000));
        QElapsedTimer clock;
        clock.start();
        checker.reset();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(server_->Requests().size(), 1);  // no second attempt after the cancel
        QCOMPARE(Stored("LastUpdateCheck"), QString());
    }
};

QTEST_GUILESS_MAIN(UpdateCheckTest)
#include "update_check_qtest.moc"
