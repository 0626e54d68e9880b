#pragma once

#include <QByteArray>
#include <QString>

#include "platform/desktop.h"

namespace corvexa::ui {

// The restart script "start.sh" in the data folder: it waits a second for the
// ending instance to go (on systems newer than major version 5), then replaces
// itself with the executable. Lines end with LF; the path is in the file
// system's encoding, single-quoted so that no character of it (spaces, quotes,
// "$", backticks, newlines) is read by the shell as anything but the path.
QByteArray RestartScriptText(const QString& executablePath, const platform::WindowsVersion& system);

// The path's bytes as one shell word: '...' with each ' written as '\''.
QByteArray ShellQuote(const QByteArray& bytes);

// Writes the script anew (replacing any earlier file, never writing through a
// link), executable by its owner, and answers its path: dataFolder (ending with
// '/') + "start.sh". Throws std::runtime_error naming the file when it cannot be
// written.
QString WriteRestartScript(const QString& dataFolder, const QString& executablePath);

}  // namespace corvexa::ui
