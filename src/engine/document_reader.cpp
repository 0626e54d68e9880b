#include "engine/document_reader.h"

#include "engine/eml_reader.h"
#include "engine/office_reader.h"

#include <stdexcept>
#include <string>

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

DocumentReaders DocumentReaders::BuiltIn() {
    DocumentReaders r;
    r.xpdf = std::make_shared<UnavailableReader>("xpdf", "PDF text through the external converter");
    r.pdfium = std::make_shared<UnavailableReader>("pdfium", "PDF text through the PDF library");
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
