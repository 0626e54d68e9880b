#include "engine/readers/document_reader.h"

#include <string>

#include "engine/readers/eml_reader.h"
#include "engine/readers/office_reader.h"
#include "engine/readers/pdf_reader.h"

namespace corvexa {

DocumentReaders DocumentReaders::BuiltIn(const DocumentReaderOptions& options) {
    DocumentReaders r;
    PdfSettings pdf;
    pdf.dataFolder = options.dataFolder;
    pdf.converterFolder = options.converterFolder;
    pdf.cancel = options.cancel;
    pdf.ansiCodePage = options.ansiCodePage;
    auto extractor = std::make_shared<PdfExtractor>(std::move(pdf));
    r.xpdf = MakeXpdfReader(extractor);
    r.pdfium = MakePdfiumReader(extractor);
    r.eml = MakeEmlReader();
    const std::string office = FindOffice();
    r.word = MakeWordReader(office);
    r.excel = MakeExcelReader(office);
    return r;
}

std::vector<std::shared_ptr<DocumentReader>> DocumentReaders::All() const {
    std::vector<std::shared_ptr<DocumentReader>> all;
    for (const auto& r : {xpdf, pdfium, eml, word, excel})
        if (r) all.push_back(r);
    return all;
}

}  // namespace corvexa
