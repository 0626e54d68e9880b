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

// This product's application id: the key that turns the machine id into an
// identifier of its own.
inline constexpr char kApplicationId[] = "0dace04a98f2409e856c5728bd51d84a";

// An identifier of this machine for one application, derived as the desktop's
// own service does for applications: HMAC-SHA256 keyed with the machine id's
// 16 bytes (its text's UTF-8 bytes if it is not 32 hexadecimal digits) over
// the application id's 16 bytes, the first 16 bytes of it made a version-4
// UUID, written as 32 lower-case hexadecimal digits like the machine id. Stable
// for one machine and application; the machine id cannot be read back from it
// and another application's identifier cannot be matched with it. The empty
// text stays empty.
QString AppSpecificMachineId(const QString& machineId, const QString& applicationId);

// The identifier the maker's server gets for this machine:
// AppSpecificMachineId of /etc/machine-id (else the D-Bus copy of it) and
// kApplicationId; never the machine id itself.
QString GetMachineId();

}  // namespace corvexa::net
