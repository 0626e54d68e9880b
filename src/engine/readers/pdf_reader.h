#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/readers/document_reader.h"
#include "engine/text.h"

namespace corvexa {

// How long the converter may work on one document before it is taken for hung
// and killed: some thirty times what a 1,200-page document takes it here.
inline constexpr std::chrono::milliseconds kConverterTimeout{30000};
// 64 MiB of text is tens of thousands of pages; an endless writer stops there.
inline constexpr std::uint64_t kConverterOutputLimit = std::uint64_t{64} << 20;

struct PdfSettings {
    // Where the private folder that takes the converter's output file is made,
    // one for each document; empty: platform::PrivateFolderBase().
    std::string privateFolderBase;
    // Where the converter is looked for first; empty: "xpdf" beside the
    // executable. Then on PATH.
    std::string converterFolder;
    std::string converterName = "pdftotext";
    std::chrono::milliseconds converterTimeout = kConverterTimeout;
    // The converter's output file may grow to this size; a document whose
    // text would pass it fails.
    std::uint64_t converterOutputLimit = kConverterOutputLimit;
    // The PDF libraries tried in order; empty: DefaultPdfLibraryNames().
    std::vector<std::string> libraryNames;
    // Raised to stop the scan: a running converter is ended, the library stops
    // at the next page, and the document fails.
    const std::atomic<bool>* cancel = nullptr;
    // Windows code page number of ANSI, for converter output that is not UTF-8.
    int ansiCodePage = 1252;
};

// The two ways a PDF document yields its text. Any number of extractors may
// exist; their extractions run one at a time in the whole process, so the
// library is never used by two at once.
class PdfExtractor {
public:
    explicit PdfExtractor(PdfSettings settings);
    ~PdfExtractor();
    PdfExtractor(const PdfExtractor&) = delete;
    PdfExtractor& operator=(const PdfExtractor&) = delete;

    // YukleXPDF and YuklePDFium load a PDF's text; dosyaadi is the document's path.
    // The converter route: the converter's output file, its lines joined with
    // CR LF (the file is made new for the document, in a folder only we can
    // enter, and removed with it however the extraction ends); the library route when the converter
    // is missing, fails, hangs or leaves no output. Throws when the document cannot be read.
    Text YukleXPDF(const Text& dosyaadi);
    // The library route: every page's text, pages joined by two carriage
    // returns. Throws when no library loads or the document cannot be opened.
    Text YuklePDFium(const Text& dosyaadi);
    // The library route for a document held in memory.
    Text LibraryTextOfBytes(std::string_view bytes);
    // The URI of every link annotation, through the library whichever route
    // read the text. None when no library loads, it has no calls for links,
    // or it cannot open the document.
    std::vector<LinkTarget> Links(const Text& dosyaadi);
    // The same for a document held in memory.
    std::vector<LinkTarget> LinksOfBytes(std::string_view bytes);
    // Whether a library that reads links loads on this machine.
    bool LinksAvailable();

private:
    Text LibraryText(const Text& dosyaadi);
    bool RunConverter(const std::string& pdf, const std::string& output);
    Text ReadConverterOutput(const std::string& output);

    PdfSettings settings_;
};

// Whether a PDF library that reads links loads here (the default names).
bool PdfLinksAvailable();

// The readers of the "xpdf" and "pdfium" slots, on one extractor.
std::shared_ptr<DocumentReader> MakeXpdfReader(std::shared_ptr<PdfExtractor> extractor);
std::shared_ptr<DocumentReader> MakePdfiumReader(std::shared_ptr<PdfExtractor> extractor);

}  // namespace corvexa
