// The main window's PDF menu picks how a scan reads PDF files: a stand-in
// converter in "xpdf" beside the executable, the system's PDF library, or
// plain text; and a converter that hangs never holds the window or STOP.

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "platform/desktop.h"
#include "support/pdf_maker.h"
#include "support/stand_in.h"
#include "support/window_test_support.h"
#include "ui/app_form.h"
#include "ui/dialogs.h"

using namespace corvexa;
using namespace corvexa::ui;

class PdfMenuTest : public QObject {
    Q_OBJECT

private:
    test::WindowFixture fixture_;

    QString Root() const { return fixture_.Root(); }
    QByteArray Started() const { return QFile::encodeName(Root() + "converter-started"); }

    // The stand-in converter: writes its own finding to the output file,
    // then runs the given shell lines.
    void Converter(const QByteArray& more) {
        test::WriteStandIn(QFile::encodeName(Root() + "exe/xpdf/pdftotext").toStdString(),
                           "printf 'http://converter.example/\\n' > \"$4\"\n" + more.toStdString());
    }

    std::unique_ptr<TAppForm> FormOnPdfFolder(const char* menuItem) {
        const QString dir = Root() + "scan/";
        QDir().mkpath(dir);
        test::WritePdf((dir + "doc.pdf").toStdString(), {{"http://library.example/"}});
        auto form = std::make_unique<TAppForm>(fixture_.Env());
        form->show();
        form->findChild<QAction*>(QString::fromLatin1(menuItem))->trigger();
        form->findChild<QLineEdit*>(QStringLiteral("Edit8"))->setText(dir);
        form->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("*.pdf"));
        return form;
    }

    static QPushButton* Start(TAppForm& form) {
        return form.findChild<QPushButton*>(QStringLiteral("ButtonStart"));
    }

    // Nothing of the converter's is left in the data folder.
    QStringList LeftInDataFolder() const {
        return QDir(fixture_.Env().ExecutableFolder)
            .entryList({QStringLiteral("temp*")}, QDir::Files);
    }

private slots:
    void init() { QVERIFY(fixture_.Start()); }
    void cleanup() { fixture_.Stop(); }

    void theMenuChoosesTheReader_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("Xpdf") << "Xpdf1" << QStringList{"http://converter.example/"};
        QTest::newRow("PDFium") << "PDFium1" << QStringList{"http://library.example/"};
        QTest::newRow("plain text") << "PlainText1" << QStringList{};
    }

    void theMenuChoosesTheReader() {
        QFETCH(QString, item);
        QFETCH(QStringList, found);
        Converter("");
        auto form = FormOnPdfFolder(item.toLatin1().constData());
        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        QTest::mouseClick(Start(*form), Qt::LeftButton);
        QVERIFY(done.wait(60000));
        QStringList urls = test::FoundUrls(*form);
        // Plain bytes hold the producer's own address.
        QStringList withoutProducer;
        for (const QString& u : urls)
            if (!u.contains(QStringLiteral("cairographics"))) withoutProducer << u;
        QCOMPARE(withoutProducer, found);
        QCOMPARE(LeftInDataFolder(), QStringList());
    }

    // "Read Link Targets" (off by default) adds the URI of a link annotation
    // after the document's text.
    void theLinkTargetsItemAddsTheAnnotations_data() {
        QTest::addColumn<bool>("on");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("off by default") << false << QStringList{"http://library.example/"};
        QTest::newRow("on") << true
                            << QStringList{"http://library.example/",
                                           "https://annotated.example/offer"};
    }

    void theLinkTargetsItemAddsTheAnnotations() {
        QFETCH(bool, on);
        QFETCH(QStringList, found);
        auto form = FormOnPdfFolder("PDFium1");
        test::WritePdf((Root() + "scan/doc.pdf").toStdString(), {{"http://library.example/"}},
                       {{0, "click here", "https://annotated.example/offer"}});
        auto* item = form->findChild<QAction*>(QStringLiteral("ReadLinkTargets1"));
        QVERIFY(item && !item->isChecked());
        if (on) item->trigger();
        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        QTest::mouseClick(Start(*form), Qt::LeftButton);
        QVERIFY(done.wait(60000));
        QCOMPARE(test::FoundUrls(*form), found);
    }

    // The converter's text file is made in a folder of mode 0700 under the
    // user's runtime folder, never in the data folder, and the folder is gone
    // once the document is read.
    void theConverterWritesIntoAPrivateFolderThatGoes() {
        const QByteArray runtime = QFile::encodeName(Root() + "runtime");
        QDir().mkpath(Root() + "runtime");
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime);
        const QByteArray record = QFile::encodeName(Root() + "record");
        Converter("{ printf '%s\\n' \"$4\"; stat -c '%a' \"$(dirname \"$4\")\"; } > '" + record +
                  "'");
        auto form = FormOnPdfFolder("Xpdf1");
        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        QTest::mouseClick(Start(*form), Qt::LeftButton);
        QVERIFY(done.wait(60000));
        qputenv("XDG_RUNTIME_DIR", saved);
        QCOMPARE(test::FoundUrls(*form), QStringList{"http://converter.example/"});
        QFile f(QFile::decodeName(record));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        const QFileInfo output(lines[0]);
        QCOMPARE(QFileInfo(output.path()).path(), QFile::decodeName(runtime));
        QCOMPARE(lines[1], QStringLiteral("700"));
        QVERIFY(!QFileInfo::exists(output.path()));
        QVERIFY(!form->DataFolder().isEmpty());
        QVERIFY(!lines[0].startsWith(form->DataFolder()));
        QCOMPARE(
            QDir(QFile::decodeName(runtime)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList());
        QCOMPARE(LeftInDataFolder(), QStringList());
    }

    void stopEndsAHungConverterAndTheWindowAnswersMeanwhile() {
        Converter("touch '" + Started() + "'\nsleep 30");
        auto form = FormOnPdfFolder("Xpdf1");
        QSignalSpy done(form.get(), &TAppForm::scanCompleted);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(Start(*form), Qt::LeftButton);
        // The window keeps handling events while the converter runs.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Started()), 10000);
        QCOMPARE(form->State(), TAppForm::ScanState::Running);
        QTest::mouseClick(Start(*form), Qt::LeftButton);
        QCOMPARE(form->State(), TAppForm::ScanState::Stopping);
        QVERIFY(done.wait(20000));
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(test::FoundUrls(*form), QStringList());
        QCOMPARE(LeftInDataFolder(), QStringList());
    }

    void closingDuringAConversionEndsIt() {
        Converter("touch '" + Started() + "'\nsleep 30");
        auto form = FormOnPdfFolder("Xpdf1");
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(Start(*form), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Started()), 10000);
        form->close();
        QCOMPARE(form->State(), TAppForm::ScanState::Idle);
        form.reset();
        QCoreApplication::processEvents();
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(LeftInDataFolder(), QStringList());
    }
};

QTEST_MAIN(PdfMenuTest)
#include "pdf_menu_qtest.moc"
