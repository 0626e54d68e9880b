#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include "ui/settings/ini_store.h"
#include "ui/settings/settings_keys.h"

using namespace corvexa::ui;

namespace {

const QString kDesktop = QStringLiteral("/home/user/Desktop");

// What the window takes from a key, as text, through the key's reading rule.
QString ReadAsText(const IniStore& store, SettingKey key) {
    switch (key) {
        case SettingKey::PlainTextProcessing:
            return PlainTextProcessingText(ReadPlainTextProcessing(store));
        case SettingKey::PdfProcessing:
            return PdfProcessingText(ReadPdfProcessing(store));
        case SettingKey::Folder:
            return ReadFolder(store, kDesktop);
        case SettingKey::FileMask:
            return ReadFileMask(store);
        case SettingKey::SkipLargeFilesMB:
            return QString::number(ReadSkipLargeFilesMB(store));
        default:
            return OnOff(IsOn(store, key));
    }
}

}  // namespace

class SettingsKeysTest : public QObject {
    Q_OBJECT

private slots:
    // The names are the file's format; the defaults are what a first start shows.
    void everyKeyReadsItsDefaultWhenAbsent() {
        const QStringList names = {"DetectEmail",       "DetectFtp",      "DetectHttp",
                                   "DetectHttps",       "DetectWww",      "PlainTextProcessing",
                                   "PdfProcessing",     "DecodeEML",      "DecodeExcel",
                                   "DecodeWord",        "Folder",         "FileMask",
                                   "IncludeSubfolders", "SkipLargeFiles", "SkipLargeFilesMB",
                                   "LinkTargets",       "ReadArchives",   "ReadMailboxes"};
        QCOMPARE(int(kSettings.size()), names.size());
        IniStore empty;
        for (const SettingInfo& info : kSettings) {
            const int index = int(info.key);
            QCOMPARE(KeyName(info.key), names[index]);
            const QString expected =
                info.key == SettingKey::Folder ? kDesktop : QString::fromLatin1(info.defaultValue);
            QCOMPARE(ReadAsText(empty, info.key), expected);
        }
    }

    // A value that is not one the key can hold reads as the key's default; a
    // free text key keeps whatever is stored.
    void everyKeyReadsItsDefaultForGarbage() {
        const QString garbage = QStringLiteral("\u00e9 not-a-value \u0001");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const SettingInfo& info : kSettings) {
            IniStore store;
            store.Open(dir.filePath(QStringLiteral("settings.ini")));
            store.SetValue(KeyName(info.key), garbage);
            const QString expected = info.kind == SettingKind::FreeText
                                         ? garbage
                                         : QString::fromLatin1(info.defaultValue);
            QCOMPARE(ReadAsText(store, info.key), expected);
        }
    }

    // Each document kind's switch is a key of the file, on when absent.
    void everyDocumentKindHasItsKey() {
        IniStore empty;
        for (const corvexa::DocumentKindInfo& kind : corvexa::DocumentKindTable()) {
            const SettingKey key = KeyNamed(kind.settingsKey);
            QCOMPARE(KeyName(key), QString::fromLatin1(kind.settingsKey.data(),
                                                       qsizetype(kind.settingsKey.size())));
            QVERIFY(Info(key).kind == SettingKind::OnOff);
            QVERIFY(IsOn(empty, key));
        }
    }

    void readingRules_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("read");
        auto row = [](const char* name, SettingKey key, const char* stored, const char* read) {
            QTest::newRow(name) << int(key) << QString::fromUtf8(stored) << QString::fromUtf8(read);
        };
        row("OFF turns off", SettingKey::DetectHttp, "OFF", "OFF");
        row("off in lower case stays on", SettingKey::DetectHttp, "off", "ON");
        row("empty on/off stays on", SettingKey::DecodeWord, "", "ON");
        row("other text stays on", SettingKey::SkipLargeFiles, "no", "ON");
        row("ON turns an archives key on", SettingKey::ReadArchives, "ON", "ON");
        row("on in lower case keeps archives off", SettingKey::ReadArchives, "on", "OFF");
        row("other text keeps mailboxes off", SettingKey::ReadMailboxes, "yes", "OFF");
        row("ON turns an off-by-default key on", SettingKey::LinkTargets, "ON", "ON");
        row("on in lower case stays off", SettingKey::LinkTargets, "on", "OFF");
        row("other text stays off", SettingKey::LinkTargets, "yes", "OFF");
        row("MemoryStream", SettingKey::PlainTextProcessing, "MemoryStream", "MemoryStream");
        row("memorystream is FileStream", SettingKey::PlainTextProcessing, "memorystream",
            "FileStream");
        row("PlainText", SettingKey::PdfProcessing, "PlainText", "PlainText");
        row("PDFium", SettingKey::PdfProcessing, "PDFium", "PDFium");
        row("pdfium is Xpdf", SettingKey::PdfProcessing, "pdfium", "Xpdf");
        row("unknown pdf mode is Xpdf", SettingKey::PdfProcessing, "Poppler", "Xpdf");
        row("Folder present but empty", SettingKey::Folder, "", "");
        row("Folder", SettingKey::Folder, "/data/mail", "/data/mail");
        row("FileMask present but empty", SettingKey::FileMask, "", "");
        row("FileMask", SettingKey::FileMask, "*.eml", "*.eml");
        row("MB", SettingKey::SkipLargeFilesMB, "50", "50");
        row("MB negative", SettingKey::SkipLargeFilesMB, "-5", "-5");
        row("MB zero", SettingKey::SkipLargeFilesMB, "0", "0");
        row("MB letters", SettingKey::SkipLargeFilesMB, "abc", "1024");
        row("MB trailing letters", SettingKey::SkipLargeFilesMB, "12x", "1024");
        row("MB empty", SettingKey::SkipLargeFilesMB, "", "1024");
        row("MB hexadecimal", SettingKey::SkipLargeFilesMB, "0x10", "1024");
        row("MB beyond 32 bits", SettingKey::SkipLargeFilesMB, "2147483648", "1024");
        row("MB largest", SettingKey::SkipLargeFilesMB, "2147483647", "2147483647");
    }
    void readingRules() {
        QFETCH(int, key);
        QFETCH(QString, stored);
        QFETCH(QString, read);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        IniStore store;
        store.Open(dir.filePath("settings.ini"));
        store.SetValue(KeyName(SettingKey(key)), stored);
        QCOMPARE(ReadAsText(store, SettingKey(key)), read);
    }

    void sizeFieldTextToStore_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("number") << "2048"
                                << "2048";
        QTest::newRow("negative") << "-5"
                                  << "-5";
        QTest::newRow("trailing letters") << "12x"
                                          << "0";
        QTest::newRow("letters") << "abc"
                                 << "0";
        QTest::newRow("empty") << ""
                               << "0";
        QTest::newRow("beyond 32 bits") << "99999999999"
                                        << "0";
    }
    void sizeFieldTextToStore() {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QCOMPARE(SkipLargeFilesMBToStore(typed), stored);
    }
};

QTEST_MAIN(SettingsKeysTest)
#include "settings_keys_qtest.moc"
