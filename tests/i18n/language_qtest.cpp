// Language files on disk: which one becomes active, and what the lookup answers.
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "i18n/language.h"
#include "platform/desktop.h"

using namespace corvexa::i18n;

namespace {

// A folder standing for the executable's folder. Files are given as raw bytes.
class ExeFolder {
public:
    ExeFolder() { QVERIFY(dir_.isValid()); }
    QString Path() const { return dir_.path() + QLatin1Char('/'); }
    void Write(const QString& relative, const QByteArray& bytes) const {
        const QString path = Path() + relative;
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    void MakeDir(const QString& relative) const { QVERIFY(QDir().mkpath(Path() + relative)); }

private:
    QTemporaryDir dir_;
};

QByteArray Utf16LE(const QString& text) {
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

QByteArray Utf16BE(const QString& text) {
    QByteArray bytes("\xFE\xFF", 2);
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() >> 8));
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
    }
    return bytes;
}

}  // namespace

class LanguageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void chooseLanguage_data();
    void chooseLanguage();
    void availableFilesAreFilesEndingInLangTxt();
    void unreadableChosenFileThrowsAndLeavesEnglish();
    void loadLanguageLooksBesideTheExecutable();

    void translate_data();
    void translate();
    void translationIsUsedVerbatim();
    void translateFromListDiffersOnEmptyTranslations();
    void lookupComparesLinguistically();

    void languageChoiceRoundTrip();

private:
    QTemporaryDir configDir_;
};

void LanguageTest::initTestCase() {
    // A fixed locale, so that the lookup's comparison and the ANSI code page do
    // not depend on the machine's.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qputenv("LC_ALL", "en_US.UTF-8");
    QVERIFY(configDir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir_.path());
}

void LanguageTest::cleanup() {
    LoadLanguageFrom(QString(), QString(), 1033);
}

// Each row: files below the executable's folder, the name passed, the user's
// interface language, and the file that must end up active with its name.
void LanguageTest::chooseLanguage_data() {
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QList<QByteArray>>("contents");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("uiLanguage");
    QTest::addColumn<QString>("activeFile");  // empty: English
    QTest::addColumn<QString>("activeName");

    const QByteArray de = "{OK}Gut\r\n";
    const QByteArray fr = "{OK}Bien\n";
    const QString csv = "Languages/LanguageCodes.csv";
    const QString german = "Languages/German.lang.txt";
    const QString french = "Languages/French.lang.txt";
    const QString russian = "Languages/\u0420\u0443\u0441\u0441\u043A\u0438\u0439.lang.txt";
    const QString francais = "Languages/Fran\u00E7ais.lang.txt";
    struct Row {
        const char* name;
        QList<std::pair<QString, QByteArray>> files;
        QString fileName;
        int uiLanguage;
        QString activeFile;
        QString activeName;
    };
    const Row rows[] = {
        {"no Languages folder", {}, "", 1031, "", ""},
        {"csv names the file in another case",
         {{german, de}, {csv, "1031,german.lang.txt\r\n"}},
         "",
         1031,
         "German.lang.txt",
         "German"},
        {"csv fields trimmed of spaces and control characters",
         {{german, de}, {csv, " \t1031 ,\x01 German.lang.txt \t\r\n"}},
         "",
         1031,
         "German.lang.txt",
         "German"},
        {"first matching csv line wins",
         {{german, de},
          {french, fr},
          {csv, "1036,French.lang.txt\n1031,French.lang.txt\n1031,German.lang.txt\n"}},
         "",
         1031,
         "French.lang.txt",
         "French"},
        {"identifier compared as text, exactly",
         {{german, de}, {csv, "01031,German.lang.txt\n1031x,German.lang.txt\n"}},
         "",
         1031,
         "",
         ""},
        {"csv lines without a comma are passed over",
         {{german, de}, {csv, "1031 German.lang.txt\n1031,German.lang.txt"}},
         "",
         1031,
         "German.lang.txt",
         "German"},
        {"file name is everything after the first comma",
         {{"Languages/Ger,man.lang.txt", de}, {csv, "1031,Ger,man.lang.txt\n"}},
         "",
         1031,
         "Ger,man.lang.txt",
         "Ger,man"},
        {"no line for the user's language",
         {{german, de}, {csv, "1031,German.lang.txt\n"}},
         "",
         1036,
         "",
         ""},
        {"csv names a file that is not there",
         {{german, de}, {csv, "1031,Deutsch.lang.txt\n"}},
         "",
         1031,
         "",
         ""},
        {"no csv", {{german, de}}, "", 1031, "", ""},
        {"csv in UTF-16 LE with mark",
         {{russian, de}, {csv, Utf16LE("1049," + russian.mid(10) + "\r\n")}},
         "",
         1049,
         russian.mid(10),
         russian.mid(10, 7)},
        {"csv in UTF-16 BE with mark",
         {{russian, de}, {csv, Utf16BE("1049," + russian.mid(10) + "\r\n")}},
         "",
         1049,
         russian.mid(10),
         russian.mid(10, 7)},
        {"csv in UTF-8 with mark",
         {{francais, de},
          {csv,
           "\xEF\xBB\xBF"
           "1036,Fran\xC3\xA7"
           "ais.lang.txt\n"}},
         "",
         1036,
         francais.mid(10),
         francais.mid(10, 8)},
        {"csv without a mark is ANSI",
         {{francais, de},
          {csv,
           "1036,Fran\xE7"
           "ais.lang.txt\n"}},
         "",
         1036,
         francais.mid(10),
         francais.mid(10, 8)},
        {"named file is used, user's language not consulted",
         {{german, de}, {french, fr}, {csv, "1031,German.lang.txt\n"}},
         "French.lang.txt",
         1031,
         "French.lang.txt",
         "French"},
        {"English.lang.txt named: English, user's language not consulted",
         {{german, de}, {csv, "1031,German.lang.txt\n"}},
         "English.lang.txt",
         1031,
         "",
         ""},
        {"blank name: picked from the user's language",
         {{german, de}, {csv, "1031,German.lang.txt\n"}},
         " \t",
         1031,
         "German.lang.txt",
         "German"},
        {"suffix in another case: active without a name",
         {{"Languages/German.LANG.TXT", de}},
         "German.LANG.TXT",
         1033,
         "German.LANG.TXT",
         ""},
        {"named folder is not a language file",
         {{"Languages/German.lang.txt/x", de}},
         "German.lang.txt",
         1033,
         "",
         ""},
        {"name reaching outside the language folder",
         {{"Languages/x", ""}, {"Other/German.lang.txt", de}},
         "../Other/German.lang.txt",
         1033,
         "",
         ""},
    };
    for (const Row& r : rows) {
        QStringList paths;
        QList<QByteArray> contents;
        for (const auto& [path, bytes] : r.files) {
            paths << path;
            contents << bytes;
        }
        QTest::newRow(r.name) << paths << contents << r.fileName << r.uiLanguage << r.activeFile
                              << r.activeName;
    }
}

void LanguageTest::chooseLanguage() {
    QFETCH(QStringList, paths);
    QFETCH(QList<QByteArray>, contents);
    QFETCH(QString, fileName);
    QFETCH(int, uiLanguage);
    QFETCH(QString, activeFile);
    QFETCH(QString, activeName);

    ExeFolder exe;
    for (qsizetype i = 0; i < paths.size(); ++i) exe.Write(paths[i], contents[i]);
    LoadLanguageFrom(exe.Path(), fileName, static_cast<std::uint16_t>(uiLanguage));

    const LocalisationState& state = Localisation();
    const QString folder = exe.Path() + "Languages";
    QCOMPARE(state.LanguageFolder, folder);
    QCOMPARE(state.ActiveName, activeName);
    if (activeFile.isEmpty()) {
        QCOMPARE(state.ActiveFilePath, QString());
        QVERIFY(state.ActiveLines.isEmpty());
        QCOMPARE(TranslateText("OK"), QString("OK"));
    } else {
        QCOMPARE(state.ActiveFilePath, folder + "/" + activeFile);
        QVERIFY(!state.ActiveLines.isEmpty());
        QVERIFY(TranslateText("OK") != QString("OK"));
    }
    if (paths.isEmpty()) QVERIFY(state.AvailableFiles.isEmpty());
}

void LanguageTest::availableFilesAreFilesEndingInLangTxt() {
    ExeFolder exe;
    const QStringList files = {"German.lang.txt", "French.LANG.TXT", "Spanishlang.txt", "lang.txt",
                               ".Hidden.lang.txt"};
    for (const QString& f : files) exe.Write("Languages/" + f, "{OK}x\n");
    exe.Write("Languages/Italian.lang.txt.bak", "");
    exe.Write("Languages/LanguageCodes.csv", "");
    exe.Write("Languages/notes.txt", "");
    exe.MakeDir("Languages/Folder.lang.txt");

    LoadLanguageFrom(exe.Path(), QString(), 1033);
    QStringList found = Localisation().AvailableFiles;

    // In the order the folder lists them.
    QStringList listed =
        QDir(exe.Path() + "Languages").entryList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    listed.removeIf(
        [](const QString& name) { return !name.endsWith("lang.txt", Qt::CaseInsensitive); });
    QCOMPARE(found, listed);
    found.sort();
    QStringList expected = files;
    expected.sort();
    QCOMPARE(found, expected);

    // FindLanguageFiles appends.
    FindLanguageFiles(exe.Path() + "Languages");
    QCOMPARE(Localisation().AvailableFiles.size(), 2 * files.size());
}

void LanguageTest::unreadableChosenFileThrowsAndLeavesEnglish() {
    // A file that exists but fails on reading, whoever runs the test: the start
    // of this process's memory is never mapped.
    ExeFolder exe;
    exe.MakeDir("Languages");
    QVERIFY(QFile::link("/proc/self/mem", exe.Path() + "Languages/German.lang.txt"));
    QVERIFY_THROWS_EXCEPTION(LanguageFileError,
                             LoadLanguageFrom(exe.Path(), "German.lang.txt", 1033));
    QCOMPARE(Localisation().ActiveFilePath, QString());
    QCOMPARE(Localisation().ActiveName, QString());
    QCOMPARE(Localisation().AvailableFiles, QStringList{"German.lang.txt"});
    QCOMPARE(TranslateText("OK"), QString("OK"));
}

void LanguageTest::loadLanguageLooksBesideTheExecutable() {
    LoadLanguage(QString());
    QCOMPARE(Localisation().LanguageFolder, corvexa::platform::ExecutableFolder() + "Languages");
}

// Each row: the language file's bytes, the English text, what TranslateText and
// what TranslateFromList over the same lines answer.
void LanguageTest::translate_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("fromList");

    struct Row {
        const char* name;
        const char* file;
        const char* text;
        const char* expected;
        const char* fromList;
    };
    // clang-format off
    const Row rows[] = {
        {"plain", "{Copy}Kopieren\r\n{OK}Gut\r\n", "OK", "Gut", "Gut"},
        {"first of two lines wins", "{OK}Erste\n{OK}Zweite\n", "OK", "Erste", "Erste"},
        {"leading space kept", "{OK} Gut\n", "OK", " Gut", " Gut"},
        {"trailing space kept", "{OK}Gut \n", "OK", "Gut ", "Gut "},
        {"line starting with a space never matches", " {OK}Gut\n", "OK", "OK", "OK"},
        {"key in another case does not match", "{ok}gut\n", "OK", "OK", "OK"},
        {"key is a prefix of a longer key", "{OKAY}Gut\n", "OK", "OK", "OK"},
        {"line shorter than the key", "{O\n", "OK", "OK", "OK"},
        {"last line without a break", "{Copy}Kopieren\n{OK}Gut", "OK", "Gut", "Gut"},
        {"lines end at a lone CR", "{Copy}Kopieren\r{OK}Gut\r", "OK", "Gut", "Gut"},
        {"mark skipped", "\xEF\xBB\xBF{OK}Gut\n", "OK", "Gut", "Gut"},
        {"UTF-8", "{File not found!}Datei nicht gefunden \xE2\x80\x94 \xC3\xBC\n",
         "File not found!", "Datei nicht gefunden \u2014 \u00FC", "Datei nicht gefunden \u2014 \u00FC"},
        {"empty translation: English, and it hides later lines", "{OK}\n{OK}Gut\n", "OK", "OK", ""},
        {"translation is all after the first closing brace", "{OK}Gut}er\n", "OK", "Gut}er", "Gut}er"},
        {"format string", "{About %s}\xC3\x9C" "ber %s\n", "About %s", "\u00DCber %s", "\u00DCber %s"},
        {"empty text looks for {}", "{}leer\n", "", "leer", "leer"},
        {"text not in the file", "{OK}Gut\n", "Cancel", "Cancel", "Cancel"},
        {"empty file", "", "OK", "OK", "OK"},
    };
    // clang-format on
    for (const Row& r : rows) {
        QTest::newRow(r.name) << QByteArray(r.file) << QString::fromUtf8(r.text)
                              << QString::fromUtf8(r.expected) << QString::fromUtf8(r.fromList);
    }
}

void LanguageTest::translate() {
    QFETCH(QByteArray, file);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(QString, fromList);

    ExeFolder exe;
    exe.Write("Languages/German.lang.txt", file);
    LoadLanguageFrom(exe.Path(), "German.lang.txt", 1033);
    QVERIFY(!Localisation().ActiveFilePath.isEmpty());
    QCOMPARE(TranslateText(text), expected);
    QCOMPARE(TranslateFromList(text, Localisation().ActiveLines), fromList);
}

void LanguageTest::translationIsUsedVerbatim() {
    ExeFolder exe;
    exe.Write("Languages/German.lang.txt", "a\r\n\r\n{OK}Gut\r\nz");
    LoadLanguageFrom(exe.Path(), "German.lang.txt", 1033);
    QCOMPARE(Localisation().ActiveLines, (QStringList{"a", "", "{OK}Gut", "z"}));
    QCOMPARE(ReadLanguageLines(exe.Path() + "Languages/German.lang.txt"),
             Localisation().ActiveLines);
    QVERIFY_THROWS_EXCEPTION(LanguageFileError, ReadLanguageLines(exe.Path() + "missing.lang.txt"));
}

void LanguageTest::translateFromListDiffersOnEmptyTranslations() {
    const QStringList lines = {"{OK}", "{INFO:Translated By}Ana, Ben"};
    ExeFolder exe;
    exe.Write("Languages/German.lang.txt", lines.join("\n").toUtf8());
    LoadLanguageFrom(exe.Path(), "German.lang.txt", 1033);

    QCOMPARE(TranslateText("OK"), QString("OK"));
    QCOMPARE(TranslateFromList("OK", lines), QString(""));
    QCOMPARE(TranslateFromList("INFO:Translated By", lines), QString("Ana, Ben"));
    QCOMPARE(TranslateFromList("OK", {}), QString("OK"));
    QCOMPARE(TranslateFromList("Cancel", lines), QString("Cancel"));

    // Without an active file the lookup answers English whatever was loaded before.
    LoadLanguageFrom(exe.Path(), "English.lang.txt", 1033);
    QCOMPARE(TranslateText("INFO:Translated By"), QString("INFO:Translated By"));
}

void LanguageTest::lookupComparesLinguistically() {
    // The Kelvin sign is canonically the same letter as K: a linguistic
    // comparison finds the line, a code-unit comparison would not.
    ExeFolder exe;
    exe.Write("Languages/German.lang.txt", "{O\xE2\x84\xAA}Gut\n");
    LoadLanguageFrom(exe.Path(), "German.lang.txt", 1033);
    QCOMPARE(TranslateText("OK"), QString("Gut"));
    QCOMPARE(TranslateText("Ok"), QString("Ok"));
}

void LanguageTest::languageChoiceRoundTrip() {
    const QString company = "KELMARE";
    const QString product = "Corvexa i18n test";
    QCOMPARE(StoredLanguageChoice(company, product), QString());
    StoreLanguageChoice(company, product, "German.lang.txt");
    QCOMPARE(StoredLanguageChoice(company, product), QString("German.lang.txt"));
    StoreLanguageChoice(company, product, "English.lang.txt");
    QCOMPARE(StoredLanguageChoice(company, product), QString("English.lang.txt"));
    // Under the settings folder the test set, not the user's own.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, company, product);
    QVERIFY2(settings.fileName().startsWith(configDir_.path()), qPrintable(settings.fileName()));
    QCOMPARE(settings.value("Settings/LanguageFile").toString(), QString("English.lang.txt"));
}

QTEST_MAIN(LanguageTest)
#include "language_qtest.moc"
