// The Settings menu's switches for compressed files and archives and for
// mailboxes: off at first start, stored in settings.ini when changed, shown
// again at the next start, and a scan of the window reads inside archives and
// mailboxes only while they are on. The archive is made at test time with
// Python's zipfile.

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "engine/scan_job.h"
#include "support/window_test_support.h"
#include "ui/app_form.h"

using namespace corvexa;
using namespace corvexa::ui;

namespace {

// The message's only address in its body is base64: it shows only decoded.
constexpr char kMbox[] =
    "From someone Mon Jan  1 00:00:00 2024\n"
    "From: a@example.org\nMIME-Version: 1.0\nContent-Type: text/plain\n"
    "Content-Transfer-Encoding: base64\n\nd3JpdGUgdG8gYm94QG1ib3guZXhhbXBsZQ==\n";
// "write to box@mbox.example"

}  // namespace

class ContainerMenuTest : public QObject {
    Q_OBJECT

private:
    test::WindowFixture fixture_;

    QString Root() const { return fixture_.Root(); }
    QString SettingsPath() const {
        return fixture_.Env().ExecutableFolder + QStringLiteral("settings.ini");
    }

    static QString Item(std::size_t i) {
        const std::string_view name = kContainerSwitches[i].menuObjectName;
        return QString::fromLatin1(name.data(), qsizetype(name.size()));
    }

    QString MakeScanFolder() {
        const QString dir = Root() + "scan/";
        QDir().mkpath(dir);
        QFile box(dir + "Inbox.mbox");
        if (!box.open(QIODevice::WriteOnly)) return {};
        box.write(kMbox);
        box.close();
        // A nested tar holds one more member.
        const QByteArray cmd =
            "python3 -c 'import io, tarfile, zipfile\n"
            "t = io.BytesIO()\n"
            "with tarfile.open(fileobj=t, mode=\"w\") as tar:\n"
            "    data = b\"http://tar.example/\\n\"\n"
            "    info = tarfile.TarInfo(\"b.txt\"); info.size = len(data)\n"
            "    tar.addfile(info, io.BytesIO(data))\n"
            "with zipfile.ZipFile(\"" +
            QFile::encodeName(dir) +
            "docs.zip\", \"w\", zipfile.ZIP_DEFLATED) as z:\n"
            "    z.writestr(\"in/a.txt\", \"see http://zip.example/ \" * 20)\n"
            "    z.writestr(\"inner.tar\", t.getvalue())'";
        if (std::system(cmd.constData()) != 0) return {};
        return dir;
    }

    static QStringList Scan(TAppForm& form, const QString& dir) {
        form.findChild<QLineEdit*>(QStringLiteral("Edit8"))->setText(dir);
        form.findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("*"));
        QSignalSpy done(&form, &TAppForm::scanCompleted);
        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("ButtonStart")),
                          Qt::LeftButton);
        if (!done.wait(60000)) return {QStringLiteral("no end")};
        return test::FoundUrls(form);
    }

    static QByteArray ReadAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init() { QVERIFY(fixture_.Start()); }
    void cleanup() { fixture_.Stop(); }

    void theItemsAreInTheSettingsMenuOffAndStored() {
        for (std::size_t i = 0; i < kContainerSwitches.size(); ++i) {
            auto form = std::make_unique<TAppForm>(fixture_.Env());
            auto* settings = form->findChild<QMenu*>(QStringLiteral("Settings1"));
            QVERIFY(settings);
            QAction* item = form->findChild<QAction*>(Item(i));
            QVERIFY2(item, qPrintable(Item(i)));
            QVERIFY(settings->actions().contains(item));
            QVERIFY(item->isCheckable());
            QVERIFY(!item->isChecked());
            item->trigger();
            const std::string_view key = kContainerSwitches[i].settingsKey;
            const QByteArray line = QByteArray(key.data(), qsizetype(key.size())) + "=ON";
            const QByteArray file = ReadAll(SettingsPath());
            QVERIFY2(file.contains("\r\n" + line + "\r\n"), file.constData());
            // After the keys the file held before.
            QVERIFY(file.indexOf(line) > file.indexOf("SkipLargeFiles="));
            form.reset();
            auto again = std::make_unique<TAppForm>(fixture_.Env());
            QVERIFY(again->findChild<QAction*>(Item(i))->isChecked());
            again->findChild<QAction*>(Item(i))->trigger();
            QVERIFY(
                ReadAll(SettingsPath())
                    .contains("\r\n" + QByteArray(key.data(), qsizetype(key.size())) + "=OFF\r\n"));
        }
    }

    void theSwitchesChangeAScan() {
        const QString dir = MakeScanFolder();
        QVERIFY(!dir.isEmpty());
        auto form = std::make_unique<TAppForm>(fixture_.Env());
        form->show();
        const QStringList off = Scan(*form, dir);
        QVERIFY2(!off.contains(QStringLiteral("http://zip.example/")), qPrintable(off.join(' ')));
        QVERIFY(!off.contains(QStringLiteral("box@mbox.example")));
        for (std::size_t i = 0; i < kContainerSwitches.size(); ++i)
            form->findChild<QAction*>(Item(i))->trigger();
        const QStringList on = Scan(*form, dir);
        QVERIFY2(on.contains(QStringLiteral("http://zip.example/")), qPrintable(on.join(' ')));
        QVERIFY(on.contains(QStringLiteral("box@mbox.example")));
    }

    // The files list names each member read right after its archive, a
    // mailbox once; the count of files counts the files.
    void theFilesListShowsTheMembersRead() {
        const QString dir = MakeScanFolder();
        QVERIFY(!dir.isEmpty());
        auto form = std::make_unique<TAppForm>(fixture_.Env());
        form->show();
        for (std::size_t i = 0; i < kContainerSwitches.size(); ++i)
            form->findChild<QAction*>(Item(i))->trigger();
        const QStringList found = Scan(*form, dir);
        QVERIFY2(found.contains(QStringLiteral("http://tar.example/")),
                 qPrintable(found.join(' ')));
        auto* view = form->findChild<QListView*>(QStringLiteral("ListBox1"));
        QVERIFY(view);
        QStringList rows;
        for (int r = 0; r < view->model()->rowCount(); ++r)
            rows << view->model()->index(r, 0).data().toString().mid(dir.size());
        const QStringList zip = {QStringLiteral("docs.zip"), QStringLiteral("docs.zip//in/a.txt"),
                                 QStringLiteral("docs.zip//inner.tar"),
                                 QStringLiteral("docs.zip//inner.tar//b.txt")};
        // The walk's order of the two files is the folder's.
        const QStringList expected = rows.value(0) == QStringLiteral("Inbox.mbox")
                                         ? QStringList{QStringLiteral("Inbox.mbox")} + zip
                                         : zip + QStringList{QStringLiteral("Inbox.mbox")};
        QCOMPARE(rows, expected);
        QCOMPARE(form->Files().Size(), std::size_t(5));
        auto* status = form->findChild<QStatusBar*>();
        QVERIFY(status);
        const QStringList texts = [&] {
            QStringList out;
            for (QLabel* l : status->findChildren<QLabel*>()) out << l->text();
            return out;
        }();
        QVERIFY2(texts.contains(QStringLiteral("Total Files: 2")), qPrintable(texts.join('|')));
    }
};

QTEST_MAIN(ContainerMenuTest)
#include "container_menu_qtest.moc"
