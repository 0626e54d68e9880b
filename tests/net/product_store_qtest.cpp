// The per-user product store that keeps the update check's state and the
// language choice.

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "platform/product_store.h"

using corvexa::platform::ProductStore;
using corvexa::platform::ProductStoreError;

class ProductStoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void init() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path()); }

    void integers_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("read");
        QTest::newRow("number") << "42" << 42;
        QTest::newRow("negative") << "-3" << -3;
        QTest::newRow("spaces around") << " 7 " << 7;
        QTest::newRow("not a number") << "seven" << 1;
        QTest::newRow("number and letters") << "5x" << 1;
        QTest::newRow("empty") << "" << 1;
    }
    void integers() {
        QFETCH(QString, stored);
        QFETCH(int, read);
        ProductStore store(QStringLiteral("KELMARE"), QStringLiteral("Corvexa"));
        store.WriteString(QStringLiteral("ShowUpdate"), stored);
        QCOMPARE(ProductStore(QStringLiteral("KELMARE"), QStringLiteral("Corvexa"))
                     .ReadInteger("ShowUpdate", 1),
                 read);
        QCOMPARE(store.ReadInteger(QStringLiteral("Missing"), 1), 1);
    }

    void valuesAreStringsInTheSettingsGroup() {
        ProductStore store(QStringLiteral("KELMARE"), QStringLiteral("Corvexa"));
        store.WriteInteger(QStringLiteral("HowMany"), 12);
        store.WriteString(QStringLiteral("LanguageFile"), QStringLiteral("German.lang.txt"));
        QFile file(dir_.filePath(QStringLiteral("KELMARE/Corvexa.conf")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("[Settings]"));
        QVERIFY(text.contains("HowMany=12"));
        QVERIFY(text.contains("LanguageFile=German.lang.txt"));
    }

    void aStoreThatCannotBeWrittenThrows() {
        // The company's folder is a file: nothing can be written below it.
        QFile blocker(dir_.filePath(QStringLiteral("BLOCKED")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        ProductStore store(QStringLiteral("BLOCKED"), QStringLiteral("Corvexa"));
        QVERIFY_THROWS_EXCEPTION(ProductStoreError,
                                 store.WriteString(QStringLiteral("ShowUpdate"), "0"));
    }
};

QTEST_GUILESS_MAIN(ProductStoreTest)
#include "product_store_qtest.moc"
