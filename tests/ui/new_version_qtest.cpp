// The update notice, offscreen: placement, growth, countdown, hover colour,
// dragging and the link.

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "i18n/language.h"
#include "support/window_test_support.h"
#include "ui/dialogs.h"
#include "ui/new_version.h"

using corvexa::test::Find;
using corvexa::test::UrlCatcher;
using corvexa::ui::TNewVer;

class NewVersionTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> main_;
    std::unique_ptr<corvexa::test::WindowEnvironment> window_;

    static QRect Home() {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        return QRect(screen.right() + 1 - 320 - 5, screen.top() + 5, 320, 68);
    }

    std::unique_ptr<TNewVer> Shown(
        const QString& link = QStringLiteral("https://www.kelmare.example/get/")) {
        auto notice = std::make_unique<TNewVer>(QStringLiteral("Corvexa"), QStringLiteral("2.6"),
                                                link, main_.get());
        if (!QTest::qWaitFor([&] { return notice->isVisible() && notice->geometry() == Home(); },
                             3000))
            qWarning("the notice did not reach its place");
        return notice;
    }

private slots:
    void initTestCase() {
        qputenv("CORVEXA_MAKER_HOST", "127.0.0.1:9");
        main_ = std::make_unique<QWidget>();
        main_->setWindowTitle(QStringLiteral("main"));
        main_->resize(400, 300);
        main_->show();
        main_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main_.get()));
    }

    void init() {
        window_ =
            std::make_unique<corvexa::test::WindowEnvironment>();  // the countdown at its start
        corvexa::i18n::LoadLanguageFrom(QString(), QString(), 1033);
    }
    void cleanup() { window_.reset(); }

    void createdHiddenThenGrowsFromItsCentreIntoTheCorner() {
        TNewVer notice(QStringLiteral("Corvexa"), QStringLiteral("2.6"), QString(), main_.get());
        QVERIFY(!notice.isVisible());  // its creator does not show it
        QVERIFY(notice.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(notice.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(notice.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(notice.windowFlags().testFlag(Qt::Tool));  // no taskbar entry
        QTRY_VERIFY_WITH_TIMEOUT(notice.isVisible(), 1000);
        auto* grow = notice.findChild<QPropertyAnimation*>();
        QVERIFY(grow);
        QCOMPARE(grow->duration(), 100);
        QCOMPARE(grow->startValue().toRect().center(), Home().center());
        QCOMPARE(grow->endValue().toRect(), Home());
        QTRY_COMPARE_WITH_TIMEOUT(notice.geometry(), Home(), 2000);
        QCOMPARE(Find<QLabel>(notice, "Label1")->text(), QStringLiteral("UPDATE AVAILABLE"));
        QCOMPARE(Find<QLabel>(notice, "Label2")->text(),
                 QStringLiteral("Click to download Corvexa 2.6"));
        // The main window keeps the keyboard focus.
        QCOMPARE(QApplication::activeWindow(), main_.get());
    }

    void translatedTexts() {
        corvexa::i18n::LoadLanguageFrom(qEnvironmentVariable("CORVEXA_SOURCE_DIR") + "/resources/",
                                        QStringLiteral("German.lang.txt"), 1031);
        TNewVer notice(QStringLiteral("Corvexa"), QStringLiteral("2.6"), QString(), main_.get());
        QCOMPARE(Find<QLabel>(notice, "Label1")->text(), QStringLiteral("UPDATE VERF\u00DCGBAR"));
        QCOMPARE(Find<QLabel>(notice, "Label2")->text(),
                 QStringLiteral("Klicken Sie hier zum Herunterladen von Corvexa 2.6"));
    }

    void countdownShrinksItAway() {
        window_->seams.SetNoticeCountdown(3);
        auto notice = Shown();
        auto* timer = Find<QTimer>(*notice, "TimerClose");
        QVERIFY(timer->isActive());
        timer->setInterval(30);  // the countdown's seconds, shortened
        QTRY_VERIFY_WITH_TIMEOUT(!notice->isVisible(), 3000);
        QCOMPARE(TNewVer::CloseCountdown(), 0);
        QVERIFY(!timer->isActive());
    }

    void closedEarlyStaysClosed() {
        auto notice = Shown();
        QTest::mouseClick(Find<QPushButton>(*notice, "Button1"), Qt::LeftButton);
        QVERIFY(!notice->isVisible());  // at once
        QCOMPARE(TNewVer::CloseCountdown(), 11);
        Find<QTimer>(*notice, "TimerClose")->setInterval(10);
        QTRY_COMPARE_WITH_TIMEOUT(TNewVer::CloseCountdown(), 0, 3000);
        QTest::qWait(50);
        QVERIFY(!notice->isVisible());
    }

    void linkColourFollowsThePointer() {
        auto notice = Shown();
        auto* label = Find<QLabel>(*notice, "Label2");
        const QColor highlight = QApplication::palette().color(QPalette::Highlight);
        const QColor text = QApplication::palette().color(QPalette::WindowText);
        QVERIFY(highlight != text);
        QCursor::setPos(label->mapToGlobal(label->rect().center()));
        QTRY_COMPARE_WITH_TIMEOUT(label->palette().color(QPalette::WindowText), highlight, 1000);
        QCursor::setPos(notice->geometry().bottomLeft() + QPoint(-50, 50));
        QTRY_COMPARE_WITH_TIMEOUT(label->palette().color(QPalette::WindowText), text, 1000);
    }

    void dragButtons_data() {
        QTest::addColumn<QByteArray>("part");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("moves");
        QTest::newRow("left on the panel") << QByteArray("Panel1") << int(Qt::LeftButton) << true;
        QTest::newRow("middle on the title")
            << QByteArray("Label1") << int(Qt::MiddleButton) << true;
        QTest::newRow("left on the picture") << QByteArray("Image1") << int(Qt::LeftButton) << true;
        QTest::newRow("left on the close strip")
            << QByteArray("Panel3") << int(Qt::LeftButton) << true;
        QTest::newRow("right does not drag")
            << QByteArray("Panel1") << int(Qt::RightButton) << false;
        QTest::newRow("the link does not drag")
            << QByteArray("Label2") << int(Qt::MiddleButton) << false;
    }
    void dragButtons() {
        QFETCH(QByteArray, part);
        QFETCH(int, button);
        QFETCH(bool, moves);
        auto notice = Shown();
        auto* widget = Find<QWidget>(*notice, part.constData());
        const QPoint start = notice->pos();
        QPoint at(widget->width() / 2, widget->height() - 3);
        if (part == "Panel3") at = QPoint(10, widget->height() - 4);
        const auto b = Qt::MouseButton(button);
        QTest::mousePress(widget, b, {}, at);
        QTest::mouseMove(widget, at + QPoint(-40, 25));
        QTest::mouseRelease(widget, b, {}, at + QPoint(-40, 25));
        if (moves)
            QTRY_COMPARE_WITH_TIMEOUT(notice->pos(), start + QPoint(-40, 25), 1000);
        else {
            QTest::qWait(50);
            QCOMPARE(notice->pos(), start);
        }
        QVERIFY(notice->isVisible());
    }

    void linkOpens_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("opened");
        const QString home = QStringLiteral("https://127.0.0.1:9/");
        QTest::newRow("download link") << "https://www.kelmare.example/get/Corvexa-2.6.tar.gz"
                                       << "https://www.kelmare.example/get/Corvexa-2.6.tar.gz";
        QTest::newRow("plain http") << "http://www.kelmare.example/get"
                                    << "http://www.kelmare.example/get";
        QTest::newRow("empty: home page") << "" << home;
        QTest::newRow("local file: home page") << "file:///etc/passwd" << home;
        QTest::newRow("script: home page") << "javascript:alert(1)" << home;
        QTest::newRow("ftp: home page") << "ftp://www.kelmare.example/x" << home;
        QTest::newRow("a path: home page") << "/usr/bin/xterm" << home;
    }
    void linkOpens() {
        QFETCH(QString, link);
        QFETCH(QString, opened);
        UrlCatcher catcher;
        for (const char* scheme : {"http", "https", "file", "ftp", "javascript"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &catcher, "open");
        auto notice = Shown(link);
        auto* label = Find<QLabel>(*notice, "Label2");
        QTest::mouseClick(label, Qt::LeftButton, {}, label->rect().center());
        for (const char* scheme : {"http", "https", "file", "ftp", "javascript"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl(opened)});
        QVERIFY(!notice->isVisible());
    }

    // Where the link leads is on the window before anyone clicks: the host
    // under the link (punycode for a look-alike name, the end of a long one
    // kept), the whole address on the link's tool tip.
    void linkSaysWhereItLeads_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("tip");
        QTest::newRow("maker's site") << "https://www.kelmare.example/get/Corvexa-2.6.tar.gz"
                                      << "www.kelmare.example"
                                      << "https://www.kelmare.example/get/Corvexa-2.6.tar.gz";
        QTest::newRow("look-alike suffix") << "http://www.kelmare.example.evil.test:8080/get"
                                           << "www.kelmare.example.evil.test:8080"
                                           << "http://www.kelmare.example.evil.test:8080/get";
        QTest::newRow("look-alike letters")
            << QString::fromUtf8("https://www.k\xd0\xb5lmare.example/get")
            << "www.xn--klmare-3of.example"
            << "https://www.xn--klmare-3of.example/get";
        QTest::newRow("not a web address: home page") << "file:///etc/passwd"
                                                      << "127.0.0.1:9"
                                                      << "https://127.0.0.1:9/";
    }
    void linkSaysWhereItLeads() {
        QFETCH(QString, link);
        QFETCH(QString, host);
        QFETCH(QString, tip);
        auto notice = Shown(link);
        auto* label = Find<QLabel>(*notice, "LabelHost");
        QCOMPARE(label->text(), host);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QVERIFY(label->isVisible());
        QVERIFY(QRect(QPoint(0, 0), notice->size())
                    .contains(QRect(label->mapTo(notice.get(), QPoint(0, 0)), label->size())));
        QVERIFY(label->height() >= label->fontMetrics().height());
        QCOMPARE(Find<QLabel>(*notice, "Label2")->toolTip(), tip);
    }

    void longHostKeepsItsEnd() {
        QString host;
        for (int i = 0; i < 4; ++i) host += QString(60, QChar(u'a' + i)) + QLatin1Char('.');
        host += QStringLiteral("kelmare.example.evil.test");
        auto notice = Shown(QStringLiteral("https://") + host + QStringLiteral("/get"));
        auto* label = Find<QLabel>(*notice, "LabelHost");
        QVERIFY(label->text().endsWith(QStringLiteral(".kelmare.example.evil.test")));
        QVERIFY(label->text().startsWith(QChar(0x2026)));
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width());
    }

    void serverMessageIsPlainText() {
        QString title, text;
        Qt::TextFormat format = Qt::AutoText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        window_->seams.AnswerDialogs([&](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            title = box->windowTitle();
            text = box->text();
            format = box->textFormat();
            icon = box->icon();
            box->done(QMessageBox::Ok);
        });
        corvexa::ui::ShowServerMessage(main_.get(),
                                       QStringLiteral("<b>New</b> <a href='file:///x'>here</a>"));
        window_->seams.AnswerDialogs({});
        QCOMPARE(title, QStringLiteral("IMPORTANT"));
        QCOMPARE(text, QStringLiteral("<b>New</b> <a href='file:///x'>here</a>"));
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(icon, QMessageBox::Warning);
    }

    // A 60 KB message, as long lines and as many short ones: the box fits the
    // screen's free area, its OK button shows inside it, and the whole text
    // is there to scroll through.
    void longServerMessageScrolls_data() {
        QTest::addColumn<QString>("text");
        QString words;
        while (words.size() < 60000) words += QStringLiteral("Please read this important notice. ");
        QString lines;
        while (lines.size() < 60000) lines += QStringLiteral("line\n");
        QTest::newRow("long lines") << words;
        QTest::newRow("many lines") << lines;
    }
    void longServerMessageScrolls() {
        QFETCH(QString, text);
        QRect box, button, area;
        bool buttonVisible = false;
        QString shown;
        window_->seams.AnswerDialogs([&](QDialog* d) {
            auto* message = qobject_cast<QMessageBox*>(d);
            QAbstractButton* ok = message->button(QMessageBox::Ok);
            area = message->screen()->availableGeometry();
            box = message->frameGeometry();
            button = QRect(ok->mapToGlobal(QPoint(0, 0)), ok->size());
            buttonVisible = ok->isVisible();
            shown = message->text();
            message->done(QMessageBox::Ok);
        });
        corvexa::ui::ShowServerMessage(main_.get(), text);
        window_->seams.AnswerDialogs({});
        QVERIFY2(box.height() <= area.height(),
                 qPrintable(QStringLiteral("%1 > %2").arg(box.height()).arg(area.height())));
        QVERIFY(box.width() <= area.width());
        QVERIFY(buttonVisible);
        QVERIFY2(area.contains(button),
                 qPrintable(QStringLiteral("button at %1,%2").arg(button.x()).arg(button.y())));
        QCOMPARE(shown, text);
    }
};

QTEST_MAIN(NewVersionTest)
#include "new_version_qtest.moc"
