// Members of archives read as their own kinds: a PDF, an e-mail message and a
// word-processor document inside a zip (one of them in a nested archive, one
// under a "../" name), made at test time with cairo and Python's zipfile and
// tarfile. The readers that need a file get one in a private folder, gone
// right after; the others read from memory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/collector.h"
#include "engine/readers/archive_reader.h"
#include "engine/readers/document_reader.h"
#include "platform/native_path.h"
#include "support/empty_sink.h"
#include "support/pdf_maker.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::TempDir;
namespace fs = std::filesystem;

namespace {

// The message's only address in its body is base64: it shows only decoded.
constexpr char kMessage[] =
    "From: sender@eml.example\r\nSubject: hi\r\nMIME-Version: 1.0\r\n"
    "Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "d3JpdGUgdG8gYm9keUBlbWwuZXhhbXBsZQ==\r\n";  // "write to body@eml.example"

void MakeKindsArchive(const TempDir& dir) {
    test::WritePdf((dir.Path() / "report.pdf").string(), {{"see https://pdf.example/"}});
    dir.Write("msg.eml", kMessage);
    const std::string script = R"PY(
import io, os, sys, tarfile, zipfile
os.chdir(sys.argv[1])
def tar_bytes(members):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w:gz") as t:
        for name, data in members:
            info = tarfile.TarInfo(name); info.size = len(data)
            t.addfile(info, io.BytesIO(data))
    return buf.getvalue()
msg = open("msg.eml", "rb").read()
inner = tar_bytes([("deep/inner.eml", msg.replace(b"sender@", b"deep@"))])
with zipfile.ZipFile("kinds.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("report.pdf", open("report.pdf", "rb").read())
    z.writestr("mail/msg.eml", msg)
    z.writestr("../up.docx", b"http://docx.example/")
    z.writestr("notes.txt", b"http://plain.example/")
    z.writestr("inner.tgz", inner)
)PY";
    dir.Write("make.py", script);
    const std::string cmd =
        "python3 '" + (dir.Path() / "make.py").string() + "' '" + dir.Path().string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

// Stands in for the office reader: says where and how it was given the
// member, and returns the member's bytes as its text.
class FileSpy : public DocumentReader {
public:
    std::string_view Name() const override { return "word"; }
    std::string_view Description() const override { return "spy"; }
    bool Available() const override { return true; }
    Text ReadText(const Text& path) override {
        const std::string native = platform::NativeFromPath(path);
        paths.push_back(native);
        struct stat file {
        }, folder{};
        EXPECT_EQ(::lstat(native.c_str(), &file), 0);
        EXPECT_EQ(::lstat(fs::path(native).parent_path().c_str(), &folder), 0);
        EXPECT_TRUE(S_ISREG(file.st_mode));
        EXPECT_EQ(file.st_mode & 0777, 0600u);
        EXPECT_EQ(folder.st_mode & 0777, 0700u);
        std::ifstream in(native, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return FromUtf8(bytes.str());
    }
    std::vector<std::string> paths;
};

struct FailSink : test::EmptySink {
    void FileFailed(const Text&, const std::string& why) override { failed.push_back(why); }
    std::vector<std::string> failed;
};

}  // namespace

TEST(ArchiveMembers, EachMemberIsReadAsItsKindWhenThatKindIsOn) {
    TempDir dir;
    MakeKindsArchive(dir);
    struct Case {
        const char* what;
        bool eml, word;
        PdfMode pdf;
        std::set<std::string> found, notFound;
    } cases[] = {
        {"every kind off: plain text only",
         false,
         false,
         PdfMode::PlainText,
         {"http://plain.example/", "sender@eml.example", "http://docx.example/",
          "deep@eml.example"},
         {"https://pdf.example/", "body@eml.example"}},
        {"e-mail on, also nested: decoded and then read as it is",
         true,
         false,
         PdfMode::PlainText,
         {"body@eml.example", "sender@eml.example", "deep@eml.example", "http://plain.example/"},
         {"https://pdf.example/"}},
        {"PDF through the library, from memory",
         false,
         false,
         PdfMode::Pdfium,
         {"https://pdf.example/", "http://plain.example/"},
         {"body@eml.example"}},
        {"PDF through the converter, from a private file",
         false,
         false,
         PdfMode::Xpdf,
         {"https://pdf.example/"},
         {"body@eml.example"}},
        {"office member under a ../ name, through a private file",
         true,
         true,
         PdfMode::Pdfium,
         {"http://docx.example/", "https://pdf.example/", "body@eml.example"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScanJob job;
        job.Mode = ScanMode::FileList;
        job.Archives = true;
        job.Kinds.Set(DocumentKind::Eml, c.eml);
        job.Kinds.Set(DocumentKind::Word, c.word);
        job.Pdf = c.pdf;
        DocumentReaders readers = DocumentReaders::BuiltIn();
        auto spy = std::make_shared<FileSpy>();
        readers.Of(DocumentKind::Word) = spy;
        ScanControl control;
        SharedList files, urls;
        FailSink sink;
        files.Assign({FromUtf8((dir.Path() / "kinds.zip").string())});
        {
            TCollector collector(job, files, urls, control, sink, readers);
            collector.CollectNow();
            // Each member file is gone as soon as it was read.
            for (const std::string& p : spy->paths) EXPECT_FALSE(fs::exists(p)) << p;
        }
        std::set<std::string> found;
        for (const Text& t : urls.Snapshot()) found.insert(ToUtf8(t));
        for (const std::string& f : c.found) EXPECT_EQ(found.count(f), 1u) << f;
        for (const std::string& f : c.notFound) EXPECT_EQ(found.count(f), 0u) << f;
        EXPECT_TRUE(sink.failed.empty()) << sink.failed.front();
        ASSERT_EQ(spy->paths.size(), c.word ? 1u : 0u);
        if (c.word) {
            // A name of our own with the member's ending, never the member's path.
            EXPECT_EQ(fs::path(spy->paths[0]).filename(), "member-1.docx");
            EXPECT_EQ(fs::path(spy->paths[0])
                          .parent_path()
                          .filename()
                          .string()
                          .rfind("corvexa-member-", 0),
                      0u);
            // The folder goes with the scan.
            EXPECT_FALSE(fs::exists(fs::path(spy->paths[0]).parent_path()));
        }
        EXPECT_FALSE(fs::exists(dir.Path().parent_path() / "up.docx"));
    }
}
