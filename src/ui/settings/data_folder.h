#pragma once

#include <QString>

namespace corvexa::ui {

// True when a new file "chk.tmp" can be created in the folder. The probe is
// created only as a new file (an existing "chk.tmp" of any kind makes the
// answer false and is left alone) and is removed again at once.
bool IsFolderWritable(const QString& folder);

// The folder that holds the settings file and the program's other files: the
// executable's folder when it is writable, otherwise <roaming>/<company>/<product>,
// whose levels are created one after the other if missing (failures are not
// reported; the write of the first file will report them). The result ends
// with '/'.
QString ChooseDataFolder(const QString& exeFolder, const QString& company, const QString& product,
                         const QString& roamingFolder);

}  // namespace corvexa::ui
