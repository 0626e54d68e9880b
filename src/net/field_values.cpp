#include "net/field_values.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSysInfo>

#include <stdexcept>

#include "platform/locale_name.h"

namespace corvexa::net {

QString FormatOsDescription(const QString& name, int major, int minor, int build, int servicePack,
                            bool is64Bit) {
    const QString edition = is64Bit ? QStringLiteral("64-bit Edition") : QStringLiteral("32-bit Edition");
    const QString numbers = QStringLiteral("(Version %1.%2, Build %3, %4)").arg(major).arg(minor).arg(build).arg(edition);
    if (servicePack != 0) return QStringLiteral("%1 Service Pack %2 ").arg(name).arg(servicePack) + numbers;
    return name + QLatin1Char(' ') + numbers;
}

KernelNumbers ParseKernelRelease(const QString& release) {
    static const QRegularExpression leading(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch m = leading.match(release);
    KernelNumbers out;
    if (!m.hasMatch()) return out;
    out.major = m.captured(1).toInt();
    out.minor = m.captured(2).toInt();
    out.build = m.captured(3).toInt();
    return out;
}

QString GetOsDescription() {
    const KernelNumbers kernel = ParseKernelRelease(QSysInfo::kernelVersion());
    // The machine the kernel reports (uname), not the build of this process.
    const QString arch = QSysInfo::currentCpuArchitecture();
    const bool is64 = arch.contains(QStringLiteral("64")) || arch == QStringLiteral("s390x");
    return FormatOsDescription(QSysInfo::prettyProductName(), kernel.major, kernel.minor, kernel.build, 0,
                               is64);
}

QString RequestLocaleFromName(const QString& name) {
    const platform::LocaleName parts = platform::ParseLocaleName(name.toStdString());
    const auto letters = [](const std::string& s, std::size_t lo, std::size_t hi) {
        if (s.size() < lo || s.size() > hi) return false;
        for (char c : s)
            if (c < 'a' || c > 'z') return false;
        return true;
    };
    const auto digits = [](const std::string& s) {
        return s.size() == 3 && s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!letters(parts.language, 2, 3) || !(letters(parts.country, 2, 2) || digits(parts.country)))
        return QStringLiteral("xx");
    return QString::fromStdString(parts.language) + QLatin1Char('-') +
           QString::fromStdString(parts.country).toUpper();
}

QString GetRequestLocale() {
    try {
        return RequestLocaleFromName(QLocale::system().name());
    } catch (...) {
        return QStringLiteral("xx");
    }
}

QString MachineIdFromFile(const QString& path) {
    QFile file(path);
    if (!file.exists()) return {};
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(("Cannot read " + path + ": " + file.errorString()).toStdString());
    QByteArray bytes = file.read(4096);
    while (bytes.endsWith('\n') || bytes.endsWith('\r')) bytes.chop(1);
    return QString::fromUtf8(bytes);
}

QString GetMachineId() {
    const QString primary = QStringLiteral("/etc/machine-id");
    if (QFile::exists(primary)) return MachineIdFromFile(primary);
    return MachineIdFromFile(QStringLiteral("/var/lib/dbus/machine-id"));
}

}  // namespace corvexa::net
