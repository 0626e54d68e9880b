#include "ui/settings/data_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

long long g_userForTesting = -1;

uid_t EffectiveUser() {
    return g_userForTesting >= 0 ? static_cast<uid_t>(g_userForTesting) : ::geteuid();
}

bool StatFolder(const QString& folder, struct stat& st) {
    const QByteArray native = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    return ::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Where packages and system installers put programs.
bool IsInstalledProgramFolder(const QString& resolved) {
    static const char* const kSystemFolders[] = {"/usr",   "/opt",   "/bin",    "/sbin", "/lib",
                                                 "/lib32", "/lib64", "/libx32", "/etc",  "/snap",
                                                 "/nix",   "/gnu",   "/app"};
    for (const char* top : kSystemFolders) {
        const QString prefix = QString::fromLatin1(top);
        if (resolved == prefix || resolved.startsWith(prefix + QLatin1Char('/'))) return true;
    }
    return false;
}

}  // namespace

void SetEffectiveUserForTesting(long long user) {
    g_userForTesting = user;
}

bool IsOwnFolder(const QString& folder) {
    struct stat st {};
    return StatFolder(folder, st) && st.st_uid == EffectiveUser() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool IsDataFolderOf(const QString& resolved, uid_t owner, mode_t mode, uid_t user) {
    return owner == user && (mode & (S_IWGRP | S_IWOTH)) == 0 && !resolved.isEmpty() &&
           !IsInstalledProgramFolder(resolved);
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
    struct stat st {};
    if (StatFolder(exeFolder, st) &&
        IsDataFolderOf(
            QFileInfo(exeFolder.isEmpty() ? QStringLiteral(".") : exeFolder).canonicalFilePath(),
            st.st_uid, st.st_mode, EffectiveUser()) &&
        IsFolderWritable(exeFolder))
        return WithSlash(exeFolder);

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
