#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/text.h"

namespace corvexa {

class DocumentReader;
class OfficeService;

// The kinds of document a scan can decode when the user turns them on. Every
// other file (PDF files aside, which have their own reading mode) is read as
// plain text.
enum class DocumentKind : std::uint8_t { Eml, Word, Excel };
inline constexpr std::size_t kDocumentKindCount = 3;

// A set of document kinds.
class DocumentKinds {
public:
    bool Has(DocumentKind kind) const { return (bits_ & Bit(kind)) != 0; }
    void Set(DocumentKind kind, bool on = true) {
        bits_ = on ? (bits_ | Bit(kind)) : (bits_ & ~Bit(kind));
    }
    bool operator==(const DocumentKinds&) const = default;

private:
    static std::uint32_t Bit(DocumentKind kind) {
        return std::uint32_t{1} << static_cast<unsigned>(kind);
    }
    std::uint32_t bits_ = 0;
};

// What the reader factories share: found once per program run.
struct ReaderTools {
    std::string soffice;  // the office program, or empty when there is none
    // The running office suite the word and excel readers share (may be null).
    std::shared_ptr<OfficeService> office;
};

// One kind of document: how its files are known, how they are read, and how
// the user turns its decoding on and off.
struct DocumentKindInfo {
    DocumentKind kind;
    std::string_view name;  // the reader's name, and the command line's (--eml)
    std::array<std::u16string_view, 2> extensions;  // lower case, with the dot
    bool alsoPlainText;                             // the raw file is read as plain text as well
    bool oneAtATime;               // its reader runs one document at a time in a parallel scan
    std::string_view settingsKey;  // on/off key in the window's settings
    std::string_view cliHelp;
    // What the command line says when the kind is asked for but its reader
    // cannot run; empty: nothing.
    std::string_view missingWarning;
    std::string_view menuCaption;
    std::string_view menuObjectName;
    int menuPosition;  // its place among the kinds' items in the window's menu
    std::shared_ptr<DocumentReader> (*make)(const ReaderTools& tools);

    bool Matches(const Text& lowerExtension) const {
        for (std::u16string_view e : extensions)
            if (!e.empty() && lowerExtension == e) return true;
        return false;
    }
};

// In the order the command line lists them; index i describes DocumentKind(i).
const std::array<DocumentKindInfo, kDocumentKindCount>& DocumentKindTable();
const DocumentKindInfo& KindInfo(DocumentKind kind);
// The row whose name is `name`, or null.
const DocumentKindInfo* KindNamed(std::string_view name);

// How PDF files are read: as plain text, or through one of the two PDF readers.
enum class PdfMode { PlainText, Xpdf, Pdfium };

// Every name a PDF mode goes by.
struct PdfModeInfo {
    PdfMode mode;
    std::string_view readerName;  // "" for plain text
    std::string_view cliName;
    std::string_view settingsValue;
    std::string_view menuCaption;
    std::string_view menuObjectName;
};

// In the order of the window's menu.
inline constexpr std::array<PdfModeInfo, 3> kPdfModes = {{
    {PdfMode::PlainText, "", "plain", "PlainText", "Plain Text", "PlainText1"},
    {PdfMode::Pdfium, "pdfium", "pdfium", "PDFium", "PDFium", "PDFium1"},
    {PdfMode::Xpdf, "xpdf", "xpdf", "Xpdf", "Xpdf", "Xpdf1"},
}};
const PdfModeInfo& PdfModeNames(PdfMode mode);

// "xpdf", "pdfium", or "" for plain text; and back (anything else: plain text).
std::string_view PdfModeName(PdfMode mode);
PdfMode PdfModeFromName(std::string_view name);

}  // namespace corvexa
