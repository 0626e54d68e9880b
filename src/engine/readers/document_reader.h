#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/readers/document_kinds.h"
#include "engine/text.h"

namespace corvexa {

// Receives a document's text in pieces, in order; the pieces joined are the
// whole text. Returns false when no more is wanted (the scan stops).
using TextPieces = std::function<bool(TextView piece)>;

// One link of a document: a PDF link annotation's URI or an office document's
// external hyperlink.
struct LinkTarget {
    std::uint32_t page = 0;  // the PDF page it is on (from 1); 0: a document without pages
    std::string uri;         // UTF-8
};

// A document's link targets are read up to these bounds; what lies past them
// is left out.
inline constexpr std::size_t kMaxLinkTargets = 100000;
inline constexpr std::size_t kMaxLinkLength = 8192;

// Where a link target's findings are placed inside its document, as an
// archive member is: "link" for a document without pages, "link:page=N" for
// one on page N of a PDF. Written DOCUMENT//link:page=N.
std::string LinkPlace(std::uint32_t page);

// A reader that turns one kind of document (PDF, e-mail message, word-processor
// or spreadsheet file) into text. Each reader describes itself and says whether
// it can run on this machine; an unavailable reader is never asked for text, and
// its files are read as plain text instead.
class DocumentReader {
public:
    virtual ~DocumentReader() = default;
    // Short name: "xpdf", "pdfium", "eml", "word" or "excel".
    virtual std::string_view Name() const = 0;
    virtual std::string_view Description() const = 0;
    virtual bool Available() const = 0;
    // The document's whole text. Throws on any failure.
    virtual Text ReadText(const Text& path) = 0;
    // Whether ReadBytes works: the reader takes a document held in memory (a
    // member of an archive) without a file. Otherwise such a document is put in
    // a private file for ReadText.
    virtual bool ReadsMemory() const { return false; }
    // The text of a document held in memory; name says which in errors.
    // Throws on any failure, and when the reader does not read memory.
    virtual Text ReadBytes(std::string_view bytes, const std::string& name);
    // The same text handed over in pieces, so that a reader able to decode as
    // it goes never holds a large document's text whole. A reader cut short
    // at one of its bounds throws PartialRead after handing over all it read.
    // By default the whole text is one piece.
    virtual void StreamText(const Text& path, const TextPieces& feed) { feed(ReadText(path)); }
    // The document's link targets in document order (pages in order), read
    // after its text when the scan asks for them. Throws on a failure; a
    // reader without links gives none.
    virtual std::vector<LinkTarget> ReadLinks(const Text& path) {
        (void)path;
        return {};
    }
    // The link targets of a document held in memory, for a reader that reads
    // memory (ReadsMemory); name says which in errors. None by default.
    virtual std::vector<LinkTarget> ReadLinksOfBytes(std::string_view bytes,
                                                     const std::string& name) {
        (void)bytes;
        (void)name;
        return {};
    }

    // The scan's stop flag. A reader that waits for an outside program ends it
    // when the flag is raised, and fails.
    void SetStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
    const std::atomic<bool>* StopFlag() const { return stop_; }

private:
    const std::atomic<bool>* stop_ = nullptr;
};

// What the built-in readers need to know about the program around them.
struct DocumentReaderOptions {
    // Where the private folders that take converters' output files are made
    // (native path); empty: platform::PrivateFolderBase().
    std::string privateFolderBase;
    // Where the PDF converter is looked for before PATH (native path); empty:
    // "xpdf" beside the executable.
    std::string converterFolder;
    // The scan's stop flag: an outside program still running is ended and the
    // document fails.
    const std::atomic<bool>* cancel = nullptr;
    // Windows code page number of ANSI.
    int ansiCodePage = 1252;
};

// The readers a scan may use: the two PDF readers and one slot per document
// kind. A slot may be empty.
struct DocumentReaders {
    std::shared_ptr<DocumentReader> xpdf;
    std::shared_ptr<DocumentReader> pdfium;
    std::array<std::shared_ptr<DocumentReader>, kDocumentKindCount> kinds;

    std::shared_ptr<DocumentReader>& Of(DocumentKind kind) {
        return kinds[static_cast<std::size_t>(kind)];
    }
    const std::shared_ptr<DocumentReader>& Of(DocumentKind kind) const {
        return kinds[static_cast<std::size_t>(kind)];
    }
    // The reader of that PDF mode; null for plain text.
    std::shared_ptr<DocumentReader> ForPdf(PdfMode mode) const;

    // The readers built into this program.
    static DocumentReaders BuiltIn(const DocumentReaderOptions& options = {});
    std::vector<std::shared_ptr<DocumentReader>> All() const;

    static bool Usable(const std::shared_ptr<DocumentReader>& r) { return r && r->Available(); }
};

}  // namespace corvexa
