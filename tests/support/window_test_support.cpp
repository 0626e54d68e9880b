#include "support/window_test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTest>

namespace corvexa::test {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

WindowEnvironment::WindowEnvironment() {
    for (const char* sub : {"exe", "roaming", "Desktop", "home"}) QDir().mkpath(Root() + sub);
    env.ExecutablePath = QCoreApplication::applicationFilePath();
    env.ExecutableFolder = Root() + QStringLiteral("exe/");
    env.RoamingFolder = Root() + QStringLiteral("roaming");
    env.DesktopFolder = Root() + QStringLiteral("Desktop");
    env.HomeFolder = Root() + QStringLiteral("home");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       Root() + QStringLiteral("store"));
}

}  // namespace corvexa::test
