#pragma once

// The program's version information, read back from an executable file. The
// build embeds a version block (see version/version_block.h) into every
// executable in the ELF section kVersionSection (corvexa_embed_version in
// CMake); nothing here reads the running process's memory.

#include <string>

#include "version/version_block.h"

namespace corvexa::version {

inline constexpr char kVersionSection[] = ".corvexa_version";

// The string fields of a version block; a field the block lacks stays empty.
struct TEXEVersionData {
    std::u16string CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright,
        LegalTrademarks, OriginalFileName, ProductName, ProductVersion, Comments, PrivateBuild,
        SpecialBuild;
};

// The string fields of the file's version block, under the string table of the
// block's first translation. fileName is in the native (UTF-8) form.
// Throws std::system_error whose message names the file:
//   the open/read error for a file that cannot be read (ENOENT, EACCES, EISDIR, ...),
//   ENOEXEC for a file that is not a well-formed ELF file,
//   ENODATA when the file has no readable version block, or the block no translation.
TEXEVersionData GetVersionData(const std::string& fileName);

// The fixed (numeric) file version of the file's version block. Throws as
// GetVersionData does (ENODATA also for fixed information without its signature).
FixedFileVersion GetFixedFileVersion(const std::string& fileName);

// The identity the program shows and sends: company and product name from the
// version block's strings, VersionText "major.minor" of the fixed file version,
// ProductTitle company + " - " + product. Throws as GetVersionData does.
struct ProgramIdentity {
    std::u16string CompanyName, ProductName, VersionText, ProductTitle;
};
ProgramIdentity ReadProgramIdentity(const std::string& exePath);

}  // namespace corvexa::version
