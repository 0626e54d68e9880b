#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/readers/document_reader.h"
#include "engine/text.h"

namespace corvexa {

// Word-processor and spreadsheet documents are read through the office suite
// (LibreOffice), run headless: it converts the document into a private
// temporary folder, and the reader takes the text from there. The readers of
// one scan share one running suite (OfficeService); without it, or where it
// cannot run, each document gets a start of the suite of its own.

class OfficeService;

// How long one conversion may take before the suite is killed.
inline constexpr std::chrono::seconds kOfficeTimeout{180};

// The suite's program: "soffice" on PATH, else in the suite's usual install
// folders; empty when there is none.
std::string FindOffice();

// Whether documents of each kind can be read on this machine (the suite is
// found). Tested when a scan starts.
bool WordInstalled();
bool ExcelInstalled();

struct OfficeRun {
    std::string soffice;  // the program to run
    std::chrono::milliseconds timeout = kOfficeTimeout;
    const std::atomic<bool>* stop = nullptr;  // ends the conversion when raised
    // The suite runs without network where the system allows it; its profile
    // keeps it from fetching anything either way.
    bool cutNetwork = true;
    // The scan's running suite; null: a start of the suite for this document.
    OfficeService* service = nullptr;
};

// The document body's text, as the suite's plain-text export gives it.
// Throws ReadError unless the conversion completed.
Text WordText(const Text& path, const OfficeRun& run);

// Every sheet in order, each from row 1 and column 1 to its last used cell:
// each cell as displayed, line feeds in a cell replaced by a space, cells
// joined by the separator, CR LF after each row. Throws ReadError unless the
// conversion completed.
Text ExcelText(const Text& path, TextView separator, const OfficeRun& run);

// The running suite the readers of one scan share; null when soffice is empty
// or CORVEXA_OFFICE_PER_FILE is set (to anything but 0), which gives every
// document a start of the suite of its own, as the benchmark's peer.
std::shared_ptr<OfficeService> MakeOfficeService(const std::string& soffice);

// The external hyperlinks of a Word (word) or Excel document: read from a
// .docx or .xlsx as it is; a .doc or .xls is first converted by the suite
// into that form, in a private folder. Throws ReadError when that conversion
// fails.
std::vector<LinkTarget> OfficeLinks(const Text& path, bool word, const OfficeRun& run);

// The "word" and "excel" readers. The program is looked for once, here; an
// empty soffice makes the reader unavailable. Without a service every
// document gets a start of the suite of its own.
std::shared_ptr<DocumentReader> MakeWordReader(std::string soffice = FindOffice(),
                                               std::chrono::milliseconds timeout = kOfficeTimeout,
                                               std::shared_ptr<OfficeService> service = nullptr);
std::shared_ptr<DocumentReader> MakeExcelReader(std::string soffice = FindOffice(),
                                                std::chrono::milliseconds timeout = kOfficeTimeout,
                                                std::shared_ptr<OfficeService> service = nullptr);

}  // namespace corvexa
