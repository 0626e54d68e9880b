// A folder nested past the system's limit on paths: every reader opens its
// file there, relative to the folders above it, as the plain-text reader does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/collector.h"
#include "engine/readers/document_reader.h"
#include "engine/readers/pdf_reader.h"
#include "support/empty_sink.h"
#include "support/pdf_maker.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::ReadFileBytes;
using corvexa::test::TempDir;
namespace fs = std::filesystem;

namespace {

// Makes `depth` nested folders named `name` below root, one at a time
// relative to the one before (a path past PATH_MAX cannot be made by path),
// writes each of `files` into the bottom one, and returns the bottom folder's
// path.
std::string MakeDeep(const fs::path& root, const std::string& name, int depth,
                     const std::map<std::string, std::string>& files) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string path = root.string();
    for (int i = 0; i < depth; ++i) {
        EXPECT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
        const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = sub;
        path += "/" + name;
    }
    for (const auto& [file, bytes] : files) {
        const int out = ::openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_EQ(::write(out, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()))
            << file;
        ::close(out);
    }
    ::close(fd);
    return path;
}

struct FailureSink : test::EmptySink {
    std::vector<std::string> failed;
    void FileFailed(const Text& path, const std::string& reason) override {
        failed.push_back(ToUtf8(path).substr(ToUtf8(path).rfind('/')) + ": " + reason);
    }
};

}  // namespace

TEST(LongPaths, EveryReaderReadsItsFilePastTheSystemLimit) {
    TempDir dir;
    // The PDF is made at a short path and copied down; its text is compressed,
    // and the message's address is in base64, so only their readers find them.
    test::WritePdf((dir.Path() / "doc.pdf").string(), {{"https://pdf.deep.example/"}});
    const std::string message =
        "From: a@h.example\r\nSubject: deep\r\nMIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
        std::string("aHR0cHM6Ly9lbWwuZGVlcC5leGFtcGxlLw==\r\n");  // https://eml.deep.example/
    const std::string bottom = MakeDeep(dir.MakeDir("scan"), std::string(40, 'd'), 110,
                                        {{"note.txt", "https://txt.deep.example/\n"},
                                         {"doc.pdf", ReadFileBytes(dir.Path() / "doc.pdf")},
                                         {"mail.eml", message}});
    ASSERT_GT(bottom.size(), 4096u);
    const fs::path privateFolders = dir.MakeDir("private");

    struct Case {
        const char* what;
        PdfMode mode;
    };
    for (const Case& c :
         {Case{"the converter route", PdfMode::Xpdf}, Case{"the library route", PdfMode::Pdfium}}) {
        SCOPED_TRACE(c.what);
        DocumentReaderOptions options;
        options.privateFolderBase = privateFolders.string();
        DocumentReaders readers = DocumentReaders::BuiltIn(options);
        if (c.mode == PdfMode::Xpdf) {
            // Without a library to fall back on, the text can only be the
            // converter's.
            PdfSettings settings;
            settings.privateFolderBase = privateFolders.string();
            settings.libraryNames = {(dir.Path() / "absent.so").string()};
            readers.xpdf = MakeXpdfReader(std::make_shared<PdfExtractor>(settings));
        }
        ScanJob job;
        job.Folder = FromUtf8((dir.Path() / "scan").string());
        job.Kinds.Set(DocumentKind::Eml);
        job.Pdf = c.mode;
        SharedList files, urls;
        ScanControl control;
        FailureSink sink;
        TCollector collector(job, files, urls, control, sink, readers);
        collector.Start();
        collector.Wait();
        std::vector<std::string> found;
        for (const Text& t : urls.Snapshot())
            if (ToUtf8(t).find(".deep.example") != std::string::npos) found.push_back(ToUtf8(t));
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, (std::vector<std::string>{"https://eml.deep.example/",
                                                   "https://pdf.deep.example/",
                                                   "https://txt.deep.example/"}));
        EXPECT_EQ(sink.failed, std::vector<std::string>{});
        EXPECT_TRUE(fs::is_empty(privateFolders));
    }
}
