// The main window, driven offscreen: real files, real controls, modal dialogs
// answered through the window's dialog seam. Here: scans from the window and
// its controls; app_form_lists_qtest and app_form_settings_qtest hold the
// lists and the settings.

#include "ui/app_form_fixture.h"

class AppFormTest : public QObject, public AppFormFixture {
    Q_OBJECT

private slots:
    void init() { SetUp(); }
    void cleanup() { TearDown(); }

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
