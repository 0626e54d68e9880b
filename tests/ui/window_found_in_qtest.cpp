// Where each finding was made, in the main window offscreen: the Found In
// panel for the selected entry of each view, each place selecting its entry of
// the files list (an archive's member its own), the choice kept in the per-user
// store, the export of every finding with its file and line (the same bytes
// corvexa-scan -H -n prints), and the files a scan could not read, listed on
// demand from the status bar.

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "platform/native_path.h"
#include "support/window_test_support.h"
#include "ui/app_form.h"
#include "ui/files_not_read.h"
#include "ui/found_in_panel.h"

using corvexa::test::Find;
using corvexa::test::WriteAll;
using corvexa::ui::TAppForm;

class WindowFoundInTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<corvexa::test::WindowEnvironment> w_;

    std::unique_ptr<TAppForm> MakeForm() {
        auto form = std::make_unique<TAppForm>(w_->env);
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get())) qWarning("window not exposed");
        return form;
    }

    // Two files (one whose name is not UTF-8) sharing an address on several
    // lines, and another address once.
    QString TwoFiles() {
        const QString dir = w_->Root() + QStringLiteral("scan/");
        WriteAll(dir + QStringLiteral("a.txt"),
                 "nothing here\nsee https://same.example/ now\nhttp://other.example/x\n");
        const QByteArray latin = QFile::encodeName(dir) + "b-\xE9t\xE9.txt";
        const QByteArray body =
            "https://same.example/\n\n\nagain https://same.example/ u@same.example\n";
        const int fd = ::open(latin.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, body.constData(), static_cast<std::size_t>(body.size())) !=
                          static_cast<ssize_t>(body.size()))
            qFatal("cannot write %s", latin.constData());
        ::close(fd);
        return dir;
    }

    // The Latin-1 file's name as the window shows it.
    static QString LatinName(const QString& dir) {
        return QString::fromStdU16String(corvexa::platform::PathFromNative(
            (QFile::encodeName(dir) + "b-\xE9t\xE9.txt").toStdString()));
    }

    static void Scan(TAppForm& form, const QString& dir) {
        Find<QLineEdit>(form, "Edit8")->setText(dir);
        Find<QLineEdit>(form, "Edit1")->setText(QStringLiteral("*.txt"));
        QSignalSpy done(&form, &TAppForm::scanCompleted);
        QTest::mouseClick(Find<QPushButton>(form, "ButtonStart"), Qt::LeftButton);
        if (form.State() != TAppForm::ScanState::Idle) QVERIFY(done.wait(60000));
    }

    // Makes the row showing `text` the current one; false when none does.
    static bool Select(TAppForm& form, const QString& text) {
        auto* view = Find<QTableView>(form, "ListView1");
        for (int i = 0; i < view->model()->rowCount(); ++i)
            if (view->model()->index(i, 0).data().toString() == text) {
                view->selectionModel()->setCurrentIndex(
                    view->model()->index(i, 0),
                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                return true;
            }
        return false;
    }

    static corvexa::ui::FoundInPanel& Panel(TAppForm& form) {
        return *Find<corvexa::ui::FoundInPanel>(form, "FoundInPanel");
    }

private slots:
    void init() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        w_ = std::make_unique<corvexa::test::WindowEnvironment>();
        QVERIFY(w_->IsValid());
        w_->seams.AnswerDialogs([](QDialog* d) { d->reject(); });
    }
    void cleanup() { w_.reset(); }

    // With Settings > Found In on, the panel lists every place of the selected
    // entry, in the URL view, after Remove Duplicates, and in the host view;
    // the choice comes back at the next start from the per-user store.
    void thePanelListsEveryPlaceOfTheSelectedEntry() {
        const QString dir = TwoFiles();
        const QString latin = LatinName(dir);
        {
            auto form = MakeForm();
            QVERIFY(Panel(*form).isHidden());
            Find<QAction>(*form, "FoundIn1")->trigger();
            QVERIFY(!Panel(*form).isHidden());
            Scan(*form, dir);
            const QStringList same = {dir + QStringLiteral("a.txt:2"), latin + QStringLiteral(":1"),
                                      latin + QStringLiteral(":4")};
            struct Case {
                const char* button;  // pressed first, or null
                QString entry;
                QStringList places;  // in the order found
            };
            const Case cases[] = {
                {nullptr, QStringLiteral("https://same.example/"), same},
                {nullptr, QStringLiteral("http://other.example/x"), {dir + "a.txt:3"}},
                {nullptr, QStringLiteral("u@same.example"), {latin + ":4"}},
                {"ButtonRemoveDuplicates", QStringLiteral("https://same.example/"), same},
                {"ButtonShowHostnames", QStringLiteral("same.example"), same},
            };
            for (const Case& c : cases) {
                if (c.button) Find<QPushButton>(*form, c.button)->click();
                QVERIFY2(Select(*form, c.entry), qPrintable(c.entry));
                QStringList places = Panel(*form).Places();
                QStringList expected = c.places;
                places.sort();
                expected.sort();
                QCOMPARE(places, expected);
                QCOMPARE(Panel(*form).Title(), QStringLiteral("Found in %1 place%2:")
                                                   .arg(c.places.size())
                                                   .arg(c.places.size() == 1 ? "" : "s"));
            }
            // Editing the files list parts the findings from their files.
            Find<QPushButton>(*form, "Button6")->click();
            QVERIFY2(Panel(*form).Title().contains(QStringLiteral("START again")),
                     qPrintable(Panel(*form).Title()));
            QVERIFY(Panel(*form).Places().isEmpty());
            QVERIFY(!Find<QAction>(*form, "ExportFindingPlaces1")->isEnabled());
            form->close();
        }
        const QByteArray ini = corvexa::test::ReadAll(w_->env.ExecutableFolder + "settings.ini");
        QVERIFY(!ini.contains("FoundIn"));
        auto form = MakeForm();
        QVERIFY(Find<QAction>(*form, "FoundIn1")->isChecked());
        QVERIFY(!Panel(*form).isHidden());
    }

    // A zip (made here with Python's zipfile) holding a text and a nested tgz,
    // a mailbox and a plain file, read with archives and mailboxes on: each
    // place names the member's entry of the files list, and making it the
    // current place selects that entry; a mailbox's message selects the
    // mailbox's one entry, a plain file its own.
    void aPlaceSelectsItsEntryOfTheFilesList() {
        const QString dir = w_->Root() + QStringLiteral("scan/");
        WriteAll(dir + QStringLiteral("plain.txt"), "http://plain.example/\n");
        WriteAll(dir + QStringLiteral("box.mbox"),
                 "From someone Mon Jan  1 00:00:00 2024\nFrom: a@example.org\n\n"
                 "write to http://mail.example/\n");
        const QByteArray cmd =
            "python3 -c 'import io, tarfile, zipfile\n"
            "t = io.BytesIO()\n"
            "with tarfile.open(fileobj=t, mode=\"w:gz\") as tar:\n"
            "    data = b\"deep http://deep.example/\\n\"\n"
            "    info = tarfile.TarInfo(\"deep.txt\"); info.size = len(data)\n"
            "    tar.addfile(info, io.BytesIO(data))\n"
            "with tarfile.open(\"" +
            QFile::encodeName(dir) +
            "l.tar\", \"w\", encoding=\"latin-1\",\n"
            "        format=tarfile.GNU_FORMAT) as tar:\n"
            "    data = b\"http://latin.example/\\n\"\n"
            "    info = tarfile.TarInfo(\"b-\\xe9t\\xe9.txt\"); info.size = len(data)\n"
            "    tar.addfile(info, io.BytesIO(data))\n"
            "with zipfile.ZipFile(\"" +
            QFile::encodeName(dir) +
            "a.zip\", \"w\", zipfile.ZIP_DEFLATED) as z:\n"
            "    z.writestr(\"in/note.txt\", \"nothing\\nsee http://note.example/\\n\")\n"
            "    z.writestr(\"inner.tgz\", t.getvalue())'";
        QCOMPARE(std::system(cmd.constData()), 0);
        auto form = MakeForm();
        for (const char* item : {"FoundIn1", "ReadArchives1", "ReadMailboxes1"})
            Find<QAction>(*form, item)->trigger();
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        Find<QLineEdit>(*form, "Edit1")->setText(QStringLiteral("*"));
        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonStart"), Qt::LeftButton);
        if (form->State() != TAppForm::ScanState::Idle) QVERIFY(done.wait(60000));

        const QString latinMember =
            QStringLiteral("l.tar//") +
            QString::fromStdU16String(corvexa::platform::PathFromNative("b-\xE9t\xE9.txt"));
        auto* files = Find<QListView>(*form, "ListBox1");
        auto* places = Find<QListWidget>(*form, "FoundInList");
        struct Case {
            QString entry;     // the address selected in the results
            QString place;     // how its first place starts, after the folder
            QString selected;  // the entry of the files list it selects, after the folder
        };
        const Case cases[] = {
            {"http://note.example/", "a.zip//in/note.txt:2", "a.zip//in/note.txt"},
            {"http://deep.example/", "a.zip//inner.tgz//deep.txt:1", "a.zip//inner.tgz//deep.txt"},
            {"http://mail.example/", "box.mbox//1:", "box.mbox"},
            {"http://plain.example/", "plain.txt:1", "plain.txt"},
            // A member whose name is not UTF-8 is named as the files list names it.
            {"http://latin.example/", latinMember + ":1", latinMember},
        };
        for (const Case& c : cases) {
            QVERIFY2(Select(*form, c.entry), qPrintable(c.entry));
            const QStringList shown = Panel(*form).Places();
            QVERIFY2(!shown.isEmpty() && shown.first().startsWith(dir + c.place),
                     qPrintable(c.entry + QStringLiteral(": ") + shown.join(QLatin1Char(' '))));
            files->selectionModel()->clearSelection();
            places->setCurrentRow(-1);
            places->setCurrentRow(0);
            const QModelIndex current = files->currentIndex();
            QCOMPARE(current.data().toString(), dir + c.selected);
            QCOMPARE(files->selectionModel()->selectedRows(), QModelIndexList{current});
        }
    }

    // Off (as designed), nothing is noted: the panel is hidden, the export of
    // places is not offered, and switching it on after the scan says to scan again.
    void offNothingIsNoted() {
        auto form = MakeForm();
        QVERIFY(!Find<QAction>(*form, "FoundIn1")->isChecked());
        Scan(*form, TwoFiles());
        QVERIFY(Panel(*form).isHidden());
        QVERIFY(!Find<QAction>(*form, "ExportFindingPlaces1")->isEnabled());
        Find<QAction>(*form, "FoundIn1")->trigger();
        QVERIFY(Select(*form, QStringLiteral("https://same.example/")));
        QVERIFY2(Panel(*form).Title().contains(QStringLiteral("START again")),
                 qPrintable(Panel(*form).Title()));
    }

    // The export of findings with places holds the same bytes as
    // corvexa-scan -H -n on the same folder, and leaves no temporary file.
    void theExportIsWhatTheScannerPrints() {
        const QString dir = TwoFiles();
        auto form = MakeForm();
        Find<QAction>(*form, "FoundIn1")->trigger();
        Scan(*form, dir);
        const QString out = w_->Root() + QStringLiteral("places.tsv");
        w_->seams.AnswerDialogs([&](QDialog* d) {
            auto* fd = qobject_cast<QFileDialog*>(d);
            if (!fd) return d->reject();
            fd->selectFile(out);
            d->accept();
        });
        QAction* item = Find<QAction>(*form, "ExportFindingPlaces1");
        QVERIFY(item->isEnabled());
        item->trigger();

        QProcess scan;
        scan.start(
            QString::fromLocal8Bit(qgetenv("CORVEXA_BIN_DIR")) + QStringLiteral("/corvexa-scan"),
            {QStringLiteral("-H"), QStringLiteral("-n"), QStringLiteral("-j"), QStringLiteral("1"),
             QStringLiteral("--mask"), QStringLiteral("*.txt"), dir});
        QVERIFY(scan.waitForFinished(60000));
        const QByteArray expected = scan.readAllStandardOutput();
        QCOMPARE(scan.exitCode(), 0);
        QVERIFY(expected.contains("\xE9t\xE9.txt\t4\tu@same.example\n"));
        QCOMPARE(corvexa::test::ReadAll(out), expected);
        QVERIFY(QDir(w_->Root()).entryList({QStringLiteral(".places*")}, QDir::Hidden).isEmpty());
    }

    // A file that vanishes before it is read: the end of the scan says so,
    // and the status bar's link and File > Files Not Read... list it with
    // its reason.
    void theFilesNotReadAreListedOnDemand() {
        const QString dir = TwoFiles();
        auto form = MakeForm();
        QVERIFY(!Find<QAction>(*form, "FilesNotRead1")->isEnabled());
        const QString gone = dir + QStringLiteral("a.txt");
        w_->seams.GateScanFiles([&](const std::u16string& path) {
            if (QString::fromStdU16String(path) == gone) QFile::remove(gone);
        });
        Scan(*form, dir);
        auto* link = Find<QLabel>(*form, "NotReadLink");
        QVERIFY(link->isVisible());
        QCOMPARE(link->text().contains(QStringLiteral("1 file not read")), true);
        QStringList listed;
        w_->seams.AnswerDialogs([&](QDialog* d) {
            if (auto* list = qobject_cast<corvexa::ui::FilesNotReadDialog*>(d))
                listed = list->ListText().split(QLatin1Char('\n'));
            d->reject();
        });
        QMetaObject::invokeMethod(link, "linkActivated", Q_ARG(QString, QStringLiteral("#")));
        QCOMPARE(listed.size(), 1);
        QVERIFY2(listed.first().startsWith(gone + QLatin1Char('\t')), qPrintable(listed.first()));
        listed.clear();
        QAction* item = Find<QAction>(*form, "FilesNotRead1");
        QVERIFY(item->isEnabled());
        item->trigger();
        QCOMPARE(listed.size(), 1);
        QVERIFY(Find<QLabel>(*form, "StatusPanel2")
                    ->text()
                    .endsWith(QStringLiteral(" \u00b7 1 file could not be read")));
    }
};

QTEST_MAIN(WindowFoundInTest)
#include "window_found_in_qtest.moc"
