// The main window from the keyboard, offscreen: where the focus starts, that
// Tab leaves the lists, that a closed dialog hands the keyboard back, and the
// program's own command-line options.

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLayout>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "support/window_test_support.h"
#include "ui/app_form.h"
#include "ui/test_seams.h"

using corvexa::test::Find;
using corvexa::test::WriteAll;
using corvexa::ui::TAppForm;

class WindowKeyboardTest : public QObject {
    Q_OBJECT

private:
    corvexa::test::WindowFixture fixture_;

    QString Root() const { return fixture_.Root(); }

    std::unique_ptr<TAppForm> ActiveForm() {
        auto form = std::make_unique<TAppForm>(fixture_.Env());
        form->show();
        if (!QTest::qWaitForWindowActive(form.get())) qWarning("window not active");
        return form;
    }

    // A scan of a folder with two files of findings: both lists have rows.
    void ScanTwoFiles(TAppForm& form) {
        const QString dir = Root() + QStringLiteral("scan/");
        WriteAll(dir + "a.txt",
                 "http://one.example/\nhttp://two.example/\nhttp://three.example/\n");
        WriteAll(dir + "b.txt", "http://four.example/\n");
        Find<QLineEdit>(form, "Edit8")->setText(dir);
        corvexa::test::ScanToEnd(form);
    }

    static QString ProgramPath() {
        return QString::fromLocal8Bit(qgetenv("CORVEXA_BIN_DIR")) + QStringLiteral("/corvexa");
    }

private slots:
    void init() {
        // The update check a window starts finds nobody listening.
        qputenv("CORVEXA_MAKER_HOST", "127.0.0.1:9");
        QVERIFY(fixture_.Start());
    }

    void cleanup() { fixture_.Stop(); }

    void theDirectoryFieldHasTheFocusAtStart() {
        auto form = ActiveForm();
        QCOMPARE(QApplication::focusWidget(), Find<QLineEdit>(*form, "Edit8"));
        // A key typed at the window lands in the field.
        QTest::keyClick(form->windowHandle(), Qt::Key_End);
        QTest::keyClick(form->windowHandle(), Qt::Key_Q);
        QVERIFY(Find<QLineEdit>(*form, "Edit8")->text().endsWith(QLatin1Char('q')));
    }

    // Tab moves from each list to the next control, and Shift+Tab back out,
    // however many rows the list holds; the arrows still move in it.
    void tabLeavesEveryList_data() {
        QTest::addColumn<QString>("list");
        QTest::newRow("files") << QStringLiteral("ListBox1");
        QTest::newRow("findings") << QStringLiteral("ListView1");
    }
    void tabLeavesEveryList() {
        QFETCH(QString, list);
        auto form = ActiveForm();
        ScanTwoFiles(*form);
        auto* view = form->findChild<QAbstractItemView*>(list);
        QVERIFY(view);
        QVERIFY(view->model()->rowCount() >= 2);
        view->setFocus(Qt::TabFocusReason);
        view->setCurrentIndex(view->model()->index(0, 0));
        QCOMPARE(QApplication::focusWidget(), view);

        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(view->currentIndex().row(), 1);
        QCOMPARE(QApplication::focusWidget(), view);

        QTest::keyClick(view, Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != view);
        view->setFocus(Qt::TabFocusReason);
        QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(QApplication::focusWidget() != view);
    }

    // Remove Duplicates and START are reached from the findings by Tab alone.
    void theButtonsAfterTheFindingsAreReachedByTab() {
        auto form = ActiveForm();
        ScanTwoFiles(*form);
        auto* view = Find<QTableView>(*form, "ListView1");
        view->setFocus(Qt::TabFocusReason);
        bool reachedStart = false;
        for (int i = 0; i < 40 && !reachedStart; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reachedStart = QApplication::focusWidget() == Find<QPushButton>(*form, "ButtonStart");
        }
        QVERIFY(reachedStart);
    }

    // The findings list stays where it is when the scan ends: the view
    // buttons hold their room, greyed out, while the scan runs.
    void theFindingsListKeepsItsPlaceThroughAScan() {
        auto form = ActiveForm();
        const QString dir = Root() + QStringLiteral("scan/");
        WriteAll(dir + "a.txt", "http://one.example/\n");
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        auto* panel = Find<QWidget>(*form, "Panel4");
        auto* view = Find<QTableView>(*form, "ListView1");
        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonStart"), Qt::LeftButton);
        QVERIFY(form->State() != TAppForm::ScanState::Idle);
        panel->layout()->activate();
        const int topDuring = view->mapTo(form.get(), QPoint(0, 0)).y();
        QVERIFY(!Find<QPushButton>(*form, "ButtonRemoveDuplicates")->isEnabled());
        QVERIFY(done.wait(60000));
        panel->layout()->activate();
        QCOMPARE(view->mapTo(form.get(), QPoint(0, 0)).y(), topDuring);
        QVERIFY(Find<QPushButton>(*form, "ButtonRemoveDuplicates")->isEnabled());
    }

    // After each window the main window opens is closed, the main window is
    // active again and its focus widget takes the keys.
    void aClosedWindowGivesTheKeyboardBack_data() {
        QTest::addColumn<QString>("item");
        QTest::newRow("about") << QStringLiteral("About1");
        QTest::newRow("feedback") << QStringLiteral("SendFeedback1");
    }
    void aClosedWindowGivesTheKeyboardBack() {
        QFETCH(QString, item);
        auto form = ActiveForm();
        auto* action = form->findChild<QAction*>(item);
        QVERIFY(action);
        QWidget* opened = nullptr;
        fixture_.Window().seams.AnswerDialogs([&opened](QDialog* d) {
            opened = d;
            d->reject();
        });
        action->trigger();
        QVERIFY(opened);
        // The activation comes back as a window-system event.
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(QApplication::activeWindow(), form.get());
        QVERIFY(QApplication::focusWidget() != nullptr);
        QCOMPARE(QApplication::focusWidget()->window(), form.get());
    }

    void helpAndVersionPrintAndExit_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("printed");
        QTest::newRow("help") << QStringLiteral("--help") << QStringLiteral("Usage: corvexa");
        QTest::newRow("version") << QStringLiteral("--version") << QStringLiteral("Corvexa ");
    }
    void helpAndVersionPrintAndExit() {
        QFETCH(QString, option);
        QFETCH(QString, printed);
        QVERIFY2(QFile::exists(ProgramPath()), qPrintable(ProgramPath()));
        QProcess program;
        program.start(ProgramPath(), {option});
        // Were the option not understood, the window would open and stay.
        const bool ended = program.waitForFinished(30000);
        if (!ended) program.kill();
        QVERIFY(ended);
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(QString::fromUtf8(program.readAllStandardOutput()).startsWith(printed),
                 qPrintable(option));
    }

    // The program ends once its window is gone, even while the update check's
    // lookup of the maker's server name hangs (Qt's own ending would wait for
    // the lookup for as long as it takes: here, for ever).
    void theProgramEndsWhileALookupHangs() {
        QVERIFY2(QFile::exists(ProgramPath()), qPrintable(ProgramPath()));
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(CORVEXA_SLOW_LOOKUP));
        // A sanitized build refuses a library loaded ahead of its runtime unless
        // told that this one is meant to be.
        const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
        environment.insert(QStringLiteral("CORVEXA_MAKER_HOST"),
                           QStringLiteral("never.example:80"));
        environment.insert(QStringLiteral("HOME"), Root() + QStringLiteral("home"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Root() + QStringLiteral("roaming"));
        // The check starts a second after the window; the window goes after three.
        environment.insert(QStringLiteral("CORVEXA_QUIT_AFTER_MS"), QStringLiteral("3000"));
        program.setProcessEnvironment(environment);
        program.start(ProgramPath(), {});
        const bool ended = program.waitForFinished(60000);
        if (!ended) program.kill();
        QVERIFY(ended);
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }
};

QTEST_MAIN(WindowKeyboardTest)
#include "window_keyboard_qtest.moc"
