// The README's pictures of the main window, drawn by Qt itself:
//
//   window_shots OUT_FOLDER
//
// Run it under an X server with a window manager (contrib/window_shots.sh
// starts Xvfb and openbox). It scans a small made-up folder with Found In on,
// selects an address that was found in several files, and saves the window as
// window-found-in.png; then it scans a long file list, stops the scan half-way
// and saves window-stopped-scan.png.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "support/find_child.h"
#include "ui/app_form.h"
#include "ui/list_models.h"

using corvexa::test::Find;
using corvexa::ui::TAppForm;

namespace {

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

void Save(TAppForm& form, const QString& path) {
    QTest::qWait(300);
    if (!form.grab().save(path)) qFatal("cannot save %s", qPrintable(path));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) qFatal("usage: window_shots OUT_FOLDER");
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir root;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root.path() + "/store");
    const QString mail = root.path() + "/mail/";
    QDir().mkpath(mail);
    QDir().mkpath(root.path() + "/exe");
    const char* people[] = {"ana", "ben", "chloe", "dev", "eli"};
    for (int i = 0; i < 12; ++i) {
        QByteArray body;
        for (int line = 0; line < 40; ++line) {
            if (line % 7 == i % 7) body += "Minutes: https://wiki.example.org/team/notes\n";
            if (line % 11 == 3)
                body += "Reply to " + QByteArray(people[(i + line) % 5]) + "@example.net\n";
            if (line == 20)
                body += "Release: https://downloads.example.com/v" + QByteArray::number(i) + "/\n";
            body += "text line\n";
        }
        Write(mail + QStringLiteral("message-%1.txt").arg(i + 1, 2, 10, QLatin1Char('0')), body);
    }
    corvexa::ui::AppEnvironment env;
    env.ExecutablePath = QCoreApplication::applicationFilePath();
    env.ExecutableFolder = root.path() + "/exe/";
    env.RoamingFolder = root.path();
    env.DesktopFolder = root.path();
    env.HomeFolder = root.path();
    TAppForm form(env);
    form.resize(900, 620);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) qWarning("window not exposed");
    Find<QAction>(form, "FoundIn1")->trigger();
    Find<QLineEdit>(form, "Edit8")->setText(mail);
    QSignalSpy done(&form, &TAppForm::scanCompleted);
    Find<QPushButton>(form, "ButtonStart")->click();
    if (!done.wait(60000)) qFatal("scan did not end");
    auto* view = Find<QTableView>(form, "ListView1");
    for (int i = 0; i < view->model()->rowCount(); ++i)
        if (view->model()->index(i, 0).data().toString().contains("wiki.example.org")) {
            view->selectionModel()->setCurrentIndex(
                view->model()->index(i, 0),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            break;
        }
    view->setFocus();
    Save(form, out + "/window-found-in.png");

    // A long file list, stopped after a while.
    form.Files().Clear();
    form.Files().Append((root.path() + "/gone/notes.txt").toStdU16String());
    const QString big = root.path() + "/big/";
    QDir().mkpath(big);
    QByteArray text;
    for (int line = 0; line < 20000; ++line)
        text += "see https://www.example.com/page " + QByteArray::number(line) + "\n";
    for (int i = 0; i < 400; ++i) {
        const QString path = big + QStringLiteral("part-%1.txt").arg(i);
        Write(path, text);
        form.Files().Append(path.toStdU16String());
    }
    qobject_cast<corvexa::ui::FilesModel*>(Find<QListView>(form, "ListBox1")->model())->Refresh();
    Find<QTabWidget>(form, "PageControl1")->setCurrentIndex(1);
    Find<QPushButton>(form, "ButtonStart")->click();
    while (form.Scan().Progress().filesRead < 120) QCoreApplication::processEvents();
    Find<QPushButton>(form, "ButtonStart")->click();  // STOP
    if (!done.wait(60000)) qFatal("scan did not stop");
    Save(form, out + "/window-stopped-scan.png");
    return 0;
}
