#pragma once

#include <sys/types.h>

#include <QString>

namespace corvexa::ui {

// True when a new file "chk.tmp" can be created in the folder. The probe is
// created only as a new file (an existing "chk.tmp" of any kind makes the
// answer false and is left alone) and is removed again at once.
bool IsFolderWritable(const QString& folder);

// True when the folder belongs to this user and nobody else may write to it:
// it is owned by the effective user, and neither its group nor others have
// write permission (a sticky bit does not help: others could still create a
// link under a name the program is about to use).
bool IsOwnFolder(const QString& folder);

// Whether a folder (its path with links resolved, its owner and permission
// bits) may hold the data of a process of that effective user: it is the
// user's own, nobody else may write to it, and it is not an installed
// program's folder (under /usr, /opt, /bin, /sbin, /lib*, /etc, /snap, /nix,
// /gnu or /app). Run as root, every installed folder passes the first two
// tests; root's settings must still never land in a program folder that
// every user runs from.
bool IsDataFolderOf(const QString& resolved, uid_t owner, mode_t mode, uid_t user);

// The effective user the data folder is chosen for; `user` < 0 goes back to
// the process's own. For tests, which are not run as every user.
void SetEffectiveUserForTesting(long long user);

// The folder that holds the settings file and the program's other files: the
// executable's folder when it is a data folder of the effective user
// (IsDataFolderOf) and writable,
// otherwise <roaming>/<company>/<product>,
// whose levels are created one after the other if missing (failures are not
// reported; the write of the first file will report them). The result ends
// with '/'.
QString ChooseDataFolder(const QString& exeFolder, const QString& company, const QString& product,
                         const QString& roamingFolder);

}  // namespace corvexa::ui
