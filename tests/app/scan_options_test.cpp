// corvexa-scan's option table: parsing, and --help and the manual page made from it.
#include "app/corvexa-scan/scan_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/file_list.h"

using corvexa::cli::Options;
using corvexa::cli::OptionTable;
using corvexa::cli::ParseOptions;

TEST(ScanOptions, ValuesLandWhereTheyBelong) {
    std::string error;
    auto o = ParseOptions({"--mask=*.eml", "--no-subfolders", "--skip-larger-mb", "7", "--no-www",
                           "--memory-stream", "--view", "domain", "--dedup", "-qo", "out.txt",
                           "--files-out=files.txt", "--verbose", "dir"},
                          &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->inputs.FileMask, u"*.eml");
    EXPECT_FALSE(o->inputs.IncludeSubfolders);
    EXPECT_EQ(o->inputs.SkipLargeFilesMB, 7);
    EXPECT_FALSE(o->inputs.Www);
    EXPECT_TRUE(o->inputs.Email && o->inputs.Ftp && o->inputs.Http && o->inputs.Https);
    EXPECT_TRUE(o->memoryStream && o->dedup && o->quiet && o->verbose);
    EXPECT_EQ(o->view, corvexa::results::ViewMode::Domain);
    EXPECT_EQ(o->output, "out.txt");
    EXPECT_EQ(o->filesOut, "files.txt");
    EXPECT_EQ(o->inputs.Mode, corvexa::ScanMode::Directory);
    EXPECT_EQ(o->inputs.Folder, u"dir");

    // After "--" everything is a file, even what looks like an option; a
    // value may itself be "--" or begin with a dash.
    o = ParseOptions({"--mask", "--", "-o", "-x", "--", "--help", "-"}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->inputs.FileMask, u"--");
    EXPECT_EQ(o->output, "-x");
    EXPECT_EQ(o->files, (std::vector<std::string>{"--help", "-"}));
    EXPECT_EQ(o->inputs.Mode, corvexa::ScanMode::FileList);
    EXPECT_FALSE(o->help);

    // The last of a repeated option counts.
    o = ParseOptions({"--view", "host", "--view=url", "--files-from", "-"}, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->view, corvexa::results::ViewMode::Url);
    EXPECT_TRUE(o->filesFromGiven);
    EXPECT_EQ(o->filesFrom, "-");

    using corvexa::cli::OutputFormat;
    const std::pair<std::vector<std::string>, OutputFormat> formats[] = {
        {{"dir"}, OutputFormat::Text},
        {{"dir", "--json"}, OutputFormat::Json},
        {{"dir", "--format", "csv"}, OutputFormat::Csv},
        {{"dir", "--format=json", "-H", "-n"}, OutputFormat::Json},
        {{"dir", "--json", "--format", "text"}, OutputFormat::Text},
    };
    for (const auto& [args, format] : formats) {
        o = ParseOptions(args, &error);
        ASSERT_TRUE(o) << error;
        EXPECT_EQ(o->format, format) << args.back();
    }
}

// With no option the scan is the window's first start (detection, subfolders,
// plain text and PDF reading), but of every file, of any size, decoding nothing.
TEST(ScanOptions, DefaultsAreTheWindowsWhereTheyApply) {
    std::string error;
    auto o = ParseOptions({"dir"}, &error);
    ASSERT_TRUE(o) << error;
    const corvexa::ScanInputs& in = o->inputs;
    EXPECT_TRUE(in.Email && in.Ftp && in.Http && in.Https && in.Www);
    EXPECT_TRUE(in.IncludeSubfolders);
    EXPECT_FALSE(o->memoryStream);
    EXPECT_EQ(in.Pdf, corvexa::PdfMode::Xpdf);
    EXPECT_EQ(in.FileMask, u"*");
    EXPECT_EQ(in.SkipLargeFilesMB, 0);
    EXPECT_EQ(in.Kinds, corvexa::DocumentKinds());
    EXPECT_FALSE(in.Archives || in.Mailboxes);
}

TEST(ScanOptions, UsageErrorsSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--mask"}, "--mask needs a value"},
        {{"dir", "-o"}, "-o needs a file"},
        {{"dir", "--output="}, "-o needs a file"},
        {{"dir", "--view", "tree"}, "--view takes url, host or domain, not 'tree'"},
        {{"dir", "--skip-larger-mb=99999999999"},
         "--skip-larger-mb needs a whole number, not '99999999999'"},
        {{"dir", "--dedup=yes"}, "--dedup takes no value"},
        {{"dir", "--format", "xml"}, "--format takes text, json or csv, not 'xml'"},
        {{"dir", "--format"}, "--format needs text, json or csv"},
        {{"dir", "--json=yes"}, "--json takes no value"},
        {{"dir", "--json", "-o", "x"},
         "--json and --format print to standard output; they cannot be used with -o"},
        {{"dir", "--format=csv", "--output=x"},
         "--json and --format print to standard output; they cannot be used with -o"},
        {{"dir", "--format", "json", "--count"}, "--count cannot be used with --json or --format"},
        {{"dir", "--json", "--dedup"},
         "--dedup merges findings from different places; it cannot be used with --json or "
         "--format"},
        {{"dir", "-qy"}, "unknown option '-qy'"},
        {{std::string("--").append(200000, 'x')},
         std::string("unknown option '--").append(200000, 'x').append("'")},
        {{"-q"}, "name a FOLDER, --files-from LIST or -- FILE..."},
        {{"a", "--", "b"}, "give exactly one of FOLDER, --files-from LIST or -- FILE..."},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseOptions(c.args, &error)) << c.error.substr(0, 40);
        EXPECT_EQ(error, c.error);
    }
}

TEST(ScanOptions, HelpAndManualPageShowEveryOptionOfTheTable) {
    std::string help = corvexa::cli::HelpText(), man = corvexa::cli::ManPage("1.2.3");
    auto roff = [](std::string s) {
        std::string r;
        for (char c : s) r += c == '-' ? std::string("\\-") : std::string(1, c);
        return r;
    };
    for (const auto& d : OptionTable()) {
        std::string n = d.names;
        std::string longName = n.size() > 2 && n[1] == ',' ? n.substr(2) : n;
        std::string shown = longName.empty() ? d.value : "--" + longName;
        EXPECT_NE(help.find(shown), std::string::npos) << shown;
        EXPECT_NE(man.find(roff(shown)), std::string::npos) << shown;
        EXPECT_NE(man.find(roff(std::string(d.help).substr(0, 20))), std::string::npos) << shown;
    }
    EXPECT_EQ(man.rfind(".TH CORVEXA\\-SCAN 1 ", 0), 0u);
    EXPECT_NE(man.find("1.2.3"), std::string::npos);
    for (const char* status : {"130", "143"}) {
        EXPECT_NE(help.find(status), std::string::npos);
        EXPECT_NE(man.find(status), std::string::npos);
    }
    for (std::size_t start = 0, end; start < help.size(); start = end + 1) {
        end = help.find('\n', start);
        EXPECT_LE(end - start, 79u) << help.substr(start, end - start);
    }
}

TEST(ScanOptions, FileListFromMemory) {
    using corvexa::Text;
    EXPECT_EQ(corvexa::ParseFileList("\xEF\xBB\xBF/a\r\n\r\n/b\n/c", corvexa::EmptyLines::Skip),
              (std::vector<Text>{u"/a", u"/b", u"/c"}));
    std::string utf16("\xFF\xFE/\0x\0\r\0\n\0\n\0/\0y\0", 16);
    EXPECT_EQ(corvexa::ParseFileList(utf16, corvexa::EmptyLines::Skip),
              (std::vector<Text>{u"/x", u"/y"}));
    EXPECT_TRUE(corvexa::ParseFileList("", corvexa::EmptyLines::Skip).empty());
}
