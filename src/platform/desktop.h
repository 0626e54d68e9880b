#pragma once

#include <QString>
#include <QUrl>
#include <functional>

namespace corvexa::platform {

// The operating system's version in the Windows numbering the program's gates
// are written against (6.1 is Windows 7). On this platform every system counts
// as a current one; tests put in other versions.
struct WindowsVersion {
    int major = 10;
    int minor = 0;
};
WindowsVersion CurrentWindowsVersion();
void SetWindowsVersionForTesting(const WindowsVersion& version);
void ResetWindowsVersionForTesting();

// A named, not initially owned mutex that nothing else uses. Only Windows has
// them; here it does nothing.
void CreateNamedMutex(const QString& name);

// The user's desktop folder, empty when the system cannot tell it.
QString DesktopFolder();

// The per-user folder that holds application data of roaming users on Windows;
// here the XDG configuration folder (~/.config).
QString RoamingAppDataFolder();

// The running executable's full path and its folder (with a trailing separator).
QString ExecutablePath();
QString ExecutableFolder();

// Opens an address in the user's browser (or mail program); false when nothing
// could take it. Tests replace the opener.
bool OpenUrl(const QUrl& url);
using UrlOpener = std::function<bool(const QUrl&)>;
void SetUrlOpenerForTesting(UrlOpener opener);

// Starts a program on its own, no arguments; false when it could not be started.
// Tests replace the starter.
bool StartDetached(const QString& program);
using Starter = std::function<bool(const QString&)>;
void SetStarterForTesting(Starter starter);

// The system's default beep.
void Beep();

}  // namespace corvexa::platform
