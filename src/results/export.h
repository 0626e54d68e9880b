#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/finding_origins.h"
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

// Every finding with the place it was found, one a line, in the form
// `corvexa-scan -H -n` prints: PATH<TAB>LINE<TAB>FINDING, UTF-8 without a
// byte-order mark, LF after every line (PATH as PlaceColumn writes it). The
// origin of finding i is origins.At(i); files is the scan's files list.
void ExportPlaces(const SharedList& findings, const FindingOrigins& origins,
                  const SharedList& files, const Text& path);

}  // namespace corvexa::results
