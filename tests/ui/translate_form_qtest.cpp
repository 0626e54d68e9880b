// The language window, driven offscreen over real language files: its list and
// flags, the translators, OK with and without a change, the restart script and a
// run of it with a path built to break out of its quoting.

#include <sys/stat.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>

#include "i18n/language.h"
#include "i18n/translated_dialog.h"
#include "platform/desktop.h"
#include "support/window_test_support.h"
#include "ui/app_form.h"
#include "ui/dialogs.h"
#include "ui/language_flags.h"
#include "ui/restart_script.h"
#include "ui/translate_form.h"

using corvexa::test::Find;
using corvexa::test::ReadAll;
using corvexa::test::UrlCatcher;
using corvexa::test::WriteAll;
using corvexa::ui::TranslateFormHost;
using corvexa::ui::TTranslateForm;

namespace {

// The item as the list draws it, on white.
QImage DrawItem(QComboBox* combo, int row) {
    QStyleOptionViewItem option;
    option.initFrom(combo->view());
    option.rect = QRect(0, 0, 200, 18);
    option.font = combo->font();
    option.state &= ~QStyle::State_Selected;
    option.palette.setColor(QPalette::Base, Qt::white);
    QImage image(200, 18, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    combo->itemDelegate()->paint(&p, option, combo->model()->index(row, 0));
    p.end();
    return image.copy(0, 0, 16, 16);
}

// The picture a flag name stands for, drawn as the list draws it.
QImage FlagPicture(const QString& name) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    corvexa::ui::FlagIcon(name).paint(&p, QRect(0, 0, 16, 16));
    p.end();
    return image;
}

}  // namespace

class TranslateFormTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<corvexa::test::WindowEnvironment> window_;
    QStringList chosen_;   // what SetLanguageFile received
    int ended_ = 0;        // how often the program was ended
    QStringList started_;  // what the starter was asked to run
    QStringList asked_;    // titles of the restart questions
    QStringList boxes_;    // other dialogs: "<title>|<text>"
    QMessageBox::StandardButton answer_ = QMessageBox::No;

    QString Root() const { return window_->Root(); }
    QString ExeFolder() const { return Root() + QStringLiteral("exe/"); }
    QString DataFolder() const { return Root() + QStringLiteral("data/"); }

    void Language(const QString& file, const QByteArray& body) {
        WriteAll(ExeFolder() + QStringLiteral("Languages/") + file, body);
    }

    std::unique_ptr<TTranslateForm> MakeForm(const QString& dataFolder = {}) {
        TranslateFormHost host{dataFolder.isEmpty() ? DataFolder() : dataFolder,
                               Root() + QStringLiteral("exe/corvexa"),
                               [this](const QString& f) { chosen_ << f; }, [this] { ++ended_; }};
        auto form = std::make_unique<TTranslateForm>(host);
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get())) qWarning("window not exposed");
        return form;
    }

    static QStringList Items(QWidget& form) {
        auto* combo = Find<QComboBox>(form, "ComboBox1");
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        return items;
    }

    static QStringList Translators(QWidget& form) {
        const QString text = Find<QPlainTextEdit>(form, "RichEdit1")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }

    static void Select(QWidget& form, const QString& item) {
        auto* combo = Find<QComboBox>(form, "ComboBox1");
        combo->setCurrentIndex(combo->findText(item, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }

private slots:
    void init() {
        window_ = std::make_unique<corvexa::test::WindowEnvironment>();
        QVERIFY(window_->IsValid());
        QDir().mkpath(DataFolder());
        chosen_.clear();
        ended_ = 0;
        started_.clear();
        asked_.clear();
        boxes_.clear();
        answer_ = QMessageBox::No;
        window_->seams.ReplaceStarter([this](const QString& p) {
            started_ << p;
            return true;
        });
        window_->seams.AnswerTranslatedDialogs([this](QMessageBox* box) {
            asked_ << box->windowTitle() + QLatin1Char('|') + box->text();
            QTest::keyClick(box, answer_ == QMessageBox::Yes ? Qt::Key_Return : Qt::Key_Escape);
        });
        window_->seams.AnswerDialogs([this](QDialog* d) {
            if (auto* box = qobject_cast<QMessageBox*>(d))
                boxes_ << box->windowTitle() + '|' + box->text();
            d->reject();
        });
    }

    void cleanup() {
        corvexa::i18n::LoadLanguageFrom(QString(), QString(), 0);
        window_.reset();
    }

    void listsLanguagesSortedWithFlags_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("active");  // file name passed to LoadLanguage
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QStringList>("translators");
        const QStringList kelmare{"Kelmare"};
        QTest::newRow("no language folder") << QStringList() << QString() << QStringList{"English"}
                                            << QStringList{"flag"} << "English" << kelmare;
        QTest::newRow("German and French, none active")
            << QStringList{"German.lang.txt", "French.lang.txt"} << QString()
            << QStringList{"English", "French", "German"} << QStringList{"flag", "fr", "de"}
            << "English" << kelmare;
        QTest::newRow("German active")
            << QStringList{"German.lang.txt", "French.lang.txt"} << "German.lang.txt"
            << QStringList{"English", "French", "German"} << QStringList{"flag", "fr", "de"}
            << "German" << QStringList{"Hans Meier", "Eva Schulz"};
        QTest::newRow("Klingon gets the blank flag")
            << QStringList{"Klingon.lang.txt", "Vietnamese.lang.txt"} << QString()
            << QStringList{"English", "Klingon", "Vietnamese"} << QStringList{"flag", "xx", "vi"}
            << "English" << kelmare;
        QTest::newRow("a second English") << QStringList{"English.lang.txt"} << "English.lang.txt"
                                          << QStringList{"English", "English"}
                                          << QStringList{"flag", "flag"} << "English" << kelmare;
    }

    void listsLanguagesSortedWithFlags() {
        QFETCH(QStringList, files);
        QFETCH(QString, active);
        QFETCH(QStringList, items);
        QFETCH(QStringList, flags);
        QFETCH(QString, selected);
        QFETCH(QStringList, translators);
        for (const QString& f : files)
            Language(
                f,
                "\xEF\xBB\xBF{INFO:Translated By}Hans Meier, Eva Schulz\r\n{Language}Sprache\r\n");
        corvexa::i18n::LoadLanguageFrom(ExeFolder(), active, 0);
        auto form = MakeForm();
        QCOMPARE(Items(*form), items);
        auto* combo = Find<QComboBox>(*form, "ComboBox1");
        QCOMPARE(combo->currentText(), selected);
        QCOMPARE(Translators(*form), translators);
        for (int i = 0; i < combo->count(); ++i) {
            QCOMPARE(corvexa::ui::FlagImageName(combo->itemText(i)), flags[i]);
            QVERIFY2(DrawItem(combo, i) == FlagPicture(flags[i]), qPrintable(flags[i]));
        }
        // Every English item lists the maker.
        for (int i = 0; i < combo->count(); ++i) {
            if (combo->itemText(i) != QLatin1String("English")) continue;
            combo->setCurrentIndex(i);
            QCOMPARE(Translators(*form), QStringList{"Kelmare"});
        }
    }

    void flagsAreDistinctPictures() {
        // A missing or misnamed resource would draw nothing: each name its own picture.
        QList<QImage> seen;
        for (const char* name : {"xx", "flag", "de", "fr", "tr", "al", "sa", "bg", "cn", "tw", "cz",
                                 "nl", "fi",   "gr", "il", "hu", "it", "jp", "kr", "ir", "pl", "br",
                                 "pt", "ru",   "si", "es", "se", "ua", "vi", "sk", "us"}) {
            const QImage picture = FlagPicture(QString::fromLatin1(name));
            QVERIFY2(!seen.contains(picture), name);
            seen << picture;
        }
    }

    void showsTheTranslatorsOfTheSelectedLanguage_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("translators");
        QTest::newRow("commas without spaces")
            << QByteArray("{INFO:Translated By}Ann,Bo,Cy\r\n") << QStringList{"Ann", "Bo", "Cy"};
        QTest::newRow("spaces and tabs around names")
            << QByteArray("{INFO:Translated By}  Ann Lee ,\tBo,   Cy  \r\n")
            << QStringList{"Ann Lee", "Bo", "Cy"};
        QTest::newRow("an empty piece is a line too")
            << QByteArray("{INFO:Translated By}Ann,,Cy\n") << QStringList{"Ann", "", "Cy"};
        QTest::newRow("empty Translated By")
            << QByteArray("{Language}Sprache\r\n{INFO:Translated By}\r\n") << QStringList();
        QTest::newRow("no Translated By line")
            << QByteArray("{Language}Sprache\r\n") << QStringList{"INFO:Translated By"};
    }

    void showsTheTranslatorsOfTheSelectedLanguage() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, translators);
        Language(QStringLiteral("German.lang.txt"), file);
        corvexa::i18n::LoadLanguageFrom(ExeFolder(), QString(), 0);
        auto form = MakeForm();
        Select(*form, QStringLiteral("German"));
        QCOMPARE(Translators(*form), translators);
        Select(*form, QStringLiteral("English"));
        QCOMPARE(Translators(*form), QStringList{"Kelmare"});
    }

    void textsAreTranslated() {
        Language(QStringLiteral("German.lang.txt"),
                 "{Language}Sprache\r\n{User Interface Language:}Sprache der Oberfl\xC3\xA4"
                 "che:\r\n"
                 "{Translated by:}\xC3\x9C"
                 "bersetzt von:\r\n{OK}Gut\r\n{Contribute to Translation}Mithelfen\r\n"
                 "{Copy}Kopieren\r\n{Select All}Alles markieren\r\n");
        corvexa::i18n::LoadLanguageFrom(ExeFolder(), QStringLiteral("German.lang.txt"), 0);
        auto form = MakeForm();
        QCOMPARE(form->windowTitle(), QStringLiteral("Sprache"));
        QCOMPARE(Find<QLabel>(*form, "Label1")->text(),
                 QStringLiteral("Sprache der Oberfl\u00e4che:"));
        QCOMPARE(Find<QLabel>(*form, "Label2")->text(), QStringLiteral("\u00dcbersetzt von:"));
        QCOMPARE(Find<QPushButton>(*form, "Button1")->text(), QStringLiteral("Gut"));
        QCOMPARE(Find<QLabel>(*form, "Label3")->text(), QStringLiteral("Mithelfen"));
        QCOMPARE(Find<QAction>(*form, "Copy1")->text(), QStringLiteral("Kopieren"));
        QCOMPARE(Find<QAction>(*form, "SelectAll1")->text(), QStringLiteral("Alles markieren"));
        QCOMPARE(form->size(), QSize(622, 227));
    }

    void escapeClosesFromEachControl_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("list") << "ComboBox1";
        QTest::newRow("OK") << "Button1";
        QTest::newRow("translators") << "RichEdit1";
    }

    void escapeClosesFromEachControl() {
        QFETCH(QString, control);
        Language(QStringLiteral("German.lang.txt"), "{INFO:Translated By}Ann\r\n");
        corvexa::i18n::LoadLanguageFrom(ExeFolder(), QString(), 0);
        auto form = MakeForm();
        Select(*form, QStringLiteral("German"));  // a change that Escape must not act on
        QWidget* w = Find<QWidget>(*form, control.toLatin1().constData());
        w->setFocus();
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int(QDialog::Rejected));
        QVERIFY(asked_.isEmpty());
        QVERIFY(chosen_.isEmpty());
    }

    void okWithoutAChangeClosesWithoutAsking() {
        Language(QStringLiteral("German.lang.txt"), "{INFO:Translated By}Ann\r\n");
        corvexa::i18n::LoadLanguageFrom(ExeFolder(), QStringLiteral("German.lang.txt"), 0);
        auto form = MakeForm();
        Select(*form, QStringLiteral("English"));
        Select(*form, QStringLiteral("German"));  // back to where it opened
        QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
        QVERIFY(!form->isVisible());
        QVERIFY(asked_.isEmpty());
        QVERIFY(chosen_.isEmpty());
        QCOMPARE(ended_, 0);
        QVERIFY(!QFile::exists(DataFolder() + "start.sh"));
    }

    void noKeepsTheWindowOpenWithTheNewChoice() {
        Language(QStringLiteral("French.lang.txt"), "{INFO:Translated By}Luc\r\n");
        corvexa::i18n::LoadLanguageFrom(ExeFolder(), QString(), 0);
        auto form = MakeForm();
        Select(*form, QStringLiteral("French"));
        answer_ = QMessageBox::No;
        QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
        QCOMPARE(asked_, QStringList{"Confirmation|Restart Application?"});
        QVERIFY(form->isVisible());
        QCOMPARE(Find<QComboBox>(*form, "ComboBox1")->currentText(), QStringLiteral("French"));
        QVERIFY(chosen_.isEmpty());
        QVERIFY(started_.isEmpty());
        QCOMPARE(ended_, 0);
        QVERIFY(!QFile::exists(DataFolder() + "start.sh"));
    }

    void yesKeepsTheChoiceWritesTheScriptAndEnds() {
        Language(QStringLiteral("French.lang.txt"),
                 "{Restart Application?}Red\xC3\xA9marrer ?\r\n{Confirmation}Confirmer\r\n");
        corvexa::i18n::LoadLanguageFrom(ExeFolder(), QStringLiteral("French.lang.txt"), 0);
        WriteAll(DataFolder() + "start.sh",
                 "an older script, longer than the new one ...........................\n");
        auto form = MakeForm();
        Select(*form, QStringLiteral("English"));
        answer_ = QMessageBox::Yes;
        QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
        QCOMPARE(asked_, QStringList{"Confirmer|Red\u00e9marrer ?"});
        QCOMPARE(chosen_, QStringList{"English.lang.txt"});
        const QString script = DataFolder() + "start.sh";
        QCOMPARE(started_, QStringList{script});
        QCOMPARE(ended_, 1);
        QVERIFY(!form->isVisible());
        QCOMPARE(ReadAll(script), corvexa::ui::RestartScriptText(Root() + "exe/corvexa", {10, 0}));
        QVERIFY(QFileInfo(script).permissions() & QFileDevice::ExeOwner);
    }

    void aScriptThatCannotBeWrittenIsAnErrorAndNothingEnds() {
        Language(QStringLiteral("French.lang.txt"), "{INFO:Translated By}Luc\r\n");
        corvexa::i18n::LoadLanguageFrom(ExeFolder(), QString(), 0);
        QDir().mkpath(DataFolder() + "start.sh");  // a folder where the script goes
        auto form = MakeForm();
        Select(*form, QStringLiteral("French"));
        answer_ = QMessageBox::Yes;
        QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
        QCOMPARE(boxes_.size(), 1);
        QVERIFY2(boxes_[0].contains(DataFolder() + "start.sh"), qPrintable(boxes_[0]));
        QVERIFY(started_.isEmpty());
        QCOMPARE(ended_, 0);
        QVERIFY(form->isVisible());
    }

    void scriptText_data() {
        QTest::addColumn<int>("major");
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QByteArray>("text");
        const QByteArray head =
            "#!/bin/sh\n# This file was created automatically to restart the program.\n"
            "# It is safe to delete this file.\n";
        QTest::newRow("current system") << 10 << "/opt/Corvexa App/corvexa"
                                        << head + "sleep 1\nexec '/opt/Corvexa App/corvexa'\n";
        QTest::newRow("major version 5: no wait")
            << 5 << "/opt/corvexa" << head + "exec '/opt/corvexa'\n";
        QTest::newRow("quotes") << 6 << "/o'pt/it's"
                                << head + "sleep 1\nexec '/o'\\''pt/it'\\''s'\n";
        QTest::newRow("non-ASCII in UTF-8") << 6 << "/opt/\u00fcber/corvexa"
                                            << head +
                                                   "sleep 1\nexec '/opt/\xC3\xBC"
                                                   "ber/corvexa'\n";
    }

    void scriptText() {
        QFETCH(int, major);
        QFETCH(QString, exe);
        QFETCH(QByteArray, text);
        QCOMPARE(corvexa::ui::RestartScriptText(exe, {major, 0}), text);
    }

    // A link planted under the script's name is replaced, and the file it
    // leads to keeps its content.
    void aLinkNamedLikeTheScriptIsReplacedNotFollowed() {
        QVERIFY(QDir().mkpath(DataFolder()));
        const QString victim = Root() + QStringLiteral("victim");
        WriteAll(victim, "keep\n");
        QVERIFY(QFile::link(victim, DataFolder() + "start.sh"));
        const QString script =
            corvexa::ui::WriteRestartScript(DataFolder(), Root() + "exe/corvexa");
        QCOMPARE(script, DataFolder() + "start.sh");
        QCOMPARE(ReadAll(victim), QByteArray("keep\n"));
        QVERIFY(!QFileInfo(script).isSymLink());
        QCOMPARE(ReadAll(script),
                 corvexa::ui::RestartScriptText(Root() + "exe/corvexa",
                                                corvexa::platform::CurrentWindowsVersion()));
        struct stat st {};
        QVERIFY(::lstat(QFile::encodeName(script).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, 0700u);
    }

    // The script starts exactly the executable it names, whatever its path holds.
    void theScriptStartsAHostilePath() {
        const QString folder =
            Root() + QStringLiteral("we ird '\"$HOME `touch bq` $(touch dollar) \\ *\nline/");
        QVERIFY(QDir().mkpath(folder));
        const QString exe = folder + QStringLiteral("stand in");
        const QString marker = Root() + QStringLiteral("ran.txt");
        WriteAll(exe, "#!/bin/sh\necho \"ran $#\" > '" + marker.toUtf8() + "'\n");
        QVERIFY(QFile::setPermissions(
            exe, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        const QString script = corvexa::ui::WriteRestartScript(DataFolder(), exe);

        QProcess run;  // as the desktop starts it: the file itself, run by its first line
        run.setWorkingDirectory(Root());
        run.start(script, {});
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(ReadAll(marker), QByteArray("ran 0\n"));
        QVERIFY(!QFile::exists(Root() + "bq"));
        QVERIFY(!QFile::exists(Root() + "dollar"));
    }

    void linkOpensTheTranslationPage() {
        qputenv("CORVEXA_MAKER_HOST", "127.0.0.1:9");
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        auto form = MakeForm();
        QCOMPARE(Find<QLabel>(*form, "Label3")->toolTip(),
                 QStringLiteral("https://127.0.0.1:9/translation/"));
        QTest::mouseClick(Find<QLabel>(*form, "Label3"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        qunsetenv("CORVEXA_MAKER_HOST");
        QCOMPARE(catcher.urls,
                 QList<QUrl>({QUrl(QStringLiteral("https://127.0.0.1:9/translation/"))}));
    }

    void selectAllAndCopyTakeTheTranslators() {
        Language(QStringLiteral("German.lang.txt"), "{INFO:Translated By}Ann, Bo\r\n");
        corvexa::i18n::LoadLanguageFrom(ExeFolder(), QStringLiteral("German.lang.txt"), 0);
        auto form = MakeForm();
        QApplication::clipboard()->clear();
        Find<QAction>(*form, "SelectAll1")->trigger();
        Find<QAction>(*form, "Copy1")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("Ann\nBo"));
    }

    // The window over the shipped language files, its list open; saved as a
    // picture for the README when CORVEXA_SCREENSHOT_DIR names a folder.
    void screenshot() {
        const QString shipped =
            qEnvironmentVariable("CORVEXA_SOURCE_DIR") + QStringLiteral("/resources/Languages");
        QDir().mkpath(ExeFolder() + "Languages");
        for (const QString& f : QDir(shipped).entryList(QDir::Files))
            QFile::copy(shipped + '/' + f, ExeFolder() + "Languages/" + f);
        corvexa::i18n::LoadLanguageFrom(ExeFolder(), QStringLiteral("French.lang.txt"), 0);
        auto form = MakeForm();
        form->move(0, 0);
        QCOMPARE(Find<QComboBox>(*form, "ComboBox1")->count(), 11);
        Find<QComboBox>(*form, "ComboBox1")->showPopup();
        QTest::qWait(50);
        const QPixmap shot = form->screen()->grabWindow(0, 0, 0, 622, 229);
        QVERIFY(!shot.isNull());
        const QString dir = qEnvironmentVariable("CORVEXA_SCREENSHOT_DIR");
        if (!dir.isEmpty()) QVERIFY(shot.save(dir + QStringLiteral("/language-window.png")));
    }

    // The main window's "Language..." only creates and opens the window.
    void theMainWindowOpensIt() {
        corvexa::ui::TAppForm main(window_->env);
        QStringList opened;
        window_->seams.AnswerDialogs([&](QDialog* d) {
            if (qobject_cast<TTranslateForm*>(d)) opened << d->windowTitle();
            d->reject();
        });
        auto* item = main.findChild<QAction*>(QStringLiteral("Language1"));
        QVERIFY(item);
        item->trigger();
        item->trigger();
        QCOMPARE(opened, QStringList({"Language", "Language"}));
    }
};

QTEST_MAIN(TranslateFormTest)
#include "translate_form_qtest.moc"
