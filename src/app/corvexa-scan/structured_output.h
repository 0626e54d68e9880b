#pragma once

#include <cstddef>

#include "engine/finding_origins.h"
#include "engine/shared_list.h"

namespace corvexa::cli {

// Findings for other programs to read, in the order of the plain output.
//
// JSON Lines: one object per finding,
//     {"file":"PATH","member":"MEMBER","line":N,"kind":"web|email|ftp","text":"FINDING"}
// "member" only for a finding inside an archive member or mailbox message (its
// path inside the file, nested ones joined by "//"), or in a document's link
// target ("link:page=N" for a PDF's page N, "link" for an office document). A file or member name
// that is not valid UTF-8 is written as "file_bytes" or "member_bytes" instead:
// its bytes in standard base64, so that every name comes back exactly. Then one
// summary object:
//     {"summary":{"files_read":N,"failed":N,"findings":N,"seconds":S,"stopped":false}}
//
// CSV (RFC 4180): the header file,member,line,kind,text, then one row per
// finding, CR LF line ends; a field holding a comma, quote, CR or LF is quoted,
// its quotes doubled. Names are written as their bytes.

struct ScanTotals {
    std::size_t filesRead = 0;  // read to their end
    std::size_t failed = 0;     // could not be read
    double seconds = 0;
    bool stopped = false;  // by Ctrl-C or SIGTERM
};

bool PrintJsonLines(const SharedList& list, const FindingOrigins& origins, const SharedList& files,
                    const ScanTotals& totals);
bool PrintCsv(const SharedList& list, const FindingOrigins& origins, const SharedList& files);

}  // namespace corvexa::cli
