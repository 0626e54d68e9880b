// corvexa-scan -j, -H, -n and --count as a user runs them: real processes over
// real files.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/run_scanner.h"
#include "support/temp_dir.h"

using corvexa::test::ReadFileBytes;
using corvexa::test::RunScannerProcess;
using corvexa::test::ScannerResult;
using corvexa::test::TempDir;
using corvexa::test::WaitUntilCatching;
namespace fs = std::filesystem;

namespace {

// A tree of files of very different sizes: one of several MB first, empty
// ones, small ones, medium ones with every kind of line break, an ANSI file
// read twice in file-stream mode, a UTF-16 file.
void MakeTree(const TempDir& dir) {
    std::mt19937 rng(42);
    auto text = [&](int lines, int every) {
        static const char* breaks[] = {"\n", "\r\n", "\r"};
        std::string s;
        for (int i = 0; i < lines; ++i) {
            if (i % every == 0) {
                s += "see http://Host" + std::to_string(rng() % 500) + ".example.com/p and mail" +
                     std::to_string(rng() % 300) + "@example.org, ftp://f" + std::to_string(i % 7) +
                     ".example.net/x or www.W" + std::to_string(rng() % 50) + ".example.de.";
            } else {
                s += std::string(rng() % 200, 'x');
            }
            s += breaks[rng() % 3];
        }
        return s;
    };
    dir.Write("tree/a-large.txt", text(80000, 3));
    for (int i = 0; i < 30; ++i) {
        std::string name = "tree/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt";
        switch (i % 5) {
            case 0:
                dir.Write(name, "");
                break;
            case 1:
                dir.Write(name, "www.only-line" + std::to_string(i) + ".com");
                break;
            case 2:
                dir.Write(name, text(3000 + static_cast<int>(rng() % 4000), 4));
                break;
            case 3:
                dir.Write(name, text(300, 2) + "caf\xE9 https://late.example.com\n");
                break;
            default: {
                std::string u16 = "\xFF\xFE";
                for (char c : std::string("x@utf16.example.com\r\nhttps://u.example.org/\n"))
                    u16 += std::string{c, '\0'};
                dir.Write(name, u16);
            }
        }
    }
}

}  // namespace

TEST(ScanThreads, OneAndFourThreadsGiveTheSameOutputInBothReadingModes) {
    TempDir dir;
    MakeTree(dir);
    const std::string folder = (dir.Path() / "tree").string();
    const std::vector<std::vector<std::string>> variants = {
        {},
        {"--view", "host", "--dedup"},
        {"--view", "domain"},
        {"-H", "-n"},
        {"-n", "--view", "host"},
        {"--count"},
        {"--no-email", "--no-www"},
    };
    for (const char* mode : {"", "--memory-stream"}) {
        for (const auto& variant : variants) {
            std::string label = std::string(mode);
            for (const auto& a : variant) label += " " + a;
            SCOPED_TRACE(label);
            std::vector<std::string> base{"--quiet"};
            if (*mode) base.push_back(mode);
            base.insert(base.end(), variant.begin(), variant.end());
            auto run = [&](const char* threads) {
                std::vector<std::string> args = base;
                args.insert(args.end(), {"-j", threads, folder});
                return RunScannerProcess(args);
            };
            ScannerResult one = run("1"), four = run("4");
            EXPECT_EQ(one.status, 0) << one.err;
            EXPECT_EQ(four.status, 0) << four.err;
            EXPECT_GT(one.out.size(), 1000u);
            EXPECT_TRUE(one.out == four.out) << "outputs differ";
        }
        // The export files and the files list.
        std::string out1 = (dir.Path() / "o1").string(), out4 = (dir.Path() / "o4").string();
        std::string files1 = (dir.Path() / "f1").string(), files4 = (dir.Path() / "f4").string();
        std::vector<std::string> a1{"--quiet", "-j1", "-o", out1, "--files-out", files1, folder};
        std::vector<std::string> a4{"--quiet",     "--threads=4", "-o",  out4,
                                    "--files-out", files4,        folder};
        if (*mode) {
            a1.insert(a1.begin(), mode);
            a4.insert(a4.begin(), mode);
        }
        ASSERT_EQ(RunScannerProcess(a1).status, 0);
        ASSERT_EQ(RunScannerProcess(a4).status, 0);
        EXPECT_TRUE(ReadFileBytes(out1) == ReadFileBytes(out4));
        EXPECT_EQ(ReadFileBytes(files1), ReadFileBytes(files4));
    }
}

TEST(ScanThreads, WhereFoundAndCountFormats) {
    TempDir dir;
    auto a = dir.Write(
        "a.txt",
        "no address\nsee http://x.example.com/ and bob@example.org\r\n\r\nBOB@example.org\n");
    auto tabbed = dir.Write("tab\there.txt", "line\rftp://ftp.example.net/pub\r");
    const std::string pa = a.string(), pt = (dir.Path() / "tab\\there.txt").string();
    struct Case {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"-H", "-n"},
         pa + "\t2\thttp://x.example.com/\n" + pa + "\t2\tbob@example.org\n" + pa +
             "\t4\tBOB@example.org\n" + pt + "\t2\tftp://ftp.example.net/pub\n"},
        {{"--line-number"},
         "2\thttp://x.example.com/\n2\tbob@example.org\n4\tBOB@example.org\n2\tftp://"
         "ftp.example.net/pub\n"},
        {{"--with-filename", "--view", "domain"},
         pa + "\texample.com\n" + pa + "\texample.org\n" + pa + "\texample.org\n" + pt +
             "\texample.net\n"},
        {{"--count"},
         "2\tbob@example.org\n1\tftp://ftp.example.net/pub\n1\thttp://x.example.com/\n"},
        {{"--count", "--view", "domain"}, "2\texample.org\n1\texample.com\n1\texample.net\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--quiet", "--", pa, tabbed.string()});
        ScannerResult r = RunScannerProcess(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out) << c.args.front();
    }
}

TEST(ScanThreads, BadCombinationsAndValues) {
    TempDir dir;
    const std::string folder = dir.Path().string(), out = (dir.Path() / "o.txt").string();
    struct Case {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"-j", "0", folder}, "from 1 to 1024"},
        {{"--threads", "many", folder}, "from 1 to 1024"},
        {{"-j"}, "needs a number"},
        {{"-H", "-o", out, folder}, "cannot be used with -o"},
        {{"--count", "-o", out, folder}, "cannot be used with -o"},
        {{"--count", "-n", folder}, "--count cannot be used"},
        {{"-n", "--dedup", folder}, "cannot be used with -H or -n"},
    };
    for (const Case& c : cases) {
        ScannerResult r = RunScannerProcess(c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    ScannerResult help = RunScannerProcess({"--help"});
    for (const char* opt : {"--threads N", "--with-filename", "--line-number", "--count"})
        EXPECT_NE(help.out.find(opt), std::string::npos) << opt;
}

TEST(ScanThreads, InterruptWithFourThreadsWritesAPrefixOfTheFullResult) {
    // Every line is one finding, so the full result is the file's text, once
    // for each entry of the list.
    TempDir dir;
    std::string big;
    for (int i = 0; i < 200000; ++i) big += "http://host" + std::to_string(i) + ".example.com/\n";
    auto file = dir.Write("big.txt", big);
    std::string list;
    for (int i = 0; i < 100; ++i) list += file.string() + "\n";
    auto listFile = dir.Write("list.txt", list);
    ScannerResult cut =
        RunScannerProcess({"--quiet", "-j4", "--files-from", listFile.string()}, [](pid_t pid) {
            EXPECT_TRUE(WaitUntilCatching(pid, SIGTERM));  // start-up over
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            kill(pid, SIGTERM);
        });
    EXPECT_EQ(cut.status, 143) << cut.err;  // SIGTERM; Ctrl-C gives 130
    ASSERT_LT(cut.out.size(), big.size() * 100);
    for (std::size_t i = 0; i < cut.out.size(); i += big.size()) {
        const std::size_t n = std::min(big.size(), cut.out.size() - i);
        ASSERT_EQ(cut.out.compare(i, n, big, 0, n), 0)
            << "not a prefix of the full result at byte " << i;
    }
    if (!cut.out.empty()) {
        EXPECT_EQ(cut.out.back(), '\n');
    }
}
