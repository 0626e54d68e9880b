#include "ui/settings/data_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

namespace corvexa::ui {
namespace {

QString WithSlash(QString folder) {
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

// folder/name; a bare name when the folder is unknown, never a path from the root.
QString Join(const QString& folder, const QString& name) {
    return folder.isEmpty() ? name : WithSlash(folder) + name;
}

}  // namespace

bool IsOwnFolder(const QString& folder) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    return ::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool IsFolderWritable(const QString& folder) {
    const QByteArray probe = QFile::encodeName(Join(folder, QStringLiteral("chk.tmp")));
    // O_EXCL also refuses a symbolic link named chk.tmp, dangling or not.
    const int fd = ::open(probe.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.constData());
    return true;
}

QString ChooseDataFolder(const QString& exeFolder, const QString& company, const QString& product,
                         const QString& roamingFolder) {
    if (IsOwnFolder(exeFolder) && IsFolderWritable(exeFolder)) return WithSlash(exeFolder);

    // The roaming folder always exists on Windows; its stand-in here may not yet
    // exist on a fresh account.
    QDir dir;
    if (!roamingFolder.isEmpty()) dir.mkpath(roamingFolder);
    const QString companyFolder = Join(roamingFolder, company);
    dir.mkdir(companyFolder);
    const QString productFolder = Join(companyFolder, product);
    dir.mkdir(productFolder);
    return WithSlash(productFolder);
}

}  // namespace corvexa::ui
