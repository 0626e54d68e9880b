#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/readers/document_reader.h"
#include "engine/text.h"

namespace corvexa {

// A PDF file mapped read-only into memory. Refuses what no PDF library takes
// from memory: a file of 2 GiB or more, an empty file, anything but a regular
// file. Throws ReadError. Should the file shrink while mapped, the bytes it
// lost read as zeros. One file is mapped at a time (under the extraction lock).
class MappedFile {
public:
    explicit MappedFile(const std::string& nativePath);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const unsigned char* Data() const { return data_; }
    std::size_t Size() const { return size_; }

    static constexpr std::int64_t kSizeLimit = std::int64_t{1} << 31;

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

// A PDF library loaded at run time. Once loaded it stays loaded for the rest of
// the process.
class PdfLibrary {
public:
    virtual ~PdfLibrary() = default;
    // The text of every page, with the library's line breaks; pages joined by
    // two carriage returns once the text holds something. Checks *cancel
    // between pages. Throws ReadError when the document cannot be opened
    // (damaged, password-protected) or when cancelled.
    virtual Text DocumentText(const unsigned char* data, std::size_t size,
                              const std::atomic<bool>* cancel) = 0;
    // Whether the library has the calls that read link annotations (the PDF
    // library's are optional).
    virtual bool HasLinks() const = 0;
    // The URI of every link annotation, page by page, each page's in the
    // order the page lists them; none when the library cannot read links.
    // Throws as DocumentText does.
    virtual std::vector<LinkTarget> DocumentLinks(const unsigned char* data, std::size_t size,
                                                  const std::atomic<bool>* cancel) = 0;
};

// Adds a link's URI to `links` unless the bounds are reached: an empty URI is
// dropped, a longer one cut, and line breaks in it become spaces.
void AddLink(std::vector<LinkTarget>& links, std::uint32_t page, std::string_view uri);

// The libraries tried, in order: the PDF library beside the executable, the
// same by name through the loader's path, then the system's Poppler (GLib
// interface).
std::vector<std::string> DefaultPdfLibraryNames();

// The first library of `names` that loads and has every call needed. A name
// loaded once is kept; one that failed is tried again on the next call.
// Throws ReadError when none can be used. Call with the extraction lock held.
PdfLibrary& LoadPdfLibrary(const std::vector<std::string>& names);

// Adds a page's text to the document's text: the first text as it is, every
// later page after two carriage returns. A page without text adds nothing while
// the document's text is still empty.
void AppendPageText(Text& result, TextView page);

}  // namespace corvexa
