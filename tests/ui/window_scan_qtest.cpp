// The main window during and after a scan, offscreen: lists of files whose
// names are not all UTF-8, the counters half-way through a scan held at a
// file, the filter typed while findings come in, and what a scan says when it
// ends short of reading every file.

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>

#include "platform/native_path.h"
#include "support/run_scanner.h"
#include "support/window_test_support.h"
#include "ui/app_form.h"
#include "ui/list_models.h"

using corvexa::test::FileGate;
using corvexa::test::Find;
using corvexa::test::WriteAllNative;
using corvexa::ui::TAppForm;

class WindowScanTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<corvexa::test::WindowEnvironment> window_;
    QStringList dialogs_;

    QString Root() const { return window_->Root(); }
    std::unique_ptr<TAppForm> MakeForm() { return corvexa::test::ShowForm(window_->env); }

    static QString Status(TAppForm& form, int panel) {
        return Find<QLabel>(form, QStringLiteral("StatusPanel%1").arg(panel).toLatin1().constData())
            ->text();
    }
    static QString Label(TAppForm& form) { return Find<QLabel>(form, "Label3")->text(); }
    static QStringList RowsShown(TAppForm& form) {
        auto* view = Find<QTableView>(form, "ListView1");
        QStringList out;
        for (int i = 0; i < view->model()->rowCount(); ++i)
            out << view->model()->index(i, 0).data().toString();
        return out;
    }

    static void Start(TAppForm& form) {
        QTest::mouseClick(Find<QPushButton>(form, "ButtonStart"), Qt::LeftButton);
    }
    static void WaitForEnd(TAppForm& form, QSignalSpy& done) {
        if (form.State() != TAppForm::ScanState::Idle) QVERIFY(done.wait(60000));
    }
    // Scans the folder in the Directory field to its end.
    static void Scan(TAppForm& form) {
        QSignalSpy done(&form, &TAppForm::scanCompleted);
        Start(form);
        WaitForEnd(form, done);
    }
    // Starts a scan of `dir` that the gate holds, and returns once the window
    // has taken in everything the collector posted before it stopped there.
    void StartHeld(TAppForm& form, const QString& dir, FileGate& gate) {
        Find<QLineEdit>(form, "Edit8")->setText(dir);
        window_->seams.GateScanFiles([&gate](const std::u16string&) { gate.Pass(); });
        Start(form);
        gate.WaitUntilHeld();
        while (form.Scan().FilesStarted() < gate.HoldAt()) QCoreApplication::processEvents();
    }

    // Six files in a folder, each with a web address and an e-mail address.
    QString SixFiles() {
        const QString dir = Root() + QStringLiteral("six/");
        QDir().mkpath(dir);
        for (int i = 1; i <= 6; ++i)
            WriteAllNative(
                QFile::encodeName(dir + QStringLiteral("f%1.txt").arg(i)),
                QStringLiteral("see http://site%1.example/ or write to u%1@mail.example\n")
                    .arg(i)
                    .toUtf8());
        return dir;
    }

private slots:
    void init() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        window_ = std::make_unique<corvexa::test::WindowEnvironment>();
        QVERIFY(window_->IsValid());
        qputenv("CORVEXA_MAKER_HOST", "127.0.0.1:9");
        dialogs_.clear();
        window_->seams.AnswerDialogs([this](QDialog* d) {
            dialogs_ << d->windowTitle();
            d->reject();
        });
    }

    void cleanup() {
        window_.reset();
        QLocale::setDefault(QLocale::system());
    }

    // A list as `find > list.txt` writes it: no byte-order mark, six UTF-8
    // names and one Latin-1 name, and an entry naming no file. Every file is
    // read (the window as the command line), and the missing entry is counted
    // and said when the scan ends.
    void aListWithOneLatin1NameReadsEveryFile() {
        const QByteArray dir = QFile::encodeName(Root() + QStringLiteral("names/"));
        QDir().mkpath(QFile::decodeName(dir));
        const QByteArray names[] = {"caf\xC3\xA9.txt",      "\xE6\x97\xA5\xE6\x9C\xAC.txt",
                                    "na\xC3\xAFve.txt",     "\xD0\xB6.txt",
                                    "\xCE\xB1\xCE\xB2.txt", "plain.txt",
                                    "latin1-\xE9t\xE9.txt"};
        QByteArray list;
        int n = 0;
        for (const QByteArray& name : names) {
            ++n;
            // Two findings a file, three in the Latin-1 one: 15 in all.
            QByteArray body = "http://file" + QByteArray::number(n) + ".example/ a" +
                              QByteArray::number(n) + "@mail.example\n";
            if (name.startsWith("latin1")) body += "www.latin.example\n";
            WriteAllNative(dir + name, body);
            list += dir + name + "\n";
        }
        list += dir + "missing.txt\n";
        const QString listPath = Root() + QStringLiteral("list.txt");
        WriteAllNative(QFile::encodeName(listPath), list);

        auto form = MakeForm();
        window_->seams.AnswerDialogs([&](QDialog* d) {
            auto* fd = qobject_cast<QFileDialog*>(d);
            if (!fd) return d->reject();
            fd->selectFile(listPath);
            d->accept();
        });
        QTest::mouseClick(Find<QPushButton>(*form, "Button5"), Qt::LeftButton);
        QCOMPARE(form->Files().Size(), std::size_t{8});
        Find<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
        Scan(*form);

        QCOMPARE(Status(*form, 0), QStringLiteral("Total Files: 8"));
        QCOMPARE(Status(*form, 1), QStringLiteral("Total URLs: 15"));
        QCOMPARE(Label(*form), QStringLiteral("URLs: 15"));
        const QString said = Status(*form, 2);
        QVERIFY2(said.endsWith(QStringLiteral(" \u00b7 1 list entry names no file")),
                 qPrintable(said));
        QVERIFY2(!said.contains(QStringLiteral("could not be read")), qPrintable(said));
        QVERIFY(RowsShown(*form).contains(QStringLiteral("www.latin.example")));

        // The command line reads the same list to the same findings.
        const corvexa::test::ScannerResult scan =
            corvexa::test::RunScannerProcess({"--files-from", listPath.toStdString()});
        QCOMPARE(scan.status, 0);
        QCOMPARE(QString::fromStdString(scan.out).trimmed().split(
                     QRegularExpression(QStringLiteral("\r?\n"))),
                 RowsShown(*form));
    }

    // Half-way through a scan every figure on screen is the same figure: the
    // findings above the list and in the status bar, the files in the status
    // bar and the progress bar's total; the timer's tick changes none of it.
    void theCountersAgreeHalfWayThroughAScan() {
        const QString dir = SixFiles();
        auto form = MakeForm();
        FileGate gate(4);
        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        StartHeld(*form, dir, gate);

        auto check = [&] {
            QCOMPARE(Label(*form), QStringLiteral("URLs: 6"));
            QCOMPARE(Status(*form, 1), QStringLiteral("Total URLs: 6"));
            QCOMPARE(RowsShown(*form).size(), 6);
            QCOMPARE(Status(*form, 0), QStringLiteral("Total Files: 6"));
            auto* progress = Find<QProgressBar>(*form, "ProgressBar1");
            QCOMPARE(progress->maximum(), 6);
            QCOMPARE(progress->value(), 4);
            const QString read = Find<QLabel>(*form, "ProgressText")->text();
            // The walk is over: the totals are known, and the bytes total is
            // the six files' sizes.
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("^3 of 6 files, (\\d+) bytes of (\\d+) bytes "
                                                  "read( \u00b7 about \\d+ s left)?$"))
                    .match(read);
            QVERIFY2(m.hasMatch(), qPrintable(read));
            qint64 total = 0;
            for (const QFileInfo& file : QDir(dir).entryInfoList(QDir::Files)) total += file.size();
            QCOMPARE(m.captured(2).toLongLong(), total);
            QVERIFY(m.captured(1).toLongLong() < total);
        };
        check();
        QMetaObject::invokeMethod(Find<QTimer>(*form, "TimerKacTane"), "timeout");
        check();

        gate.Release();
        WaitForEnd(*form, done);
        QCOMPARE(Label(*form), QStringLiteral("URLs: 12"));
        QCOMPARE(Status(*form, 1), QStringLiteral("Total URLs: 12"));
        QVERIFY(Status(*form, 2).startsWith(QStringLiteral("Elapsed Time: ")));
        QVERIFY2(!Status(*form, 2).contains(QStringLiteral(" \u00b7 ")),
                 qPrintable(Status(*form, 2)));
    }

    // The filter field stays open during a scan and keeps what was typed:
    // what comes in is narrowed as it arrives, and the text is still there
    // for the next scan.
    void theFilterKeepsWhatWasTypedThroughAScan() {
        const QString dir = SixFiles();
        auto form = MakeForm();
        auto* filter = Find<QLineEdit>(*form, "FilterEdit");
        FileGate gate(4);
        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        StartHeld(*form, dir, gate);
        QVERIFY(filter->isEnabled());
        filter->setFocus();
        QTest::keyClicks(filter, QStringLiteral("MAIL"));
        QCOMPARE(filter->text(), QStringLiteral("MAIL"));
        QCOMPARE(RowsShown(*form).size(), 3);
        QCOMPARE(Label(*form), QStringLiteral("URLs: 3 of 6"));

        gate.Release();
        WaitForEnd(*form, done);
        QCOMPARE(filter->text(), QStringLiteral("MAIL"));
        QCOMPARE(RowsShown(*form).size(), 6);
        for (const QString& row : RowsShown(*form))
            QVERIFY(row.endsWith(QStringLiteral("@mail.example")));
        QCOMPARE(Label(*form), QStringLiteral("URLs: 6 of 12"));

        // The next scan starts with the same text and narrows its findings too.
        window_->seams.GateScanFiles({});
        Scan(*form);
        QCOMPARE(filter->text(), QStringLiteral("MAIL"));
        QCOMPARE(Label(*form), QStringLiteral("URLs: 6 of 12"));
    }

    // Remove Duplicates in the URL view is undone by Ctrl+Z or by the
    // findings' pop-up item "Show All Findings".
    void removeDuplicatesCanBeUndone() {
        const QString dir = Root() + QStringLiteral("dups/");
        QDir().mkpath(dir);
        WriteAllNative(
            QFile::encodeName(dir + "a.txt"),
            "http://b.example/\nhttp://a.example/\nhttp://b.example/\nhttp://a.example/\n");
        const QStringList asFound = {"http://b.example/", "http://a.example/", "http://b.example/",
                                     "http://a.example/"};
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        Scan(*form);
        auto* undo = Find<QAction>(*form, "ShowAllFindings1");
        auto* view = Find<QTableView>(*form, "ListView1");
        QVERIFY(!undo->isEnabled());
        for (const char* how : {"ctrl+z", "menu"}) {
            QTest::mouseClick(Find<QPushButton>(*form, "ButtonRemoveDuplicates"), Qt::LeftButton);
            QCOMPARE(RowsShown(*form), QStringList({"http://a.example/", "http://b.example/"}));
            QVERIFY(undo->isEnabled());
            if (QByteArray(how) == "menu") {
                undo->trigger();
            } else {
                view->setFocus();
                QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
            }
            QCOMPARE(RowsShown(*form), asFound);
            QCOMPARE(Label(*form), QStringLiteral("URLs: 4"));
            QCOMPARE(Status(*form, 1), QStringLiteral("Total URLs: 4"));
            QVERIFY(!undo->isEnabled());
        }
    }

    // Masks: several patterns separated by ';', and a mask that matches no
    // file says so when the scan ends.
    void masksOfSeveralPatternsAndAMaskThatMatchesNothing() {
        const QString dir = Root() + QStringLiteral("masks/");
        QDir().mkpath(dir);
        WriteAllNative(QFile::encodeName(dir + "a.txt"), "http://text.example/\n");
        WriteAllNative(QFile::encodeName(dir + "b.log"), "http://log.example/\n");
        WriteAllNative(QFile::encodeName(dir + "c.csv"), "http://csv.example/\n");
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        auto* mask = Find<QLineEdit>(*form, "Edit1");

        mask->setText(QStringLiteral("*.txt; *.LOG"));
        Scan(*form);
        QStringList rows = RowsShown(*form);
        rows.sort();
        QCOMPARE(rows, QStringList({"http://log.example/", "http://text.example/"}));
        QVERIFY2(!Status(*form, 2).contains(QStringLiteral("No file")),
                 qPrintable(Status(*form, 2)));

        mask->setText(QStringLiteral("*.xyz"));
        Scan(*form);
        QCOMPARE(Status(*form, 0), QStringLiteral("Total Files: 0"));
        QVERIFY2(
            Status(*form, 2).endsWith(QStringLiteral(" \u00b7 No file matches the mask *.xyz")),
            qPrintable(Status(*form, 2)));
        QCOMPARE(dialogs_, QStringList());
    }

    // Copy of a files-list entry whose name is not UTF-8: the MIME data holds
    // its bytes as a file:// URL, and the text, pasted into a shell, names
    // the file (here: bash reads it back).
    void aCopiedNameThatIsNotUtf8NamesTheFile() {
        const QByteArray path = QFile::encodeName(Root()) + "it's latin1-\xE9t\xE9.txt";
        WriteAllNative(path, "the contents\n");
        auto form = MakeForm();
        form->Files().Append(corvexa::platform::PathFromNative(path.toStdString()));
        Find<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
        auto* files = Find<QListView>(*form, "ListBox1");
        qobject_cast<corvexa::ui::FilesModel*>(files->model())->Refresh();
        files->setCurrentIndex(files->model()->index(0, 0));
        Find<QAction>(*form, "Copy2")->trigger();

        const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
        QVERIFY(copied);
        QCOMPARE(copied->urls().size(), 1);
        const QByteArray url = copied->urls().first().toEncoded();
        QVERIFY2(url.startsWith("file:///"), url.constData());
        QCOMPARE(QByteArray::fromPercentEncoding(url.mid(7)), path);

        // Dragging the entry carries the same data.
        std::unique_ptr<QMimeData> dragged(files->model()->mimeData({files->model()->index(0, 0)}));
        QVERIFY(files->model()->flags(files->model()->index(0, 0)) & Qt::ItemIsDragEnabled);
        QCOMPARE(dragged->urls(), copied->urls());
        QCOMPARE(dragged->text(), copied->text());

        QProcess shell;
        shell.start(QStringLiteral("/bin/bash"),
                    {QStringLiteral("-c"), QStringLiteral("cat -- ") + copied->text()});
        QVERIFY(shell.waitForFinished(60000));
        QCOMPARE(shell.readAllStandardOutput(), QByteArray("the contents\n"));
        QCOMPARE(shell.exitCode(), 0);
    }

    // The window's place, size and splitter, and the last folders scanned,
    // come back at the next start from the per-user store.
    void theWindowRemembersItsPlaceAndTheLastFolders() {
        const QString one = SixFiles();
        const QString two = Root() + QStringLiteral("two/");
        QDir().mkpath(two);
        QByteArray splitterState;
        QRect geometry;
        {
            auto form = MakeForm();
            form->setGeometry(QRect(40, 50, 900, 600));
            Find<QSplitter>(*form, "Splitter2")->setSizes({250, 600});
            splitterState = Find<QSplitter>(*form, "Splitter2")->saveState();
            geometry = form->geometry();
            for (const QString& folder : {one, two, one}) {
                Find<QLineEdit>(*form, "Edit8")->setText(folder);
                Scan(*form);
            }
            form->close();
        }
        // Not in settings.ini (an absent file reads as empty).
        QVERIFY(
            !corvexa::test::ReadAll(window_->env.ExecutableFolder + QStringLiteral("settings.ini"))
                 .contains("Geometry"));
        auto form = MakeForm();
        QCOMPARE(form->geometry().size(), geometry.size());
        QCOMPARE(Find<QSplitter>(*form, "Splitter2")->saveState(), splitterState);
        QStringList offered;
        form->SetRecentMenuHookForTesting([&offered](QMenu& menu) {
            for (QAction* a : menu.actions()) offered << a->text();
            menu.actions().last()->trigger();
        });
        Find<QAction>(*form, "RecentFolders1")->trigger();
        QCOMPARE(offered, QStringList({one, two}));
        QCOMPARE(Find<QLineEdit>(*form, "Edit8")->text(), two);
    }

    // STOP half-way: the end of the scan says how far it came.
    void aStoppedScanSaysHowFarItCame() {
        const QString dir = SixFiles();
        auto form = MakeForm();
        FileGate gate(4);
        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        StartHeld(*form, dir, gate);
        Start(*form);  // STOP
        QCOMPARE(form->State(), TAppForm::ScanState::Stopping);
        gate.Release();
        WaitForEnd(*form, done);
        const QString said = Status(*form, 2);
        QVERIFY2(said.startsWith(QStringLiteral("Elapsed Time: ")), qPrintable(said));
        QVERIFY2(said.endsWith(QStringLiteral(" \u00b7 Stopped: 4 of 6 files read")),
                 qPrintable(said));
    }
};

QTEST_MAIN(WindowScanTest)
#include "window_scan_qtest.moc"
