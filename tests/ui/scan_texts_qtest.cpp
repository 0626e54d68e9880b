// What the status bar says of a running scan: files and bytes read, the
// totals once known, and the time left at the pace so far.

#include <QTest>
#include <optional>

#include "ui/scan_texts.h"

using Figures = corvexa::ui::ScanController::Figures;

class ScanTextsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void progressAndTimeLeft() {
        auto figures = [](qint64 listed, qint64 read, qint64 bytes, qint64 bytesListed,
                          double seconds) {
            Figures f;
            f.filesListed = listed;
            f.filesRead = read;
            f.bytesRead = bytes;
            f.bytesListed = bytesListed;
            f.seconds = seconds;
            return f;
        };
        struct Case {
            Figures f;
            bool walkDone;
            QString text;
        };
        const Case cases[] = {
            // During the walk: no totals, no estimate.
            {figures(900, 3, 2048, 4096, 5), false, "3 files, 2.0 KB read"},
            // A folder scan after the walk: by bytes (a quarter read in 10 s).
            {figures(8, 1, 1024 * 1024, 4 * 1024 * 1024, 10), true,
             "1 of 8 files, 1.0 MB of 4.0 MB read \u00b7 about 30 s left"},
            // A file list, no byte total: by files (2 of 6 in 60 s).
            {figures(6, 2, 100, 0, 60), true,
             "2 of 6 files, 100 bytes read \u00b7 about 2 min left"},
            {figures(1000, 1, 10, 0, 30), true,
             "1 of 1,000 files, 10 bytes read \u00b7 about 8 h 20 min left"},
            // Nothing read yet: no estimate.
            {figures(6, 0, 0, 500, 3), true, "0 of 6 files, 0 bytes of 500 bytes read"},
            {figures(1, 1, 5, 5, 2), true,
             "1 of 1 file, 5 bytes of 5 bytes read \u00b7 about 0 s left"},
        };
        for (const Case& c : cases) QCOMPARE(corvexa::ui::ProgressText(c.f, c.walkDone), c.text);

        // A failed file counts as done for the estimate by files.
        Figures f = figures(4, 1, 10, 0, 8);
        f.filesFailed = 1;
        QCOMPARE(corvexa::ui::SecondsLeft(f, true), std::optional<double>(8.0));
        QCOMPARE(corvexa::ui::SecondsLeft(f, false), std::nullopt);
    }
};

QTEST_MAIN(ScanTextsTest)
#include "scan_texts_qtest.moc"
