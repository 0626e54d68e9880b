#include "support/window_test_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
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

void WriteAllNative(const QByteArray& path, const QByteArray& bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    QVERIFY(fd >= 0);
    const ssize_t written = ::write(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    ::close(fd);
    QCOMPARE(written, static_cast<ssize_t>(bytes.size()));
}

std::unique_ptr<ui::TAppForm> ShowForm(const ui::AppEnvironment& env) {
    auto form = std::make_unique<ui::TAppForm>(env);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) qWarning("window not exposed");
    return form;
}

void ScanToEnd(ui::TAppForm& form) {
    QSignalSpy done(&form, &ui::TAppForm::scanCompleted);
    QTest::mouseClick(Find<QPushButton>(form, "ButtonStart"), Qt::LeftButton);
    if (form.State() != ui::TAppForm::ScanState::Idle) QVERIFY(done.wait(60000));
}

QStringList FoundUrls(ui::TAppForm& form) {
    QStringList out;
    for (const Text& t : form.Lists().Urls().Snapshot()) out << QString::fromStdU16String(t);
    return out;
}

void FileGate::Pass() {
    std::unique_lock lock(mutex_);
    if (++seen_ != holdAt_) return;
    held_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
}

void FileGate::WaitUntilHeld() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return held_; });
}

void FileGate::Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
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
