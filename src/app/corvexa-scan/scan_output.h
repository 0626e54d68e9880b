#pragma once

#include <string>

#include "engine/finding_origins.h"
#include "engine/shared_list.h"
#include "results/dedup.h"
#include "results/places.h"

namespace corvexa::cli {

// Collects standard output and writes it in large pieces.
class OutputBuffer {
public:
    OutputBuffer();
    std::string& Buffer() { return buffer_; }
    // Ends a line; false when writing failed.
    bool Line(const char* end = "\n");
    bool Flush();

private:
    static constexpr std::size_t kFlushAt = 1 << 16;
    std::string buffer_;
};

// Standard output of corvexa-scan. Every line is UTF-8 and ends in LF.
//
// With origins, each finding is preceded by the path of its file (as the files
// list holds it) and/or its line number, each followed by a tab:
//     PATH<TAB>LINE<TAB>FINDING
// A tab, CR or LF inside a path is written as \t, \r or \n, so that every
// finding stays on one line with its fields apart.
struct OriginColumns {
    bool file = false;
    bool line = false;
    bool Any() const { return file || line; }
};

// The list, one entry a line; with columns, the origin of entry i is origins.At(i).
bool PrintFindings(const SharedList& list, const FindingOrigins* origins, const SharedList& files,
                   OriginColumns columns);

// Every distinct entry (equal as Remove Duplicates compares them; the first of
// equal entries is shown) with how often it occurs, most frequent first, equal
// counts in the order of Remove Duplicates:
//     COUNT<TAB>ENTRY
bool PrintCounts(const SharedList& list, const results::DedupCollator& collator);

// A path for a tab-separated column (one writer for the scanner and the window).
using results::PathColumn;

}  // namespace corvexa::cli
