// Link targets: a PDF whose only addresses are link annotations (made with
// cairo), read through the converter and through the library; Word and Excel
// documents whose only addresses are hyperlinks (zips of XML written by
// Python's zipfile, and a .doc the office suite makes of one); the
// relationships parts' reading on its own; and nothing of it when the switch
// is off.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "engine/collector.h"
#include "engine/readers/office_links.h"
#include "engine/readers/office_reader.h"
#include "engine/readers/pdf_reader.h"
#include "support/empty_sink.h"
#include "support/pdf_maker.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::TempDir;
namespace fs = std::filesystem;

namespace {

// A finding and where it was made: member, line, text.
using Found = std::vector<std::tuple<std::string, std::uint32_t, std::string>>;

struct FailSink : test::EmptySink {
    std::vector<std::string> failures;
    void FileFailed(const Text& path, const std::string& reason) override {
        failures.push_back(ToUtf8(path) + ": " + reason);
    }
};

// Scans one file with the readers given and returns its findings with their
// places.
Found Scan(const fs::path& file, const DocumentReaders& readers, PdfMode pdf, DocumentKinds kinds,
           bool links, std::vector<std::string>* failures = nullptr) {
    ScanJob job;
    job.Mode = ScanMode::FileList;
    job.Pdf = pdf;
    job.Kinds = kinds;
    job.LinkTargets = links;
    ScanControl control;
    SharedList files, urls;
    files.Assign({FromUtf8(file.string())});
    FailSink sink;
    FindingOrigins origins;
    TCollector c(job, files, urls, control, sink, readers);
    c.RecordOrigins(&origins);
    c.CollectNow();
    Found found;
    for (std::size_t i = 0; i < urls.Size(); ++i)
        found.emplace_back(origins.At(i).member, origins.At(i).line, ToUtf8(urls.At(i)));
    if (failures) *failures = sink.failures;
    return found;
}

// A PDF of two pages whose text holds no address; three links hold them.
fs::path LinkedPdf(TempDir& dir) {
    const fs::path pdf = dir.Path() / "links.pdf";
    test::WritePdf(pdf.string(), {{"Nothing to see here."}, {"Nor here, see below."}},
                   {{0, "click here", "http://only-in-link.example/a"},
                    {1, "and here", "https://second.example/b?x=1&y=2"},
                    {1, "or write", "mailto:someone@example.org"}});
    return pdf;
}

const Found kPdfLinks = {
    {"link:page=1", 1, "http://only-in-link.example/a"},
    {"link:page=2", 1, "https://second.example/b?x=1&y=2"},
    {"link:page=2", 2, "someone@example.org"},
};

// Runs a Python script that writes files into the folder.
void RunPython(TempDir& dir, const std::string& script) {
    dir.Write("make.py", script);
    const std::string command = "cd '" + dir.Path().string() + "' && python3 make.py";
    ASSERT_EQ(std::system(command.c_str()), 0) << script;
}

// A .docx and an .xlsx whose text holds no address: the document's two
// hyperlinks and the sheet's one live in their relationships parts only.
// The document refers to its links in the order opposite to the list's.
const char* const kOfficeScript = R"(
import zipfile
def write(name, parts):
    with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED) as z:
        for part, text in parts:
            z.writestr(part, text)
R = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
P = 'http://schemas.openxmlformats.org/package/2006/relationships'
write("letter.docx", [
 ("[Content_Types].xml", '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>'),
 ("_rels/.rels", '<?xml version="1.0"?><Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" Target="word/document.xml"/></Relationships>' % (P, R)),
 ("word/document.xml", '<?xml version="1.0"?><w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="%s"><w:body><w:p><w:r><w:t>Please </w:t></w:r><w:hyperlink r:id="rId9"><w:r><w:t>click here</w:t></w:r></w:hyperlink><w:r><w:t> or </w:t></w:r><w:hyperlink r:id="rId8"><w:r><w:t>write to us</w:t></w:r></w:hyperlink></w:p></w:body></w:document>' % R),
 ("word/_rels/document.xml.rels", '<?xml version="1.0"?><Relationships xmlns="%s"><Relationship Id="rId8" Type="%s/hyperlink" Target="mailto:office@example.org" TargetMode="External"/><Relationship Id="rId7" Type="%s/image" Target="http://image.example/no.png" TargetMode="External"/><Relationship Id="rId9" Type="%s/hyperlink" Target="https://docx.example/path?a=1&amp;b=2" TargetMode="External"/></Relationships>' % (P, R, R, R)),
])
write("book.xlsx", [
 ("[Content_Types].xml", '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>'),
 ("_rels/.rels", '<?xml version="1.0"?><Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % (P, R)),
 ("xl/workbook.xml", '<?xml version="1.0"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="%s"><sheets><sheet name="One" sheetId="1" r:id="rId1"/></sheets></workbook>' % R),
 ("xl/_rels/workbook.xml.rels", '<?xml version="1.0"?><Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/worksheet" Target="worksheets/sheet1.xml"/></Relationships>' % (P, R)),
 ("xl/worksheets/sheet1.xml", '<?xml version="1.0"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="%s"><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>our site</t></is></c></row></sheetData><hyperlinks><hyperlink ref="A1" r:id="rId1"/></hyperlinks></worksheet>' % R),
 ("xl/worksheets/_rels/sheet1.xml.rels", '<?xml version="1.0"?><Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/hyperlink" Target="https://xlsx.example/sheet" TargetMode="External"/></Relationships>' % (P, R)),
])
)";

std::vector<std::string> Uris(const std::vector<LinkTarget>& links) {
    std::vector<std::string> out;
    for (const LinkTarget& l : links) out.push_back(l.uri);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// PDF link annotations

TEST(PdfLinkTargets, BothRoutesReadTheAnnotationsAfterTheTextAndOnlyWhenAsked) {
    TempDir dir;
    const fs::path pdf = LinkedPdf(dir);
    DocumentReaderOptions options;
    options.privateFolderBase = dir.MakeDir("private").string();
    options.converterFolder = dir.MakeDir("no-converter-here").string();  // the one on PATH
    const DocumentReaders readers = DocumentReaders::BuiltIn(options);
    for (PdfMode mode : {PdfMode::Xpdf, PdfMode::Pdfium}) {
        SCOPED_TRACE(std::string(PdfModeName(mode)));
        std::vector<std::string> failures;
        EXPECT_EQ(Scan(pdf, readers, mode, {}, true, &failures), kPdfLinks);
        EXPECT_TRUE(failures.empty()) << failures.front();
        // Off, the default: the text alone, which holds no address.
        EXPECT_EQ(Scan(pdf, readers, mode, {}, false), Found{});
        EXPECT_EQ(Scan(pdf, readers, mode, {}, ScanJob{}.LinkTargets), Found{});
    }
    // Read as plain text, a PDF gives no link targets whatever the switch.
    for (const auto& [member, line, text] : Scan(pdf, readers, PdfMode::PlainText, {}, true))
        EXPECT_EQ(member, "") << text;
}

// A PDF inside an archive gives its links too, from memory through the
// library or from the private file the converter is handed: placed under
// the member's entry of the files list.
TEST(PdfLinkTargets, APdfMemberOfAnArchiveGivesItsLinksUnderItsPlace) {
    TempDir dir;
    LinkedPdf(dir);
    RunPython(dir, R"(
import zipfile
with zipfile.ZipFile("docs.zip", "w") as z:
    z.write("links.pdf", "in/links.pdf")
)");
    DocumentReaderOptions options;
    options.privateFolderBase = dir.MakeDir("private").string();
    options.converterFolder = dir.MakeDir("no-converter-here").string();  // the one on PATH
    const DocumentReaders readers = DocumentReaders::BuiltIn(options);
    const std::string zip = (dir.Path() / "docs.zip").string();
    for (PdfMode mode : {PdfMode::Xpdf, PdfMode::Pdfium}) {
        SCOPED_TRACE(std::string(PdfModeName(mode)));
        ScanJob job;
        job.Mode = ScanMode::FileList;
        job.Pdf = mode;
        job.Archives = true;
        job.LinkTargets = true;
        ScanControl control;
        SharedList files, urls;
        files.Assign({FromUtf8(zip)});
        FailSink sink;
        FindingOrigins origins;
        TCollector c(job, files, urls, control, sink, readers);
        c.RecordOrigins(&origins);
        c.CollectNow();
        EXPECT_TRUE(sink.failures.empty()) << sink.failures.front();
        Found found;
        for (std::size_t i = 0; i < urls.Size(); ++i) {
            const FindingOrigins::Origin o = origins.At(i);
            EXPECT_EQ(ToUtf8(files.At(o.file)), zip);
            EXPECT_EQ(ToUtf8(files.At(o.entry)), zip + "//in/links.pdf");
            found.emplace_back(o.member, o.line, ToUtf8(urls.At(i)));
        }
        Found expected = kPdfLinks;
        for (auto& [member, line, text] : expected) member = "in/links.pdf//" + member;
        EXPECT_EQ(found, expected);
        // Nothing of the member is left in the private folder.
        EXPECT_TRUE(fs::is_empty(dir.Path() / "private"));
    }
}

TEST(PdfLinkTargets, TheConverterRouteWithoutTheLibraryReadsTheTextOnly) {
    TempDir dir;
    const fs::path pdf = dir.Path() / "text-and-link.pdf";
    test::WritePdf(pdf.string(), {{"see www.in-the-text.example"}},
                   {{0, "here", "http://in-the-link.example/"}});
    PdfSettings settings;
    settings.privateFolderBase = dir.MakeDir("private").string();
    settings.converterFolder = dir.MakeDir("none").string();
    settings.libraryNames = {(dir.Path() / "absent.so").string()};
    auto extractor = std::make_shared<PdfExtractor>(settings);
    EXPECT_FALSE(extractor->LinksAvailable());
    DocumentReaders readers;
    readers.xpdf = MakeXpdfReader(extractor);
    std::vector<std::string> failures;
    EXPECT_EQ(Scan(pdf, readers, PdfMode::Xpdf, {}, true, &failures),
              (Found{{"", 1, "www.in-the-text.example"}}));
    EXPECT_TRUE(failures.empty());

    // With the library, the same document gives its link after its text.
    EXPECT_TRUE(PdfExtractor(PdfSettings{}).LinksAvailable());
    const auto links = PdfExtractor(PdfSettings{}).Links(FromUtf8(pdf.string()));
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].page, 1u);
    EXPECT_EQ(links[0].uri, "http://in-the-link.example/");
}

// ---------------------------------------------------------------------------
// Office documents' hyperlinks

TEST(OfficeLinkTargets, RelationshipsPartsGiveTheirExternalHyperlinksInTheSourcesOrder) {
    const std::string R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    auto rel = [&](const std::string& id, const std::string& type, const std::string& target,
                   const std::string& mode) {
        return "<Relationship Id=\"" + id + "\" Type=\"" + R + "/" + type + "\" Target=\"" +
               target + "\"" + (mode.empty() ? "" : " TargetMode=\"" + mode + "\"") + "/>";
    };
    const struct {
        const char* what;
        std::string rels;
        std::string source;
        std::vector<std::string> uris;
    } cases[] = {
        {"an external hyperlink",
         "<Relationships>" + rel("a", "hyperlink", "http://x.example/", "External") +
             "</Relationships>",
         "",
         {"http://x.example/"}},
        {"internal links, images and other types are left out",
         "<Relationships>" + rel("a", "hyperlink", "#bookmark", "") +
             rel("b", "image", "http://img.example/", "External") +
             rel("c", "styles", "styles.xml", "") + "</Relationships>",
         "",
         {}},
        {"entities undone",
         "<Relationships>" +
             rel("a", "hyperlink", "http://e.example/?a=1&amp;b=&#50;&#x33;", "External") +
             "</Relationships>",
         "",
         {"http://e.example/?a=1&b=23"}},
        {"in the order the source first refers to them, unreferenced ones last",
         "<Relationships>" + rel("r1", "hyperlink", "http://one.example/", "External") +
             rel("r2", "hyperlink", "http://two.example/", "External") +
             rel("r3", "hyperlink", "http://three.example/", "External") + "</Relationships>",
         "<w:hyperlink r:id=\"r3\"/><x id=\"r1\"/><w:hyperlink r:id=\"r2\"/><w:hyperlink "
         "r:id=\"r3\"/>",
         {"http://three.example/", "http://two.example/", "http://one.example/"}},
        {"a prefixed element, single quotes, attributes over lines",
         "<pr:Relationships><pr:Relationship\n Id='a'\n Type='" + R +
             "/hyperlink' TargetMode='External' "
             "Target='ftp://files.example/x'/></pr:Relationships>",
         "",
         {"ftp://files.example/x"}},
        {"damaged lists give what they can, and never read past their end",
         "<Relationships>" + rel("a", "hyperlink", "http://kept.example/", "External") +
             "<Relationship Id=\"b\" Type=\"" + R + "/hyperlink\" Target=\"http://cut",
         "",
         {"http://kept.example/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<LinkTarget> links;
        AddRelationshipLinks(c.rels, c.source, links);
        EXPECT_EQ(Uris(links), c.uris);
        for (const LinkTarget& l : links) EXPECT_EQ(l.page, 0u);
    }
}

TEST(OfficeLinkTargets, DocxAndXlsxGiveTheirHyperlinksAndOtherFilesNone) {
    TempDir dir;
    RunPython(dir, kOfficeScript);
    EXPECT_EQ(Uris(OoxmlLinks((dir.Path() / "letter.docx").string())),
              (std::vector<std::string>{"https://docx.example/path?a=1&b=2",
                                        "mailto:office@example.org"}));
    EXPECT_EQ(Uris(OoxmlLinks((dir.Path() / "book.xlsx").string())),
              std::vector<std::string>{"https://xlsx.example/sheet"});
    const fs::path text = dir.Write("plain.docx", "http://not-a-zip.example/");
    EXPECT_TRUE(OoxmlLinks(text.string()).empty());
    EXPECT_TRUE(OoxmlLinks((dir.Path() / "missing.docx").string()).empty());
}

// A zip whose parts each stay within a part's bound but together unpack to
// far more than any document: reading stops at the total bound, before the
// links listed after them.
TEST(OfficeLinkTargets, AZipThatUnpacksPastTheBoundStopsThere) {
    TempDir dir;
    RunPython(dir, R"(
import zipfile
R = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
with zipfile.ZipFile("bomb.docx", "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(9):
        with z.open("word/filler%d.xml" % i, "w") as part:
            for _ in range(30):
                part.write(b" " * (1 << 20))
    z.writestr("word/_rels/document.xml.rels", '<Relationships><Relationship Id="a" Type="%s/hyperlink" Target="http://past-the-bound.example/" TargetMode="External"/></Relationships>' % R)
with zipfile.ZipFile("small.docx", "w", zipfile.ZIP_DEFLATED) as z:
    with z.open("word/filler.xml", "w") as part:
        part.write(b" " * (40 << 20))
    z.writestr("word/_rels/document.xml.rels", '<Relationships><Relationship Id="a" Type="%s/hyperlink" Target="http://after-a-large-part.example/" TargetMode="External"/></Relationships>' % R)
)");
    EXPECT_TRUE(OoxmlLinks((dir.Path() / "bomb.docx").string()).empty());
    // One part past its own bound is passed over; the rest is read.
    EXPECT_EQ(Uris(OoxmlLinks((dir.Path() / "small.docx").string())),
              std::vector<std::string>{"http://after-a-large-part.example/"});
}

TEST(OfficeLinkTargets, TheOfficeReadersGiveTheLinksAfterTheTextOnlyWhenAsked) {
    const std::string soffice = FindOffice();
    if (soffice.empty()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    TempDir dir;
    RunPython(dir, kOfficeScript);
    DocumentReaders readers;
    readers.Of(DocumentKind::Word) = MakeWordReader(soffice);
    readers.Of(DocumentKind::Excel) = MakeExcelReader(soffice);
    DocumentKinds kinds;
    kinds.Set(DocumentKind::Word);
    kinds.Set(DocumentKind::Excel);
    const Found docx = {{"link", 1, "https://docx.example/path?a=1&b=2"},
                        {"link", 2, "office@example.org"}};
    EXPECT_EQ(Scan(dir.Path() / "letter.docx", readers, PdfMode::PlainText, kinds, true), docx);
    EXPECT_EQ(Scan(dir.Path() / "book.xlsx", readers, PdfMode::PlainText, kinds, true),
              (Found{{"link", 1, "https://xlsx.example/sheet"}}));
    EXPECT_EQ(Scan(dir.Path() / "letter.docx", readers, PdfMode::PlainText, kinds, false), Found{});

    // The older binary form, made by the suite from the .docx: converted back
    // to read its links.
    const std::string convert = "cd '" + dir.Path().string() + "' && HOME='" + dir.Path().string() +
                                "' '" + soffice + "' -env:UserInstallation=file://" +
                                dir.Path().string() +
                                "/profile --headless --convert-to doc letter.docx >/dev/null 2>&1";
    ASSERT_EQ(std::system(convert.c_str()), 0);
    ASSERT_TRUE(fs::exists(dir.Path() / "letter.doc"));
    const Found doc = Scan(dir.Path() / "letter.doc", readers, PdfMode::PlainText, kinds, true);
    Found links;
    for (const auto& f : doc)
        if (std::get<0>(f) == "link") links.push_back(f);
    EXPECT_EQ(links, docx);
}
