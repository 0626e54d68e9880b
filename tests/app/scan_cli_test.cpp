// corvexa-scan as a user runs it: a real process over real files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/pdf_maker.h"
#include "support/run_scanner.h"
#include "support/temp_dir.h"

using corvexa::test::ReadFileBytes;
using corvexa::test::RunScannerProcess;
using corvexa::test::ScannerResult;
using corvexa::test::SpawnScanner;
using corvexa::test::TempDir;

namespace {

// Runs the scanner once a case, with the case's flags and then `after`; each
// run succeeds and prints the case's output.
struct FlagsCase {
    std::vector<std::string> flags;
    std::string out;
};
void ExpectOutputs(const std::vector<FlagsCase>& cases, const std::vector<std::string>& after) {
    for (const FlagsCase& c : cases) {
        auto args = c.flags;
        args.insert(args.end(), after.begin(), after.end());
        ScannerResult r = RunScannerProcess(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

}  // namespace

TEST(ScanCli, HelpDocumentsEveryOption) {
    ScannerResult r = RunScannerProcess({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* opt :
         {"--mask",    "--no-subfolders", "--skip-larger-mb", "--no-email",      "--no-ftp",
          "--no-http", "--no-https",      "--no-www",         "--memory-stream", "--files-from",
          "-o FILE",   "--files-out",     "--view",           "--dedup",         "--quiet",
          "-- FILE",   "--eml",           "--word",           "--excel",         "--decode LIST"})
        EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
}

TEST(ScanCli, BadArgumentsExitTwoWithAMessage) {
    TempDir dir;
    std::string folder = dir.Path().string();
    struct Case {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{}, "FOLDER"},
        {{folder, "--files-from", "x"}, "exactly one"},
        {{folder, folder}, "exactly one"},
        {{"--bogus", folder}, "unknown option"},
        {{"--skip-larger-mb", "ten", folder}, "whole number"},
        {{"--skip-larger-mb"}, "needs a number"},
        {{"--view", "tree", folder}, "url, host or domain"},
        {{"--mask", "*[abc", folder}, "invalid --mask"},
        {{"--no-email", "--no-ftp", "--no-http", "--no-https", "--no-www", folder}, "switched off"},
        {{"-o", folder + "/missing/out.txt", folder}, "does not exist"},
        {{"--files-from", folder + "/no-list.txt"}, "cannot open"},
        {{"--"}, "at least one file"},
        {{"--quiet=yes", folder}, "takes no value"},
        {{"--eml=yes", folder}, "takes no value"},
        {{"--decode", "eml,pdf", folder}, "not 'pdf'"},
        {{"--decode"}, "needs a list"},
    };
    for (const Case& c : cases) {
        ScannerResult r = RunScannerProcess(c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(ScanCli, MessagesAreDecodedWhenAsked) {
    TempDir dir;
    // The body is base64: only the decoder sees the address in it.
    auto eml = dir.Write("m.eml",
                         "From: a@from.example\r\nContent-Type: text/plain\r\n"
                         "Content-Transfer-Encoding: base64\r\n\r\nYkBib2R5LmV4YW1wbGU=\r\n");
    for (const char* decode : {"--eml", "--decode=eml", ""}) {
        std::vector<std::string> args{"--quiet"};
        if (*decode) args.push_back(decode);
        args.push_back(dir.Path().string());
        ScannerResult r = RunScannerProcess(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out,
                  *decode ? "b@body.example\na@from.example\na@from.example\n" : "a@from.example\n")
            << decode;
    }
}

TEST(ScanCli, FolderScanPrintsFindingsInOrderFound) {
    TempDir dir;
    dir.Write("only/a.txt",
              "Visit https://www.example.com/index.html. Mail bob@example.org\n"
              "ftp://ftp.example.net/pub and (www.paren.org)\n");
    dir.Write("only/b.log", "http://not-taken.example.com\n");
    ScannerResult r =
        RunScannerProcess({"--mask", "*.txt", "--quiet", (dir.Path() / "only").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "https://www.example.com/index.html\nbob@example.org\nwww.paren.org\n"
              "ftp://ftp.example.net/pub\n");
}

TEST(ScanCli, DetectionSwitchesAndSizeLimit) {
    TempDir dir;
    dir.Write("a.txt",
              "http://plain.example.com https://secure.example.com www.w.example.com "
              "x@example.org ftp://f.example.com\n");
    dir.Write("big.txt", std::string(1048576, ' ') + "http://big.example.com\n");
    std::string folder = dir.Path().string();
    ExpectOutputs(
        {
            {{"--no-http", "--no-https", "--no-www", "--no-ftp", "--skip-larger-mb", "1"},
             "x@example.org\n"},
            {{"--no-email", "--no-ftp", "--no-www", "--no-http", "--skip-larger-mb", "1"},
             "https://secure.example.com\n"},
            {{"--no-email", "--no-ftp", "--no-https", "--no-www", "--mask", "*big.txt"},
             "http://big.example.com\n"},
            {{"--no-email", "--no-http", "--no-https", "--no-www", "--skip-larger-mb", "1",
              "--memory-stream"},
             "ftp://f.example.com\n"},
        },
        {"-q", folder});
}

TEST(ScanCli, ExportFilesAndFileLists) {
    TempDir dir;
    auto a = dir.Write("in/caf\xE9.txt", "www.one.com\r\n");  // a name that is not UTF-8
    auto b = dir.Write("in/b.txt", "www.two.com\n");
    auto list = dir.Write("list.txt", "\xEF\xBB\xBF" + a.string() + "\r\n\r\n" + b.string() + "\n");
    std::string out = (dir.Path() / "found.txt").string();
    std::string filesOut = (dir.Path() / "files.txt").string();
    ScannerResult r =
        RunScannerProcess({"--files-from", list.string(), "-o", out, "--files-out", filesOut});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(ReadFileBytes(out), "\xEF\xBB\xBFwww.one.com\r\nwww.two.com\r\n");
    EXPECT_EQ(ReadFileBytes(filesOut), "\xEF\xBB\xBF" + a.string() + "\r\n" + b.string() + "\r\n");

    ScannerResult direct =
        RunScannerProcess({"--", b.string(), a.string(), (dir.Path() / "missing").string()});
    EXPECT_EQ(direct.status, 0);
    EXPECT_EQ(direct.out, "www.two.com\nwww.one.com\n");

    // An empty scan still writes an export file: the mark alone.
    ScannerResult none =
        RunScannerProcess({"-o", out, "--mask", "*.none", (dir.Path() / "in").string()});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(ReadFileBytes(out), "\xEF\xBB\xBF");
}

TEST(ScanCli, ViewsAndDuplicates) {
    TempDir dir;
    dir.Write("a.txt",
              "https://www.Example.com/a http://www.example.COM/b bob@mail.example.com "
              "www.other.org/x http://192.0.2.10/admin\n");
    std::string folder = dir.Path().string();
    ExpectOutputs(
        {
            {{"--view", "host"},
             "www.Example.com\nwww.example.COM\nwww.other.org\n192.0.2.10\nexample.com\n"},
            {{"--view", "domain"},
             "Example.com\nexample.COM\nother.org\nhttp://192.0.2.10/admin\nexample.com\n"},
            {{"--view", "domain", "--dedup"}, "Example.com\nhttp://192.0.2.10/admin\nother.org\n"},
            {{"--view", "host", "--dedup"},
             "192.0.2.10\nexample.com\nwww.Example.com\nwww.other.org\n"},
        },
        {folder});
}

TEST(ScanCli, InterruptStopsCleanlyAndKeepsTheFindings) {
    TempDir dir;
    std::string big;
    for (int i = 0; i < 400000; ++i) big += "http://host" + std::to_string(i) + ".example.com/\n";
    auto file = dir.Write("big.txt", big);
    std::string list;
    for (int i = 0; i < 200; ++i) list += file.string() + "\n";
    auto listFile = dir.Write("list.txt", list);
    std::string out = (dir.Path() / "found.txt").string();
    // Ctrl-C and a SIGTERM (as from a service manager or timeout) both stop
    // the scan and keep what was found; the status tells which one it was.
    for (auto [sig, want] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        const int signal = sig, status = want;  // clang 14 cannot capture a structured binding
        ScannerResult r =
            RunScannerProcess({"--files-from", listFile.string(), "-o", out}, [signal](pid_t pid) {
                // Not before it catches the signal: a loaded machine may take
                // longer to start it than the scan takes to find its first lines.
                EXPECT_TRUE(corvexa::test::WaitUntilCatching(pid, signal));
                std::this_thread::sleep_for(std::chrono::milliseconds(700));
                kill(pid, signal);
            });
        EXPECT_EQ(r.status, status) << r.err;
        std::string written = ReadFileBytes(out);
        ASSERT_GE(written.size(), 3u);
        EXPECT_EQ(written.substr(0, 3), "\xEF\xBB\xBF");
        EXPECT_NE(written.find("http://host0.example.com/\r\n"), std::string::npos);
        // Stopped well before the end, and the file ends with a whole line.
        EXPECT_LT(written.size(), big.size() * 200);
        EXPECT_EQ(written.substr(written.size() - 2), "\r\n");
    }
}

TEST(ScanCli, FilesThatCannotBeReadAreCountedOrNamedButDoNotFailTheScan) {
    TempDir dir;
    auto good = dir.Write("good.txt", "www.good.com\n");
    std::string missing = (dir.Path() / "missing.txt").string();
    std::string folder = (dir.Path() / "sub").string();
    dir.Write("sub/x.txt", "www.inside.com\n");
    std::vector<std::string> files{"--", missing, good.string(), folder};

    ScannerResult quiet = RunScannerProcess(files);
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.out, "www.good.com\n");
    EXPECT_NE(quiet.err.find("2 files could not be read"), std::string::npos) << quiet.err;
    EXPECT_EQ(quiet.err.find(missing), std::string::npos) << quiet.err;

    files.insert(files.begin(), "--verbose");
    ScannerResult verbose = RunScannerProcess(files);
    EXPECT_EQ(verbose.status, 0) << verbose.err;
    EXPECT_EQ(verbose.out, "www.good.com\n");
    // Each one on its own line, with its reason, in the order read.
    std::size_t m = verbose.err.find("corvexa-scan: " + missing + ": ");
    std::size_t f = verbose.err.find("corvexa-scan: " + folder + ": ");
    EXPECT_NE(m, std::string::npos) << verbose.err;
    EXPECT_NE(f, std::string::npos) << verbose.err;
    EXPECT_LT(m, f);
    EXPECT_EQ(verbose.err.find(good.string()), std::string::npos) << verbose.err;

    ScannerResult none = RunScannerProcess({"--", good.string()});
    EXPECT_EQ(none.err, "");
}

TEST(ScanCli, OptionSpellingsAndLongValues) {
    TempDir dir;
    dir.Write("a.txt", "www.a.com\n");
    dir.Write("b.log", "www.b.com\n");
    std::string folder = dir.Path().string(), out = (dir.Path() / "o.txt").string();
    struct Case {
        std::vector<std::string> args;
        std::string stdoutText, file;
    } cases[] = {
        {{"--mask=*.txt", "-q", folder}, "www.a.com\n", ""},
        {{"--mask", "*.log", "--view=host", folder}, "www.b.com\n", ""},
        {{"-qo", out, "--mask", "*.txt", folder}, "", "\xEF\xBB\xBFwww.a.com\r\n"},
        {{"-o" + out, "--mask", "*.log", folder}, "", "\xEF\xBB\xBFwww.b.com\r\n"},
        {{"--output=" + out, "--mask=*.txt", folder}, "", "\xEF\xBB\xBFwww.a.com\r\n"},
        // A value of a hundred kilobytes is an ordinary (if odd) mask.
        {{std::string("--mask=").append(100000, '*').append("a.txt"), folder}, "www.a.com\n", ""},
        {{"--mask", std::string(100000, '?'), folder}, "", ""},
    };
    for (const Case& c : cases) {
        std::remove(out.c_str());
        ScannerResult r = RunScannerProcess(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.stdoutText) << c.args[0].substr(0, 40);
        if (!c.file.empty()) {
            EXPECT_EQ(ReadFileBytes(out), c.file);
        }
    }
}

TEST(ScanCli, PdfOptionChoosesHowPdfFilesAreRead) {
    EXPECT_NE(RunScannerProcess({"--help"}).out.find("--pdf xpdf|pdfium|plain"), std::string::npos);
    TempDir dir;
    ScannerResult bad = RunScannerProcess({"--pdf", "word", dir.Path().string()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("xpdf, pdfium or plain"), std::string::npos) << bad.err;

    corvexa::test::WritePdf((dir.Path() / "doc.pdf").string(), {{"see https://in.pdf.example/"}});
    const std::string folder = dir.Path().string();
    struct Case {
        std::vector<std::string> args;
        bool findsText;
    } cases[] = {
        {{folder}, true},  // the converter by default
        {{"--pdf", "xpdf", folder}, true},
        {{"--pdf=pdfium", folder}, true},
        {{"--pdf", "plain", folder}, false},
    };
    for (const Case& c : cases) {
        ScannerResult r = RunScannerProcess(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find("https://in.pdf.example/") != std::string::npos, c.findsText) << r.out;
    }
}

TEST(ScanCli, ArchivesAreReadInsideWhenAsked) {
    TempDir dir;
    dir.Write("make.py", R"PY(
import gzip, io, sys, tarfile, zipfile
d = sys.argv[1]
open(d + "/in/notes.txt.gz", "wb").write(gzip.compress(b"http://gz.example/\n"))
buf = io.BytesIO()
with tarfile.open(fileobj=buf, mode="w") as t:
    data = b"line one\nmail a@tar.example\n"
    info = tarfile.TarInfo("docs/a.txt"); info.size = len(data)
    t.addfile(info, io.BytesIO(data))
with zipfile.ZipFile(d + "/in/outer.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("b.tar", buf.getvalue())
open(d + "/in/bomb.gz", "wb").write(gzip.compress(b"x" * (64 << 20), 9))
)PY");
    dir.MakeDir("in");
    const std::string cmd =
        "python3 '" + (dir.Path() / "make.py").string() + "' '" + dir.Path().string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string in = (dir.Path() / "in").string();

    ScannerResult off = RunScannerProcess({"--quiet", in});
    EXPECT_EQ(off.out.find("a@tar.example"), std::string::npos);
    std::string first;
    for (const char* on : {"-z", "--archives"}) {
        for (const char* threads : {"-j1", "-j2"}) {
            ScannerResult r = RunScannerProcess({"--quiet", "--verbose", on, threads, in});
            EXPECT_EQ(r.out.find("http://gz.example/"), r.out.rfind("http://gz.example/")) << on;
            EXPECT_NE(r.out.find("http://gz.example/\n"), std::string::npos) << on << r.err;
            EXPECT_NE(r.out.find("a@tar.example\n"), std::string::npos) << on;
            // The bomb fails with its reason; the rest of the scan goes on.
            EXPECT_NE(r.err.find("bomb.gz//bomb: archive expands past"), std::string::npos)
                << r.err;
            if (first.empty()) first = r.out;
            EXPECT_EQ(r.out, first) << on << threads;
        }
    }
    // A member's place is the archive's path, "//" and its path inside;
    // its lines are counted from its own start.
    for (const char* threads : {"-j1", "-j2"}) {
        ScannerResult r = RunScannerProcess({"--quiet", "-z", "-H", "-n", threads, in});
        EXPECT_NE(r.out.find(in + "/outer.zip//b.tar//docs/a.txt\t2\ta@tar.example\n"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find(in + "/notes.txt.gz//notes.txt\t1\thttp://gz.example/\n"),
                  std::string::npos)
            << r.out;
    }
}

TEST(ScanCli, MailboxesAreReadMessageByMessageWhenAsked) {
    TempDir dir;
    dir.Write(
        "in/box.mbox",
        "From a@env.example Thu Dec 10 10:00:00 2026\nSubject: one\n\nhttp://one.example/\n\n"
        "From b@env.example Thu Dec 10 11:00:00 2026\nSubject: two\nContent-Type: text/plain\n"
        "Content-Transfer-Encoding: base64\n\n"
        // "c@body.example\n"
        "Y0Bib2R5LmV4YW1wbGUK\n");
    const std::string in = (dir.Path() / "in").string();
    ScannerResult off = RunScannerProcess({"--quiet", in});
    EXPECT_EQ(off.out, "a@env.example\nhttp://one.example/\nb@env.example\n");
    for (const char* threads : {"-j1", "-j2"}) {
        ScannerResult r = RunScannerProcess({"--quiet", "--mailboxes", "-H", threads, in});
        EXPECT_EQ(r.out, in + "/box.mbox//1\thttp://one.example/\n" + in +
                             "/box.mbox//1\thttp://one.example/\n" + in +
                             "/box.mbox//2\tc@body.example\n")
            << r.err;
    }
}

namespace {

// Runs the scanner with standard output and standard error on one terminal,
// as a user at a prompt does; returns all it wrote there.
std::string RunOnTerminal(const std::vector<std::string>& args) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no terminal";
    const std::string slave = ptsname(master);
    const pid_t pid = SpawnScanner(args, [&](posix_spawn_file_actions_t& fa) {
        posix_spawn_file_actions_addopen(&fa, 1, slave.c_str(), O_RDWR | O_NOCTTY, 0);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
    });
    const bool started = pid != 0;
    std::string out;
    char buffer[4096];
    // The terminal reports an error on reading once the scanner has closed it.
    for (ssize_t n; started && (n = read(master, buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    close(master);
    if (started) waitpid(pid, nullptr, 0);
    return out;
}

}  // namespace

TEST(ScanCli, OnATerminalTheFindingsFollowTheProgressLineAndNeverShareIt) {
    // More findings than the scanner buffers before it writes them out.
    TempDir docs;
    for (int i = 0; i < 200; ++i) {
        std::string text;
        for (int j = 0; j < 100; ++j)
            text += "http://h" + std::to_string(i) + ".example/" + std::to_string(j) + "\n";
        docs.Write("f" + std::to_string(i) + ".txt", text);
    }
    for (const char* threads : {"-j1", "-j2"}) {
        const std::string out = RunOnTerminal({threads, docs.Path().string()});
        const std::size_t progressEnd = out.rfind("\033[K");
        ASSERT_NE(progressEnd, std::string::npos) << out;
        const std::string before = out.substr(0, progressEnd);
        EXPECT_EQ(before.find("http://"), std::string::npos) << threads << ": " << out;
        std::size_t lines = 0;
        for (std::size_t at = out.find("http://", progressEnd); at != std::string::npos;
             at = out.find("http://", at + 1))
            ++lines;
        EXPECT_EQ(lines, 20000U) << threads << ": " << out;
    }
}
