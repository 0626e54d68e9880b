// PDF text through the converter and through the library, on real documents
// made here: page joins, awkward names, a missing converter or library, a
// converter that hangs, a stop, and files that are no readable PDF at all.
#include "engine/readers/pdf_reader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "engine/collector.h"
#include "engine/readers/pdf_library.h"
#include "engine/readers/text_reader.h"
#include "platform/process.h"
#include "support/empty_sink.h"
#include "support/pdf_maker.h"
#include "support/stand_in.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::Alive;
using corvexa::test::ReadFileBytes;
using corvexa::test::TempDir;
using corvexa::test::WritePdf;
namespace fs = std::filesystem;
using Pages = std::vector<std::vector<std::string>>;
using namespace std::chrono_literals;

namespace {

Text T(const std::string& s) {
    return FromUtf8(s);
}

// The lines a text cuts into, as the scan sees them.
std::vector<std::string> LinesOf(const Text& text) {
    Lines lines;
    std::atomic<bool> never{false};
    ScanTextLines(text, lines, never);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.Size(); ++i) out.push_back(ToUtf8(lines[i]));
    return out;
}

// The system's Poppler GLib library, by its full path.
std::string SystemLibraryPath() {
    void* handle = ::dlopen("libpoppler-glib.so.8", RTLD_NOW | RTLD_LOCAL);
    if (!handle) return {};
    Dl_info info{};
    void* symbol = ::dlsym(handle, "poppler_document_new_from_bytes");
    std::string path = symbol && ::dladdr(symbol, &info) && info.dli_fname ? info.dli_fname : "";
    return path;
}

bool FolderEmpty(const fs::path& p) {
    return fs::is_empty(p);
}

// A scratch folder with a folder for private folders, an empty converter
// folder and the PDF settings pointing at them; the real converter is found on
// PATH.
struct PdfFixture : ::testing::Test {
    TempDir dir;
    fs::path data = dir.MakeDir("data");
    fs::path xpdf = dir.MakeDir("xpdf");
    PdfSettings settings;

    PdfFixture() {
        settings.privateFolderBase = data.string();
        settings.converterFolder = xpdf.string();
    }
    fs::path Pdf(const std::string& name, const Pages& pages) {
        fs::path p = dir.Path() / name;
        WritePdf(p.string(), pages);
        return p;
    }
    // A stand-in converter in the converter folder.
    void Converter(const std::string& body) { test::WriteStandIn(dir, "xpdf/pdftotext", body); }
    Text Run(bool converter, const fs::path& pdf, PdfSettings s) {
        PdfExtractor x(std::move(s));
        return converter ? x.YukleXPDF(T(pdf.string())) : x.YuklePDFium(T(pdf.string()));
    }
    Text Run(bool converter, const fs::path& pdf) { return Run(converter, pdf, settings); }
};

// ---------------------------------------------------------------------------
// Documents both routes read, with the real converter and the real library

struct DocumentCase {
    const char* what;
    std::string name;
    Pages pages;
    std::vector<std::string> libraryLines;  // the library's text cut into lines
    std::vector<std::string> addresses;     // in the converter's text
};

const std::string kShellName = "q\"uo $(touch PWNED) `touch PWNED2` \\back; x & y | z 'ap'.pdf";

std::vector<DocumentCase> DocumentCases() {
    return {
        {"two pages: the first page, two carriage returns, the second",
         "two.pdf",
         {{"first http://one.example/a"}, {"second http://two.example/b"}},
         {"first http://one.example/a", "", "second http://two.example/b"},
         {"http://one.example/a", "http://two.example/b"}},
        {"an empty first page adds no leading carriage returns",
         "empty-first.pdf",
         {{}, {"only www.second.example"}, {}},
         {"only www.second.example", ""},
         {"www.second.example"}},
        {"lines of one page keep their breaks",
         "lines.pdf",
         {{"mail ann@example.org", "ftp://files.example.net/x"}},
         {"mail ann@example.org", "ftp://files.example.net/x"},
         {"ann@example.org", "ftp://files.example.net/x"}},
        {"a name with spaces",
         "my report 2024 final.pdf",
         {{"https://spaces.example/"}},
         {"https://spaces.example/"},
         {"https://spaces.example/"}},
        {"a name with every shell character",
         kShellName,
         {{"https://quoted.example/"}},
         {"https://quoted.example/"},
         {"https://quoted.example/"}},
        {"a name that begins with a dash",
         "-opw secret.pdf",
         {{"https://dash.example/"}},
         {"https://dash.example/"},
         {"https://dash.example/"}},
    };
}

TEST_F(PdfFixture, BothRoutesReadRealDocuments) {
    for (const DocumentCase& c : DocumentCases()) {
        SCOPED_TRACE(c.what);
        fs::path pdf = Pdf(c.name, c.pages);
        EXPECT_EQ(LinesOf(Run(false, pdf)), c.libraryLines);

        // The converter alone: with no library to fall back on, text can only
        // come from its output, read line by line and joined with CR LF.
        PdfSettings noLibrary = settings;
        noLibrary.libraryNames = {(dir.Path() / "absent.so").string()};
        Text text = Run(true, pdf, noLibrary);
        for (const std::string& a : c.addresses) EXPECT_NE(text.find(T(a)), Text::npos) << a;
        EXPECT_EQ(text.find(u"\r\r"), Text::npos);
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), u"\r\n");
        EXPECT_TRUE(FolderEmpty(data)) << "the output file is removed";
    }
    // Quoting held: no shell ever saw the name.
    EXPECT_FALSE(fs::exists(dir.Path() / "PWNED"));
    EXPECT_FALSE(fs::exists(xpdf / "PWNED"));
    EXPECT_FALSE(fs::exists(xpdf / "PWNED2"));
    EXPECT_FALSE(fs::exists(fs::current_path() / "PWNED"));
}

TEST_F(PdfFixture, RelativeNamesAreReadAgainstOurFolderWhereverTheConverterStarts) {
    Pdf("-first.pdf", {{"https://relative.example/"}});
    const fs::path before = fs::current_path();
    fs::current_path(dir.Path());
    PdfSettings noLibrary = settings;
    noLibrary.libraryNames = {"/nonexistent/lib.so"};
    PdfExtractor x(noLibrary);
    Text text;
    EXPECT_NO_THROW(text = x.YukleXPDF(u"-first.pdf"));
    fs::current_path(before);
    EXPECT_NE(text.find(u"https://relative.example/"), Text::npos);
}

// ---------------------------------------------------------------------------
// The converter: where it is found, what it is given, how its output is read

TEST_F(PdfFixture, ConverterBesideTheProgramIsCalledWithTheNameUnchanged) {
    // Writes its arguments and working folder where the output belongs; the
    // bytes 0xE9 are not UTF-8, so the output is read as ANSI (1252).
    Converter("printf '%s|%s|%s|%s\\r\\n\\351t\\351\\n' \"$1\" \"$2\" \"$3\" \"$(pwd)\" > \"$4\"");
    fs::path pdf = Pdf(kShellName, {{"x"}});
    Text text = Run(true, pdf);
    EXPECT_EQ(text,
              T("-enc|UTF-8|" + pdf.string() + "|" + xpdf.string() + "\r\n\u00e9t\u00e9\r\n"));
    EXPECT_TRUE(FolderEmpty(data));
}

// The output file is new for each document, in a folder of mode 0700 that
// only we can enter, and the folder is gone when the document is read, however
// the reading ended.
TEST_F(PdfFixture, OutputFileIsNewInAPrivateFolderThatGoesWithTheDocument) {
    const fs::path record = dir.Path() / "record";
    // Records the output path, its folder's mode and owner, and whether the
    // file was already there (empty, not a link) when the converter started.
    Converter(
        "{ printf '%s\\n' \"$4\"; stat -c '%a %u' \"$(dirname \"$4\")\"; "
        "[ -f \"$4\" ] && [ ! -L \"$4\" ] && [ ! -s \"$4\" ] && echo fresh; } >> '" +
        record.string() + "'\n" + "printf 'http://converter.example/\\n' > \"$4\"");
    fs::path pdf = Pdf("doc.pdf", {{"http://library.example/"}});
    PdfExtractor x(settings);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(LinesOf(x.YukleXPDF(T(pdf.string()))),
                  std::vector<std::string>{"http://converter.example/"});
    std::istringstream lines(ReadFileBytes(record));
    std::vector<std::string> folders;
    for (std::string out, mode, fresh;
         std::getline(lines, out) && std::getline(lines, mode) && std::getline(lines, fresh);) {
        const fs::path folder = fs::path(out).parent_path();
        EXPECT_EQ(folder.parent_path(), data);
        EXPECT_EQ(mode, "700 " + std::to_string(::getuid()));
        EXPECT_EQ(fresh, "fresh");
        EXPECT_FALSE(fs::exists(folder));
        folders.push_back(folder.string());
    }
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_NE(folders[0], folders[1]);
    // A converter that writes nothing sends the document to the library.
    Converter("exit 1");
    EXPECT_EQ(LinesOf(x.YukleXPDF(T(pdf.string()))),
              std::vector<std::string>{"http://library.example/"});
    EXPECT_TRUE(FolderEmpty(data));
}

TEST_F(PdfFixture, WithoutAFolderForPrivateFoldersTheRuntimeFolderTakesThem) {
    settings.privateFolderBase.clear();
    const fs::path runtime = dir.MakeDir("runtime");
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const fs::path record = dir.Path() / "record";
    Converter("dirname \"$4\" > '" + record.string() +
              "'\nprintf 'http://private.example/\\n' > \"$4\"");
    fs::path pdf = Pdf("doc.pdf", {{"http://library.example/"}});
    Text text = Run(true, pdf);
    if (old)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_NE(text.find(u"http://private.example/"), Text::npos);
    std::string folder = ReadFileBytes(record);
    if (!folder.empty() && folder.back() == '\n') folder.pop_back();
    EXPECT_EQ(fs::path(folder).parent_path(), runtime);
    EXPECT_TRUE(FolderEmpty(runtime));
}

TEST_F(PdfFixture, ConverterAbsentFromItsFolderAndFromPathLeavesItToTheLibrary) {
    fs::path pdf = Pdf("two.pdf", {{"http://a.example/"}, {"http://b.example/"}});
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", dir.MakeDir("empty-bin").c_str(), 1);
    ASSERT_TRUE(platform::FindExecutable("pdftotext").empty());
    Text viaConverterRoute = Run(true, pdf);
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(viaConverterRoute, Run(false, pdf));
    EXPECT_EQ(LinesOf(viaConverterRoute),
              (std::vector<std::string>{"http://a.example/", "", "http://b.example/"}));
}

TEST_F(PdfFixture, HungConverterIsKilledAtTheTimeoutAndItsOutputIgnored) {
    fs::path pidFile = dir.Path() / "pid";
    Converter("echo $$ > '" + pidFile.string() +
              "'\nprintf 'http://partial.example/\\n' > \"$4\"\nsleep 30");
    settings.converterTimeout = 300ms;
    fs::path pdf = Pdf("doc.pdf", {{"http://library.example/"}});
    const auto start = std::chrono::steady_clock::now();
    Text text = Run(true, pdf);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(LinesOf(text), std::vector<std::string>{"http://library.example/"});
    EXPECT_TRUE(FolderEmpty(data));
    const pid_t pid = std::stoi(ReadFileBytes(pidFile));
    EXPECT_FALSE(Alive(pid));
}

// A converter that writes without end is stopped at the output bound and the
// document fails, instead of filling the disk until its time-out.
TEST_F(PdfFixture, ConverterOutputPastItsBoundFailsTheDocument) {
    Converter("yes http://flood.example/ > \"$4\"");
    settings.converterOutputLimit = 1 << 20;
    settings.converterTimeout = 2s;
    fs::path pdf = Pdf("doc.pdf", {{"http://library.example/"}});
    EXPECT_THROW(Run(true, pdf), ReadError);
    EXPECT_TRUE(FolderEmpty(data));
}

TEST_F(PdfFixture, StopEndsARunningConverterAndTheDocumentFails) {
    fs::path pidFile = dir.Path() / "pid";
    Converter("echo $$ > '" + pidFile.string() + "'\nsleep 30");
    std::atomic<bool> stop{false};
    settings.cancel = &stop;
    fs::path pdf = Pdf("doc.pdf", {{"http://never.example/"}});
    std::thread stopper([&] {
        while (!fs::exists(pidFile) || ReadFileBytes(pidFile).empty())
            std::this_thread::sleep_for(5ms);
        stop = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(Run(true, pdf), ReadError);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_FALSE(Alive(std::stoi(ReadFileBytes(pidFile))));
    EXPECT_TRUE(FolderEmpty(data));
    // The library route stops before its next page.
    EXPECT_THROW(Run(false, pdf), ReadError);
}

// ---------------------------------------------------------------------------
// The library: loaded by name, tried again after a failure, size limit

TEST_F(PdfFixture, MissingLibraryFailsTheDocumentAndIsLookedForAgainForTheNext) {
    const std::string real = SystemLibraryPath();
    ASSERT_FALSE(real.empty());
    fs::path link = dir.Path() / "libs" / "libpdf-late.so";
    settings.libraryNames = {link.string()};
    fs::path pdf = Pdf("doc.pdf", {{"http://late.example/"}});
    PdfExtractor x(settings);
    EXPECT_THROW(x.YuklePDFium(T(pdf.string())), ReadError);
    // A library file that is not a library at all is no better.
    dir.Write("libs/libpdf-late.so", "not a library");
    EXPECT_THROW(x.YuklePDFium(T(pdf.string())), ReadError);
    fs::remove(link);
    fs::create_symlink(real, link);
    EXPECT_EQ(LinesOf(x.YuklePDFium(T(pdf.string()))),
              std::vector<std::string>{"http://late.example/"});
}

TEST_F(PdfFixture, TwoGigabytesOrMoreAreRefusedBeforeMapping) {
    fs::path big = dir.Path() / "big.pdf";
    { std::ofstream(big.string()); }
    fs::resize_file(big, std::uintmax_t{1} << 31);  // sparse: no disk used
    try {
        MappedFile file(big.string());
        FAIL() << "mapped";
    } catch (const ReadError& e) {
        EXPECT_NE(std::string(e.what()).find("2 GiB"), std::string::npos);
    }
    EXPECT_THROW(Run(false, big), ReadError);
}

TEST_F(PdfFixture, AFileCutShortWhileMappedReadsAsZerosInsteadOfEndingTheProgram) {
    fs::path pdf = Pdf("doc.pdf", {{"http://cut.example/"}});
    const std::size_t size = fs::file_size(pdf);
    MappedFile file(pdf.string());
    ASSERT_EQ(file.Data()[0], '%');
    fs::resize_file(pdf, 0);
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; i += 512) sum += file.Data()[i];
    EXPECT_EQ(sum, 0u);
}

// ---------------------------------------------------------------------------
// Files that are no readable PDF: each fails alone, in both routes

TEST_F(PdfFixture, UnreadableDocumentsFailQuietlyInBothRoutes) {
    fs::path good = Pdf("good.pdf", {{"http://good.example/"}});
    const std::string goodBytes = ReadFileBytes(good);
    Pdf("blank.pdf", {{}});
    std::string junk = "%PDF-1.5\n";
    for (int i = 0; i < 4000; ++i) junk += static_cast<char>((i * 7919 + 13) % 251);
    dir.Write("damaged.pdf", junk);
    dir.Write("zero.pdf", "");
    dir.Write("text.pdf", "http://plain.example/ is no PDF\n");
    ASSERT_EQ(std::system(("qpdf --encrypt user owner 256 -- '" + good.string() + "' '" +
                           (dir.Path() / "locked.pdf").string() + "'")
                              .c_str()),
              0);
    struct Bad {
        const char* name;
        bool mayYieldEmptyText;  // readable, but holds no text
    };
    for (const Bad& b :
         {Bad{"blank.pdf", true}, Bad{"damaged.pdf", true}, Bad{"zero.pdf", false},
          Bad{"text.pdf", false}, Bad{"locked.pdf", false}, Bad{"vanished.pdf", false}}) {
        for (bool converter : {false, true}) {
            SCOPED_TRACE(std::string(b.name) +
                         (converter ? " via the converter" : " via the library"));
            Text text;
            try {
                text = Run(converter, dir.Path() / b.name);
                EXPECT_TRUE(b.mayYieldEmptyText);
            } catch (const ReadError&) {
            }
            EXPECT_EQ(text.find(u"http://"), Text::npos);
            EXPECT_TRUE(FolderEmpty(data));
        }
    }
}

// ---------------------------------------------------------------------------
// In a scan

struct CountingSink : test::EmptySink {
    std::function<void(const std::string&)> onReading;
    int done = 0;
    void ReadingFile(const Text& p) override {
        if (onReading) onReading(ToUtf8(p));
    }
    void FileDone() override { ++done; }
};

std::vector<std::string> Scan(const ScanJob& job, SharedList& files, CountingSink& sink,
                              const DocumentReaders& readers) {
    SharedList urls;
    ScanControl control;
    TCollector collector(job, files, urls, control, sink, readers);
    collector.Start();
    collector.Wait();
    std::vector<std::string> out;
    for (const Text& t : urls.Snapshot()) out.push_back(ToUtf8(t));
    return out;
}

TEST_F(PdfFixture, AScanSkipsADocumentNoLibraryReadsAndTheNextOneTriesAgain) {
    fs::path link = dir.Path() / "libpdf-scan.so";
    settings.libraryNames = {link.string()};
    DocumentReaders readers;
    readers.pdfium = MakePdfiumReader(std::make_shared<PdfExtractor>(settings));
    ASSERT_TRUE(DocumentReaders::Usable(readers.pdfium));
    fs::path a = Pdf("a.pdf", {{"http://a.example/"}});
    fs::path b = Pdf("b.PDF", {{"http://b.example/"}});
    fs::path c = dir.Write("c.txt", "http://c.example/\n");
    SharedList files;
    files.Assign({T(a.string()), T(b.string()), T(c.string())});
    CountingSink sink;
    sink.onReading = [&](const std::string& p) {
        if (p == b.string()) fs::create_symlink(SystemLibraryPath(), link);
    };
    ScanJob job;
    job.Mode = ScanMode::FileList;
    job.Pdf = PdfMode::Pdfium;
    EXPECT_EQ(Scan(job, files, sink, readers),
              (std::vector<std::string>{"http://b.example/", "http://c.example/"}));
    EXPECT_EQ(sink.done, 2);
}

TEST_F(PdfFixture, BuiltInReadersReadPdfFilesInBothModesAndLeaveNothingBehind) {
    dir.MakeDir("scan");
    Pdf("scan/one.pdf", {{"http://one.example/"}});
    dir.Write("scan/two.pdf", "");
    Pdf("scan/three.pdf", {{}, {"http://three.example/"}});
    DocumentReaderOptions options;
    options.privateFolderBase = data.string();
    for (const char* mode : {"xpdf", "pdfium"}) {
        SCOPED_TRACE(mode);
        ScanJob job;
        job.Folder = T((dir.Path() / "scan").string());
        job.Pdf = PdfModeFromName(mode);
        SharedList files;
        CountingSink sink;
        std::vector<std::string> urls = Scan(job, files, sink, DocumentReaders::BuiltIn(options));
        std::sort(urls.begin(), urls.end());
        EXPECT_EQ(urls, (std::vector<std::string>{"http://one.example/", "http://three.example/"}));
        EXPECT_EQ(sink.done, 2);
        EXPECT_TRUE(FolderEmpty(data));
    }
}

}  // namespace
