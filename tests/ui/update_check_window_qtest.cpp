// The main window's side of the update check, against the test server: the
// check starts on the timer, the menu item follows the stored choice, the
// server's message comes before the notice, and a window closed while the
// server keeps silent goes at once.

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "platform/product_store.h"
#include "support/maker_server.h"
#include "support/window_test_support.h"
#include "ui/app_form.h"
#include "ui/dialogs.h"
#include "ui/new_version.h"

using corvexa::platform::ProductStore;
using corvexa::test::BodyReply;
using corvexa::test::CheckReply;
using corvexa::test::MakerServer;
using corvexa::test::ServerReply;
using corvexa::test::StartMakerServer;
using corvexa::test::UseMakerHost;
using corvexa::ui::AppEnvironment;
using corvexa::ui::TAppForm;
using corvexa::ui::TNewVer;

class UpdateCheckWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MakerServer> server_;
    std::unique_ptr<corvexa::test::WindowEnvironment> window_;
    AppEnvironment env_;
    QStringList boxes_;
    bool noticeBeforeBox_ = false;

    std::unique_ptr<TAppForm> MakeForm() {
        auto form = std::make_unique<TAppForm>(env_);
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get())) qWarning("window not exposed");
        return form;
    }
    static QAction* Item(TAppForm& form) {
        return form.findChild<QAction*>(QStringLiteral("UpdateNotifications1"));
    }
    static QString Stored(TAppForm& form, const QString& name) {
        return ProductStore(form.CompanyName(), form.ProductName()).ReadString(name);
    }
    void Reply(const QByteArray& body) { server_->SetReply("/php/check2.php", BodyReply(body)); }

private slots:
    void initTestCase() { server_ = StartMakerServer(); }

    void init() {
        window_ = std::make_unique<corvexa::test::WindowEnvironment>();
        QVERIFY(window_->IsValid());
        env_ = window_->env;
        server_->ClearRequests();
        Reply(CheckReply("9.9", "https://www.kelmare.example/get/"));
        boxes_.clear();
        noticeBeforeBox_ = false;
        window_->seams.AnswerDialogs([this](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            QVERIFY(box);
            for (QWidget* w : QApplication::topLevelWidgets())
                if (qobject_cast<TNewVer*>(w)) noticeBeforeBox_ = true;
            boxes_ << box->windowTitle() + "|" + box->text();
            box->done(QMessageBox::Ok);
        });
    }
    void cleanup() { window_.reset(); }

    void newerVersionRaisesTheNotice() {
        auto form = MakeForm();
        QVERIFY(Item(*form)->isChecked());
        QVERIFY(Item(*form)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(form->UpdateCheckDone(), 10000);
        QVERIFY(Item(*form)->isChecked());
        TNewVer* notice = form->findChild<TNewVer*>();
        QVERIFY(notice);
        QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 2000);
        QCOMPARE(notice->LinkTarget(), QStringLiteral("https://www.kelmare.example/get/"));
        const auto requests = server_->Requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].Field("version"), form->VersionText());
        QCOMPARE(requests[0].Field("appname"), form->ProductTitle());
        QCOMPARE(requests[0].Field("howmany"), QStringLiteral("1"));
        QCOMPARE(Stored(*form, "HowMany"), QStringLiteral("1"));
        // One check per run: later ticks make no other request.
        QTest::qWait(1200);
        QCOMPARE(server_->Requests().size(), 1);
    }

    void showUpdateZeroUnchecksAndTheToggleWrites() {
        ProductStore(QStringLiteral("KELMARE"), QStringLiteral("Corvexa"))
            .WriteString("ShowUpdate", "0");
        auto form = MakeForm();
        QVERIFY(!Item(*form)->isChecked());  // the stored choice, before the check has run
        QVERIFY(Item(*form)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(form->UpdateCheckDone(), 10000);
        QVERIFY(!Item(*form)->isChecked());
        QVERIFY(server_->Requests().isEmpty());
        QVERIFY(!form->findChild<TNewVer*>());
        Item(*form)->trigger();
        QVERIFY(Item(*form)->isChecked());
        QCOMPARE(Stored(*form, "ShowUpdate"), QStringLiteral("1"));
        Item(*form)->trigger();
        QVERIFY(!Item(*form)->isChecked());
        QCOMPARE(Stored(*form, "ShowUpdate"), QStringLiteral("0"));
    }

    void showUpdateTwoStaysCheckedWithoutNotice() {
        ProductStore(QStringLiteral("KELMARE"), QStringLiteral("Corvexa"))
            .WriteString("ShowUpdate", "2");
        auto form = MakeForm();
        QTRY_VERIFY_WITH_TIMEOUT(form->UpdateCheckDone(), 10000);
        QVERIFY(Item(*form)->isChecked());
        QCOMPARE(server_->Requests().size(), 1);
        QVERIFY(!form->findChild<TNewVer*>());
    }

    void serverMessageComesBeforeTheNotice() {
        Reply(CheckReply("9.9", "https://www.kelmare.example/get/", "1",
                         "Version 9.9 fixes <b>everything</b>."));
        auto form = MakeForm();
        QTRY_VERIFY_WITH_TIMEOUT(form->UpdateCheckDone(), 10000);
        QCOMPARE(boxes_, QStringList{"IMPORTANT|Version 9.9 fixes <b>everything</b>."});
        QVERIFY(!noticeBeforeBox_);
        QVERIFY(form->findChild<TNewVer*>());
    }

    // While the server keeps silent the check cannot end, yet the item can
    // be switched off and the choice is stored at once.
    void toggleWorksWhileTheCheckWaits() {
        ServerReply silent;
        silent.silent = true;
        server_->SetReply("/php/check2.php", silent);
        auto form = MakeForm();
        QVERIFY(QTest::qWaitFor([&] { return server_->Requests().size() == 1; }, 10000));
        QVERIFY(!form->UpdateCheckDone());
        QVERIFY(Item(*form)->isEnabled());
        Item(*form)->trigger();
        QVERIFY(!Item(*form)->isChecked());
        QCOMPARE(Stored(*form, "ShowUpdate"), QStringLiteral("0"));
    }

    // A server whose certificate nobody trusts, which would answer a newer
    // version with a message in clear on the same port: no request arrives,
    // and neither the message nor the notice is shown.
    void untrustedServerShowsNothing() {
        MakerServer stranger;
        stranger.SetReply(
            "/php/check2.php",
            BodyReply(CheckReply("9.9", "http://elsewhere.example/get/", "1", "Install this now")));
        UseMakerHost(stranger.Host());
        auto form = MakeForm();
        QTRY_VERIFY_WITH_TIMEOUT(form->UpdateCheckDone(), 15000);
        qputenv("CORVEXA_MAKER_HOST", server_->Host().toUtf8());
        QVERIFY(stranger.Requests().isEmpty());
        QVERIFY(boxes_.isEmpty());
        QVERIFY(!form->findChild<TNewVer*>());
        QCOMPARE(Stored(*form, "CurrentVersion"), QString());
    }

    void closingDuringASilentCheckEndsAtOnce() {
        ServerReply silent;
        silent.silent = true;
        server_->SetReply("/php/check2.php", silent);
        auto form = MakeForm();
        QVERIFY(QTest::qWaitFor([&] { return server_->Requests().size() == 1; }, 10000));
        QElapsedTimer clock;
        clock.start();
        form->close();
        form.reset();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(server_->Requests().size(), 1);
    }
};

QTEST_MAIN(UpdateCheckWindowTest)
#include "update_check_window_qtest.moc"
