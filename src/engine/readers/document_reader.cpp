#include "engine/readers/document_reader.h"

#include <string>

#include "engine/byte_source.h"
#include "engine/readers/office_reader.h"
#include "engine/readers/pdf_reader.h"

namespace corvexa {

Text DocumentReader::ReadBytes(std::string_view, const std::string& name) {
    throw ReadError(name + ": the " + std::string(Name()) + " reader reads files only");
}

std::string LinkPlace(std::uint32_t page) {
    return page == 0 ? std::string("link") : "link:page=" + std::to_string(page);
}

DocumentReaders DocumentReaders::BuiltIn(const DocumentReaderOptions& options) {
    DocumentReaders r;
    PdfSettings pdf;
    pdf.privateFolderBase = options.privateFolderBase;
    pdf.converterFolder = options.converterFolder;
    pdf.cancel = options.cancel;
    pdf.ansiCodePage = options.ansiCodePage;
    auto extractor = std::make_shared<PdfExtractor>(std::move(pdf));
    r.xpdf = MakeXpdfReader(extractor);
    r.pdfium = MakePdfiumReader(extractor);
    ReaderTools tools;
    tools.soffice = FindOffice();
    tools.office = MakeOfficeService(tools.soffice);
    for (const DocumentKindInfo& kind : DocumentKindTable()) r.Of(kind.kind) = kind.make(tools);
    return r;
}

std::vector<std::shared_ptr<DocumentReader>> DocumentReaders::All() const {
    std::vector<std::shared_ptr<DocumentReader>> all;
    for (const auto& r : {xpdf, pdfium})
        if (r) all.push_back(r);
    for (const auto& r : kinds)
        if (r) all.push_back(r);
    return all;
}

std::shared_ptr<DocumentReader> DocumentReaders::ForPdf(PdfMode mode) const {
    switch (mode) {
        case PdfMode::Xpdf:
            return xpdf;
        case PdfMode::Pdfium:
            return pdfium;
        case PdfMode::PlainText:
            break;
    }
    return nullptr;
}

}  // namespace corvexa
