// Documents a reader cannot decode are read as plain text, whatever their
// kind; a bound that cuts a document short counts it as partly read and says
// which bound under --verbose.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/readers/office_reader.h"
#include "support/run_scanner.h"
#include "support/temp_dir.h"

using corvexa::test::RunScannerProcess;
using corvexa::test::ScannerResult;
using corvexa::test::TempDir;
namespace fs = std::filesystem;

namespace {

// A message holding a forwarded message, `depth` levels deep. The outermost
// text is in base64, so only the decoded pass finds it; the innermost address
// is plain, found by the raw pass.
std::string NestedMessage(int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
        const std::string b = "b" + std::to_string(i);
        open += "X-Level: " + std::to_string(i) +
                "\r\nMIME-Version: 1.0\r\n"
                "Content-Type: multipart/mixed; boundary=\"" +
                b + "\"\r\n\r\n--" + b + "\r\nContent-Type: message/rfc822\r\n\r\n";
        close = "\r\n--" + b + "--\r\n" + close;
    }
    return "From: top@nest.example\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"top\"\r\n\r\n--top\r\n"
           "Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n"
           "aHR0cDovL291dGVyLm5lc3QuZXhhbXBsZS8=\r\n"  // http://outer.nest.example/
           "--top\r\nContent-Type: message/rfc822\r\n\r\n" +
           open + "From: inner@nest.example\r\n\r\nhttp://inner.nest.example/\r\n" + close +
           "\r\n--top--\r\n";
}

// The distinct lines of the output (both passes of a message may find an
// address), sorted.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace

TEST(PartialReads, UndecodableDocumentsReadAsTextAndCutsAreSaid) {
    TempDir dir;
    struct Case {
        const char* what;
        std::string name;
        std::string bytes;
        std::vector<std::string> args;
        std::vector<std::string> found;  // sorted
        const char* said;                // in --verbose, for a file read in part; empty: none
        bool needsOffice = false;
    };
    const std::string plain = "no document at all: http://plain.example/\n";
    const std::vector<Case> cases = {
        {"a message nested 10,000 levels",
         "deep.eml",
         NestedMessage(10000),
         {"--eml"},
         {"http://inner.nest.example/", "http://outer.nest.example/", "inner@nest.example",
          "top@nest.example"},
         "partly read: messages forwarded inside more than 32 others were not decoded"},
        {"a header line over the bound",
         "long.eml",
         "From: top@long.example\r\nSubject: =?utf-8?B?c2VlIGh0dHA6Ly9lYXJseS5sb25nLmV4YW1wbGUv?=" +
             [] {
                 std::string fold;
                 while (fold.size() < (std::size_t{1} << 20) + 4096) fold += "\r\n more words";
                 return fold;
             }() +
             "\r\nContent-Transfer-Encoding: base64\r\n\r\n"
             "aHR0cDovL2JvZHkubG9uZy5leGFtcGxlLw==\r\n",  // http://body.long.example/
         {"--eml"},
         {"http://body.long.example/", "http://early.long.example/", "top@long.example"},
         "partly read: a header line longer than 1 MB was decoded only in part"},
        {"a .eml that is no message",
         "junk.eml",
         "\x01\x02 " + plain,
         {"--eml"},
         {"http://plain.example/"},
         ""},
        {"a .pdf that is no PDF, library",
         "junk.pdf",
         plain,
         {"--pdf", "pdfium"},
         {"http://plain.example/"},
         ""},
        {"a .pdf that is no PDF, converter",
         "junk.pdf",
         plain,
         {"--pdf", "xpdf"},
         {"http://plain.example/"},
         ""},
        {"a .xlsx that is no workbook",
         "junk.xlsx",
         plain,
         {"--decode", "excel"},
         {"http://plain.example/"},
         "",
         true},
        {"a .docx that is no document",
         "junk.docx",
         plain,
         {"--decode", "word"},
         {"http://plain.example/"},
         "",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsOffice && !corvexa::WordInstalled()) {
            ADD_FAILURE() << "LibreOffice is needed for this case";
            continue;
        }
        const fs::path folder =
            dir.MakeDir(std::string("case") + std::to_string(&c - cases.data()));
        dir.Write(fs::relative(folder / c.name, dir.Path()).string(), c.bytes);
        std::vector<std::string> args = {"--quiet", "--verbose", "-j", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(folder.string());
        const ScannerResult r = RunScannerProcess(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Lines(r.out), c.found) << r.err;
        if (*c.said) {
            EXPECT_NE(r.err.find((folder / c.name).string() + ": " + c.said), std::string::npos)
                << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
    }
}
