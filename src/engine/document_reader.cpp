#include "engine/document_reader.h"

#include <stdexcept>
#include <string>

#include "engine/pdf_reader.h"

namespace corvexa {

namespace {

// Stands in for a reader this build does not have yet.
class UnavailableReader : public DocumentReader {
public:
    UnavailableReader(std::string_view name, std::string_view description)
        : name_(name), description_(description) {}
    std::string_view Name() const override { return name_; }
    std::string_view Description() const override { return description_; }
    bool Available() const override { return false; }
    Text ReadText(const Text&) override {
        throw std::runtime_error(std::string(name_) + " reader is not available");
    }

private:
    std::string_view name_;
    std::string_view description_;
};

}  // namespace

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
    r.eml = std::make_shared<UnavailableReader>("eml", "MIME-decoded e-mail messages (.eml)");
    r.word = std::make_shared<UnavailableReader>("word", "word-processor documents (.doc, .docx)");
    r.excel = std::make_shared<UnavailableReader>("excel", "spreadsheets (.xls, .xlsx)");
    return r;
}

std::vector<std::shared_ptr<DocumentReader>> DocumentReaders::All() const {
    std::vector<std::shared_ptr<DocumentReader>> all;
    for (const auto& r : {xpdf, pdfium, eml, word, excel})
        if (r) all.push_back(r);
    return all;
}

}  // namespace corvexa
