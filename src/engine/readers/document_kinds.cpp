#include "engine/readers/document_kinds.h"

#include "engine/readers/eml_reader.h"
#include "engine/readers/office_reader.h"

namespace corvexa {

namespace {

std::shared_ptr<DocumentReader> MakeEml(const ReaderTools&) {
    return MakeEmlReader();
}
std::shared_ptr<DocumentReader> MakeWord(const ReaderTools& tools) {
    return MakeWordReader(tools.soffice, kOfficeTimeout, tools.office);
}
std::shared_ptr<DocumentReader> MakeExcel(const ReaderTools& tools) {
    return MakeExcelReader(tools.soffice, kOfficeTimeout, tools.office);
}

constexpr std::string_view kOfficeMissing =
    "LibreOffice (soffice) not found; office documents are read as plain text";

const std::array<DocumentKindInfo, kDocumentKindCount> kKinds = {{
    {DocumentKind::Eml,
     "eml",
     {u".eml", u""},
     true,
     true,
     "DecodeEML",
     "decode e-mail messages (.eml): their text parts, headers decoded; the raw file is then read "
     "as well",
     "",
     "Decode EML Files",
     "DecodeEMLFiles1",
     0,
     MakeEml},
    {DocumentKind::Word,
     "word",
     {u".docx", u".doc"},
     false,
     true,
     "DecodeWord",
     "read .doc and .docx documents through LibreOffice (soffice, run headless once per document)",
     kOfficeMissing,
     "Decode Word Files",
     "DecodeWordFiles1",
     2,
     MakeWord},
    {DocumentKind::Excel,
     "excel",
     {u".xlsx", u".xls"},
     false,
     true,
     "DecodeExcel",
     "read .xls and .xlsx workbooks through LibreOffice: every sheet, each cell as displayed",
     kOfficeMissing,
     "Decode Excel Files",
     "DecodeExcelFiles1",
     1,
     MakeExcel},
}};

}  // namespace

const std::array<DocumentKindInfo, kDocumentKindCount>& DocumentKindTable() {
    return kKinds;
}

const DocumentKindInfo& KindInfo(DocumentKind kind) {
    return kKinds[static_cast<std::size_t>(kind)];
}

const DocumentKindInfo* KindNamed(std::string_view name) {
    for (const DocumentKindInfo& k : kKinds)
        if (k.name == name) return &k;
    return nullptr;
}

const PdfModeInfo& PdfModeNames(PdfMode mode) {
    for (const PdfModeInfo& m : kPdfModes)
        if (m.mode == mode) return m;
    return kPdfModes[0];
}

std::string_view PdfModeName(PdfMode mode) {
    return PdfModeNames(mode).readerName;
}

PdfMode PdfModeFromName(std::string_view name) {
    for (const PdfModeInfo& m : kPdfModes)
        if (!m.readerName.empty() && m.readerName == name) return m.mode;
    return PdfMode::PlainText;
}

}  // namespace corvexa
