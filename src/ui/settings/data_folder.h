#pragma once

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

// The folder that holds the settings file and the program's other files: the
// executable's folder when it is the user's own (IsOwnFolder) and writable,
// otherwise <roaming>/<company>/<product>,
// whose levels are created one after the other if missing (failures are not
// reported; the write of the first file will report them). The result ends
// with '/'.
QString ChooseDataFolder(const QString& exeFolder, const QString& company, const QString& product,
                         const QString& roamingFolder);

}  // namespace corvexa::ui
