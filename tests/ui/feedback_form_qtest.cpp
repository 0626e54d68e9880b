// The feedback window against a real maker's server on 127.0.0.1: the fields
// that arrive, the e-mail check, the replies that count as delivered.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "i18n/language.h"
#include "support/maker_server.h"
#include "support/window_test_support.h"
#include "ui/dialogs.h"
#include "ui/feedback_form.h"

using corvexa::test::BodyReply;
using corvexa::test::Find;
using corvexa::test::HostNobodyListensOn;
using corvexa::test::MakerServer;
using corvexa::test::ServerReply;
using corvexa::test::StartMakerServer;
using corvexa::test::TakeSecurePathDown;
using corvexa::test::UseMakerHost;
using corvexa::ui::TFeedbackForm;

class FeedbackFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MakerServer> server_;
    std::unique_ptr<corvexa::test::WindowEnvironment> window_;
    QStringList boxes_;  // "<title>|<text>|<icon>"

    std::unique_ptr<TFeedbackForm> Open() {
        auto form = std::make_unique<TFeedbackForm>(
            QStringLiteral("Corvexa"), QStringLiteral("KELMARE - Corvexa"), QStringLiteral("2.5"));
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get())) qWarning("feedback window not active");
        return form;
    }

    static void Type(TFeedbackForm& form, const QString& message, const QString& email) {
        Find<QPlainTextEdit>(form, "Memo1")->setPlainText(message);
        Find<QLineEdit>(form, "Edit1")->setText(email);
    }
    static void Send(TFeedbackForm& form) {
        QTest::mouseClick(Find<QPushButton>(form, "BitBtn1"), Qt::LeftButton);
    }

    void Reply(const QByteArray& body) { server_->SetReply("/php/feedback.php", BodyReply(body)); }

    static void German() {
        corvexa::i18n::LoadLanguageFrom(qEnvironmentVariable("CORVEXA_SOURCE_DIR") + "/resources/",
                                        QStringLiteral("German.lang.txt"), 1031);
    }

private slots:
    void initTestCase() { server_ = StartMakerServer(); }

    void init() {
        window_ = std::make_unique<corvexa::test::WindowEnvironment>();
        corvexa::i18n::LoadLanguageFrom(QString(), QString(), 1033);
        server_->ClearRequests();
        server_->RefuseHttps(false);
        Reply("OK\n");
        boxes_.clear();
        window_->seams.AnswerDialogs([this](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            QVERIFY(box);
            boxes_ << box->windowTitle() + "|" + box->text() + "|" +
                          QString::number(int(box->icon()));
            box->done(QMessageBox::Ok);
        });
    }
    void cleanup() { window_.reset(); }

    void texts() {
        auto form = Open();
        QCOMPARE(form->windowTitle(), QStringLiteral("Corvexa feedback"));
        QCOMPARE(form->size(), QSize(525, 326));
        QCOMPARE(Find<QPushButton>(*form, "BitBtn1")->text(), QStringLiteral("Send"));
        QCOMPARE(Find<QLabel>(*form, "Label3")->text(), QStringLiteral("Include my e-mail:"));
        QCOMPARE(Find<QLineEdit>(*form, "Edit1")->maxLength(), 100);
        German();
        auto german = Open();
        QCOMPARE(german->windowTitle(), QStringLiteral("Corvexa Feedback"));
        QCOMPARE(Find<QPushButton>(*german, "BitBtn1")->text(), QStringLiteral("Senden"));
        QCOMPARE(Find<QLabel>(*german, "Label1")->text(),
                 QStringLiteral("Wir freuen uns sehr \u00FCber Ihr Feedback."));
    }

    // The fields that arrive at the server, in order.
    void fields_data() {
        QTest::addColumn<bool>("german");
        QTest::addColumn<QString>("choice");  // the panels clicked, in order
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("feedback");
        QTest::newRow("like, English") << false << "Panel4"
                                       << "Works well."
                                       << ""
                                       << "I like it!\rWorks well.";
        QTest::newRow("dislike after like") << false << "Panel4,Panel5"
                                            << "Slow."
                                            << ""
                                            << "I dislike it!\rSlow.";
        QTest::newRow("no choice") << false << ""
                                   << "  Just a note \n"
                                   << ""
                                   << "Just a note";
        QTest::newRow("picture clicks like its panel") << false << "Image2"
                                                       << "x"
                                                       << ""
                                                       << "I dislike it!\rx";
        QTest::newRow("like, German") << true << "Panel4"
                                      << "Gut & sch\u00F6n = 1"
                                      << ""
                                      << "I like it! (Gef\u00E4llt mir!)\rGut & sch\u00F6n = 1";
        QTest::newRow("dislike, German, with address")
            << true << "Panel5"
            << "Nein"
            << " ann@mail.example.de "
            << "I dislike it! (Gef\u00E4llt mir nicht!)\rNein";
    }
    void fields() {
        QFETCH(bool, german);
        QFETCH(QString, choice);
        QFETCH(QString, message);
        QFETCH(QString, email);
        QFETCH(QString, feedback);
        if (german) German();
        auto form = Open();
        for (const QString& name : choice.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            QWidget* w = Find<QWidget>(*form, name.toLatin1().constData());
            QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(5, 5));
        }
        Type(*form, message, email);
        Send(*form);
        const auto requests = server_->Requests();
        QCOMPARE(requests.size(), 1);
        QVERIFY(requests[0].secure);
        QCOMPARE(requests[0].path, QByteArray("/php/feedback.php"));
        QStringList names{"cmd", "appname", "version", "feedback"};
        if (!email.isEmpty()) names << "email";
        QCOMPARE(requests[0].Names(), names);
        QCOMPARE(requests[0].Field("cmd"), QStringLiteral("feedback"));
        QCOMPARE(requests[0].Field("appname"), QStringLiteral("KELMARE - Corvexa"));
        QCOMPARE(requests[0].Field("version"), QStringLiteral("2.5"));
        QCOMPARE(requests[0].Field("feedback"), feedback);
        if (!email.isEmpty()) QCOMPARE(requests[0].Field("email"), email.trimmed());
        QCOMPARE(boxes_.size(), 1);
        QVERIFY(boxes_[0].startsWith(
            german ? "Erfolg|Ihr Feedback ist bei uns eingegangen.\n\nVielen Dank!|"
                   : "Success|Your feedback is received.\n\nThank you!|"));
        QCOMPARE(form->result(), int(QDialog::Accepted));
        QVERIFY(!form->isVisible());
    }

    void choosingTheSelectedPanelAgainChangesNothing() {
        auto form = Open();
        auto* like = Find<QWidget>(*form, "Panel4");
        auto* dislike = Find<QWidget>(*form, "Panel5");
        const QColor highlight = QApplication::palette().color(QPalette::Highlight);
        const QColor face = QApplication::palette().color(QPalette::Button);
        QCOMPARE(like->palette().color(QPalette::Window), face);
        QCOMPARE(dislike->palette().color(QPalette::Window), face);
        QTest::mouseClick(like, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(like, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(like->palette().color(QPalette::Window), highlight);
        QCOMPARE(dislike->palette().color(QPalette::Window), face);
        QTest::mouseClick(dislike, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(like->palette().color(QPalette::Window), face);
        QCOMPARE(dislike->palette().color(QPalette::Window), highlight);
    }

    void emptyMessageSendsNothing() {
        auto form = Open();
        QTest::mouseClick(Find<QWidget>(*form, "Panel4"), Qt::LeftButton, {}, QPoint(5, 5));
        Type(*form, QStringLiteral(" \t \n  "), QStringLiteral("ann@mail.example.de"));
        Find<QLineEdit>(*form, "Edit1")->setFocus();
        Send(*form);
        QVERIFY(server_->Requests().isEmpty());
        QVERIFY(boxes_.isEmpty());
        QCOMPARE(QApplication::focusWidget(), Find<QWidget>(*form, "Memo1"));
        QVERIFY(form->isVisible());
    }

    void emailCheck_data() {
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("name, host, dot, two letters") << "ann@mail.de" << true;
        QTest::newRow("dots, plus and hyphen in the name")
            << "a.n+n-e_1@mail-host.example.org" << true;
        QTest::newRow("no dot after the at sign") << "ann@localhost" << false;
        QTest::newRow("ends with a hyphen") << "ann@mail.de-" << false;
        QTest::newRow("space inside") << "an n@mail.de" << false;
        QTest::newRow("two at signs") << "ann@b@mail.de" << false;
        QTest::newRow("non-ASCII letter") << "\u00E4nn@mail.de" << false;
        QTest::newRow("upper case") << "ANN@MAIL.DE" << true;
        QTest::newRow("trailing line break inside") << "ann@mail.de\nx" << false;
    }
    void emailCheck() {
        QFETCH(QString, email);
        QFETCH(bool, accepted);
        QCOMPARE(TFeedbackForm::IsValidEmail(email), accepted);
        auto form = Open();
        Type(*form, QStringLiteral("hello"), email);
        Send(*form);
        QCOMPARE(server_->Requests().size(), accepted ? 1 : 0);
        if (!accepted) {
            QCOMPARE(boxes_, QStringList{"Failure|Invalid e-mail address!|" +
                                         QString::number(int(QMessageBox::Critical))});
            QCOMPARE(form->focusWidget(), Find<QWidget>(*form, "Edit1"));  // once the box has gone
            QVERIFY(form->isVisible());
        }
    }

    void replies_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("OK") << QByteArray("OK") << true;
        QTest::newRow("OK and a line break") << QByteArray("OK\r\n") << true;
        QTest::newRow("ok in lower case") << QByteArray("ok") << false;
        QTest::newRow("OK with more") << QByteArray("OK, thanks") << false;
        QTest::newRow("empty") << QByteArray("") << false;
    }
    void replies() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, delivered);
        Reply(reply);
        auto form = Open();
        Type(*form, QStringLiteral("My message"), QStringLiteral("ann@mail.de"));
        Send(*form);
        QCOMPARE(boxes_.size(), 1);
        if (delivered) {
            QVERIFY(boxes_[0].startsWith("Success|"));
            QVERIFY(!form->isVisible());
        } else {
            QCOMPARE(
                boxes_[0],
                "Failure|Something went wrong. Your feedback could not be delivered.\n\nPlease try "
                "again later.|" +
                    QString::number(int(QMessageBox::Critical)));
            QVERIFY(form->isVisible());  // everything typed is still there
            QCOMPARE(Find<QPlainTextEdit>(*form, "Memo1")->toPlainText(),
                     QStringLiteral("My message"));
            QCOMPARE(Find<QLineEdit>(*form, "Edit1")->text(), QStringLiteral("ann@mail.de"));
        }
    }

    // The secure path down while plain HTTP would take the message: nothing is
    // sent in clear and the failure is said, with everything typed kept.
    void httpsDownNothingGoesInClear_data() {
        QTest::addColumn<bool>("untrusted");
        QTest::newRow("HTTPS refused") << false;
        QTest::newRow("self-signed certificate") << true;
    }
    void httpsDownNothingGoesInClear() {
        QFETCH(bool, untrusted);
        MakerServer stranger;
        MakerServer& target = TakeSecurePathDown(*server_, stranger, untrusted, "/php/feedback.php",
                                                 BodyReply("OK\n"));
        auto form = Open();
        Type(*form, QStringLiteral("private words"), QStringLiteral("ann@mail.de"));
        Send(*form);
        qputenv("CORVEXA_MAKER_HOST", server_->Host().toUtf8());
        QVERIFY(target.Requests().isEmpty());
        QCOMPARE(boxes_.size(), 1);
        QVERIFY(boxes_[0].startsWith("Failure|Something went wrong."));
        QVERIFY(form->isVisible());
        QCOMPARE(Find<QPlainTextEdit>(*form, "Memo1")->toPlainText(),
                 QStringLiteral("private words"));
    }

    // A server that never ends its reply: Send fails on the size bound, the
    // window gets its failure box, and the connection is closed by then, so
    // nothing goes on reading behind the window.
    void endlessReplyFailsAndStopsReading_data() {
        QTest::addColumn<int>("endless");
        QTest::newRow("headers") << int(ServerReply::Endless::Headers);
        QTest::newRow("body") << int(ServerReply::Endless::Body);
    }
    void endlessReplyFailsAndStopsReading() {
        QFETCH(int, endless);
        ServerReply reply;
        reply.endless = ServerReply::Endless(endless);
        server_->SetReply("/php/feedback.php", reply);
        auto form = Open();
        Type(*form, QStringLiteral("never answered"), QString());
        const int closed = server_->Closed();
        const qint64 sentBefore = server_->EndlessBytesSent();
        Send(*form);
        QCOMPARE(boxes_.size(), 1);
        QVERIFY(boxes_[0].startsWith("Failure|Something went wrong."));
        QVERIFY(!form->Sending());
        QVERIFY(server_->WaitForClosed(closed + 1, 10000));
        const qint64 sent = server_->EndlessBytesSent() - sentBefore;
        QCOMPARE(server_->Requests().size(), 1);
        QVERIFY2(sent < 16 * 1024 * 1024, qPrintable(QString::number(sent)));
    }

    void serverDownFails() {
        UseMakerHost(HostNobodyListensOn());
        auto form = Open();
        Type(*form, QStringLiteral("nobody listens"), QString());
        Send(*form);
        qputenv("CORVEXA_MAKER_HOST", server_->Host().toUtf8());
        QVERIFY(boxes_.value(0).startsWith("Failure|Something went wrong."));
        QVERIFY(form->isVisible());
    }

    // While a slow server answers: the busy cursor, no second Send, no closing.
    void oneSendAtATime() {
        ServerReply slow;
        slow.body = "OK";
        slow.delayMs = 600;
        server_->SetReply("/php/feedback.php", slow);
        auto form = Open();
        Type(*form, QStringLiteral("patience"), QString());
        auto* send = Find<QPushButton>(*form, "BitBtn1");
        bool busy = false, sending = false, enabled = true;
        QTimer::singleShot(200, form.get(), [&] {
            busy = QApplication::overrideCursor() &&
                   QApplication::overrideCursor()->shape() == Qt::BusyCursor;
            sending = form->Sending();
            enabled = send->isEnabled();
            send->click();   // a second Send
            form->reject();  // Escape
            form->close();   // the close button
        });
        Send(*form);
        QVERIFY(busy);
        QVERIFY(sending);
        QVERIFY(!enabled);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(server_->Requests().size(), 1);
        QCOMPARE(boxes_.size(), 1);
        QVERIFY(send->isEnabled());
    }

    void escapeCloses_data() {
        QTest::addColumn<QByteArray>("control");
        QTest::newRow("message") << QByteArray("Memo1");
        QTest::newRow("e-mail") << QByteArray("Edit1");
        QTest::newRow("Send") << QByteArray("BitBtn1");
    }
    void escapeCloses() {
        QFETCH(QByteArray, control);
        auto form = Open();
        Type(*form, QStringLiteral("unsent"), QString());
        QWidget* w = Find<QWidget>(*form, control.constData());
        w->setFocus();
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(!form->isVisible());
        QVERIFY(server_->Requests().isEmpty());
    }

    void enterDoesNotSend() {
        auto form = Open();
        Type(*form, QStringLiteral("typed"), QStringLiteral("ann@mail.de"));
        QTest::keyClick(Find<QLineEdit>(*form, "Edit1"), Qt::Key_Return);
        QTest::qWait(20);
        QVERIFY(server_->Requests().isEmpty());
        QVERIFY(form->isVisible());
    }

    void messageLimit() {
        auto form = Open();
        auto* memo = Find<QPlainTextEdit>(*form, "Memo1");
        memo->setPlainText(QString(10050, QLatin1Char('a')));
        QCOMPARE(memo->toPlainText().size(), 10000);
    }
};

QTEST_MAIN(FeedbackFormTest)
#include "feedback_form_qtest.moc"
