#include "ui/restart_script.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "platform/replace_file.h"

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

QByteArray RestartScriptText(const QString& executablePath,
                             const platform::WindowsVersion& system) {
    QByteArray text =
        "#!/bin/sh\n"
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
    const QByteArray text = RestartScriptText(executablePath, platform::CurrentWindowsVersion());
    if (!platform::ReplaceFileWith(
            QFile::encodeName(path).toStdString(),
            std::string_view(text.constData(), static_cast<std::size_t>(text.size())), 0700)) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        throw std::runtime_error(
            QStringLiteral("Cannot create file \"%1\". %2").arg(path, why).toStdString());
    }
    return path;
}

}  // namespace corvexa::ui
