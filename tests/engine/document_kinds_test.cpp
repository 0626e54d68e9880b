#include "engine/readers/document_kinds.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/readers/document_reader.h"

using namespace corvexa;

// The table is what the collector, the command line and the window loop over:
// each row must name its own kind, and no file may belong to two kinds.
TEST(DocumentKinds, EachRowDescribesItsOwnKindAndFilesBelongToOneKind) {
    std::set<std::u16string_view> extensions;
    std::set<std::string_view> names, keys, objects;
    std::set<int> positions;
    for (std::size_t i = 0; i < DocumentKindTable().size(); ++i) {
        const DocumentKindInfo& row = DocumentKindTable()[i];
        EXPECT_EQ(static_cast<std::size_t>(row.kind), i);
        EXPECT_EQ(&KindInfo(row.kind), &row);
        EXPECT_EQ(KindNamed(row.name), &row);
        EXPECT_TRUE(names.insert(row.name).second) << row.name;
        EXPECT_TRUE(keys.insert(row.settingsKey).second) << row.name;
        EXPECT_TRUE(objects.insert(row.menuObjectName).second) << row.name;
        EXPECT_TRUE(positions.insert(row.menuPosition).second) << row.name;
        EXPECT_FALSE(row.cliHelp.empty() || row.menuCaption.empty()) << row.name;
        ASSERT_NE(row.make, nullptr);
        for (std::u16string_view e : row.extensions) {
            if (e.empty()) continue;
            EXPECT_EQ(e[0], u'.');
            EXPECT_NE(e, u".pdf");  // PDF files follow the PDF mode
            for (char16_t c : e) EXPECT_FALSE(c >= u'A' && c <= u'Z');
            EXPECT_TRUE(extensions.insert(e).second);
            EXPECT_TRUE(row.Matches(Text(e)));
        }
    }
    EXPECT_EQ(*positions.begin(), 0);
    EXPECT_EQ(*positions.rbegin(), static_cast<int>(kDocumentKindCount) - 1);
    EXPECT_EQ(KindNamed("pdf"), nullptr);
}

TEST(DocumentKinds, ASetHoldsEachKindOnItsOwn) {
    for (const DocumentKindInfo& row : DocumentKindTable()) {
        DocumentKinds set;
        set.Set(row.kind);
        for (const DocumentKindInfo& other : DocumentKindTable())
            EXPECT_EQ(set.Has(other.kind), other.kind == row.kind);
        set.Set(row.kind, false);
        EXPECT_EQ(set, DocumentKinds{});
    }
}

// The built-in readers fill every kind's slot, each with the reader of that name.
TEST(DocumentKinds, BuiltInReadersFillEverySlot) {
    const DocumentReaders readers = DocumentReaders::BuiltIn();
    for (const DocumentKindInfo& row : DocumentKindTable()) {
        ASSERT_TRUE(readers.Of(row.kind)) << row.name;
        EXPECT_EQ(readers.Of(row.kind)->Name(), row.name);
    }
}

// Every PDF mode has one row, and the reader names read back to their mode.
TEST(DocumentKinds, PdfModeNamesReadBack) {
    std::set<std::string_view> cli, settings;
    for (const PdfModeInfo& m : kPdfModes) {
        EXPECT_EQ(&PdfModeNames(m.mode), &m);
        EXPECT_EQ(PdfModeFromName(PdfModeName(m.mode)), m.mode);
        EXPECT_TRUE(cli.insert(m.cliName).second);
        EXPECT_TRUE(settings.insert(m.settingsValue).second);
    }
    EXPECT_EQ(PdfModeNames(PdfMode::Xpdf).settingsValue, "Xpdf");
    EXPECT_EQ(PdfModeNames(PdfMode::Pdfium).cliName, "pdfium");
    EXPECT_EQ(PdfModeNames(PdfMode::PlainText).cliName, "plain");
}
