#include "net/field_values.h"

#include <QFile>
#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QSysInfo>
#include <stdexcept>

#include "platform/locale_name.h"

namespace corvexa::net {

QString FormatOsDescription(const QString& name, int major, int minor, int build, int servicePack,
                            bool is64Bit) {
    const QString edition =
        is64Bit ? QStringLiteral("64-bit Edition") : QStringLiteral("32-bit Edition");
    const QString numbers = QStringLiteral("(Version %1.%2, Build %3, %4)")
                                .arg(major)
                                .arg(minor)
                                .arg(build)
                                .arg(edition);
    if (servicePack != 0)
        return QStringLiteral("%1 Service Pack %2 ").arg(name).arg(servicePack) + numbers;
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
    return FormatOsDescription(QSysInfo::prettyProductName(), kernel.major, kernel.minor,
                               kernel.build, 0, is64);
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

namespace {

// 32 hexadecimal digits as their 16 bytes; any other text as its UTF-8 bytes.
QByteArray IdBytes(const QString& text) {
    const QByteArray latin = text.toUtf8();
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{32}$"));
    if (hex.match(text).hasMatch()) return QByteArray::fromHex(latin);
    return latin;
}

}  // namespace

QString AppSpecificMachineId(const QString& machineId, const QString& applicationId) {
    if (machineId.isEmpty()) return {};
    QByteArray id = QMessageAuthenticationCode::hash(IdBytes(applicationId), IdBytes(machineId),
                                                     QCryptographicHash::Sha256)
                        .left(16);
    id[6] = static_cast<char>((id[6] & 0x0F) | 0x40);  // version 4
    id[8] = static_cast<char>((id[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    return QString::fromLatin1(id.toHex());
}

QString GetMachineId() {
    const QString primary = QStringLiteral("/etc/machine-id");
    const QString raw = QFile::exists(primary)
                            ? MachineIdFromFile(primary)
                            : MachineIdFromFile(QStringLiteral("/var/lib/dbus/machine-id"));
    return AppSpecificMachineId(raw, QString::fromLatin1(kApplicationId));
}

}  // namespace corvexa::net
