#include "platform/desktop.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <optional>

namespace corvexa::platform {
namespace {

std::optional<WindowsVersion>& VersionOverride() {
    static std::optional<WindowsVersion> version;
    return version;
}

Starter& StarterOverride() {
    static Starter starter;
    return starter;
}

}  // namespace

WindowsVersion CurrentWindowsVersion() {
    if (VersionOverride()) return *VersionOverride();
    return WindowsVersion{};
}

void SetWindowsVersionForTesting(const WindowsVersion& version) {
    VersionOverride() = version;
}

void ResetWindowsVersionForTesting() {
    VersionOverride().reset();
}

void CreateNamedMutex(const QString&) {}

QString DesktopFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString RoamingAppDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString ExecutablePath() {
    return QCoreApplication::applicationFilePath();
}

QString ExecutableFolder() {
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

namespace {
UrlOpener& UrlOpenerOverride() {
    static UrlOpener opener;
    return opener;
}
}  // namespace

bool OpenUrl(const QUrl& url) {
    if (UrlOpenerOverride()) return UrlOpenerOverride()(url);
    return QDesktopServices::openUrl(url);
}

void SetUrlOpenerForTesting(UrlOpener opener) {
    UrlOpenerOverride() = std::move(opener);
}

bool StartDetached(const QString& program) {
    if (StarterOverride()) return StarterOverride()(program);
    return QProcess::startDetached(program, {});
}

void SetStarterForTesting(Starter starter) {
    StarterOverride() = std::move(starter);
}

void Beep() {
    QApplication::beep();
}

}  // namespace corvexa::platform
