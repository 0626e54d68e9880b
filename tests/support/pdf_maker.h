#pragma once

#include <string>
#include <vector>

namespace corvexa::test {

// Writes a real PDF document: one page per entry of `pages`, each page's lines
// set top to bottom in a monospaced font (A4, up to 70 lines a page). A page
// without lines is an empty page. Text must be UTF-8; invalid bytes and control
// characters are replaced. Throws std::runtime_error when the file cannot be
// written.
void WritePdf(const std::string& path, const std::vector<std::vector<std::string>>& pages);

// A link annotation: its caption set on a page (below the page's lines), the
// URI only in the annotation.
struct PdfLink {
    std::size_t page;  // from 0
    std::string caption;
    std::string uri;  // no single quotes
};

// WritePdf, with the links set on their pages in the order given.
void WritePdf(const std::string& path, const std::vector<std::vector<std::string>>& pages,
              const std::vector<PdfLink>& links);

// Lines broken into pages of `linesPerPage`, and lines longer than `width`
// characters wrapped: the shape a text file takes when printed.
std::vector<std::vector<std::string>> Paginate(const std::string& text,
                                               std::size_t linesPerPage = 66,
                                               std::size_t width = 95);

}  // namespace corvexa::test
