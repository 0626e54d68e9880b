#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <optional>
#include <string>

#include "ui/settings/ini_store.h"

using corvexa::ui::IniStore;
using corvexa::ui::SettingsWriteError;

namespace {

const QByteArray kBom = "\xEF\xBB\xBF";

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

}  // namespace

class IniStoreTest : public QObject {
    Q_OBJECT

private slots:
    // Each test (and each row of one) has a folder of its own for the file.
    void init() {
        dir_.emplace();
        QVERIFY(dir_->isValid());
        path_ = dir_->filePath("settings.ini");
    }
    void cleanup() { dir_.reset(); }

    void writesWholeFileInFirstWrittenOrder() {
        IniStore store;
        store.Open(path_);
        QCOMPARE(store.Path(), path_);
        QVERIFY(!store.Contains("Folder"));
        QVERIFY(!QFileInfo::exists(path_));

        store.SetValue("Folder", "/home/jürgen/Рабочий стол");
        store.SetValue("SkipLargeFiles", "ON");
        store.SetValue("DetectHttp", "OFF");
        store.SetValue("folder", "/srv/日本");  // same key: keeps its place and spelling
        const QByteArray expected = kBom +
                                    "[Settings]\r\n"
                                    "Folder=/srv/日本\r\n"
                                    "SkipLargeFiles=ON\r\n"
                                    "DetectHttp=OFF\r\n"
                                    "\r\n";
        QCOMPARE(ReadFile(path_), expected);
        QCOMPARE(store.Serialize(), expected);

        IniStore reread;
        reread.Open(path_);
        QCOMPARE(reread.Value("FOLDER"), QString("/srv/日本"));
        QCOMPARE(reread.Serialize(), expected);
        QCOMPARE(ReadFile(path_), expected);  // reading alone never writes
    }

    // A file as a person might have edited it: no byte-order mark, LF and CR line
    // ends, odd letter case, spaces, comments, a second section, repeated names.
    void readsHandWrittenFileAndRewritesIt() {
        QVERIFY(WriteFile(path_,
                          "; edited by hand\n"
                          "stray=outside any section\n"
                          "[ SETTINGS ]\n"
                          "  detecthttp  =  OFF  \n"
                          ";DetectFtp=OFF\n"
                          "Folder=\r\n"
                          "IncludeSubfolders=OFF\r"
                          "FileMask = *.log ; part of the value\n"
                          "no equals sign\n"
                          "\n"
                          "[Other]\n"
                          "Key=a=b\n"
                          "[settings]\n"
                          "DetectWww=OFF\n"
                          "DETECTHTTP=ON\n"));

        IniStore store;
        store.Open(path_);
        QCOMPARE(store.Value("DetectHttp"), QString("OFF"));  // the first occurrence counts
        QVERIFY(!store.Contains("DetectFtp"));
        QVERIFY(!store.Contains("stray"));
        QVERIFY(store.Contains("FOLDER"));
        QCOMPARE(store.Value("Folder"), QString(""));
        QCOMPARE(store.Value("includesubfolders"), QString("OFF"));
        QCOMPARE(store.Value("FileMask"), QString("*.log ; part of the value"));
        QCOMPARE(store.Value("DetectWww"), QString("OFF"));
        QVERIFY(!store.Contains("Key"));  // other sections are not "Settings"

        store.SetValue("DetectFtp", "OFF");
        QCOMPARE(ReadFile(path_), kBom +
                                      "[SETTINGS]\r\n"
                                      "detecthttp=OFF\r\n"
                                      "Folder=\r\n"
                                      "IncludeSubfolders=OFF\r\n"
                                      "FileMask=*.log ; part of the value\r\n"
                                      "DetectWww=OFF\r\n"
                                      "DetectFtp=OFF\r\n"
                                      "\r\n"
                                      "[Other]\r\n"
                                      "Key=a=b\r\n"
                                      "\r\n");
    }

    // A value with a line break would otherwise write a second line that reads
    // back as a key of its own.
    void lineBreaksInValuesCannotAddKeys() {
        IniStore store;
        store.Open(path_);
        store.SetValue("Folder", "/a\r\nDetectHttp=OFF\rx\ny");

        IniStore reread;
        reread.Open(path_);
        QVERIFY(!reread.Contains("DetectHttp"));
        QCOMPARE(reread.Value("Folder"), store.Value("Folder"));
        QCOMPARE(reread.Value("Folder"), QString("/a  DetectHttp=OFF x y"));
    }

    void undecodableFileIsDeleted_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("legacy 8-bit umlaut")
            << QByteArray("[Settings]\r\nFolder=C:\\M\xFCller\r\n");
        QTest::newRow("legacy 8-bit quotes")
            << QByteArray("[Settings]\r\nFileMask=\x93*.txt\x94\r\n");
        QTest::newRow("encoded surrogate") << QByteArray("[Settings]\r\nFolder=\xED\xA0\x80\r\n");
        QTest::newRow("sequence cut at the end") << QByteArray("[Settings]\r\nFolder=\xC3");
    }
    void undecodableFileIsDeleted() {
        QFETCH(QByteArray, content);
        QVERIFY(WriteFile(path_, content));

        IniStore store;
        store.Open(path_);
        QVERIFY(!QFileInfo::exists(path_));
        QVERIFY(!store.Contains("Folder"));
        QVERIFY(!store.Contains("FileMask"));
        QCOMPARE(store.Serialize(), kBom);

        store.SetValue("DetectWww", "ON");
        QCOMPARE(ReadFile(path_), kBom + "[Settings]\r\nDetectWww=ON\r\n\r\n");
    }

    void unreadableFileIsDeleted() {
        if (geteuid() == 0) QSKIP("root can read any file");
        QVERIFY(WriteFile(path_, "[Settings]\r\nDetectHttp=OFF\r\n"));
        QVERIFY(::chmod(QFile::encodeName(path_).constData(), 0) == 0);

        IniStore store;
        store.Open(path_);
        QVERIFY(!QFileInfo::exists(path_));
        QVERIFY(!store.Contains("DetectHttp"));
    }

    // The write fails; the error names the file and the reason, and the value
    // stays in memory so that the next write that succeeds saves it.
    // A link planted under the file's name is replaced by the new file: the
    // file it leads to (or would create) is never written.
    void aLinkNamedLikeTheFileIsReplacedNotFollowed_data() {
        QTest::addColumn<bool>("victimExists");
        QTest::newRow("link to a file") << true;
        QTest::newRow("dangling link") << false;
    }
    void aLinkNamedLikeTheFileIsReplacedNotFollowed() {
        QFETCH(bool, victimExists);
        const QString victim = dir_->filePath("victim");
        if (victimExists) QVERIFY(WriteFile(victim, "[Settings]\r\nsecret=1\r\n"));
        QVERIFY(QFile::link(victim, path_));

        IniStore store;
        store.Open(path_);
        store.SetValue("Folder", "/planted");
        QVERIFY(!QFileInfo(path_).isSymLink());
        QVERIFY(QFileInfo(path_).isFile());
        QVERIFY(ReadFile(path_).contains("Folder=/planted"));
        if (victimExists)
            QCOMPARE(ReadFile(victim), QByteArray("[Settings]\r\nsecret=1\r\n"));
        else
            QVERIFY(!QFileInfo::exists(victim));
        QCOMPARE(Entries(dir_->path()), QStringList{"settings.ini"} +
                                            (victimExists ? QStringList{"victim"} : QStringList{}));
    }

    void failedWriteThrowsAndKeepsTheValue_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("missing folder") << "missing";
        QTest::newRow("settings.ini is a folder") << "folder";
    }
    void failedWriteThrowsAndKeepsTheValue() {
        QFETCH(QString, setup);
        const QString folder = dir_->filePath("data");
        const QString path = folder + "/settings.ini";
        if (setup == "folder") QVERIFY(QDir().mkpath(path));

        IniStore store;
        store.Open(path);
        QVERIFY(!store.Contains("Folder"));
        QString message;
        try {
            store.SetValue("Folder", "/kept");
            QFAIL("no error for a write that cannot succeed");
        } catch (const SettingsWriteError& error) {
            message = QString::fromUtf8(error.what());
        }
        QVERIFY2(message.contains("\"" + path + "\""), qPrintable(message));
        const QString reason = message.section("\": ", 1);
        QVERIFY2(!reason.trimmed().isEmpty(), qPrintable(message));
        QCOMPARE(store.Value("Folder"), QString("/kept"));

        if (setup == "folder") QVERIFY(QDir(path).removeRecursively());
        QVERIFY(QDir().mkpath(folder));
        store.SetValue("FileMask", "*.log");
        QCOMPARE(ReadFile(path), kBom + "[Settings]\r\nFolder=/kept\r\nFileMask=*.log\r\n\r\n");
    }

    // A write that fails half way (a full disk here) must leave the old file whole
    // and no temporary file behind.
    void failedReplaceLeavesOldFile_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("disk full") << "full";
        QTest::newRow("read-only folder") << "readonly";
    }
    void failedReplaceLeavesOldFile() {
        QFETCH(QString, setup);
        if (setup == "readonly" && geteuid() == 0) QSKIP("root may write into a read-only folder");
        IniStore store;
        store.Open(path_);
        store.SetValue("Folder", "/old");
        const QByteArray before = ReadFile(path_);
        const QString large(4096, QChar('x'));

        // Nothing is printed while writes are limited: the log may be a file too.
        struct sigaction ignore = {}, previous = {};
        ignore.sa_handler = SIG_IGN;
        rlimit saved = {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        if (setup == "full") {
            QVERIFY(::sigaction(SIGXFSZ, &ignore, &previous) == 0);
            rlimit small = saved;
            small.rlim_cur = 1024;
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        } else {
            QVERIFY(::chmod(QFile::encodeName(dir_->path()).constData(), 0555) == 0);
        }
        std::string message;
        try {
            store.SetValue("Folder", large);
        } catch (const SettingsWriteError& error) {
            message = error.what();
        }
        if (setup == "full") {
            ::setrlimit(RLIMIT_FSIZE, &saved);
            ::sigaction(SIGXFSZ, &previous, nullptr);
        } else {
            ::chmod(QFile::encodeName(dir_->path()).constData(), 0700);
        }

        QVERIFY2(!message.empty(), "no error for a write that failed");
        QVERIFY2(QString::fromStdString(message).contains(path_), message.c_str());
        QCOMPARE(ReadFile(path_), before);
        QCOMPARE(Entries(dir_->path()), QStringList{"settings.ini"});
        QCOMPARE(store.Value("Folder"), large);

        store.SetValue("DetectWww", "ON");
        IniStore reread;
        reread.Open(path_);
        QCOMPARE(reread.Value("Folder"), large);
    }

private:
    std::optional<QTemporaryDir> dir_;
    QString path_;
};

QTEST_MAIN(IniStoreTest)
#include "ini_store_qtest.moc"
