#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/shared_list.h"

namespace corvexa::results {

// A file that could not be created or written; what() carries the path and
// the operating system's reason.
class ExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes the list to the file as UTF-8 with a byte-order mark, one entry per
// line, CR LF after every line, through a 4096-byte buffer. The file is created
// anew or replaced. The list's length is read anew before each entry, so
// entries appended meanwhile are included. On failure throws ExportError; what
// was written until then stays in the file.
void ExportList(const SharedList& list, const Text& path);

// The same for the entries at the given indices (ascending), as a filtered
// view shows them; an index past the end is passed over.
void ExportRows(const SharedList& list, const std::vector<std::uint32_t>& rows, const Text& path);

}  // namespace corvexa::results
