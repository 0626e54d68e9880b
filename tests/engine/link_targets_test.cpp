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
#include "engine/readers/office_fields.h"
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

// Run after kOfficeScript: a .docx whose addresses are HYPERLINK fields (an
// instruction split over runs, a simple field, a bookmark that is none) and
// one listed link between them, with a header's field stored before the
// document in the zip; an .xlsx whose address is a HYPERLINK formula.
const char* const kFieldScript = R"(
W = 'http://schemas.openxmlformats.org/wordprocessingml/2006/main'
def run(x): return '<w:r>%s</w:r>' % x
def fld(t): return run('<w:fldChar w:fldCharType="%s"/>' % t)
def instr(t): return run('<w:instrText xml:space="preserve">%s</w:instrText>' % t)
def text(t): return run('<w:t xml:space="preserve">%s</w:t>' % t)
def doc(root, body): return '<?xml version="1.0"?><w:%s xmlns:w="%s" xmlns:r="%s">%s</w:%s>' % (root, W, R, body, root)
body = ('<w:body><w:p>' + text('Go ') + fld('begin') + instr(' HYPERLINK "http://field.exa') +
 instr('mple/split?a=1&amp;b=2" \\o "a tip"') + fld('separate') + text('there') + fld('end') +
 '</w:p><w:p><w:hyperlink r:id="rId5">' + text('listed') + '</w:hyperlink></w:p><w:p>' +
 fld('begin') + instr(' HYPERLINK \\l "intro" ') + fld('separate') + text('up') + fld('end') +
 '<w:fldSimple w:instr=" HYPERLINK &quot;https://simple.example/&quot; ">' + text('simple') +
 '</w:fldSimple></w:p><w:sectPr><w:headerReference w:type="default" r:id="rId6"/></w:sectPr></w:body>')
write("fields.docx", [
 ("[Content_Types].xml", '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/><Override PartName="/word/header1.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml"/></Types>'),
 ("_rels/.rels", '<?xml version="1.0"?><Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" Target="word/document.xml"/></Relationships>' % (P, R)),
 ("word/header1.xml", doc('hdr', '<w:p>' + fld('begin') + instr('HYPERLINK "http://header.example/"') + fld('separate') + text('home') + fld('end') + '</w:p>')),
 ("word/document.xml", doc('document', body)),
 ("word/_rels/document.xml.rels", '<?xml version="1.0"?><Relationships xmlns="%s"><Relationship Id="rId5" Type="%s/hyperlink" Target="mailto:listed@example.org" TargetMode="External"/><Relationship Id="rId6" Type="%s/header" Target="header1.xml"/></Relationships>' % (P, R, R)),
])
write("formula.xlsx", [
 ("[Content_Types].xml", '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>'),
 ("_rels/.rels", '<?xml version="1.0"?><Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % (P, R)),
 ("xl/workbook.xml", '<?xml version="1.0"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="%s"><sheets><sheet name="One" sheetId="1" r:id="rId1"/></sheets></workbook>' % R),
 ("xl/_rels/workbook.xml.rels", '<?xml version="1.0"?><Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/worksheet" Target="worksheets/sheet1.xml"/></Relationships>' % (P, R)),
 ("xl/worksheets/sheet1.xml", '<?xml version="1.0"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r="1"><c r="A1" t="str"><f>HYPERLINK("https://formula.example/x?a=1&amp;b=2","go")</f><v>go</v></c><c r="B1" t="str"><f>HYPERLINK(A1,"no")</f><v>no</v></c></row></sheetData></worksheet>'),
])
)";

const std::vector<std::string> kFieldDocxUris = {
    "http://field.example/split?a=1&b=2", "mailto:listed@example.org", "https://simple.example/",
    "http://header.example/"};

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

// Pieces of a Word part's complex fields and runs.
std::string FieldChar(const std::string& type) {
    return "<w:r><w:fldChar w:fldCharType=\"" + type + "\"/></w:r>";
}
std::string Instr(const std::string& text) {
    return "<w:r><w:instrText xml:space=\"preserve\">" + text + "</w:instrText></w:r>";
}
std::string RunText(const std::string& text) {
    return "<w:r><w:t>" + text + "</w:t></w:r>";
}
// A whole complex field: instruction pieces, then its result.
std::string Field(const std::vector<std::string>& instruction, const std::string& result = "x") {
    std::string xml = FieldChar("begin");
    for (const std::string& piece : instruction) xml += Instr(piece);
    return xml + FieldChar("separate") + RunText(result) + FieldChar("end");
}
std::string Cell(const std::string& formula) {
    return "<c r=\"A1\" t=\"str\"><f>" + formula + "</f><v>x</v></c>";
}

TEST(OfficeLinkTargets, FieldCodesAndFormulasGiveTheirAddressesInThePartsOrder) {
    const std::string R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const std::string longAddress = "http://long.example/" + std::string(100000, 'a');
    const std::string word = "word/document.xml", sheet = "xl/worksheets/sheet1.xml";
    std::string deep;
    for (int i = 0; i < 40; ++i)
        deep += FieldChar("begin") + Instr("HYPERLINK \"http://d.example/\"");
    for (int i = 0; i < 40; ++i) deep += FieldChar("separate") + FieldChar("end");
    const struct {
        const char* what;
        std::string part;
        std::string rels;
        std::string source;
        std::vector<std::string> uris;
    } cases[] = {
        {"an instruction split over runs, with a tip",
         word,
         "",
         Field({" HYPERLINK \"http://split.exa", "mple/a?x=1&amp;y=2\" \\o \"the ", "tip\" "}),
         {"http://split.example/a?x=1&y=2"}},
        {"a simple field, its quotes as entities",
         word,
         "",
         "<w:fldSimple w:instr=\" HYPERLINK &quot;https://simple.example/&quot; \\h\">" +
             RunText("s") + "</w:fldSimple>",
         {"https://simple.example/"}},
        {"a bookmark is no address; with an address, the address alone",
         word,
         "",
         Field({"HYPERLINK \\l \"chapter2\" \\* MERGEFORMAT"}) +
             Field({"HYPERLINK \"http://page.example/\" \\l \"part\""}),
         {"http://page.example/"}},
        {"escaped quotes and backslashes, a bare address, any case",
         word,
         "",
         Field({"HYPERLINK \"http://q.example/\\\"x\\\"\\\\y\""}) +
             Field({"hyperlink http://bare.example/p \\t \"_blank\""}),
         {"http://q.example/\"x\"\\y", "http://bare.example/p"}},
        {"other fields, stray instructions and ends give nothing",
         word,
         "",
         Field({"PAGE \\* MERGEFORMAT"}) + Field({"REF \"http://ref.example/\""}) +
             Instr("HYPERLINK \"http://stray.example/\"") + FieldChar("end") +
             FieldChar("separate"),
         {}},
        {"a nested field's result is part of the address; nested links are read",
         word,
         "",
         FieldChar("begin") + Instr("HYPERLINK \"http://outer.example/") + FieldChar("begin") +
             Instr("REF name") + FieldChar("separate") + RunText("page7") + FieldChar("end") +
             Instr("\"") + FieldChar("separate") + Field({"HYPERLINK \"http://inner.example/\""}) +
             FieldChar("end"),
         {"http://outer.example/page7", "http://inner.example/"}},
        {"unterminated: a complete instruction is read, an unfinished one is not",
         word,
         "",
         FieldChar("begin") + Instr("HYPERLINK \"http://done.example/\"") + FieldChar("separate") +
             FieldChar("begin") + Instr("HYPERLINK \"http://never-separated.example/\""),
         {"http://done.example/"}},
        {"a huge instruction is bounded, the address cut",
         word,
         "",
         Field({"HYPERLINK \"" + longAddress + "\""}),
         {longAddress.substr(0, kMaxLinkLength)}},
        {"fields nested past the depth bound are passed over", word, "", deep,
         std::vector<std::string>(kMaxFieldDepth, "http://d.example/")},
        {"fields and listed links together, in the part's order",
         word,
         "<Relationships><Relationship Id=\"r1\" Type=\"" + R +
             "/hyperlink\" Target=\"http://listed.example/\" TargetMode=\"External\"/>"
             "<Relationship Id=\"r2\" Type=\"" +
             R +
             "/hyperlink\" Target=\"http://unreferred.example/\" TargetMode=\"External\"/>"
             "</Relationships>",
         Field({"HYPERLINK \"http://first.example/\""}) + "<w:hyperlink r:id=\"r1\"/>" +
             Field({"HYPERLINK \"http://third.example/\""}),
         {"http://first.example/", "http://listed.example/", "http://third.example/",
          "http://unreferred.example/"}},
        {"a formula's literal, entities undone",
         sheet,
         "",
         Cell("HYPERLINK(&quot;https://f.example/x?a=1&amp;b=2&quot;,&quot;go&quot;)"),
         {"https://f.example/x?a=1&b=2"}},
        {"every call of a formula, a doubled quote, any case",
         sheet,
         "",
         Cell(
             "IF(A1,HYPERLINK(\"http://one.example/\"),hyperlink( \"http://two.example/\"\"q\"\"\" "
             ", \"t\"))"),
         {"http://one.example/", "http://two.example/\"q\""}},
        {"a reference, an expression or a text that looks like a call is not read",
         sheet,
         "",
         Cell("HYPERLINK(B2,\"go\")") + Cell("HYPERLINK(\"http://a.example/\"&B2)") +
             Cell("CONCAT(\"HYPERLINK(\"\"http://in-text.example/\"\")\")") +
             Cell("HYPERLINK(\"http://unclosed.example/") + "<c><f t=\"shared\" si=\"0\"/></c>",
         {}},
        {"formulas are read in sheets, field codes in Word parts only",
         sheet,
         "",
         Field({"HYPERLINK \"http://field.example/\""}),
         {}},
        {"formulas in a Word part are not read",
         word,
         "",
         Cell("HYPERLINK(\"http://formula.example/\")"),
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<LinkTarget> links;
        AddPartLinks(c.part, c.rels, c.source, links);
        EXPECT_EQ(Uris(links), c.uris);
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

TEST(OfficeLinkTargets, FieldsAndFormulasAreReadFromTheZipMainPartFirst) {
    TempDir dir;
    RunPython(dir, std::string(kOfficeScript) + kFieldScript);
    EXPECT_EQ(Uris(OoxmlLinks((dir.Path() / "fields.docx").string())), kFieldDocxUris);
    EXPECT_EQ(Uris(OoxmlLinks((dir.Path() / "formula.xlsx").string())),
              std::vector<std::string>{"https://formula.example/x?a=1&b=2"});
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

// The suite writes a .doc's HYPERLINK fields as listed links when it converts
// it back, and keeps an .xls's HYPERLINK formula as a formula: either way the
// address behind the field or formula is read.
TEST(OfficeLinkTargets, TheBinaryFormsKeepTheAddressesOfFieldsAndFormulas) {
    const std::string soffice = FindOffice();
    if (soffice.empty()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    TempDir dir;
    RunPython(dir, std::string(kOfficeScript) + kFieldScript);
    for (const char* made : {"doc fields.docx", "xls formula.xlsx"}) {
        const std::string convert = "cd '" + dir.Path().string() + "' && HOME='" +
                                    dir.Path().string() + "' '" + soffice +
                                    "' -env:UserInstallation=file://" + dir.Path().string() +
                                    "/profile --headless --convert-to " + made + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(convert.c_str()), 0) << made;
    }
    // The links alone (the readers' text is covered above).
    OfficeRun run;
    run.soffice = soffice;
    EXPECT_EQ(Uris(OfficeLinks(FromUtf8((dir.Path() / "fields.doc").string()), true, run)),
              kFieldDocxUris);
    EXPECT_EQ(Uris(OfficeLinks(FromUtf8((dir.Path() / "formula.xls").string()), false, run)),
              std::vector<std::string>{"https://formula.example/x?a=1&b=2"});
}
