#pragma once

// What the main window's tests share: a window environment per test, the
// window's modal dialogs answered (and logged) through its dialog seam, file
// dialogs that choose what the test asks for, and helpers that read the
// window's controls.

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

// Port 9 (discard) is closed on 127.0.0.1: every request is refused at once.
inline constexpr char kNoServer[] = "127.0.0.1:9";

// Records what the window showed in its modal dialogs and answers them.
struct DialogLog {
    QStringList texts;   // message boxes: "<title>|<text>"
    QStringList titles;  // every dialog's title
};

class AppFormFixture {
protected:
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

    // A window after a scan of one file holding the given lines.
    std::unique_ptr<TAppForm> FormWithFindings(const QByteArray& lines) {
        WriteAll(Root() + "found/f.txt", lines);
        auto form = MakeForm();
        Find<QLineEdit>(*form, "Edit8")->setText(Root() + "found");
        RunScan(*form);
        return form;
    }

    // From the test's init() and cleanup().
    void SetUp() {
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

    void TearDown() {
        if (QTest::currentTestFailed()) qWarning() << "dialogs:" << log_.texts;
        window_.reset();  // every dialog hook and platform replacement put back
    }
};
