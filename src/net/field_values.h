#pragma once

// Values that several requests to the maker's web server send.

#include <QString>

namespace corvexa::net {

// "<name> (Version <major>.<minor>, Build <build>, <64-bit|32-bit> Edition)", or
// with " Service Pack <n>" after the name when servicePack is not 0.
QString FormatOsDescription(const QString& name, int major, int minor, int build, int servicePack,
                            bool is64Bit);

// The first three numbers of a kernel release text ("6.1.0-18-amd64" gives 6,
// 1 and 0); a missing number is 0.
struct KernelNumbers {
    int major = 0, minor = 0, build = 0;
};
KernelNumbers ParseKernelRelease(const QString& release);

// This system: its release name, the kernel's version numbers as version and
// build, and whether the system is a 64-bit one.
QString GetOsDescription();

// A POSIX or Qt locale name in language-region form ("de_DE.UTF-8" gives
// "de-DE"); "xx" when it names no language and region ("C", "POSIX", "", "en").
QString RequestLocaleFromName(const QString& name);
// The user's locale in that form; "xx" on any failure.
QString GetRequestLocale();

// The machine identifier as the file at path stores it (its line break
// dropped); empty when the file is missing. Throws std::runtime_error when it
// exists but cannot be read.
QString MachineIdFromFile(const QString& path);
// This machine's identifier: /etc/machine-id, else the D-Bus copy of it.
QString GetMachineId();

}  // namespace corvexa::net
