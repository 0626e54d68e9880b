// The Files Not Read window offscreen: its title counts them all and says
// when only the first ones are listed, each line is a path and its reason
// (whatever the path holds), Copy puts the list on the clipboard, Escape closes.

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "support/window_test_support.h"
#include "ui/files_not_read.h"

using corvexa::test::Find;
using corvexa::ui::FilesNotReadDialog;
using Failed = corvexa::ui::ScanController::FailedFile;

class FilesNotReadTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void listsEveryKeptFailureWithItsReason() {
        const std::vector<Failed> failures = {
            {QStringLiteral("/data/a.txt"), QStringLiteral("Permission denied")},
            {QStringLiteral("/data/<b>&amp;.txt"), QStringLiteral("no such file")},
            {QStringLiteral("/data/tab\there.txt"), QStringLiteral("vanished")},
        };
        struct Case {
            qint64 count;
            QString title;
        };
        const Case cases[] = {
            {3, QStringLiteral("3 files were not read:")},
            {12345, QStringLiteral("12,345 files were not read (the first 3 are listed):")},
        };
        for (const Case& c : cases) {
            FilesNotReadDialog dialog(failures, c.count);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QCOMPARE(Find<QLabel>(dialog, "FilesNotReadTitle")->text(), c.title);
            const QStringList lines = dialog.ListText().split(QLatin1Char('\n'));
            QCOMPARE(lines.size(), 3);
            QCOMPARE(lines[1], QStringLiteral("/data/<b>&amp;.txt\tno such file"));
            QCOMPARE(lines[2], QStringLiteral("/data/tab\there.txt\tvanished"));
            Find<QPushButton>(dialog, "FilesNotReadCopy")->click();
            QCOMPARE(QGuiApplication::clipboard()->text(), dialog.ListText());
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY(!dialog.isVisible());
        }
        FilesNotReadDialog one({failures[0]}, 1);
        QCOMPARE(Find<QLabel>(one, "FilesNotReadTitle")->text(),
                 QStringLiteral("1 file was not read:"));
    }
};

QTEST_MAIN(FilesNotReadTest)
#include "files_not_read_qtest.moc"
