#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvexa::version {

// The contents of the first section called `name` in the ELF file (32 or 64
// bit, either byte order), at most maxBytes of them. Nothing when the file has
// no such section or the section has no bytes in the file.
//
// Throws std::system_error: the error of open/read for a file that cannot be
// read (ENOENT, EACCES, EISDIR, ...), ENOEXEC for a file that is not ELF or
// whose headers point outside the file. Reads only the headers, the section
// name table and the section itself.
std::optional<std::vector<std::uint8_t>> ReadElfSection(const std::string& fileName,
                                                        std::string_view name,
                                                        std::size_t maxBytes);

}  // namespace corvexa::version
