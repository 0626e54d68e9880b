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
#include "engine/finding_origins.h"
#include "engine/parallel_scan.h"
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

namespace {

// Archives for the files list: nested, a "../" member, an encrypted member
// (never unpacked), a truncated one, a mailbox and a compressed single file.
void MakeListArchives(const TempDir& dir) {
    dir.Write("after.txt", "http://after.example/\n");
    dir.Write("box.mbox",
              "From a@env.example Thu Dec 10 10:00:00 2026\nSubject: one\n\nhttp://one.example/\n\n"
              "From b@env.example Thu Dec 10 11:00:00 2026\nSubject: two\n\nhttp://two.example/\n");
    const std::string script = R"PY(
import gzip, io, os, random, sys, tarfile, zipfile
os.chdir(sys.argv[1])
buf = io.BytesIO()
with tarfile.open(fileobj=buf, mode="w") as t:
    data = b"line one\nhttp://c.example/\n"
    info = tarfile.TarInfo("docs/c.txt"); info.size = len(data)
    t.addfile(info, io.BytesIO(data))
with zipfile.ZipFile("outer.zip", "w") as z:
    z.writestr("notes.txt", b"http://notes.example/\n")
    z.writestr("b.tar", buf.getvalue())
    z.writestr("../up.txt", b"http://up.example/\n")
# An encrypted member: the flag (set in its local and central headers) is
# all libarchive needs to refuse it.
with zipfile.ZipFile("enc.zip", "w") as z:
    z.writestr("open.txt", b"http://open.example/\n")
    z.writestr("secret.txt", b"http://secret.example/\n")
data = bytearray(open("enc.zip", "rb").read())
for magic, name_at, flags_at in ((b"PK\x03\x04", 30, 6), (b"PK\x01\x02", 46, 8)):
    at = data.find(magic)
    while at >= 0:
        if data[at + name_at : at + name_at + 10] == b"secret.txt":
            data[at + flags_at] |= 1
        at = data.find(magic, at + 4)
open("enc.zip", "wb").write(bytes(data))
with open("notes.txt.gz", "wb") as f:
    f.write(gzip.compress(b"http://gz.example/\n"))
# Cut in the middle: what came before the damage is read, then it fails.
rnd = random.Random(7)
text = b"http://cut.example/\n" + bytes(rnd.choice(b"abcdefgh \\n") for _ in range(400000))
whole = gzip.compress(text)
with open("cut.txt.gz", "wb") as f:
    f.write(whole[: len(whole) // 2])
)PY";
    dir.Write("make.py", script);
    const std::string cmd =
        "python3 '" + (dir.Path() / "make.py").string() + "' '" + dir.Path().string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

struct ListedScan {
    std::vector<std::string> files;  // relative to the folder
    // Each finding's place as -H writes it, "@" and its entry when that is
    // not the same, and its text.
    std::vector<std::string> places;
    ScanSummary summary;
    std::vector<std::string> failed;
};

// Scans `files` with one collector (readers == 0) or a parallel one.
ListedScan ScanListed(const TempDir& dir, SharedList& files, unsigned readers) {
    ScanJob job;
    job.Mode = ScanMode::FileList;
    job.Archives = true;
    job.Mailboxes = true;
    ScanControl control;
    SharedList urls;
    FindingOrigins origins;
    struct Sink : FailSink {
        void ScanFinished(const ScanSummary& s) override { summary = s; }
        ScanSummary summary;
    } sink;
    if (readers == 0) {
        TCollector collector(job, files, urls, control, sink);
        collector.RecordOrigins(&origins);
        collector.CollectNow();
    } else {
        ParallelCollector collector(job, files, urls, control, sink, readers);
        collector.RecordOrigins(&origins);
        collector.CollectNow();
    }
    ListedScan out;
    const std::string prefix = dir.Path().string() + "/";
    auto relative = [&](const Text& t) {
        const std::string s = ToUtf8(t);
        return s.rfind(prefix, 0) == 0 ? s.substr(prefix.size()) : s;
    };
    for (const Text& t : files.Snapshot()) out.files.push_back(relative(t));
    EXPECT_EQ(origins.Size(), urls.Size());
    for (std::size_t i = 0; i < urls.Size(); ++i) {
        const FindingOrigins::Origin o = origins.At(i);
        std::string place = o.file < files.Size() ? relative(files.At(o.file)) : "?";
        if (!o.member.empty()) place += "//" + o.member;
        // The entry the finding was made in, said when it is not the place.
        const std::string entry = o.entry < files.Size() ? relative(files.At(o.entry)) : "?";
        if (entry != place) place += " @" + entry;
        out.places.push_back(place + " " + ToUtf8(urls.At(i)));
    }
    out.summary = sink.summary;
    out.failed = sink.failed;
    return out;
}

}  // namespace

// The files list names each member read after its archive, in reading order,
// and each finding points at the entry it was made in.
TEST(ArchiveMembers, TheFilesListNamesEachMemberReadAfterItsArchive) {
    TempDir dir;
    MakeListArchives(dir);
    struct Case {
        const char* what;
        const char* input;
        std::vector<std::string> files;   // after the input comes after.txt
        std::vector<std::string> places;  // the input's findings
        const char* failure;              // in the reason the input fails with, or null
    } cases[] = {
        {"nested archives and a ../ member",
         "outer.zip",
         {"outer.zip", "outer.zip//notes.txt", "outer.zip//b.tar", "outer.zip//b.tar//docs/c.txt",
          "outer.zip//../up.txt"},
         {"outer.zip//notes.txt http://notes.example/",
          "outer.zip//b.tar//docs/c.txt http://c.example/",
          "outer.zip//../up.txt http://up.example/"},
         nullptr},
        {"an encrypted member is never unpacked, so not listed",
         "enc.zip",
         {"enc.zip", "enc.zip//open.txt"},
         {"enc.zip//open.txt http://open.example/"},
         "enc.zip//secret.txt: encrypted"},
        {"a member cut by damage is listed with what was read of it",
         "cut.txt.gz",
         {"cut.txt.gz", "cut.txt.gz//cut.txt"},
         {"cut.txt.gz//cut.txt http://cut.example/"},
         "cut.txt.gz//cut.txt: "},
        {"a compressed single file",
         "notes.txt.gz",
         {"notes.txt.gz", "notes.txt.gz//notes.txt"},
         {"notes.txt.gz//notes.txt http://gz.example/"},
         nullptr},
        {"a mailbox stays one entry; its messages are places inside it",
         "box.mbox",
         {"box.mbox"},
         {"box.mbox//1 @box.mbox http://one.example/", "box.mbox//1 @box.mbox http://one.example/",
          "box.mbox//2 @box.mbox http://two.example/", "box.mbox//2 @box.mbox http://two.example/"},
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> files = c.files, places = c.places;
        files.push_back("after.txt");
        places.push_back("after.txt http://after.example/");
        std::string first;
        for (unsigned readers : {0u, 2u}) {
            SharedList list;
            list.Assign({FromUtf8((dir.Path() / c.input).string()),
                         FromUtf8((dir.Path() / "after.txt").string())});
            // Twice over the same list: the members' entries of the first
            // scan give way to those of the second, not to "no such file".
            for (int round = 0; round < 2; ++round) {
                SCOPED_TRACE("readers " + std::to_string(readers) + " round " +
                             std::to_string(round));
                ListedScan r = ScanListed(dir, list, readers);
                EXPECT_EQ(r.files, files);
                EXPECT_EQ(r.places, places);
                if (readers == 0) {
                    EXPECT_EQ(r.summary.FilesListed, 2u);
                    EXPECT_EQ(r.summary.FilesRead + r.summary.FilesFailed, 2u);
                    EXPECT_EQ(r.summary.EntriesMissing, 0u);
                }
                if (c.failure) {
                    ASSERT_EQ(r.failed.size(), 1u);
                    EXPECT_NE(r.failed[0].find(c.failure), std::string::npos) << r.failed[0];
                } else {
                    EXPECT_TRUE(r.failed.empty()) << r.failed.front();
                }
            }
        }
    }
}

// Entries a scan put after an archive are known as its members; any other
// entry is a file to read.
TEST(ArchiveMembers, OnlyEntriesAfterTheirArchiveAreDroppedBeforeAScan) {
    SharedList files;
    files.Assign({u"a.zip", u"a.zip//x.txt", u"a.zip//b.tar//y", u"notes.txt", u"notes.txt//z",
                  u"c.tgz", u"c.tgzx//w", u"d.TGZ", u"d.TGZ//v", u"d.TGZ//"});
    // A member without a name (a hostile archive's) is a member too.
    EXPECT_EQ(DropMemberEntries(files), 4u);
    const std::vector<Text> kept = {u"a.zip", u"notes.txt", u"notes.txt//z",
                                    u"c.tgz", u"c.tgzx//w", u"d.TGZ"};
    EXPECT_EQ(files.Snapshot(), kept);
}
