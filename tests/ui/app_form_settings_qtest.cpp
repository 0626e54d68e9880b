// The main window's settings, driven offscreen: where the settings file goes,
// what each handler writes, how stored values are read, reset to defaults,
// the language, the folder picker's memory and the help item.

#include "ui/app_form_fixture.h"

class AppFormSettingsTest : public QObject, public AppFormFixture {
    Q_OBJECT

private slots:
    void init() { SetUp(); }
    void cleanup() { TearDown(); }

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
};

QTEST_MAIN(AppFormSettingsTest)
#include "app_form_settings_qtest.moc"
