#include "ui/restart_script.h"

#include <QFile>
#include <QSaveFile>

#include <stdexcept>

namespace corvexa::ui {

QByteArray ShellQuote(const QByteArray& bytes) {
    QByteArray out;
    out.reserve(bytes.size() + 2);
    out += '\'';
    for (char c : bytes) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

QByteArray RestartScriptText(const QString& executablePath, const platform::WindowsVersion& system) {
    QByteArray text = "#!/bin/sh\n"
                      "# This file was created automatically to restart the program.\n"
                      "# It is safe to delete this file.\n";
    if (system.major > 5) text += "sleep 1\n";
    text += "exec " + ShellQuote(QFile::encodeName(executablePath)) + '\n';
    return text;
}

QString WriteRestartScript(const QString& dataFolder, const QString& executablePath) {
    const QString path = dataFolder + QStringLiteral("start.sh");
    // Written beside and renamed over the old one: a link planted under the
    // name is replaced, not followed.
    QSaveFile file(path);
    const QByteArray text = RestartScriptText(executablePath, platform::CurrentWindowsVersion());
    const bool written = file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
                         file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner) &&
                         file.commit();
    if (!written) {
        const QString why = file.errorString();
        file.cancelWriting();
        throw std::runtime_error(
            QStringLiteral("Cannot create file \"%1\". %2").arg(path, why).toStdString());
    }
    return path;
}

}  // namespace corvexa::ui
