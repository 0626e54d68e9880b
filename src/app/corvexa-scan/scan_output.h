#pragma once

#include <mutex>
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

// Writes a list one entry a line (UTF-8, LF) while the scan still appends to
// it: each Drain adds what came in since the last one and writes it once it
// fills a large piece, so that the findings go out as the scan commits them
// instead of all after it. Nothing but appends may change the list meanwhile.
// Any thread may call it (one at a time is enough: calls wait for each other).
class ListPrinter {
public:
    explicit ListPrinter(const SharedList& list, int fd = 1);
    void Drain();
    // Writes the rest; false when a write failed (errno as it left it).
    bool Finish();

private:
    static constexpr std::size_t kWriteAt = 1 << 16;
    void AddNewLocked();
    const SharedList& list_;
    int fd_;
    std::mutex mutex_;
    std::size_t printed_ = 0;  // entries in the buffer or written
    std::string buffer_;
    bool ok_ = true;
    int error_ = 0;
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
