// The collector: walk order, masks and size limits in a real folder, the
// notifications and their order, STOP, failing files, the reader dispatch and
// the ANSI retry.
#include "engine/collector.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/recording_sink.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::RecordingSink;
using corvexa::test::TempDir;
namespace fs = std::filesystem;

namespace {

struct Scan {
    ScanJob job;
    ScanControl control;
    SharedList files, urls;
    RecordingSink sink;
    DocumentReaders readers = DocumentReaders::BuiltIn();

    void Run() {
        TCollector collector(job, files, urls, control, sink, readers);
        collector.Start();
        collector.Wait();
    }
    std::vector<std::string> Files() {
        std::vector<std::string> out;
        for (const Text& t : files.Snapshot()) out.push_back(ToUtf8(t));
        return out;
    }
    std::vector<std::string> Urls() {
        std::vector<std::string> out;
        for (const Text& t : urls.Snapshot()) out.push_back(ToUtf8(t));
        return out;
    }
};

ScanJob Folder(const fs::path& folder, const char16_t* mask = u"*", bool recurse = true) {
    ScanJob job;
    job.Mode = ScanMode::Directory;
    job.Folder = FromUtf8(folder.string());
    job.FileMask = mask;
    job.IncludeSubfolders = recurse;
    return job;
}

// The walk as the file system orders it: depth first, each subfolder's files
// where the subfolder was met.
void ExpectedWalk(const std::string& folder, std::vector<std::string>& out) {
    DIR* d = opendir(folder.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = folder + "/" + name;
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            ExpectedWalk(path, out);
        } else {
            out.push_back(path);
        }
    }
    closedir(d);
}

}  // namespace

TEST(Walk, DepthFirstInFileSystemOrderWithHiddenEntries) {
    TempDir dir;
    for (const char* f : {"a.txt", "b/c.txt", "b/d/e.txt", "b/f.txt", ".hidden", ".dot/g.txt",
                          "h/i/j/k.txt", "z.txt", "m/n.txt"})
        dir.Write(f, "x");
    Scan s;
    s.job = Folder(dir.Path());
    s.Run();
    std::vector<std::string> expected;
    ExpectedWalk(dir.Path().string(), expected);
    EXPECT_EQ(expected.size(), 9u);
    EXPECT_EQ(s.Files(), expected);
    EXPECT_EQ(s.sink.With("FileFound "), expected);
}

TEST(Walk, WithoutSubfoldersOnlyTheFolderItself) {
    TempDir dir;
    dir.Write("a.txt", "x");
    dir.Write("sub/b.txt", "x");
    Scan s;
    s.job = Folder(dir.Path(), u"*", false);
    s.Run();
    EXPECT_EQ(s.Files(), std::vector<std::string>{(dir.Path() / "a.txt").string()});
}

TEST(Walk, LinksToFoldersNeverMakeItLoop) {
    TempDir dir;
    dir.Write("tree/a.txt", "x");
    dir.Write("other/b.txt", "x");
    fs::create_directory_symlink(dir.Path() / "tree", dir.Path() / "tree" / "loop");
    fs::create_directory_symlink(dir.Path(), dir.Path() / "tree" / "up");
    fs::create_directory_symlink(dir.Path() / "other", dir.Path() / "tree" / "side");
    Scan s;
    s.job = Folder(dir.Path() / "tree");
    s.Run();
    auto files = s.Files();
    // Each folder is entered once: the linked sibling through whichever link
    // comes first (tree/side or tree/up/other), the links back up not at all.
    EXPECT_EQ(std::count(files.begin(), files.end(), (dir.Path() / "tree/a.txt").string()), 1);
    auto b = std::count_if(files.begin(), files.end(), [](const std::string& f) {
        return f.size() > 6 && f.compare(f.size() - 6, 6, "/b.txt") == 0;
    });
    EXPECT_EQ(b, 1);
    EXPECT_EQ(files.size(), 2u);
    EXPECT_EQ(s.sink.finished, 1);
}

TEST(Walk, MissingOrUnreadableFoldersContributeNothing) {
    TempDir dir;
    dir.Write("ok/a.txt", "x");
    dir.Write("locked/b.txt", "x");
    chmod((dir.Path() / "locked").c_str(), 0);
    Scan s;
    s.job = Folder(dir.Path());
    s.Run();
    if (geteuid() != 0) {  // root reads the folder anyway
        EXPECT_EQ(s.Files(), std::vector<std::string>{(dir.Path() / "ok/a.txt").string()});
    }

    Scan missing;
    missing.job = Folder(dir.Path() / "nothing-here");
    missing.Run();
    EXPECT_TRUE(missing.Files().empty());
    EXPECT_EQ(missing.sink.events,
              (std::vector<std::string>{"WalkStarted", "WalkFinished", "ScanFinished"}));
}

TEST(Walk, MasksApplyToTheFullPath) {
    TempDir dir;
    dir.Write("A.TXT", "x");
    dir.Write("b.txt", "x");
    dir.Write("c.log", "x");
    dir.Write("sub/d.txt", "x");
    dir.Write("settings.ini", "x");
    struct Case {
        std::u16string mask;
        std::vector<std::string> names;  // relative, sorted
    } cases[] = {
        {u"*.txt", {"A.TXT", "b.txt", "sub/d.txt"}},
        {u"*", {"A.TXT", "b.txt", "c.log", "settings.ini", "sub/d.txt"}},
        {u"settings.ini", {}},
        {FromUtf8((dir.Path() / "sub").string()) + u"/*.txt", {"sub/d.txt"}},
        {u"*/[ab].*", {"A.TXT", "b.txt"}},
    };
    for (const Case& c : cases) {
        Scan s;
        s.job = Folder(dir.Path(), c.mask.c_str());
        s.Run();
        std::vector<std::string> rel;
        for (const auto& f : s.Files()) rel.push_back(fs::relative(f, dir.Path()).string());
        std::sort(rel.begin(), rel.end());
        EXPECT_EQ(rel, c.names) << ToUtf8(c.mask);
    }
}

TEST(Walk, AnInvalidMaskListsNothingAndStillCompletes) {
    TempDir dir;
    dir.Write("a.txt", "www.example.com");
    Scan s;
    s.job = Folder(dir.Path(), u"*[abc");
    s.Run();
    EXPECT_TRUE(s.Files().empty());
    EXPECT_TRUE(s.sink.summary.MaskInvalid);
    EXPECT_FALSE(s.sink.summary.MaskError.empty());
    EXPECT_EQ(s.sink.finished, 1);
}

TEST(Walk, SizeLimit) {
    TempDir dir;
    dir.Write("under.txt", std::string(1048575, 'a'));
    dir.Write("exact.txt", std::string(1048576, 'a'));
    dir.Write("small.txt", "a");
    dir.Write("empty.txt", "");
    struct Case {
        std::int32_t limit;
        std::vector<std::string> names;
    } cases[] = {
        {0, {"empty.txt", "exact.txt", "small.txt", "under.txt"}},
        {1, {"empty.txt", "small.txt", "under.txt"}},
        {2, {"empty.txt", "exact.txt", "small.txt", "under.txt"}},
        {-1, {}},
    };
    for (const Case& c : cases) {
        Scan s;
        s.job = Folder(dir.Path());
        s.job.SkipLargeFilesMB = c.limit;
        s.Run();
        std::vector<std::string> names;
        for (const auto& f : s.Files()) names.push_back(fs::path(f).filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names) << "limit " << c.limit;
    }
    EXPECT_EQ(FileSizeOf(FromUtf8((dir.Path() / "exact.txt").string())), 1048576);
    EXPECT_EQ(FileSizeOf(FromUtf8((dir.Path() / "none.txt").string())), -1);
}

TEST(Scan, NotificationsInOrder) {
    TempDir dir;
    dir.Write("a.txt", "see www.example.com and mail@example.org\n");
    dir.Write("sub/b.txt", "ftp://files.example.net/pub\n");
    Scan s;
    s.job = Folder(dir.Path());
    s.Run();
    auto files = s.Files();
    ASSERT_EQ(files.size(), 2u);
    std::vector<std::string> expected{"WalkStarted"};
    for (const auto& f : files) expected.push_back("FileFound " + f);
    expected.push_back("WalkFinished");
    for (const auto& f : files) {
        expected.push_back("ReadingFile " + f);
        expected.push_back("FileDone");
    }
    expected.push_back("ScanFinished");
    EXPECT_EQ(s.sink.events, expected);
    auto urls = s.Urls();
    std::sort(urls.begin(), urls.end());
    EXPECT_EQ(urls, (std::vector<std::string>{"ftp://files.example.net/pub", "mail@example.org",
                                              "www.example.com"}));
    EXPECT_FALSE(s.sink.summary.Stopped);
}

TEST(Scan, FileListModeReadsEveryEntryWhateverItsNameOrSize) {
    TempDir dir;
    auto a = dir.Write("a.bin", "http://a.example.com\n");
    auto b = dir.Write("noext", "http://b.example.com\n");
    Scan s;
    s.job.Mode = ScanMode::FileList;
    s.job.FileMask = u"*.txt";
    s.job.SkipLargeFilesMB = -1;
    s.files.Assign({FromUtf8(a.string()), FromUtf8(b.string())});
    s.Run();
    EXPECT_EQ(s.Urls(), (std::vector<std::string>{"http://a.example.com", "http://b.example.com"}));
    EXPECT_TRUE(s.sink.With("FileFound").empty());
    EXPECT_TRUE(s.sink.With("Walk").empty());

    Scan empty;
    empty.job.Mode = ScanMode::FileList;
    empty.Run();
    EXPECT_EQ(empty.sink.events, std::vector<std::string>{"ScanFinished"});
}

TEST(Scan, FailingFilesAreSkippedAndTheScanGoesOn) {
    TempDir dir;
    auto good1 = dir.Write("1.txt", "http://one.example.com\n");
    auto folder = dir.MakeDir("2.txt");
    auto good2 = dir.Write("3.txt", "http://three.example.com\n");
    std::string fifo = (dir.Path() / "4.txt").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A UTF-8 marked file with a stray byte after two buffers is no failure:
    // the mark names the encoding, the byte reads as U+FFFD, and the file is
    // read once to its end in both modes.
    std::string marked = "\xEF\xBB\xBF";
    for (int i = 0; i < 400; ++i) marked += "http://kept" + std::to_string(i) + ".example.com/\n";
    marked += "\xFFhttp://after.example.com/\n";
    auto bad = dir.Write("5.txt", marked);
    for (bool memory : {false, true}) {
        Scan s;
        s.job.Mode = ScanMode::FileList;
        s.control.MemoryStream = memory;
        s.files.Assign({FromUtf8(good1.string()), FromUtf8((dir.Path() / "missing.txt").string()),
                        FromUtf8(folder.string()), FromUtf8(fifo), FromUtf8(good2.string()),
                        FromUtf8(bad.string())});
        s.Run();
        EXPECT_EQ(s.sink.With("ReadingFile").size(), 6u);
        EXPECT_EQ(s.sink.With("FileDone").size(), 3u);
        // Each failure is told with its path and reason, in list order.
        auto failed = s.sink.With("FileFailed ");
        ASSERT_EQ(failed.size(), 3u);
        EXPECT_EQ(failed[0].rfind((dir.Path() / "missing.txt").string() + " | cannot open", 0), 0u);
        EXPECT_NE(failed[0].find("No such file"), std::string::npos);
        EXPECT_EQ(failed[1].rfind(folder.string() + " | not a regular file", 0), 0u);
        EXPECT_EQ(failed[2].rfind(fifo + " | not a regular file", 0), 0u);
        auto urls = s.Urls();
        ASSERT_EQ(urls.size(), 2u + 401u);
        EXPECT_EQ(urls[0], "http://one.example.com");
        EXPECT_EQ(urls[1], "http://three.example.com");
        for (int i = 0; i < 400; ++i)
            EXPECT_EQ(urls[2 + i], "http://kept" + std::to_string(i) + ".example.com/");
        EXPECT_EQ(urls.back(), "http://after.example.com/");
        EXPECT_EQ(s.files.Size(), 6u);  // failing paths stay listed
        // The summary counts each kind of end: the entry naming no file apart
        // from the files that exist but could not be read.
        EXPECT_EQ(s.sink.summary.FilesListed, 6u);
        EXPECT_EQ(s.sink.summary.FilesRead, 3u);
        EXPECT_EQ(s.sink.summary.FilesFailed, 2u);
        EXPECT_EQ(s.sink.summary.EntriesMissing, 1u);
    }
}

TEST(Scan, NamesNoFile) {
    TempDir dir;
    auto file = dir.Write("a.txt", "x");
    EXPECT_TRUE(NamesNoFile(u""));
    EXPECT_TRUE(NamesNoFile(FromUtf8((dir.Path() / "gone.txt").string())));
    EXPECT_TRUE(NamesNoFile(FromUtf8((dir.Path() / "a.txt" / "under.txt").string())));
    EXPECT_FALSE(NamesNoFile(FromUtf8(file.string())));
    EXPECT_FALSE(NamesNoFile(FromUtf8(dir.Path().string())));
}

TEST(Scan, AnsiRetryFindsEarlierAddressesTwiceInFileStreamModeOnly) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += "line " + std::to_string(i) + " www.early" + std::to_string(i) + ".com\n";
    ASSERT_LT(text.size(), 4096u);
    text += std::string(5000, ' ') + "\n";  // pushes the accented letter into buffer 2
    text += "caf\xE9 www.late.com\n";
    auto path = dir.Write("ansi.txt", text);
    for (bool memory : {false, true}) {
        Scan s;
        s.job.Mode = ScanMode::FileList;
        s.control.MemoryStream = memory;
        s.files.Assign({FromUtf8(path.string())});
        s.Run();
        auto urls = s.Urls();
        auto early0 = std::count(urls.begin(), urls.end(), "www.early0.com");
        EXPECT_EQ(early0, memory ? 1 : 2) << (memory ? "memory" : "file");
        EXPECT_EQ(std::count(urls.begin(), urls.end(), "www.late.com"), 1);
        EXPECT_EQ(urls.size(), memory ? 51u : 101u);
        EXPECT_EQ(s.sink.With("FileDone").size(), 1u);
    }
}

TEST(Scan, Utf16WithAndWithoutMark) {
    TempDir dir;
    auto utf16 = [](const std::string& ascii) {
        std::string out;
        for (char c : ascii) {
            out += c;
            out += '\0';
        }
        return out;
    };
    auto marked = dir.Write("marked.txt", "\xFF\xFE" + utf16("go to www.example.com\r\n"));
    auto unmarked = dir.Write("unmarked.txt", utf16("go to www.example.com\r\n"));
    for (bool memory : {false, true}) {
        Scan s;
        s.job.Mode = ScanMode::FileList;
        s.control.MemoryStream = memory;
        s.files.Assign({FromUtf8(marked.string()), FromUtf8(unmarked.string())});
        s.Run();
        EXPECT_EQ(s.Urls(), std::vector<std::string>{"www.example.com"});
    }
}

TEST(Stop, DuringTheWalkListsTheRestOfTheOpenFoldersAndReadsNothing) {
    TempDir dir;
    for (int i = 0; i < 5; ++i) dir.Write("f" + std::to_string(i) + ".txt", "www.example.com");
    for (int i = 0; i < 5; ++i) dir.Write("sub" + std::to_string(i) + "/g.txt", "www.example.com");
    Scan s;
    s.job = Folder(dir.Path());
    s.sink.hook = [&](const std::string& e) {
        if (e.rfind("FileFound", 0) == 0) s.control.StopRequested = true;
    };
    s.Run();
    // The walk as it must go: the first file listed stops it; after that no
    // folder is entered, while the rest of each folder already open is listed.
    std::vector<std::string> expected;
    bool stopped = false;
    std::function<void(const std::string&)> walk = [&](const std::string& folder) {
        if (stopped) return;
        DIR* d = opendir(folder.c_str());
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            std::string path = folder + "/" + name;
            if (fs::is_directory(path)) {
                walk(path);
            } else {
                expected.push_back(path);
                stopped = true;
            }
        }
        closedir(d);
    };
    walk(dir.Path().string());
    ASSERT_LT(expected.size(), 10u);  // something was left out
    EXPECT_EQ(s.Files(), expected);
    EXPECT_TRUE(s.sink.With("ReadingFile").empty());
    EXPECT_TRUE(s.Urls().empty());
    EXPECT_EQ(s.sink.events.back(), "ScanFinished");
    EXPECT_TRUE(s.sink.summary.Stopped);
}

TEST(Stop, DuringALongFileKeepsItsFindingsAndReadsNoFurtherFile) {
    TempDir dir;
    std::string big;
    for (int i = 0; i < 200000; ++i) big += "www.example" + std::to_string(i) + ".com\n";
    auto longFile = dir.Write("long.txt", big);
    auto next = dir.Write("next.txt", "www.next.com\n");
    for (bool memory : {false, true}) {
        Scan s;
        s.job.Mode = ScanMode::FileList;
        s.control.MemoryStream = memory;
        s.files.Assign({FromUtf8(longFile.string()), FromUtf8(next.string())});
        std::thread stopper([&] {
            while (s.urls.Size() < 1000) std::this_thread::yield();
            s.control.StopRequested = true;
        });
        s.Run();
        stopper.join();
        std::size_t found = s.urls.Size();
        EXPECT_GE(found, 1000u);
        EXPECT_LT(found, 200000u);
        EXPECT_EQ(s.urls.At(0), u"www.example0.com");
        EXPECT_EQ(s.sink.With("ReadingFile").size(), 1u);
        EXPECT_TRUE(s.sink.summary.Stopped);
    }
}

namespace {

class FakeReader : public DocumentReader {
public:
    FakeReader(std::string name, Text text, bool available = true, bool fails = false)
        : name_(std::move(name)), text_(std::move(text)), available_(available), fails_(fails) {}
    std::string_view Name() const override { return name_; }
    std::string_view Description() const override { return "test reader"; }
    bool Available() const override { return available_; }
    Text ReadText(const Text&) override {
        ++calls;
        if (fails_) throw std::runtime_error("cannot decode");
        return text_;
    }
    int calls = 0;

private:
    std::string name_;
    Text text_;
    bool available_, fails_;
};

}  // namespace

TEST(Dispatch, ByLowerCasedExtensionAndSwitches) {
    TempDir dir;
    struct Case {
        const char* file;
        bool decodeEml, decodeWord, decodeExcel;
        const char* pdf;
        bool available;
        std::vector<std::string> urls;
    } cases[] = {
        {"doc.PDF", false, false, false, "xpdf", true, {"www.xpdf.com"}},
        {"doc.pdf", false, false, false, "pdfium", true, {"www.pdfium.com"}},
        {"doc.pdf", false, false, false, "", true, {"www.raw.com"}},
        {"doc.pdf", false, false, false, "xpdf", false, {"www.raw.com"}},
        {"msg.eml", true, false, false, "", true, {"www.eml.com", "www.raw.com"}},
        {"msg.EML", false, false, false, "", true, {"www.raw.com"}},
        {"msg.eml", true, false, false, "", false, {"www.raw.com"}},
        {"a.docx", false, true, false, "", true, {"www.word.com"}},
        {"a.DOC", false, true, false, "", true, {"www.word.com"}},
        {"a.doc", false, false, false, "", true, {"www.raw.com"}},
        {"a.doc", false, true, false, "", false, {"www.raw.com"}},
        {"a.xlsx", false, false, true, "", true, {"www.excel.com"}},
        {"a.xls", false, false, false, "", true, {"www.raw.com"}},
        {"dot.d/noext", true, true, true, "xpdf", true, {"www.raw.com"}},
    };
    for (const Case& c : cases) {
        auto path = dir.Write(c.file, "www.raw.com\n");
        Scan s;
        s.job.Mode = ScanMode::FileList;
        s.job.Kinds.Set(DocumentKind::Eml, c.decodeEml);
        s.job.Kinds.Set(DocumentKind::Word, c.decodeWord);
        s.job.Kinds.Set(DocumentKind::Excel, c.decodeExcel);
        s.job.Pdf = PdfModeFromName(c.pdf);
        s.readers.xpdf = std::make_shared<FakeReader>("xpdf", u"www.xpdf.com", c.available);
        s.readers.pdfium = std::make_shared<FakeReader>("pdfium", u"www.pdfium.com", c.available);
        s.readers.Of(DocumentKind::Eml) =
            std::make_shared<FakeReader>("eml", u"www.eml.com", c.available);
        s.readers.Of(DocumentKind::Word) =
            std::make_shared<FakeReader>("word", u"www.word.com", c.available);
        s.readers.Of(DocumentKind::Excel) =
            std::make_shared<FakeReader>("excel", u"www.excel.com", c.available);
        s.files.Assign({FromUtf8(path.string())});
        s.Run();
        EXPECT_EQ(s.Urls(), c.urls) << c.file << " pdf=" << c.pdf << " available=" << c.available;
    }
}

TEST(Dispatch, AMessageThatCannotBeDecodedIsNotReadRaw) {
    TempDir dir;
    auto path = dir.Write("m.eml", "www.raw.com\n");
    Scan s;
    s.job.Mode = ScanMode::FileList;
    s.job.Kinds.Set(DocumentKind::Eml);
    s.readers.Of(DocumentKind::Eml) =
        std::make_shared<FakeReader>("eml", u"", true, /*fails=*/true);
    s.files.Assign({FromUtf8(path.string())});
    s.Run();
    EXPECT_TRUE(s.Urls().empty());
    EXPECT_TRUE(s.sink.With("FileDone").empty());
}

// A FIFO named like a document would hold its reader (or the program it runs)
// in a blocking open for ever: it fails as "not a regular file" before any
// reader sees it, and the scan goes on.
TEST(Dispatch, ADocumentThatIsNoRegularFileNeverReachesItsReader) {
    TempDir dir;
    std::vector<std::string> fifos;
    for (const char* name : {"m.eml", "d.pdf", "w.docx", "x.xlsx"}) {
        fifos.push_back((dir.Path() / name).string());
        ASSERT_EQ(mkfifo(fifos.back().c_str(), 0600), 0);
    }
    auto good = dir.Write("good.eml", "www.raw.com\n");
    Scan s;
    s.job.Mode = ScanMode::FileList;
    s.job.Kinds.Set(DocumentKind::Eml);
    s.job.Kinds.Set(DocumentKind::Word);
    s.job.Kinds.Set(DocumentKind::Excel);
    s.job.Pdf = PdfMode::Xpdf;
    s.readers.xpdf = std::make_shared<FakeReader>("xpdf", u"www.xpdf.com");
    s.readers.Of(DocumentKind::Eml) = std::make_shared<FakeReader>("eml", u"www.eml.com");
    s.readers.Of(DocumentKind::Word) = std::make_shared<FakeReader>("word", u"www.word.com");
    s.readers.Of(DocumentKind::Excel) = std::make_shared<FakeReader>("excel", u"www.excel.com");
    std::vector<Text> list;
    for (const std::string& f : fifos) list.push_back(FromUtf8(f));
    list.push_back(FromUtf8(good.string()));
    s.files.Assign(list);
    s.Run();
    EXPECT_EQ(s.Urls(), (std::vector<std::string>{"www.eml.com", "www.raw.com"}));
    auto failed = s.sink.With("FileFailed ");
    ASSERT_EQ(failed.size(), fifos.size());
    for (std::size_t i = 0; i < fifos.size(); ++i)
        EXPECT_EQ(failed[i].rfind(fifos[i] + " | not a regular file", 0), 0u) << failed[i];
}

TEST(Dispatch, Extensions) {
    struct Case {
        const char16_t* path;
        const char16_t* ext;
    } cases[] = {
        {u"/a/b.TXT", u".txt"},      {u"/a.d/b", u""}, {u"/a/b.tar.GZ", u".gz"},
        {u"/a/.hidden", u".hidden"}, {u"/a/b.", u"."}, {u"noext", u""},
    };
    for (const Case& c : cases) EXPECT_EQ(LowerExtension(c.path), c.ext);
}

TEST(Scan, ElapsedTimeWrapsWithTheTickCount) {
    EXPECT_DOUBLE_EQ(ElapsedSeconds(1000, 3500), 2.5);
    EXPECT_DOUBLE_EQ(ElapsedSeconds(0xFFFFFF00u, 0x100u), 0.512);
}

TEST(Scan, MemoryRunningOutFailsTheFileWithItsReasonAndTheScanGoesOn) {
    struct Starved : FakeReader {
        Starved() : FakeReader("eml", u"") {}
        Text ReadText(const Text&) override { throw std::bad_alloc(); }
    };
    TempDir dir;
    auto eml = dir.Write("m.eml", "www.raw.example.com\n");
    auto txt = dir.Write("n.txt", "www.next.example.com\n");
    Scan s;
    s.job.Mode = ScanMode::FileList;
    s.job.Kinds.Set(DocumentKind::Eml);
    s.readers.Of(DocumentKind::Eml) = std::make_shared<Starved>();
    s.files.Assign({FromUtf8(eml.string()), FromUtf8(txt.string())});
    s.Run();
    EXPECT_EQ(s.sink.With("FileFailed "),
              std::vector<std::string>{eml.string() + " | out of memory"});
    EXPECT_EQ(s.sink.With("FileDone").size(), 1u);
    EXPECT_EQ(s.Urls(), std::vector<std::string>{"www.next.example.com"});
}
