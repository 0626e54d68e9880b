// corvexa-scan --link-targets on a PDF whose only address is a link
// annotation: how the switch and --decode turn it on, where -H, -n and --json
// place the finding, and that without it nothing changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/pdf_maker.h"
#include "support/run_scanner.h"
#include "support/temp_dir.h"

using corvexa::test::RunScannerProcess;
using corvexa::test::ScannerResult;
using corvexa::test::TempDir;

TEST(LinkTargetsCli, TheSwitchReadsLinkAnnotationsAndPlacesThem) {
    TempDir dir;
    const std::string pdf = (dir.Path() / "flyer.pdf").string();
    corvexa::test::WritePdf(pdf, {{"No address in the text."}, {"Still none."}},
                            {{1, "click here", "https://behind.example/offer"}});
    const std::string place = pdf + "//link:page=2";
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"--", pdf}, ""},
        {{"--link-targets", "--", pdf}, "https://behind.example/offer\n"},
        {{"--decode", "link-targets", "--", pdf}, "https://behind.example/offer\n"},
        {{"--link-targets", "--pdf", "pdfium", "-H", "-n", "--", pdf},
         place + "\t1\thttps://behind.example/offer\n"},
        {{"--link-targets", "--pdf", "xpdf", "-H", "--", pdf},
         place + "\thttps://behind.example/offer\n"},
        {{"-H", "-n", "--", pdf}, ""},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        const ScannerResult r = RunScannerProcess(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
    const ScannerResult json = RunScannerProcess({"--link-targets", "--json", "--", pdf});
    EXPECT_NE(json.out.find("\"member\":\"link:page=2\",\"line\":1,\"kind\":\"web\","
                            "\"text\":\"https://behind.example/offer\""),
              std::string::npos)
        << json.out;
}

// Files read in parallel give the same output as one at a time.
TEST(LinkTargetsCli, OneThreadAndManyGiveTheSameOutput) {
    TempDir dir;
    for (int i = 0; i < 6; ++i)
        corvexa::test::WritePdf((dir.Path() / ("f" + std::to_string(i) + ".pdf")).string(),
                                {{"text www.text" + std::to_string(i) + ".example"}},
                                {{0, "a", "http://a" + std::to_string(i) + ".example/"},
                                 {0, "b", "http://b" + std::to_string(i) + ".example/"}});
    dir.Write("plain.txt", "http://plain.example/\n");
    const std::vector<std::string> args = {"--link-targets", "-H",          "-n",
                                           "--mask",         "*.pdf;*.txt", dir.Path().string()};
    auto with = [&](const char* threads) {
        std::vector<std::string> a = args;
        a.insert(a.begin(), {"-j", threads});
        return RunScannerProcess(a);
    };
    const ScannerResult one = with("1"), four = with("4");
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(four.out, one.out);
    EXPECT_NE(one.out.find("f5.pdf//link:page=1\t2\thttp://b5.example/\n"), std::string::npos)
        << one.out;
}

TEST(LinkTargetsCli, DecodeListsNameTheSwitch) {
    TempDir dir;
    const ScannerResult r = RunScannerProcess({"--decode", "eml,links", dir.Path().string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("eml, word, excel and link-targets, not 'links'"), std::string::npos)
        << r.err;
    const ScannerResult help = RunScannerProcess({"--help"});
    EXPECT_NE(help.out.find("--link-targets"), std::string::npos);
    EXPECT_NE(help.out.find("eml,word,excel,link-targets"), std::string::npos);
}
