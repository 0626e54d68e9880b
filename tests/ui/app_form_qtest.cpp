// The main window, driven offscreen: real files, real controls, modal dialogs
// answered through the window's dialog seam.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QSplitterHandle>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <future>
#include <memory>

#include "engine/scan_job.h"
#include "i18n/translated_dialog.h"
#include "platform/desktop.h"
#include "platform/native_path.h"
#include "support/window_test_support.h"
#include "ui/app_form.h"
#include "ui/dialogs.h"
#include "ui/scan_controller.h"
#include "ui/test_seams.h"

using corvexa::test::Find;
using corvexa::test::ReadAll;
using corvexa::test::UrlCatcher;
using corvexa::test::WriteAll;
using corvexa::ui::AppEnvironment;
using corvexa::ui::TAppForm;

namespace {

// Port 9 (discard) is closed on 127.0.0.1: every request is refused at once.
constexpr char kNoServer[] = "127.0.0.1:9";

// Records what the window showed in its modal dialogs and answers them.
struct DialogLog {
    QStringList texts;   // message boxes: "<title>|<text>"
    QStringList titles;  // every dialog's title
};

}  // namespace

class AppFormTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<corvexa::test::WindowEnvironment> window_;
    AppEnvironment env_;  // the windows' environment, as the test may change it
    DialogLog log_;
    // What the next file dialog answers: a path to choose, or empty to cancel.
    QStringList chooseFiles_;
    // Looks at each file dialog before it is answered.
    std::function<void(QFileDialog*)> inspectFileDialog_;

    QString Root() const { return window_->Root(); }
    QString SettingsPath() const { return env_.ExecutableFolder + QStringLiteral("settings.ini"); }

    std::unique_ptr<TAppForm> MakeForm() {
        auto form = std::make_unique<TAppForm>(env_);
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get())) qWarning("window not exposed");
        return form;
    }

    static QString Status(TAppForm& form, int panel) {
        return Find<QLabel>(form, QStringLiteral("StatusPanel%1").arg(panel).toLatin1().constData())
            ->text();
    }

    // Every row's text, as the view asks its model for it.
    static QStringList Shown(QAbstractItemView* view) {
        QStringList out;
        for (int i = 0; i < view->model()->rowCount(); ++i)
            out << view->model()->index(i, 0).data().toString();
        return out;
    }
    static QStringList FilesShown(TAppForm& form) {
        return Shown(Find<QListView>(form, "ListBox1"));
    }
    static QStringList RowsShown(TAppForm& form) {
        return Shown(Find<QTableView>(form, "ListView1"));
    }

    static int SelectedRow(TAppForm& form) {
        auto* view = Find<QTableView>(form, "ListView1");
        const QModelIndexList rows = view->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }

    static void SelectRow(TAppForm& form, int row) {
        auto* view = Find<QTableView>(form, "ListView1");
        view->selectRow(row);
    }

    static void Trigger(TAppForm& form, const char* action) {
        Find<QAction>(form, action)->trigger();
    }

    // Presses START and waits for the completion.
    static void RunScan(TAppForm& form) {
        QSignalSpy done(&form, &TAppForm::scanCompleted);
        QTest::mouseClick(Find<QPushButton>(form, "ButtonStart"), Qt::LeftButton);
        if (form.State() != TAppForm::ScanState::Idle) QVERIFY(done.wait(60000));
    }

    // The scan folder's findings and host names, in the order the walk listed
    // the files (the file system's order).
    static QStringList InWalkOrder(TAppForm& form, const QStringList& ofA, const QStringList& ofB) {
        QStringList out;
        for (const QString& f : FilesShown(form))
            out += f.endsWith(QStringLiteral("a.txt")) ? ofA : ofB;
        return out;
    }
    static QStringList Urls(TAppForm& form) {
        return InWalkOrder(
            form,
            {"http://www.example.com/index.html", "bob@mail.example.org", "https://Example.com/x"},
            {"www.example.com/again"});
    }

    QString MakeScanFolder() {
        const QString dir = Root() + QStringLiteral("scan/");
        WriteAll(dir + "a.txt",
                 "see http://www.example.com/index.html and mail bob@mail.example.org\r\n"
                 "https://Example.com/x\n");
        WriteAll(dir + "sub/b.TXT", "www.example.com/again\n");
        WriteAll(dir + "c.log", "http://not-listed.example/\n");
        return dir;
    }

    // A window on its File List page whose list names one file of 4,000
    // findings `copies` times: a scan that takes a while, and the collector
    // checks the stop flag before each file.
    std::unique_ptr<TAppForm> FormWithALongFileList(int copies) {
        QByteArray body;
        for (int i = 0; i < 4000; ++i)
            body += "line http://example.com/" + QByteArray::number(i) + "\n";
        const QString file = Root() + QStringLiteral("long.txt");
        WriteAll(file, body);
        auto form = MakeForm();
        Find<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
        for (int i = 0; i < copies; ++i) form->Files().Append(file.toStdU16String());
        return form;
    }

private slots:
    void init() {
        window_ = std::make_unique<corvexa::test::WindowEnvironment>();
        QVERIFY(window_->IsValid());
        env_ = window_->env;
        // The update check a window starts after a second finds nobody listening.
        qputenv("CORVEXA_MAKER_HOST", kNoServer);
        log_ = {};
        chooseFiles_.clear();
        inspectFileDialog_ = {};
        window_->seams.AnswerDialogs([this](QDialog* d) {
            log_.titles << d->windowTitle();
            if (auto* fd = qobject_cast<QFileDialog*>(d); fd && inspectFileDialog_)
                inspectFileDialog_(fd);
            if (auto* box = qobject_cast<QMessageBox*>(d)) {
                log_.texts << box->windowTitle() + QLatin1Char('|') + box->text();
                box->accept();
                box->done(QMessageBox::Ok);
            } else if (auto* fd = qobject_cast<QFileDialog*>(d)) {
                if (chooseFiles_.isEmpty()) {
                    fd->reject();
                    return;
                }
                const QString pick = chooseFiles_.takeFirst();
                if (fd->fileMode() == QFileDialog::ExistingFiles) {
                    QStringList names;
                    for (const QString& p : pick.split(QLatin1Char(';')))
                        names << QLatin1Char('"') + p + QLatin1Char('"');
                    fd->selectFile(names.join(QLatin1Char(' ')));
                } else {
                    fd->selectFile(pick);
                }
                // Typed into the name field, as a user would.
                if (auto* edit = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                    if (fd->fileMode() != QFileDialog::ExistingFiles) edit->setText(pick);
                }
                // A question the file dialog asks itself (replace the file?)
                // is logged and answered Yes.
                QPointer<QFileDialog> guard(fd);
                QMetaObject::invokeMethod(
                    fd,
                    [this, guard] {
                        if (!guard || !guard->isVisible()) return;
                        auto* nested =
                            qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                        if (!nested) return;
                        log_.texts << QStringLiteral("asked|") + nested->text();
                        if (QAbstractButton* yes = nested->button(QMessageBox::Yes))
                            yes->click();
                        else
                            nested->reject();
                    },
                    Qt::QueuedConnection);
                static_cast<QDialog*>(fd)->accept();
            } else {
                d->reject();
            }
        });
    }

    void cleanup() {
        if (QTest::currentTestFailed()) qWarning() << "dialogs:" << log_.texts;
        window_.reset();  // every dialog hook and platform replacement put back
    }

    void firstStartWritesOnlyTheChangedKeys() {
        auto form = MakeForm();
        QCOMPARE(form->windowTitle(), QStringLiteral("KELMARE - Corvexa"));
        QCOMPARE(form->ProductTitle(), QStringLiteral("KELMARE - Corvexa"));
        QCOMPARE(form->DataFolder(), env_.ExecutableFolder);
        QCOMPARE(ReadAll(SettingsPath()), QByteArray("\xEF\xBB\xBF[Settings]\r\nFolder=") +
                                              env_.DesktopFolder.toUtf8() +
                                              "\r\nSkipLargeFiles=ON\r\n\r\n");

        QCOMPARE(Find<QLineEdit>(*form, "Edit1")->text(), QStringLiteral("*.txt"));
        QCOMPARE(Find<QLineEdit>(*form, "Edit8")->text(), env_.DesktopFolder);
        QVERIFY(Find<QCheckBox>(*form, "CheckBox1")->isChecked());
        QVERIFY(Find<QCheckBox>(*form, "CheckBox2")->isChecked());
        QCOMPARE(Find<QSpinBox>(*form, "SpinEdit1")->value(), 1024);
        QVERIFY(Find<QSpinBox>(*form, "SpinEdit1")->isEnabled());
        QVERIFY(Find<QLabel>(*form, "Label2")->isEnabled());
        for (const char* item : {"email1", "ftp1", "http1", "https1", "www1", "DecodeEMLFiles1",
                                 "DecodeExcelFiles1", "DecodeWordFiles1", "FileStream1", "Xpdf1"})
            QVERIFY2(Find<QAction>(*form, item)->isChecked(), item);
        for (const char* item : {"MemoryStream1", "PlainText1", "PDFium1", "ReadArchives1",
                                 "ReadMailboxes1", "ReadLinkTargets1"})
            QVERIFY2(!Find<QAction>(*form, item)->isChecked(), item);
        QVERIFY(Find<QAction>(*form, "UpdateNotifications1")->isChecked());
        QVERIFY(
            Find<QAction>(*form, "UpdateNotifications1")->isEnabled());  // usable before any check
        QVERIFY(!Find<QAction>(*form, "Language1")->isVisible());
        QCOMPARE(Find<QTabWidget>(*form, "PageControl1")->currentIndex(), 0);
        QVERIFY(!Find<QWidget>(*form, "Panel4")->isVisible());
        QCOMPARE(Status(*form, 0), QStringLiteral("Total Files: 0"));
        QCOMPARE(Status(*form, 1), QStringLiteral("Total URLs: 0"));
        QCOMPARE(Find<QPushButton>(*form, "ButtonStart")->text(), QStringLiteral("START"));
    }

    void settingsFromAnUnwritableExecutableFolderGoToTheRoamingFolder() {
        WriteAll(env_.ExecutableFolder + "chk.tmp", "left over");
        auto form = MakeForm();
        const QString expected = env_.RoamingFolder + QStringLiteral("/KELMARE/Corvexa/");
        QCOMPARE(form->DataFolder(), expected);
        QVERIFY(QFile::exists(expected + "settings.ini"));
        QVERIFY(!QFile::exists(SettingsPath()));
    }

    // An executable folder that anyone can write to is not where the window
    // keeps its files, however writable it is: the per-user folder is.
    void settingsBesideAWorldWritableExecutableGoToTheRoamingFolder() {
        QVERIFY(::chmod(QFile::encodeName(env_.ExecutableFolder).constData(), 01777) == 0);
        auto form = MakeForm();
        const QString expected = env_.RoamingFolder + QStringLiteral("/KELMARE/Corvexa/");
        QCOMPARE(form->DataFolder(), expected);
        QVERIFY(QFile::exists(expected + "settings.ini"));
        QVERIFY(!QFile::exists(SettingsPath()));
    }

    void scanOfAFolderEndToEnd() {
        const QString dir = MakeScanFolder();
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonStart"), Qt::LeftButton);
        QCOMPARE(Find<QPushButton>(*form, "ButtonStart")->text(), QStringLiteral("STOP"));
        QVERIFY(!Find<QWidget>(*form, "Panel6")->isEnabled());
        QVERIFY(Find<QWidget>(*form, "Panel4")->isVisible());
        QVERIFY(!Find<QPushButton>(*form, "ButtonShowURLs")->isEnabled());
        QVERIFY(done.wait(60000));

        QStringList files = FilesShown(*form);
        files.sort();
        QCOMPARE(files, QStringList({dir + "a.txt", dir + "sub/b.TXT"}));
        QCOMPARE(RowsShown(*form), Urls(*form));
        QCOMPARE(Status(*form, 0), QStringLiteral("Total Files: 2"));
        QCOMPARE(Status(*form, 1), QStringLiteral("Total URLs: 4"));
        QVERIFY2(QRegularExpression(QStringLiteral("^Elapsed Time: \\d+[.,]\\d{3} sec$"))
                     .match(Status(*form, 2))
                     .hasMatch(),
                 qPrintable(Status(*form, 2)));
        auto* start = Find<QPushButton>(*form, "ButtonStart");
        QCOMPARE(start->text(), QStringLiteral("START"));
        QVERIFY(start->isEnabled());
        QVERIFY(!start->icon().isNull());
        for (const char* b : {"ButtonShowURLs", "ButtonShowHostnames", "ButtonShowDomainNames",
                              "ButtonRemoveDuplicates"})
            QVERIFY2(Find<QPushButton>(*form, b)->isVisible(), b);
        QVERIFY(Find<QWidget>(*form, "Panel6")->isEnabled());
        QCOMPARE(form->State(), TAppForm::ScanState::Idle);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void aBlankMaskBecomesAStarAndTakesEveryFile() {
        const QString dir = MakeScanFolder();
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        Find<QLineEdit>(*form, "Edit1")->setText(QStringLiteral("   "));
        RunScan(*form);
        QCOMPARE(Find<QLineEdit>(*form, "Edit1")->text(), QStringLiteral("*"));
        QCOMPARE(FilesShown(*form).size(), 3);
    }

    void theThreeWarnings_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("detectionOff");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("scanRuns");
        QTest::newRow("blank folder") << QStringLiteral(" \t ") << false
                                      << QStringLiteral("Warning|Please enter folder!") << false;
        QTest::newRow("no detection")
            << QStringLiteral("/") << true << QStringLiteral("Warning|Please choose Detection!")
            << false;
        QTest::newRow("missing folder")
            << QStringLiteral("/no/such/folder") << false
            << QStringLiteral("Warning|Directory not found!\n\n/no/such/folder") << true;
    }

    void theThreeWarnings() {
        QFETCH(QString, folder);
        QFETCH(bool, detectionOff);
        QFETCH(QString, message);
        QFETCH(bool, scanRuns);
        auto form = MakeForm();
        form->Files().Append(u"kept");
        Find<QLineEdit>(*form, "Edit8")->setText(folder);
        if (detectionOff)
            for (const char* item : {"email1", "ftp1", "http1", "https1", "www1"})
                Trigger(*form, item);
        RunScan(*form);
        QCOMPARE(log_.texts, QStringList({message}));
        if (scanRuns) {
            QVERIFY(Find<QWidget>(*form, "Panel4")->isVisible());
            QCOMPARE(form->Files().Size(), std::size_t{0});
            QVERIFY(Status(*form, 2).startsWith(QStringLiteral("Elapsed Time: ")));
        } else {
            QVERIFY(!Find<QWidget>(*form, "Panel4")->isVisible());
            QCOMPARE(form->Files().Size(), std::size_t{1});
            QCOMPARE(Find<QPushButton>(*form, "ButtonStart")->text(), QStringLiteral("START"));
        }
    }

    void anInvalidMaskEndsTheScanWithAWarning() {
        const QString dir = MakeScanFolder();
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        Find<QLineEdit>(*form, "Edit1")->setText(QStringLiteral("*[abc"));
        RunScan(*form);
        QCOMPARE(form->State(), TAppForm::ScanState::Idle);
        QCOMPARE(log_.texts.size(), 1);
        QVERIFY2(log_.texts.first().startsWith(QStringLiteral("Warning|Invalid file mask: ")),
                 qPrintable(log_.texts.first()));
        QCOMPARE(FilesShown(*form), QStringList());
        QVERIFY(Find<QWidget>(*form, "Panel6")->isEnabled());
    }

    void filesThatCannotBeReadAreSkippedSilently() {
        WriteAll(Root() + "empty.txt", "");
        WriteAll(Root() + "binary.bin",
                 QByteArray("\x00\xFF\xFEjunk http://in.binary.example/ \x81\x00", 36));
        WriteAll(Root() + "last.txt", "mail me: last@example.org\n");
        auto form = MakeForm();
        Find<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
        for (const QString& name :
             {QStringLiteral("missing.txt"), QStringLiteral(""), QStringLiteral("empty.txt"),
              QStringLiteral("binary.bin"), QStringLiteral("last.txt")})
            form->Files().Append((Root() + name).toStdU16String());
        RunScan(*form);
        QCOMPARE(log_.texts, QStringList());
        QCOMPARE(RowsShown(*form), QStringList({"http://in.binary.example/", "last@example.org"}));
        QCOMPARE(Status(*form, 0), QStringLiteral("Total Files: 5"));
    }

    void emptyFileListCompletesAtOnce() {
        auto form = MakeForm();
        Find<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
        RunScan(*form);
        QVERIFY(QRegularExpression(QStringLiteral("^Elapsed Time: 0[.,]\\d{3} sec$"))
                    .match(Status(*form, 2))
                    .hasMatch());
        QCOMPARE(RowsShown(*form), QStringList());
    }

    void stopEndsTheScanWithTheNormalCompletion() {
        auto form = FormWithALongFileList(2000);

        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        auto* start = Find<QPushButton>(*form, "ButtonStart");
        QTest::mouseClick(start, Qt::LeftButton);
        QCOMPARE(form->State(), TAppForm::ScanState::Running);
        QTest::mouseClick(start, Qt::LeftButton);
        QCOMPARE(form->State(), TAppForm::ScanState::Stopping);
        QCOMPARE(start->text(), QStringLiteral("Stopping..."));
        QVERIFY(!start->isEnabled());
        QVERIFY(done.wait(60000));
        QCOMPARE(start->text(), QStringLiteral("START"));
        QVERIFY(start->isEnabled());
        QVERIFY(Find<QPushButton>(*form, "ButtonShowURLs")->isVisible());
        QVERIFY(Status(*form, 2).startsWith(QStringLiteral("Elapsed Time: ")));
        QVERIFY(form->Lists().Urls().Size() < std::size_t{2000} * 4000);
        QCOMPARE(form->Files().Size(), std::size_t{2000});  // file-list mode leaves the list alone
    }

    void closingDuringAScanStopsTheCollector() {
        auto form = FormWithALongFileList(5000);
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonStart"), Qt::LeftButton);
        form->close();
        QCOMPARE(form->State(), TAppForm::ScanState::Idle);
        const std::size_t found = form->Lists().Urls().Size();
        form.reset();
        QCoreApplication::processEvents();  // queued notifications must find nothing to touch
        QVERIFY(found < std::size_t{5000} * 4000);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void viewSwitchesKeepTheSelectedIndex() {
        const QString dir = MakeScanFolder();
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        RunScan(*form);
        SelectRow(*form, 2);
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonShowHostnames"), Qt::LeftButton);
        QCOMPARE(RowsShown(*form),
                 InWalkOrder(*form, {"www.example.com", "example.org", "Example.com"},
                             {"www.example.com"}));
        QCOMPARE(SelectedRow(*form), 2);
        QVERIFY(Find<QTableView>(*form, "ListView1")->hasFocus());
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonShowDomainNames"), Qt::LeftButton);
        QCOMPARE(RowsShown(*form), InWalkOrder(*form, {"example.com", "example.org", "Example.com"},
                                               {"example.com"}));
        QCOMPARE(SelectedRow(*form), 2);

        // Fewer rows after Remove Duplicates: an index past the end selects nothing.
        SelectRow(*form, 3);
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonRemoveDuplicates"), Qt::LeftButton);
        // Of "example.com" and "Example.com" the one listed first stays.
        QCOMPARE(RowsShown(*form).size(), 2);
        QCOMPARE(RowsShown(*form).value(0).toLower(), QStringLiteral("example.com"));
        QCOMPARE(RowsShown(*form).value(1), QStringLiteral("example.org"));
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonShowDomainNames"), Qt::LeftButton);
        QCOMPARE(RowsShown(*form).size(), 4);
        SelectRow(*form, 3);
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonRemoveDuplicates"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonShowURLs"), Qt::LeftButton);
        QCOMPARE(RowsShown(*form).size(), 4);
    }

    void removeDuplicatesWorksOnTheListShown_data() {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("urlsAfter");
        QTest::newRow("url") << QStringLiteral("ButtonShowURLs")
                             << QStringList({"http://Example.com/", "http://other.example.net/"})
                             << 2;
        QTest::newRow("host") << QStringLiteral("ButtonShowHostnames")
                              << QStringList({"Example.com", "other.example.net"}) << 3;
        QTest::newRow("domain") << QStringLiteral("ButtonShowDomainNames")
                                << QStringList({"Example.com", "example.net"}) << 3;
    }

    void removeDuplicatesWorksOnTheListShown() {
        QFETCH(QString, view);
        QFETCH(QStringList, rows);
        QFETCH(int, urlsAfter);
        WriteAll(Root() + "dups/a.txt",
                 "http://other.example.net/\nhttp://Example.com/\nhttp://example.COM/\n");
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(Root() + "dups");
        RunScan(*form);
        QTest::mouseClick(Find<QPushButton>(*form, view.toLatin1().constData()), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonRemoveDuplicates"), Qt::LeftButton);
        QCOMPARE(RowsShown(*form), rows);
        QCOMPARE(form->Lists().Urls().Size(), std::size_t(urlsAfter));
        if (view != QStringLiteral("ButtonShowURLs")) {
            // Rebuilding the derived list brings the duplicates back.
            QTest::mouseClick(Find<QPushButton>(*form, view.toLatin1().constData()),
                              Qt::LeftButton);
            QCOMPARE(RowsShown(*form).size(), 3);
        }
    }

    void exportWritesWhatTheViewShows() {
        const QString dir = MakeScanFolder();
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        RunScan(*form);

        // A name without an extension gets ".txt".
        chooseFiles_ << Root() + QStringLiteral("found");
        Trigger(*form, "ExportFoundURLs1");
        QCOMPARE(ReadAll(Root() + "found.txt"),
                 QByteArray("\xEF\xBB\xBF") + (Urls(*form).join("\r\n") + "\r\n").toUtf8());

        QTest::mouseClick(Find<QPushButton>(*form, "ButtonShowHostnames"), Qt::LeftButton);
        chooseFiles_ << Root() + QStringLiteral("hosts.txt");
        Trigger(*form, "ExportFoundURLs2");
        const QStringList hosts = InWalkOrder(
            *form, {"www.example.com", "example.org", "Example.com"}, {"www.example.com"});
        QCOMPARE(ReadAll(Root() + "hosts.txt"),
                 QByteArray("\xEF\xBB\xBF") + (hosts.join("\r\n") + "\r\n").toUtf8());

        chooseFiles_ << Root() + QStringLiteral("files.list");
        Trigger(*form, "ExportFoundFiles1");
        QCOMPARE(ReadAll(Root() + "files.list"),
                 QByteArray("\xEF\xBB\xBF") + (FilesShown(*form).join("\r\n") + "\r\n").toUtf8());

        // The dialog offers the last name again.
        QString offered;
        window_->seams.AnswerDialogs([&](QDialog* d) {
            auto* fd = qobject_cast<QFileDialog*>(d);
            offered = fd ? fd->selectedFiles().value(0) : QString();
            QCOMPARE(fd->nameFilters().value(0), QStringLiteral("TXT File (*.txt)"));
            QCOMPARE(fd->defaultSuffix(), QStringLiteral("txt"));
            QVERIFY(!fd->testOption(QFileDialog::DontConfirmOverwrite));
            d->reject();
        });
        Trigger(*form, "ExportFoundFiles2");
        QCOMPARE(offered, Root() + QStringLiteral("files.list"));
    }

    void exportErrorsReachTheGeneralErrorHandling() {
        auto form = MakeForm();
        chooseFiles_ << Root() + QStringLiteral("no/such/folder/out.txt");
        Trigger(*form, "ExportFoundURLs1");
        QCOMPARE(log_.texts.size(), 1);
        QVERIFY2(log_.texts.first().contains(QStringLiteral("no/such/folder/out.txt")),
                 qPrintable(log_.texts.first()));
    }

    void emptyExportIsTheMarkAlone() {
        auto form = MakeForm();
        chooseFiles_ << Root() + QStringLiteral("empty.txt");
        Trigger(*form, "ExportFoundURLs1");
        QCOMPARE(ReadAll(Root() + "empty.txt"), QByteArray("\xEF\xBB\xBF"));
    }

    void loadFileListInEveryEncoding_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("entries");
        const QStringList expected = {QStringLiteral("/data/caf\u00e9.txt"), QString(),
                                      QStringLiteral(" /data/x.txt ")};
        QTest::newRow("utf-8 with mark")
            << QByteArray("\xEF\xBB\xBF/data/caf\xC3\xA9.txt\r\n\r\n /data/x.txt \r\n") << expected;
        QByteArray utf16;
        utf16 += "\xFF\xFE";
        for (QChar c : QStringLiteral("/data/caf\u00e9.txt\n\r /data/x.txt \r")) {
            utf16 += char(c.unicode() & 0xFF);
            utf16 += char(c.unicode() >> 8);
        }
        QTest::newRow("utf-16le") << utf16 << expected;
        // Without a mark each line is decided alone: a Latin-1 name keeps its
        // bytes (the file on disk has those bytes), the other lines are UTF-8.
        QTest::newRow("no mark, one name not utf-8")
            << QByteArray("/data/caf\xE9.txt\n\n /data/x.txt ")
            << QStringList({QString::fromStdU16String(u"/data/caf\xDCE9.txt"), QString(),
                            QStringLiteral(" /data/x.txt ")});
    }

    void loadFileListInEveryEncoding() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, entries);
        WriteAll(Root() + "list.txt", bytes);
        auto form = MakeForm();
        form->Files().Append(u"replaced");
        chooseFiles_ << Root() + QStringLiteral("list.txt");
        QTest::mouseClick(Find<QPushButton>(*form, "Button5"), Qt::LeftButton);
        QCOMPARE(FilesShown(*form), entries);
    }

    void loadFileListErrorKeepsTheList() {
        // Not a regular file: reading it would wait for a writer.
        QVERIFY(::mkfifo(QFile::encodeName(Root() + "bad.txt").constData(), 0600) == 0);
        auto form = MakeForm();
        form->Files().Append(u"kept");
        chooseFiles_ << Root() + QStringLiteral("bad.txt");
        QTest::mouseClick(Find<QPushButton>(*form, "Button5"), Qt::LeftButton);
        QCOMPARE(log_.texts.size(), 1);
        QCOMPARE(form->Files().Size(), std::size_t{1});
    }

    void fileListButtonsAndPopupCommands() {
        WriteAll(Root() + "one.txt", "1");
        WriteAll(Root() + "two.txt", "2");
        auto form = MakeForm();
        chooseFiles_ << Root() + "one.txt;" + Root() + "two.txt";
        QTest::mouseClick(Find<QPushButton>(*form, "Button3"), Qt::LeftButton);
        chooseFiles_ << Root() + "one.txt";
        QTest::mouseClick(Find<QPushButton>(*form, "Button3"), Qt::LeftButton);
        QCOMPARE(FilesShown(*form),
                 QStringList({Root() + "one.txt", Root() + "two.txt", Root() + "one.txt"}));

        // Copy takes the current entry only, Remove every selected one.
        auto* list = Find<QListView>(*form, "ListBox1");
        list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::Select);
        list->selectionModel()->select(list->model()->index(2, 0), QItemSelectionModel::Select);
        list->selectionModel()->setCurrentIndex(list->model()->index(1, 0),
                                                QItemSelectionModel::Select);
        Trigger(*form, "Copy2");
        QCOMPARE(QGuiApplication::clipboard()->text(), Root() + "two.txt");
        Trigger(*form, "Remove1");
        QCOMPARE(FilesShown(*form), QStringList());

        form->Files().Append(u"x");
        QTest::mouseClick(Find<QPushButton>(*form, "Button6"), Qt::LeftButton);
        QCOMPARE(FilesShown(*form), QStringList());
    }

    void copyFromTheResultsView() {
        const QString dir = MakeScanFolder();
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        RunScan(*form);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        Trigger(*form, "Copy1");
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        SelectRow(*form, 1);
        Trigger(*form, "Copy1");
        QCOMPARE(QGuiApplication::clipboard()->text(), Urls(*form).value(1));
    }

    void dropsOfFoldersAndFiles() {
        QDir().mkpath(Root() + "f1");
        QDir().mkpath(Root() + "f2");
        WriteAll(Root() + "d.txt", "x");
        auto form = MakeForm();
        auto drop = [&](const QStringList& names) {
            QMimeData mime;
            QList<QUrl> urls;
            for (const QString& n : names) urls << QUrl::fromLocalFile(n);
            mime.setUrls(urls);
            // As the desktop delivers it: the drag enters, then drops.
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(form.get(), &enter);
            QVERIFY(enter.isAccepted());
            QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(form.get(), &event);
        };
        auto* tabs = Find<QTabWidget>(*form, "PageControl1");
        drop({Root() + "d.txt"});
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(FilesShown(*form), QStringList({Root() + "d.txt"}));
        drop({Root() + "f1", Root() + "f2"});
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(Find<QLineEdit>(*form, "Edit8")->text(), Root() + "f2");
        QVERIFY(ReadAll(SettingsPath()).contains(("Folder=" + Root() + "f2\r\n").toUtf8()));
        drop({Root() + "f1", Root() + "d.txt"});
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(Find<QLineEdit>(*form, "Edit8")->text(), Root() + "f1");
        QCOMPARE(FilesShown(*form).size(), 2);
    }

    void folderPickerStartsWhereItLastChose() {
        QDir().mkpath(Root() + "picked");
        auto form = MakeForm();
        QStringList openedIn;
        window_->seams.AnswerDialogs([&](QDialog* d) {
            auto* fd = qobject_cast<QFileDialog*>(d);
            QVERIFY(fd);
            QCOMPARE(fd->windowTitle(), QStringLiteral("Select folder:"));
            QCOMPARE(fd->labelText(QFileDialog::Accept), QStringLiteral("Select"));
            openedIn << QDir(fd->directory()).absolutePath();
            if (openedIn.size() == 1) {
                fd->selectFile(Root() + "picked");
                static_cast<QDialog*>(fd)->accept();
            } else {
                fd->reject();
            }
        });
        QTest::mouseClick(Find<QPushButton>(*form, "Button4"), Qt::LeftButton);
        QCOMPARE(Find<QLineEdit>(*form, "Edit8")->text(), Root() + "picked");
        Find<QLineEdit>(*form, "Edit8")->setText(QStringLiteral("/tmp"));
        QTest::mouseClick(Find<QPushButton>(*form, "Button4"), Qt::LeftButton);
        QCOMPARE(openedIn.value(0), QDir(env_.DesktopFolder).absolutePath());
        QCOMPARE(openedIn.value(1), QDir(Root() + "picked").absolutePath());
        QCOMPARE(Find<QLineEdit>(*form, "Edit8")->text(), QStringLiteral("/tmp"));
    }

    void everySettingsHandlerWritesTheFile_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("email") << "email1" << QString() << QByteArray("DetectEmail=OFF");
        QTest::newRow("ftp") << "ftp1" << QString() << QByteArray("DetectFtp=OFF");
        QTest::newRow("http") << "http1" << QString() << QByteArray("DetectHttp=OFF");
        QTest::newRow("https") << "https1" << QString() << QByteArray("DetectHttps=OFF");
        QTest::newRow("www") << "www1" << QString() << QByteArray("DetectWww=OFF");
        QTest::newRow("eml") << "DecodeEMLFiles1" << QString() << QByteArray("DecodeEML=OFF");
        QTest::newRow("excel") << "DecodeExcelFiles1" << QString() << QByteArray("DecodeExcel=OFF");
        QTest::newRow("word") << "DecodeWordFiles1" << QString() << QByteArray("DecodeWord=OFF");
        QTest::newRow("archives") << "ReadArchives1" << QString() << QByteArray("ReadArchives=ON");
        QTest::newRow("mailboxes")
            << "ReadMailboxes1" << QString() << QByteArray("ReadMailboxes=ON");
        QTest::newRow("link targets")
            << "ReadLinkTargets1" << QString() << QByteArray("LinkTargets=ON");
        QTest::newRow("memory") << "MemoryStream1" << QString()
                                << QByteArray("PlainTextProcessing=MemoryStream");
        QTest::newRow("file") << "FileStream1" << QString()
                              << QByteArray("PlainTextProcessing=FileStream");
        QTest::newRow("plain") << "PlainText1" << QString()
                               << QByteArray("PdfProcessing=PlainText");
        QTest::newRow("pdfium") << "PDFium1" << QString() << QByteArray("PdfProcessing=PDFium");
        QTest::newRow("xpdf") << "Xpdf1" << QString() << QByteArray("PdfProcessing=Xpdf");
        QTest::newRow("subfolders")
            << "CheckBox1" << QString() << QByteArray("IncludeSubfolders=OFF");
        QTest::newRow("skip") << "CheckBox2" << QString() << QByteArray("SkipLargeFiles=OFF");
        QTest::newRow("size") << "SpinEdit1"
                              << "77" << QByteArray("SkipLargeFilesMB=77");
        QTest::newRow("size letters") << "SpinEdit1"
                                      << "abc" << QByteArray("SkipLargeFilesMB=0");
        QTest::newRow("mask") << "Edit1"
                              << "*.htm" << QByteArray("FileMask=*.htm");
        QTest::newRow("folder") << "Edit8"
                                << "/srv/data" << QByteArray("Folder=/srv/data");
    }

    void everySettingsHandlerWritesTheFile() {
        QFETCH(QString, control);
        QFETCH(QString, input);
        QFETCH(QByteArray, line);
        auto form = MakeForm();
        QObject* target = form->findChild<QObject*>(control);
        QVERIFY(target);
        if (auto* action = qobject_cast<QAction*>(target)) {
            action->trigger();
        } else if (auto* box = qobject_cast<QCheckBox*>(target)) {
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
        } else if (auto* spin = qobject_cast<QSpinBox*>(target)) {
            spin->setFocus();
            spin->selectAll();
            QTest::keyClicks(spin, input);
        } else if (auto* edit = qobject_cast<QLineEdit*>(target)) {
            edit->selectAll();
            QTest::keyClicks(edit, input);
        }
        const QByteArray file = ReadAll(SettingsPath());
        QVERIFY2(file.contains("\r\n" + line + "\r\n"), file.constData());
        QVERIFY(file.startsWith("\xEF\xBB\xBF[Settings]\r\n"));
        QVERIFY(file.endsWith("\r\n\r\n"));

        // The next start shows what was stored.
        form.reset();
        auto again = MakeForm();
        const QByteArray before = ReadAll(SettingsPath());
        QCOMPARE(ReadAll(SettingsPath()), before);
        if (auto* action = again->findChild<QAction*>(control)) {
            const bool expectOn = !line.endsWith("=OFF");
            QCOMPARE(action->isChecked(), expectOn);
        }
        if (control == QStringLiteral("CheckBox2"))
            QVERIFY(!Find<QSpinBox>(*again, "SpinEdit1")->isEnabled());
        if (control == QStringLiteral("SpinEdit1"))
            QCOMPARE(Find<QSpinBox>(*again, "SpinEdit1")->value(), input == "77" ? 77 : 0);
    }

    void storedValuesFollowTheReadingRules() {
        WriteAll(SettingsPath(),
                 "\xEF\xBB\xBF[Settings]\r\nDetectHttp=off\r\nDetectFtp=OFF\r\nFolder=\r\n"
                 "SkipLargeFilesMB=abc\r\nPdfProcessing=PlainText\r\nPlainTextProcessing="
                 "memorystream\r\n"
                 "SkipLargeFiles=OFF\r\n\r\n");
        auto form = MakeForm();
        QVERIFY(Find<QAction>(*form, "http1")->isChecked());
        QVERIFY(!Find<QAction>(*form, "ftp1")->isChecked());
        QCOMPARE(Find<QLineEdit>(*form, "Edit8")->text(), QString());
        QCOMPARE(Find<QSpinBox>(*form, "SpinEdit1")->value(), 1024);
        QVERIFY(!Find<QSpinBox>(*form, "SpinEdit1")->isEnabled());
        QVERIFY(Find<QAction>(*form, "PlainText1")->isChecked());
        QVERIFY(Find<QAction>(*form, "FileStream1")->isChecked());
    }

    void undecodableSettingsFileIsDeletedAndDefaultsApply() {
        WriteAll(SettingsPath(),
                 "[Settings]\r\nFolder=C:\\Dokumente\\\xE4rger\r\nDetectEmail=OFF\r\n");
        auto form = MakeForm();
        QVERIFY(Find<QAction>(*form, "email1")->isChecked());
        QCOMPARE(Find<QLineEdit>(*form, "Edit8")->text(), env_.DesktopFolder);
        QCOMPARE(ReadAll(SettingsPath()), QByteArray("\xEF\xBB\xBF[Settings]\r\nFolder=") +
                                              env_.DesktopFolder.toUtf8() +
                                              "\r\nSkipLargeFiles=ON\r\n\r\n");
    }

    void olderSystemsGetPlainTextPdfProcessing() {
        WriteAll(SettingsPath(), "\xEF\xBB\xBF[Settings]\r\nPdfProcessing=PDFium\r\n\r\n");
        window_->seams.SetWindowsVersion({6, 0});
        auto form = MakeForm();
        QVERIFY(Find<QAction>(*form, "PlainText1")->isChecked());
        QVERIFY(!Find<QAction>(*form, "Xpdf1")->isEnabled());
        QVERIFY(!Find<QAction>(*form, "PDFium1")->isEnabled());
        QCOMPARE(Find<QAction>(*form, "Xpdf1")->text(),
                 QStringLiteral("Xpdf (Windows 7 or later)"));
        QCOMPARE(Find<QAction>(*form, "PDFium1")->text(),
                 QStringLiteral("PDFium (Windows 7 or later)"));
        QVERIFY(ReadAll(SettingsPath()).contains("PdfProcessing=PDFium\r\n"));

        window_->seams.SetWindowsVersion({6, 1});
        auto seven = MakeForm();
        QVERIFY(Find<QAction>(*seven, "PDFium1")->isChecked());
        QVERIFY(Find<QAction>(*seven, "Xpdf1")->isEnabled());
    }

    void resetToDefaults_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("restarts");
        QTest::newRow("no") << int(Qt::Key_Escape) << false;
        QTest::newRow("yes") << int(Qt::Key_Return) << true;
    }

    void resetToDefaults() {
        QFETCH(int, key);
        QFETCH(bool, restarts);
        auto form = MakeForm();
        Trigger(*form, "email1");
        const QByteArray before = ReadAll(SettingsPath());
        QStringList started;
        window_->seams.ReplaceStarter([&](const QString& p) {
            started << p;
            return true;
        });
        QString title;
        window_->seams.AnswerTranslatedDialogs([&](QMessageBox* box) {
            title = box->windowTitle();
            QTest::keyClick(box, Qt::Key(key));
        });
        Trigger(*form, "ResettoDefaults1");
        QCOMPARE(title, QStringLiteral("Confirmation"));
        if (restarts) {
            QVERIFY(!QFile::exists(SettingsPath()));
            QCOMPARE(started, QStringList({env_.ExecutablePath}));
            QVERIFY(!form->isVisible());
            // Ending the instance writes nothing.
            Find<QLineEdit>(*form, "Edit1")->setText(QStringLiteral("*.zzz"));
            QVERIFY(!QFile::exists(SettingsPath()));
        } else {
            QCOMPARE(ReadAll(SettingsPath()), before);
            QVERIFY(started.isEmpty());
            QVERIFY(form->isVisible());
        }
    }

    void aChosenLanguageShowsAfterTheRestart() {
        WriteAll(env_.ExecutableFolder + "Languages/German.lang.txt",
                 "\xEF\xBB\xBF{Confirmation}Best\xC3\xA4tigung\r\n{Restart Application?}"
                 "Anwendung neu starten?\r\n{Yes}Ja\r\n{No}Nein\r\n");
        auto form = MakeForm();
        form->SetLanguageFile(QStringLiteral("German.lang.txt"));
        form.reset();

        auto again = MakeForm();
        QString title, text;
        QStringList captions;
        window_->seams.AnswerTranslatedDialogs([&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            for (QAbstractButton* b : box->buttons()) captions << b->text();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        Trigger(*again, "ResettoDefaults1");
        QCOMPARE(title, QStringLiteral("Best\u00e4tigung"));
        QCOMPARE(text, QStringLiteral("Anwendung neu starten?"));
        captions.sort();
        QCOMPARE(captions, QStringList({"Ja", "Nein"}));

        // English.lang.txt, which has no file, brings English back.
        again->SetLanguageFile(QStringLiteral("English.lang.txt"));
        again.reset();
        auto english = MakeForm();
        Trigger(*english, "ResettoDefaults1");
        QCOMPARE(title, QStringLiteral("Confirmation"));
    }

    void onlineHelpOpensTheHelpAddress() {
        qputenv("CORVEXA_MAKER_HOST", "127.0.0.1:9");
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        auto form = MakeForm();
        QTest::keyClick(Find<QLineEdit>(*form, "Edit1"), Qt::Key_F1);
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        qputenv("CORVEXA_MAKER_HOST", kNoServer);
        QCOMPARE(catcher.urls,
                 QList<QUrl>({QUrl(QStringLiteral("https://127.0.0.1:9/help/corvexa/"))}));
    }

    void countersUseThousandsSeparators() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        auto form = MakeForm();
        QByteArray body;
        for (int i = 0; i < 12345; ++i) body += "u@example.com\n";
        WriteAll(Root() + "many/m.txt", body);
        Find<QLineEdit>(*form, "Edit8")->setText(Root() + "many");
        RunScan(*form);
        QCOMPARE(Status(*form, 1), QStringLiteral("Total URLs: 12,345"));
        QLocale::setDefault(QLocale::system());
    }
    // ---- Faults found in use -------------------------------------------------

    // A file dialog that listed a folder like /proc once froze every later
    // start: the window built its save dialog at creation, the dialog listed
    // Qt's remembered folder at once, and Qt's icon provider read the files'
    // contents to tell their type. Now no dialog exists before it is needed,
    // none starts in Qt's remembered folder, and none reads what it lists.
    void fileDialogsAreMadeWhenNeededAndNeverReadWhatTheyList() {
        const QString visited = Root() + QStringLiteral("visited");
        QDir().mkpath(visited);
        // A file whose name says nothing and whose contents say PDF.
        WriteAll(visited + "/noext", "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<<>>\nendobj\n");
        {
            // Qt now remembers the folder for the next dialog.
            QFileDialog remembered(nullptr, QString(), visited);
            QFileDialog next;
            QCOMPARE(next.directory().absolutePath(), QDir(visited).absolutePath());
        }
        auto form = MakeForm();
        QCOMPARE(form->findChildren<QFileDialog*>().size(), 0);

        QStringList seen;
        inspectFileDialog_ = [&](QFileDialog* fd) {
            seen << fd->objectName();
            QVERIFY2(fd->directory().absolutePath() != QDir(visited).absolutePath(),
                     qPrintable(fd->objectName()));
            const QString type = fd->iconProvider()->type(QFileInfo(visited + "/noext"));
            QVERIFY2(!type.contains(QStringLiteral("PDF"), Qt::CaseInsensitive), qPrintable(type));
        };
        Trigger(*form, "ExportFoundURLs1");
        QTest::mouseClick(Find<QPushButton>(*form, "Button4"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>(*form, "Button3"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>(*form, "Button5"), Qt::LeftButton);
        QCOMPARE(seen, QStringList({"SaveDialog1", "FolderPicker", "SelectFilesDialog",
                                    "LoadFileListDialog"}));
    }

    // A file name that is not UTF-8 goes out in an export of the files list as
    // its own bytes, comes back through Load File List, and the scan reads it.
    void aFilesListWithANameThatIsNotUtf8MakesTheRoundTrip() {
        const QString dir = Root() + QStringLiteral("names/");
        QDir().mkpath(dir);
        const QByteArray latin1Name = QFile::encodeName(dir) + "caf\xE9.txt";
        {
            const int fd = ::open(latin1Name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QVERIFY(fd >= 0);
            QVERIFY(::write(fd, "http://latin1.example/\n", 23) == 23);
            ::close(fd);
        }
        WriteAll(dir + QStringLiteral("na\u00efve.txt"), "http://utf8.example/\n");
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(dir);
        Find<QLineEdit>(*form, "Edit1")->setText(QStringLiteral("*"));
        RunScan(*form);
        QCOMPARE(form->Files().Size(), std::size_t{2});
        QStringList before = RowsShown(*form);
        before.sort();

        chooseFiles_ << Root() + QStringLiteral("list.txt");
        Trigger(*form, "ExportFoundFiles1");
        const QByteArray exported = ReadAll(Root() + "list.txt");
        QVERIFY(exported.contains(latin1Name + "\r\n"));
        QVERIFY(exported.contains((dir + QStringLiteral("na\u00efve.txt\r\n")).toUtf8()));

        QTest::mouseClick(Find<QPushButton>(*form, "Button6"), Qt::LeftButton);
        chooseFiles_ << Root() + QStringLiteral("list.txt");
        QTest::mouseClick(Find<QPushButton>(*form, "Button5"), Qt::LeftButton);
        QCOMPARE(log_.texts, QStringList());
        QCOMPARE(form->Files().Size(), std::size_t{2});
        Find<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
        RunScan(*form);
        QStringList after = RowsShown(*form);
        after.sort();
        QCOMPARE(after, before);
        QCOMPARE(after, QStringList({"http://latin1.example/", "http://utf8.example/"}));
    }

    // A list written by `find > list.txt`: UTF-8 without a byte-order mark.
    void aMarkLessUtf8ListIsReadAsUtf8() {
        const QString file = Root() + QStringLiteral("\u00fcber/caf\u00e9 \u65e5\u672c.txt");
        WriteAll(file, "http://found.example/\n");
        WriteAll(Root() + "list.txt", (file + QLatin1Char('\n')).toUtf8());
        auto form = MakeForm();
        chooseFiles_ << Root() + QStringLiteral("list.txt");
        QTest::mouseClick(Find<QPushButton>(*form, "Button5"), Qt::LeftButton);
        QCOMPARE(FilesShown(*form), QStringList({file}));
        Find<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
        RunScan(*form);
        QCOMPARE(RowsShown(*form), QStringList({"http://found.example/"}));
    }

    // Dragging the splitter to either edge leaves both lists readable.
    void theSplitterCollapsesNeitherList() {
        auto form = MakeForm();
        Find<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
        RunScan(*form);  // an empty list: the results panel appears
        auto* splitter = Find<QSplitter>(*form, "Splitter2");
        QSplitterHandle* handle = splitter->handle(1);
        const int width = splitter->width();
        for (int target : {-width, 2 * width}) {
            const QPoint start = handle->rect().center();
            QTest::mousePress(handle, Qt::LeftButton, {}, start);
            QTest::mouseMove(handle, start + QPoint(target, 0));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, start + QPoint(target, 0));
            splitter->setSizes({target < 0 ? 0 : width, target < 0 ? width : 0});
            const QList<int> sizes = splitter->sizes();
            QVERIFY2(sizes.value(0) >= 100 && sizes.value(1) >= 100,
                     qPrintable(QStringLiteral("%1 %2").arg(sizes.value(0)).arg(sizes.value(1))));
        }
    }

    // ---- What users reach for -----------------------------------------------

    // A window after a scan of one file holding the given lines.
    std::unique_ptr<TAppForm> FormWithFindings(const QByteArray& lines) {
        WriteAll(Root() + "found/f.txt", lines);
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(Root() + "found");
        RunScan(*form);
        return form;
    }

    void aFindingOpensOnDoubleClickOrEnter() {
        auto form = FormWithFindings(
            "http://a.example/x?y=1 www.b.example/p c@d.example ftp://e.example/f\n");
        QList<QUrl> opened;
        window_->seams.ReplaceUrlOpener([&](const QUrl& url) {
            opened << url;
            return true;
        });
        auto* view = Find<QTableView>(*form, "ListView1");
        for (int row = 0; row < 2; ++row) {
            const QRect cell = view->visualRect(view->model()->index(row, 0));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        }
        for (int row = 2; row < 4; ++row) {
            view->setFocus();
            view->setCurrentIndex(view->model()->index(row, 0));
            QTest::keyClick(view, Qt::Key_Return);
        }
        QCOMPARE(opened,
                 QList<QUrl>({QUrl("http://a.example/x?y=1"), QUrl("http://www.b.example/p"),
                              QUrl("mailto:c@d.example"), QUrl("ftp://e.example/f")}));
        // Host names open as web sites.
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonShowHostnames"), Qt::LeftButton);
        view->setCurrentIndex(view->model()->index(0, 0));
        QTest::keyClick(view, Qt::Key_Enter);
        QCOMPARE(opened.value(4), QUrl("http://a.example/"));
    }

    void manyRowsAreCopiedInListOrderAndManyFilesRemoved() {
        auto form = FormWithFindings(
            "http://1.example/\nhttp://2.example/\nhttp://3.example/\nhttp://4.example/\n");
        auto* view = Find<QTableView>(*form, "ListView1");
        auto* model = view->model();
        view->setFocus();
        view->selectionModel()->select(model->index(3, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->selectionModel()->select(model->index(1, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("http://2.example/\nhttp://4.example/"));
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        Trigger(*form, "Copy1");
        QCOMPARE(QGuiApplication::clipboard()->text(), RowsShown(*form).join(QLatin1Char('\n')));

        for (const char* name : {"one", "two", "three"}) WriteAll(Root() + name, "x");
        chooseFiles_ << Root() + "one;" + Root() + "two;" + Root() + "three";
        QTest::mouseClick(Find<QPushButton>(*form, "Button3"), Qt::LeftButton);
        QCOMPARE(form->Files().Size(), std::size_t{4});  // the scanned file, and three more
        auto* list = Find<QListView>(*form, "ListBox1");
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Home);
        QTest::keyClick(list, Qt::Key_End, Qt::ShiftModifier);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(form->Files().Size(), std::size_t{0});
    }

    void theFilterNarrowsTheViewAndCopyAndExportTakeWhatIsShown() {
        auto form = FormWithFindings(
            "http://Alpha.example/ http://beta.example/ www.ALPHABET.example/ "
            "mail@alpha.example\n");
        auto* label = Find<QLabel>(*form, "Label3");
        auto* filter = Find<QLineEdit>(*form, "FilterEdit");
        QCOMPARE(label->text(), QStringLiteral("URLs: 4"));
        QTest::keyClicks(filter, QStringLiteral("alpha"));
        QCOMPARE(RowsShown(*form), QStringList({"http://Alpha.example/", "www.ALPHABET.example/",
                                                "mail@alpha.example"}));
        QCOMPARE(label->text(), QStringLiteral("URLs: 3 of 4"));
        QTest::keyClicks(filter, QStringLiteral("B"));
        QCOMPARE(RowsShown(*form), QStringList({"www.ALPHABET.example/"}));
        QTest::keyClick(filter, Qt::Key_Backspace);
        QTest::keyClick(filter, Qt::Key_Backspace);
        QCOMPARE(RowsShown(*form).size(), 3);  // "alph" again: wider than "alpha" was

        chooseFiles_ << Root() + QStringLiteral("shown.txt");
        Trigger(*form, "ExportFoundURLs1");
        QCOMPARE(ReadAll(Root() + "shown.txt"),
                 QByteArray("\xEF\xBB\xBFhttp://Alpha.example/\r\nwww.ALPHABET.example/"
                            "\r\nmail@alpha.example\r\n"));
        auto* view = Find<QTableView>(*form, "ListView1");
        view->selectAll();
        Trigger(*form, "Copy1");
        QCOMPARE(
            QGuiApplication::clipboard()->text(),
            QStringLiteral("http://Alpha.example/\nwww.ALPHABET.example/\nmail@alpha.example"));

        // The filter holds across views; the label names the view.
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonShowHostnames"), Qt::LeftButton);
        const QStringList hosts = RowsShown(*form);
        QVERIFY(!hosts.isEmpty() && hosts.size() < 4);
        for (const QString& h : hosts)
            QVERIFY2(h.contains(QStringLiteral("alph"), Qt::CaseInsensitive), qPrintable(h));
        QCOMPARE(label->text(), QStringLiteral("Host names: %1 of 4").arg(hosts.size()));
        filter->clear();
        QCOMPARE(label->text(), QStringLiteral("Host names: 4"));
        QCOMPARE(Status(*form, 1), QStringLiteral("Total URLs: 4"));
    }

    void removeDuplicatesShowsTheTopAndKeepsTheWindowDrawing() {
        QByteArray body;
        for (int i = 0; i < 3000; ++i)
            body += "http://e.example/" + QByteArray::number(i % 1500) + "\n";
        auto form = FormWithFindings(body);
        auto* view = Find<QTableView>(*form, "ListView1");
        view->scrollToBottom();
        QVERIFY(view->verticalScrollBar()->value() > 0);
        // Work queued for the window's thread runs while duplicates are removed:
        // the worker is held until the window has run it, so the worker can
        // never be done before the window waits for it.
        bool ranMeanwhile = false;
        std::promise<void> windowRan;
        std::shared_future<void> released = windowRan.get_future().share();
        window_->seams.GateOffWindowWork(
            [released] { released.wait_for(std::chrono::seconds(60)); });
        QTimer::singleShot(0, form.get(), [&] {
            ranMeanwhile = true;
            windowRan.set_value();
        });
        QTest::mouseClick(Find<QPushButton>(*form, "ButtonRemoveDuplicates"), Qt::LeftButton);
        window_->seams.GateOffWindowWork({});
        QVERIFY(ranMeanwhile);
        QCOMPARE(view->model()->rowCount(), 1500);
        QCOMPARE(view->verticalScrollBar()->value(), 0);
        QCOMPARE(Find<QLabel>(*form, "Label3")->text(),
                 QStringLiteral("URLs: 1,500").replace(',', QLocale().groupSeparator()));
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void keyboard() {
        const QString dir = MakeScanFolder();
        auto form = MakeForm();
        // Mnemonics on the menu bar.
        QStringList titles;
        for (QAction* a : form->menuBar()->actions()) titles << a->text();
        QCOMPARE(titles, QStringList({"&File", "&Settings", "&Help"}));
        // Enter in the Directory field or the Mask field starts the scan.
        auto* edit8 = Find<QLineEdit>(*form, "Edit8");
        edit8->setText(dir);
        for (const char* field : {"Edit8", "Edit1"}) {
            QSignalSpy done(form.get(), &TAppForm::scanCompleted);
            QTest::keyClick(Find<QLineEdit>(*form, field), Qt::Key_Return);
            QVERIFY2(done.count() == 1 || done.wait(60000), field);
            QCOMPARE(RowsShown(*form), Urls(*form));
        }
        // F5 starts, and stops a running scan.
        auto longForm = FormWithALongFileList(2000);
        QSignalSpy done(longForm.get(), &TAppForm::scanCompleted);
        QTest::keyClick(longForm.get(), Qt::Key_F5);
        QCOMPARE(longForm->State(), TAppForm::ScanState::Running);
        QTest::keyClick(longForm.get(), Qt::Key_F5);
        QVERIFY(longForm->State() != TAppForm::ScanState::Running);
        QVERIFY(done.count() == 1 || done.wait(60000));
        QVERIFY(longForm->Files().Size() == 2000);
        QVERIFY(longForm->Lists().Urls().Size() < std::size_t{2000} * 4000);
    }

    void aTildeInTheFolderFieldIsTheHomeFolder() {
        WriteAll(env_.HomeFolder + "/mail/m.txt", "see www.home.example\n");
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(QStringLiteral("~/mail"));
        RunScan(*form);
        QCOMPARE(log_.texts, QStringList());
        QCOMPARE(RowsShown(*form), QStringList({"www.home.example"}));
    }

    void withoutADesktopFolderTheFolderFieldShowsTheHomeFolder() {
        QDir(env_.DesktopFolder).removeRecursively();
        auto form = MakeForm();
        QCOMPARE(Find<QLineEdit>(*form, "Edit8")->text(), env_.HomeFolder);
    }

    // The scan controller on its own, as the window drives it.
    void theScanControllerReportsItsStatesInOrder() {
        WriteAll(Root() + "c/a.txt", "http://one.example/\n");
        corvexa::ui::ScanController controller;
        corvexa::SharedList files, urls;
        QStringList events;
        using State = corvexa::ui::ScanController::State;
        connect(&controller, &corvexa::ui::ScanController::stateChanged, this, [&](State s) {
            events << (s == State::Running    ? "running"
                       : s == State::Stopping ? "stopping"
                                              : "idle");
        });
        connect(&controller, &corvexa::ui::ScanController::walkFinished, this,
                [&] { events << "walked"; });
        QSignalSpy finished(&controller, &corvexa::ui::ScanController::finished);
        corvexa::ScanInputs in;
        in.Folder = (Root() + "c").toStdU16String();
        corvexa::ScanJobResult built = corvexa::BuildScanJob(in, {});
        controller.Start(built.Job, files, urls);
        QVERIFY(finished.wait(60000));
        QCOMPARE(events, QStringList({"running", "walked", "idle"}));
        QCOMPARE(urls.Size(), std::size_t{1});
        QCOMPARE(finished.first().value(0).toBool(), false);
    }
};

QTEST_MAIN(AppFormTest)
#include "app_form_qtest.moc"
