// The main window's lists, driven offscreen: the views of the findings,
// duplicates, export, the files list (loading, buttons, drops, names that are
// not UTF-8), copying, the filter and the splitter.

#include "ui/app_form_fixture.h"

class AppFormListsTest : public QObject, public AppFormFixture {
    Q_OBJECT

private slots:
    void init() { SetUp(); }
    void cleanup() { TearDown(); }

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
};

QTEST_MAIN(AppFormListsTest)
#include "app_form_lists_qtest.moc"
