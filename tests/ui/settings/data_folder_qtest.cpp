#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/settings/data_folder.h"

using corvexa::ui::ChooseDataFolder;
using corvexa::ui::IsFolderWritable;

class DataFolderTest : public QObject {
    Q_OBJECT

private:
    static bool WriteFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

private slots:
    void writableFolderIsTheDataFolder() {
        QTemporaryDir exe, roaming;
        QVERIFY(exe.isValid() && roaming.isValid());

        QVERIFY(IsFolderWritable(exe.path()));
        QCOMPARE(ChooseDataFolder(exe.path(), "KELMARE", "Corvexa", roaming.path()),
                 exe.path() + "/");
        QCOMPARE(ChooseDataFolder(exe.path() + "/", "KELMARE", "Corvexa", roaming.path()),
                 exe.path() + "/");
        // The probe is gone and nothing was made under the roaming folder.
        QVERIFY(QDir(exe.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QVERIFY(QDir(roaming.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));
    }

    // Each row leaves the probe no way to create chk.tmp as a new file. Whatever is
    // already there must stay untouched.
    void unwritableFolder_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("leftover chk.tmp file") << "file";
        QTest::newRow("folder named chk.tmp") << "folder";
        QTest::newRow("dangling link named chk.tmp") << "link";
        QTest::newRow("missing folder") << "missing";
        QTest::newRow("read-only folder") << "readonly";
    }
    void unwritableFolder() {
        QFETCH(QString, setup);
        QTemporaryDir temp, roaming;
        QVERIFY(temp.isValid() && roaming.isValid());
        QString exe = temp.filePath("exe");
        QVERIFY(QDir().mkdir(exe));
        const QString probe = exe + "/chk.tmp";

        if (setup == "file") {
            QVERIFY(WriteFile(probe, "left by an earlier run"));
        } else if (setup == "folder") {
            QVERIFY(QDir().mkdir(probe));
        } else if (setup == "link") {
            QVERIFY(QFile::link(temp.filePath("nowhere"), probe));
        } else if (setup == "missing") {
            exe = temp.filePath("no such folder");
        } else if (setup == "readonly") {
            if (geteuid() == 0) QSKIP("root may write into a read-only folder");
            QVERIFY(::chmod(QFile::encodeName(exe).constData(), 0555) == 0);
        }

        QVERIFY(!IsFolderWritable(exe));
        const QString chosen = ChooseDataFolder(exe, "KELMARE", "Corvexa", roaming.path());
        ::chmod(QFile::encodeName(exe).constData(), 0755);

        QCOMPARE(chosen, roaming.path() + "/KELMARE/Corvexa/");
        QVERIFY(QFileInfo(chosen).isDir());
        if (setup == "file") {
            QFile left(probe);
            QVERIFY(left.open(QIODevice::ReadOnly));
            QCOMPARE(left.readAll(), QByteArray("left by an earlier run"));
        } else if (setup == "folder") {
            QVERIFY(QFileInfo(probe).isDir());
        } else if (setup == "link") {
            QVERIFY(QFileInfo(probe).isSymLink());
            QVERIFY(!QFileInfo::exists(temp.filePath("nowhere")));
        }
    }

    // A folder someone else can write to, or that belongs to someone else, is
    // no data folder however writable it is to us: a link planted there under
    // a name the program writes would make it write where the link leads.
    void foldersOthersControlAreNoDataFolders_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("otherOwner");
        QTest::addColumn<bool>("isData");
        QTest::newRow("the user's own, 0755") << 0755 << false << true;
        QTest::newRow("the user's own, 0700") << 0700 << false << true;
        QTest::newRow("writable by everyone") << 0777 << false << false;
        QTest::newRow("writable by everyone, sticky") << 01777 << false << false;
        QTest::newRow("writable by the group") << 0775 << false << false;
        QTest::newRow("another user's, writable by everyone") << 0777 << true << false;
        QTest::newRow("another user's, 0755") << 0755 << true << false;
    }
    void foldersOthersControlAreNoDataFolders() {
        QFETCH(int, mode);
        QFETCH(bool, otherOwner);
        QFETCH(bool, isData);
        QTemporaryDir temp, roaming;
        QVERIFY(temp.isValid() && roaming.isValid());
        const QString exe = temp.filePath("exe");
        QVERIFY(QDir().mkdir(exe));
        const QByteArray native = QFile::encodeName(exe);
        QVERIFY(::chmod(native.constData(), static_cast<mode_t>(mode)) == 0);
        if (otherOwner) {
            if (geteuid() != 0) QSKIP("only root can give a folder to another user");
            QVERIFY(::chown(native.constData(), 65534, 65534) == 0);
        }
        QCOMPARE(corvexa::ui::IsOwnFolder(exe), isData);
        const QString chosen = ChooseDataFolder(exe, "KELMARE", "Corvexa", roaming.path());
        QCOMPARE(chosen, isData ? exe + "/" : roaming.path() + "/KELMARE/Corvexa/");
        QVERIFY(QDir(exe).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }

    // An installed program's folder is no data folder, whoever runs the
    // program: run as root, /usr/lib/... and /opt/... are root's own and
    // closed to others, yet every user runs from there.
    void installedProgramFolders_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<uint>("owner");
        QTest::addColumn<int>("mode");
        QTest::addColumn<uint>("user");
        QTest::addColumn<bool>("isData");
        QTest::newRow("root, /usr/lib/corvexa") << "/usr/lib/corvexa" << 0u << 0755 << 0u << false;
        QTest::newRow("root, /opt/corvexa") << "/opt/corvexa" << 0u << 0755 << 0u << false;
        QTest::newRow("root, /usr/local/bin") << "/usr/local/bin" << 0u << 0755 << 0u << false;
        QTest::newRow("root, /lib64/corvexa") << "/lib64/corvexa" << 0u << 0755 << 0u << false;
        QTest::newRow("user, /opt/corvexa given to the user")
            << "/opt/corvexa" << 1000u << 0755 << 1000u << false;
        QTest::newRow("root, its own copy in /root/corvexa")
            << "/root/corvexa" << 0u << 0755 << 0u << true;
        QTest::newRow("user, a copy at home")
            << "/home/ann/corvexa" << 1000u << 0700 << 1000u << true;
        QTest::newRow("a name that only starts like one")
            << "/optional/corvexa" << 1000u << 0755 << 1000u << true;
        QTest::newRow("root, a folder of another user's")
            << "/home/ann/corvexa" << 1000u << 0755 << 0u << false;
    }
    void installedProgramFolders() {
        QFETCH(QString, folder);
        QFETCH(uint, owner);
        QFETCH(int, mode);
        QFETCH(uint, user);
        QFETCH(bool, isData);
        QCOMPARE(corvexa::ui::IsDataFolderOf(folder, owner, static_cast<mode_t>(mode), user),
                 isData);
    }

    // The real folders, the user being root (a seam, so this runs as any
    // user): /usr/lib belongs to root and root may write there, and a link
    // to it is seen through.
    void rootNeverWritesIntoInstalledFolders() {
        QTemporaryDir temp, roaming;
        QVERIFY(temp.isValid() && roaming.isValid());
        const QString link = temp.filePath("installed");
        QVERIFY(QFile::link(QStringLiteral("/usr/lib"), link));
        corvexa::ui::SetEffectiveUserForTesting(0);
        const QString direct = ChooseDataFolder("/usr/lib", "KELMARE", "Corvexa", roaming.path());
        const QString linked = ChooseDataFolder(link, "KELMARE", "Corvexa", roaming.path());
        corvexa::ui::SetEffectiveUserForTesting(-1);
        QCOMPARE(direct, roaming.path() + "/KELMARE/Corvexa/");
        QCOMPARE(linked, roaming.path() + "/KELMARE/Corvexa/");
        QVERIFY(!QFileInfo::exists(QStringLiteral("/usr/lib/chk.tmp")));
    }

    void perUserFolderLevels() {
        QTemporaryDir exeTemp, temp;
        QVERIFY(exeTemp.isValid() && temp.isValid());
        const QString exe = exeTemp.path();
        QVERIFY(WriteFile(exe + "/chk.tmp", ""));

        // Company exists already: only the product level is added.
        const QString roaming = temp.filePath("config");
        QVERIFY(QDir().mkpath(roaming + "/KELMARE"));
        QCOMPARE(ChooseDataFolder(exe, "KELMARE", "Corvexa", roaming),
                 roaming + "/KELMARE/Corvexa/");
        QVERIFY(QFileInfo(roaming + "/KELMARE/Corvexa").isDir());

        // A roaming folder that does not exist yet is made along with both levels.
        const QString fresh = temp.filePath("home/.config");
        QCOMPARE(ChooseDataFolder(exe, "KELMARE", "Corvexa", fresh), fresh + "/KELMARE/Corvexa/");
        QVERIFY(QFileInfo(fresh + "/KELMARE/Corvexa").isDir());

        // Folders that cannot be made are not reported; the path is still the answer.
        const QString blocked = temp.filePath("blocked");
        QVERIFY(WriteFile(blocked, "a file, not a folder"));
        QCOMPARE(ChooseDataFolder(exe, "KELMARE", "Corvexa", blocked),
                 blocked + "/KELMARE/Corvexa/");
    }
};

QTEST_MAIN(DataFolderTest)
#include "data_folder_qtest.moc"
