// Office documents: the sheet table built from the suite's CSV export, and the
// readers run against the real suite on documents it makes from small text
// fixtures at test time (skipped, with the reason, where it is not installed),
// plus a stand-in program that fails, hangs or is stopped.
#include "engine/readers/office_reader.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/collector.h"
#include "engine/readers/office_service.h"
#include "engine/readers/office_table.h"
#include "engine/readers/text_reader.h"
#include "platform/private_folder.h"
#include "platform/process.h"
#include "support/empty_sink.h"
#include "support/stand_in.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::ReadFileBytes;
using corvexa::test::TempDir;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Sheet(std::string_view csv, TextView separator = u"\t") {
    Text out;
    AppendSheetText(csv, separator, out);
    return ToUtf8(out);
}

// The suite's conversions in a temporary folder of the test's own, so every
// test can tell that the readers leave nothing behind.
class Office : public ::testing::Test {
protected:
    void SetUp() override {
        tmp_ = dir_.MakeDir("tmp");
        ::setenv("TMPDIR", tmp_.c_str(), 1);
        // Numbers shown as an English-speaking user sees them.
        ::setenv("LC_ALL", "C.UTF-8", 1);
    }
    void TearDown() override {
        ::unsetenv("TMPDIR");
        EXPECT_TRUE(fs::is_empty(tmp_)) << "a conversion left files behind";
    }
    // The suite itself, or a skip that says why.
    bool NeedOffice() {
        soffice_ = FindOffice();
        return !soffice_.empty();
    }
    // Saves a fixture in another format with the suite, as a user would.
    fs::path Make(const fs::path& source, const std::string& format) {
        platform::ProcessRequest r;
        r.argv = {
            soffice_,       "-env:UserInstallation=file://" + (dir_.Path() / "profile").string(),
            "--headless",   "--norestore",
            "--convert-to", format,
            "--outdir",     (dir_.Path() / "made").string(),
            source.string()};
        r.inheritStdin = false;
        r.timeout = 120s;
        EXPECT_TRUE(platform::RunHiddenProcess(r).Succeeded());
        fs::path made = dir_.Path() / "made" / source.filename().replace_extension("." + format);
        EXPECT_TRUE(fs::exists(made)) << made;
        return made;
    }
    // A stand-in for the suite: a shell script.
    std::string FakeOffice(const std::string& body) {
        return test::WriteStandIn(dir_, "fake/soffice", body).string();
    }

    TempDir dir_;
    fs::path tmp_;
    std::string soffice_;
};

const char* kText =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.text">
<office:body><office:text>
<text:p>Write to anna@word.example — café</text:p>
<text:p>or see https://www.word.example/path</text:p>
</office:text></office:body></office:document>
)";

// A sheet with a line feed in a cell, a row A / empty / C, a formatted number
// and a cell with a tab, a comma and quotes; one whose data starts at C3; an
// empty one.
const char* kSheets =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0" office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:automatic-styles>
 <number:number-style style:name="N1"><number:number number:decimal-places="2"
  number:min-integer-digits="1" number:grouping="true"/></number:number-style>
 <style:style style:name="ce1" style:family="table-cell" style:data-style-name="N1"/>
</office:automatic-styles>
<office:body><office:spreadsheet>
<table:table table:name="Zeta">
 <table:table-row><table:table-cell office:value-type="string"><text:p>http://www.split.example/</text:p><text:p>second half</text:p></table:table-cell></table:table-row>
 <table:table-row><table:table-cell office:value-type="string"><text:p>A</text:p></table:table-cell><table:table-cell/><table:table-cell office:value-type="string"><text:p>C</text:p></table:table-cell></table:table-row>
 <table:table-row><table:table-cell table:style-name="ce1" office:value-type="float" office:value="1234.5"><text:p>1234.5</text:p></table:table-cell></table:table-row>
 <table:table-row><table:table-cell office:value-type="string"><text:p>say "hi", ok</text:p></table:table-cell></table:table-row>
</table:table>
<table:table table:name="Alpha">
 <table:table-row table:number-rows-repeated="2"><table:table-cell/></table:table-row>
 <table:table-row><table:table-cell table:number-columns-repeated="2"/><table:table-cell office:value-type="string"><text:p>c3@sheet.example</text:p></table:table-cell></table:table-row>
 <table:table-row><table:table-cell table:number-columns-repeated="3"/><table:table-cell office:value-type="string"><text:p>D4</text:p></table:table-cell></table:table-row>
</table:table>
<table:table table:name="Empty"><table:table-row><table:table-cell/></table:table-row></table:table>
</office:spreadsheet></office:body></office:document>
)";

const char* kSheetsText =
    "http://www.split.example/ second half\t\t\r\n"
    "A\t\tC\r\n"
    "1,234.50\t\t\r\n"
    "say \"hi\", ok\t\t\r\n"
    "\t\t\t\r\n"
    "\t\t\t\r\n"
    "\t\tc3@sheet.example\t\r\n"
    "\t\t\tD4\r\n"
    "\r\n";

using NullSink = test::EmptySink;

}  // namespace

TEST(OfficeTable, CsvQuotingNeverShiftsTheTable) {
    struct Case {
        const char* csv;
        const char* text;
    } cases[] = {
        {"a,,c\n", "a\t\tc\r\n"},
        {"\"two\nlines\",x\n", "two lines\tx\r\n"},
        {"\"say \"\"hi\"\", ok\",\"tab\there\"\n", "say \"hi\", ok\ttab\there\r\n"},
        {",,\n,,x\n", "\t\t\r\n\t\tx\r\n"},
        {"\n", "\r\n"},  // an empty sheet: one empty row
        {"", ""},
        {"last,row", "last\trow\r\n"},  // no line feed at the end
        {"\xEF\xBB\xBFu,\xC3\xA9\r\n", "u\t\xC3\xA9\r\n"},
        {"\"\",\"\"\n", "\t\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(Sheet(c.csv), c.text) << c.csv;
    EXPECT_EQ(Sheet("a,b\n", u";"), "a;b\r\n");
}

TEST(OfficeTable, SheetFilesInTheOrderTheSuiteWroteThem) {
    const std::string log =
        "convert /t/in/document.xlsx using filter : Text - txt - csv (StarCalc)\n"
        "Warning: failed to launch javaldx\n"
        "Writing sheet Zeta -> /t/out/document-Zeta.csv\n"
        "Writing sheet a -> b -> /t/out/document-a -> b.csv\r\n"
        "Writing sheet Alpha -> /t/out/document-Alpha.csv\n"
        "Writing sheet X -> /elsewhere/x.csv\n";
    EXPECT_EQ(SheetFilesFromLog(log, "/t/out/"),
              (std::vector<std::string>{"/t/out/document-Zeta.csv", "/t/out/document-a -> b.csv",
                                        "/t/out/document-Alpha.csv"}));
    EXPECT_TRUE(SheetFilesFromLog("", "/t/out/").empty());
}

TEST_F(Office, WordDocumentsGiveTheirBodyText) {
    if (!NeedOffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    auto source = dir_.Write("doc.fodt", kText);
    // The same text from a start of the suite per document and from one
    // running suite.
    OfficeService service(soffice_);
    for (const char* format : {"docx", "doc"}) {
        const fs::path document = Make(source, format);
        for (OfficeService* running : {static_cast<OfficeService*>(nullptr), &service}) {
            OfficeRun run{soffice_};
            run.service = running;
            const std::string text = ToUtf8(WordText(FromUtf8(document.string()), run));
            EXPECT_EQ(text,
                      "Write to anna@word.example — café\nor see https://www.word.example/path\n")
                << format << (running ? " by the running suite" : "");
        }
    }
    EXPECT_EQ(service.Starts(), 1);
}

TEST_F(Office, AConversionFetchesNothingFromTheNetwork) {
    if (!NeedOffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    // A listener on the loopback that the document links its image and its
    // style sheet to: a connection would sit in its queue even unanswered.
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 16), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string server = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    // A web page named as a document: the suite opens it all the same.
    const fs::path document =
        dir_.Write("page.docx", "<html><head><link rel=\"stylesheet\" href=\"" + server +
                                    "/style.css\"></head><body>"
                                    "<p>see https://www.page.example/</p><img src=\"" +
                                    server + "/img.png\"></body></html>\n");
    // Cut off the network, and with the network left alone: the profile
    // alone keeps the suite from fetching.
    for (bool cut : {true, false}) {
        OfficeRun run{soffice_};
        run.cutNetwork = cut;
        const std::string text = ToUtf8(WordText(FromUtf8(document.string()), run));
        EXPECT_NE(text.find("https://www.page.example/"), std::string::npos) << text;
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        EXPECT_LT(connection, 0) << "the suite connected to the document's server, cut=" << cut;
        if (connection >= 0) ::close(connection);
    }
    ::close(listener);
}

TEST_F(Office, WorkbooksGiveEverySheetAsDisplayed) {
    if (!NeedOffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    auto source = dir_.Write("book.fods", kSheets);
    OfficeService service(soffice_);
    for (const char* format : {"xlsx", "xls"}) {
        const fs::path workbook = Make(source, format);
        for (OfficeService* running : {static_cast<OfficeService*>(nullptr), &service}) {
            OfficeRun run{soffice_};
            run.service = running;
            EXPECT_EQ(ToUtf8(ExcelText(FromUtf8(workbook.string()), u"\t", run)), kSheetsText)
                << format << (running ? " by the running suite" : "");
        }
    }
    EXPECT_EQ(service.Starts(), 1);
}

TEST_F(Office, DamagedFilesFailOrGiveWhatTheSuiteReads) {
    if (!NeedOffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    std::string zipLike = "PK\x03\x04";
    for (int i = 0; i < 3000; ++i) zipLike += static_cast<char>((i * 31 + 7) % 256);
    auto damaged = dir_.Write("damaged.docx", zipLike);
    auto empty = dir_.Write("empty.doc", "");
    auto textBook = dir_.Write("text.xlsx", "plain@text.example,b\n");
    OfficeService service(soffice_);
    for (OfficeService* running : {static_cast<OfficeService*>(nullptr), &service}) {
        SCOPED_TRACE(running ? "the running suite" : "a suite per document");
        OfficeRun run{soffice_};
        run.service = running;
        EXPECT_THROW(WordText(FromUtf8(damaged.string()), run), NotDecodable);
        // An empty document is an empty text; a text file is no workbook.
        EXPECT_EQ(WordText(FromUtf8(empty.string()), run).find_first_not_of(u"\r\n"), Text::npos);
        EXPECT_THROW(ExcelText(FromUtf8(textBook.string()), u"\t", run), NotDecodable);
        EXPECT_THROW(WordText(FromUtf8((dir_.Path() / "missing.docx").string()), run), ReadError);
    }
}

TEST_F(Office, ScanFindsTheAddressesAReaderSees) {
    if (!NeedOffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const fs::path doc = Make(dir_.Write("doc.fodt", kText), "docx");
    const fs::path book = Make(dir_.Write("book.fods", kSheets), "xlsx");
    for (bool decode : {true, false}) {
        ScanJob job;
        job.Mode = ScanMode::FileList;
        job.Kinds.Set(DocumentKind::Word, decode);
        job.Kinds.Set(DocumentKind::Excel, decode);
        ScanControl control;
        SharedList files, urls;
        NullSink sink;
        files.Assign({FromUtf8(doc.string()), FromUtf8(book.string())});
        TCollector(job, files, urls, control, sink).CollectNow();
        std::vector<std::string> found;
        for (const Text& t : urls.Snapshot()) found.push_back(ToUtf8(t));
        if (decode) {
            EXPECT_EQ(found, (std::vector<std::string>{
                                 "anna@word.example", "https://www.word.example/path",
                                 "http://www.split.example/", "c3@sheet.example"}));
        } else {
            EXPECT_TRUE(found.empty()) << "compressed documents hold no plain addresses";
        }
    }
}

TEST_F(Office, InstalledButFailingSuiteFailsTheFile) {
    auto document = dir_.Write("a.docx", "x").string();
    auto book = dir_.Write("a.xlsx", "x").string();
    // Exits 0 having written nothing, as the suite does when it cannot convert.
    const std::string silent = FakeOffice("exit 0");
    EXPECT_THROW(WordText(FromUtf8(document), {silent}), ReadError);
    EXPECT_THROW(ExcelText(FromUtf8(book), u"\t", {silent}), ReadError);
    // Claims a sheet it did not write.
    const std::string liar =
        FakeOffice("for a; do last=$a; done; echo \"Writing sheet S -> $TMPDIR/nowhere.csv\"");
    EXPECT_THROW(ExcelText(FromUtf8(book), u"\t", {liar}), ReadError);
    EXPECT_THROW(WordText(FromUtf8(document), {(dir_.Path() / "no-such-program").string()}),
                 ReadError);
    // Not found at all: the readers are unavailable and their files are plain text.
    EXPECT_FALSE(MakeWordReader("")->Available());
    EXPECT_FALSE(MakeExcelReader("")->Available());
}

TEST_F(Office, AHangingSuiteIsKilledWithEverythingItStarted) {
    const auto pidFile = dir_.Path() / "helper.pid";
    const std::string hanging =
        FakeOffice("sleep 300 & echo $! > '" + pidFile.string() + "'; sleep 300");
    auto document = dir_.Write("a.docx", "x").string();
    auto helperGone = [&] {
        std::ifstream in(pidFile);
        pid_t pid = 0;
        in >> pid;
        if (pid <= 0) return true;  // killed before it could start its helper
        return test::Gone(pid, 5s);
    };

    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(WordText(FromUtf8(document), {hanging, 2s}), ReadError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_TRUE(helperGone());

    // STOP ends the conversion long before its time-out.
    fs::remove(pidFile);
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(1s);
        stop = true;
    });
    start = std::chrono::steady_clock::now();
    auto reader = MakeWordReader(hanging, 600s);
    reader->SetStopFlag(&stop);
    EXPECT_THROW(reader->ReadText(FromUtf8(document)), ReadError);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_TRUE(helperGone());
}

TEST_F(Office, StopDuringAScanEndsTheConversionItIsWaitingFor) {
    const auto pidFile = dir_.Path() / "helper.pid";
    const std::string hanging =
        FakeOffice("sleep 300 & echo $! > '" + pidFile.string() + "'; sleep 300");
    ScanJob job;
    job.Mode = ScanMode::FileList;
    job.Kinds.Set(DocumentKind::Word);
    ScanControl control;
    SharedList files, urls;
    NullSink sink;
    files.Assign({FromUtf8(dir_.Write("a.docx", "www.raw.example\n").string()),
                  FromUtf8(dir_.Write("b.txt", "www.after.example\n").string())});
    DocumentReaders readers;
    readers.Of(DocumentKind::Word) = MakeWordReader(hanging, 600s);
    TCollector collector(job, files, urls, control, sink, readers);
    const auto start = std::chrono::steady_clock::now();
    collector.Start();
    // Its helper is running once it has written its number.
    while (corvexa::test::ReadFileBytes(pidFile).find('\n') == std::string::npos)
        std::this_thread::sleep_for(10ms);
    control.StopRequested = true;  // as STOP or closing the window does
    collector.Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    EXPECT_TRUE(urls.Snapshot().empty())
        << "the stopped document gives nothing, no later file is read";
    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(test::Gone(pid, 5s)) << "the helper still runs";
}

namespace {

// A stand-in for the office bridge: says it is ready, then answers each
// request with the document's own text as the converted file, except for a
// document that says "hang" (it starts a helper, writes the helper's number to
// a file and waits for ever) or "crash" (it kills itself).
class OfficeBridge : public Office {
protected:
    std::vector<std::string> FakeBridge() {
        pidFile_ = dir_.Path() / "helper.pid";
        const auto path = dir_.Write("fake/bridge", R"(#!/bin/sh
echo "ready 0"
tab=$(printf '\t')
while IFS="$tab" read -r verb filter options ext doc out; do
  content=$(cat "$doc")
  case "$content" in
    hang*) sleep 300 & echo $! > ')" + pidFile_.string() +
                                                        R"('; wait ;;
    crash*) kill -SEGV $$ ;;
  esac
  printf '%s\n' "$content" > "$out/document.$ext"
  echo "done 0"
done
)");
        ::chmod(path.c_str(), 0755);
        return {"/bin/sh", path.string()};
    }
    // The helper of the hanging document, once it has written its number.
    pid_t Helper() {
        pid_t pid = 0;
        std::ifstream(pidFile_) >> pid;
        return pid;
    }
    std::string Read(DocumentReader& reader, const std::string& name) {
        return ToUtf8(reader.ReadText(FromUtf8((dir_.Path() / name).string())));
    }
    fs::path pidFile_;
};

}  // namespace

TEST_F(OfficeBridge, AHungOrCrashedSuiteLosesOnlyItsDocument) {
    dir_.Write("one.docx", "www.one.example");
    dir_.Write("hang.docx", "hang www.hang.example");
    dir_.Write("crash.docx", "crash www.crash.example");
    dir_.Write("two.docx", "www.two.example");
    struct Case {
        const char* bad;
        const char* reason;
        int starts;  // a crash is tried once more on a fresh suite; a hang is not
    } cases[] = {{"hang.docx", "the office suite took too long", 2},
                 {"crash.docx", "the office suite crashed", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bad);
        fs::remove(pidFile_);
        auto service = std::make_shared<OfficeService>(FakeOffice("exit 1"), FakeBridge());
        auto reader = MakeWordReader(FakeOffice("exit 1"), 3s, service);
        EXPECT_EQ(Read(*reader, "one.docx"), "www.one.example\n");
        try {
            Read(*reader, c.bad);
            ADD_FAILURE() << "read";
        } catch (const ReadError& e) {
            EXPECT_STREQ(e.what(), c.reason);
        }
        if (Helper() > 0) {
            EXPECT_TRUE(test::Gone(Helper(), 5s)) << "the hung suite's helper runs";
        }
        // The rest is read by a fresh suite, which then serves on.
        EXPECT_EQ(Read(*reader, "two.docx"), "www.two.example\n");
        EXPECT_EQ(Read(*reader, "one.docx"), "www.one.example\n");
        EXPECT_EQ(service->Starts(), c.starts);
    }
}

TEST_F(OfficeBridge, StopEndsTheSuiteAtOnceAndALaterScanStartsAnother) {
    dir_.Write("one.docx", "www.one.example");
    dir_.Write("hang.docx", "hang www.hang.example");
    auto service = std::make_shared<OfficeService>(FakeOffice("exit 1"), FakeBridge());
    auto reader = MakeWordReader(FakeOffice("exit 1"), 600s, service);
    std::atomic<bool> stop{false};
    reader->SetStopFlag(&stop);
    EXPECT_EQ(Read(*reader, "one.docx"), "www.one.example\n");
    std::thread stopper([&] {
        // STOP once the document hangs the suite.
        while (Helper() <= 0) std::this_thread::sleep_for(10ms);
        stop = true;
    });
    try {
        Read(*reader, "hang.docx");
        ADD_FAILURE() << "read";
    } catch (const ReadError& e) {
        EXPECT_STREQ(e.what(), "stopped");
    }
    stopper.join();
    EXPECT_TRUE(test::Gone(Helper(), 5s));
    stop = false;
    EXPECT_EQ(Read(*reader, "one.docx"), "www.one.example\n");
    EXPECT_EQ(service->Starts(), 2);
}

TEST_F(OfficeBridge, WithoutABridgeEachDocumentGetsASuiteOfItsOwn) {
    dir_.Write("one.docx", "www.one.example");
    // The suite's conversion command, as a stand-in: the document's text.
    const std::string alone = FakeOffice(
        "for a; do doc=$a; prev=$last; last=$a; done\n"
        "for a; do if [ \"$a\" = --outdir ]; then next=1; elif [ -n \"$next\" ]; then "
        "out=$a; next=; fi; done\n"
        "cat \"$doc\" > \"$out/document.txt\"; echo >> \"$out/document.txt\"");
    for (const std::vector<std::string>& bridge :
         {std::vector<std::string>{"/bin/sh", "-c", "echo 'unavailable 0'"},
          std::vector<std::string>{(dir_.Path() / "no-such-python").string()}}) {
        auto service = std::make_shared<OfficeService>(alone, bridge);
        auto reader = MakeWordReader(alone, 30s, service);
        EXPECT_EQ(Read(*reader, "one.docx"), "www.one.example\n");
        EXPECT_EQ(Read(*reader, "one.docx"), "www.one.example\n");
        EXPECT_LE(service->Starts(), 1) << "an unusable bridge is tried once";
    }
}

// The running suite is started through the launcher the suite's start
// script ends in, where soffice is that script as an installation ships it.
TEST_F(Office, TheLauncherBehindTheSuitesStartScript) {
    const fs::path program = dir_.Path() / "suite/program";
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> files;  // in program/: name, content
        bool launcher;                                           // oosplash rather than soffice
    } cases[] = {
        {"as installed", {{"soffice", "#!/bin/sh\n"}, {"oosplash", ""}, {"soffice.bin", ""}}, true},
        {"a script with an environment of its own",
         {{"soffice", "#!/bin/sh\n"}, {"oosplash", ""}, {"soffice.bin", ""}, {"ooenv", ""}},
         false},
        {"soffice a program",
         {{"soffice",
           "\x7f"
           "ELF"},
          {"oosplash", ""},
          {"soffice.bin", ""}},
         false},
        {"no launcher", {{"soffice", "#!/bin/sh\n"}, {"soffice.bin", ""}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_.Path() / "suite");
        fs::create_directories(program);
        for (const auto& [name, content] : c.files) {
            std::ofstream(program / name) << content;
            fs::permissions(program / name, fs::perms::owner_all);
        }
        fs::create_directories(dir_.Path() / "suite/bin");
        fs::create_symlink("../program/soffice", dir_.Path() / "suite/bin/soffice");
        for (const fs::path& soffice : {program / "soffice", dir_.Path() / "suite/bin/soffice"}) {
            EXPECT_EQ(OfficeLauncher(soffice.string()),
                      c.launcher ? fs::canonical(program / "oosplash").string() : soffice.string())
                << soffice;
        }
    }
    EXPECT_EQ(OfficeLauncher(""), "");
    EXPECT_EQ(OfficeLauncher((dir_.Path() / "none").string()), (dir_.Path() / "none").string());
}

// The whole start with stand-ins for the installation's programs: the start
// script is passed over for the launcher, given what the script would set;
// the suite finds no programs to run on its own, while its bridge (the
// Python beside the suite, which may be a script) keeps ours; the suite goes
// with the service.
TEST_F(OfficeBridge, TheSuiteStartsThroughItsLauncherWithNoProgramsToFind) {
    const fs::path program = dir_.Path() / "suite/program";
    const fs::path calls = dir_.Path() / "calls";
    const fs::path started = dir_.Path() / "started";
    const std::string note = " >> '" + calls.string() + "'\n";
    // What a program named without its path would be, here: "none" or its path.
    const std::string found = "$(command -v cat || echo none)";
    const std::string soffice =
        test::WriteStandIn(program / "soffice", "echo script" + note + "exit 1").string();
    test::WriteStandIn(program / "oosplash", "echo \"suite $$ " + found +
                                                 " $SAL_ENABLE_FILE_LOCKING\"" + note + ": > '" +
                                                 started.string() + "'\nexec /bin/sleep 300");
    test::WriteStandIn(program / "soffice.bin", "exit 1");
    // The bridge is ready once the suite is up, as the real one.
    test::WriteStandIn(program / "python", "echo \"bridge $$ " + found + "\"" + note +
                                               "while [ ! -e '" + started.string() +
                                               "' ]; do /bin/sleep 0.01; done" + R"(
echo "ready 0"
tab=$(printf '\t')
while IFS="$tab" read -r verb filter options ext doc out; do
  /bin/cat "$doc" > "$out/document.$ext"; echo >> "$out/document.$ext"
  echo "done 0"
done
)");
    dir_.Write("one.docx", "www.one.example");
    auto service = std::make_shared<OfficeService>(soffice);
    auto reader = MakeWordReader(soffice, 30s, service);
    EXPECT_EQ(Read(*reader, "one.docx"), "www.one.example\n");
    EXPECT_EQ(Read(*reader, "one.docx"), "www.one.example\n");
    EXPECT_EQ(service->Starts(), 1);
    std::map<std::string, std::vector<std::string>> seen;  // program: its number, ...
    std::ifstream in(calls);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string who;
        words >> who;
        for (std::string word; words >> word;) seen[who].push_back(word);
    }
    EXPECT_EQ(seen.count("script"), 0u) << "the start script ran";
    ASSERT_EQ(seen["suite"].size(), 3u);
    ASSERT_EQ(seen["bridge"].size(), 2u);
    EXPECT_EQ(seen["suite"][1], "none");
    EXPECT_NE(seen["bridge"][1], "none");
    EXPECT_EQ(seen["suite"][2], "1");
    service.reset();
    reader.reset();
    EXPECT_TRUE(test::Gone(std::stoi(seen["suite"][0]), 5s)) << "the suite outlived the service";
}

TEST_F(Office, DocumentsPastTheSystemLimitOnPathsAreRead) {
    if (!NeedOffice()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const std::string doc = ReadFileBytes(Make(dir_.Write("doc.fodt", kText), "docx"));
    const std::string book = ReadFileBytes(Make(dir_.Write("book.fods", kSheets), "xlsx"));
    // Made one folder at a time, relative to the one before.
    int fd = ::open(dir_.MakeDir("deep").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string bottom = (dir_.Path() / "deep").string();
    const std::string name(60, 'd');
    for (int i = 0; i < 75; ++i, bottom += "/" + name) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
        const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = sub;
    }
    for (const auto& [file, bytes] : {std::pair{"doc.docx", doc}, std::pair{"book.xlsx", book}}) {
        const int out = ::openat(fd, file, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ASSERT_EQ(::write(out, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(out);
    }
    ::close(fd);
    ASSERT_GT(bottom.size(), 4096u);
    auto service = std::make_shared<OfficeService>(soffice_);
    EXPECT_EQ(ToUtf8(MakeWordReader(soffice_, kOfficeTimeout, service)
                         ->ReadText(FromUtf8(bottom + "/doc.docx"))),
              "Write to anna@word.example — café\nor see https://www.word.example/path\n");
    EXPECT_EQ(ToUtf8(MakeExcelReader(soffice_, kOfficeTimeout, service)
                         ->ReadText(FromUtf8(bottom + "/book.xlsx"))),
              kSheetsText);
    // A start of the suite of its own reads it as well.
    EXPECT_EQ(ToUtf8(MakeWordReader(soffice_)->ReadText(FromUtf8(bottom + "/doc.docx"))),
              "Write to anna@word.example — café\nor see https://www.word.example/path\n");
    service.reset();
    std::error_code ec;
    fs::remove_all(dir_.Path() / "deep", ec);  // too deep for some tools; gone before the check
}

// The suite makes sockets in /tmp, outside our folders, which stay when it is
// killed: after a kill of the whole scan, the next start removes them. The
// stand-in makes them where the suite would, from the profile's address and
// the pipe's name it is given, and reports them with its number.
TEST_F(Office, SocketsOfASuiteKilledWithTheScanGoAtTheNextStart) {
    if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "needs /usr/bin/python3";
    const fs::path made = dir_.Path() / "made";
    const fs::path script = dir_.Write("fake/suite.py", R"(import hashlib, os, socket, sys, time
args = sys.argv[2:]
if args[0].startswith("-env:UserInstallation="):  # the conversion command
    url, pipe = args[0].split("=", 1)[1], None
else:  # the bridge: SOFFICE PROFILE_URL PIPE_NAME LOG
    url, pipe = args[1], args[2]
digest = hashlib.md5(url.encode("utf-16-le")).digest()
prefix = "/tmp/OSL_PIPE_%d_" % os.geteuid()
paths = [prefix + "SingleOfficeIPC_" + "".join("%x" % b for b in digest)]
if pipe:
    paths.append(prefix + pipe)
held = []
for path in paths:
    s = socket.socket(socket.AF_UNIX)
    s.bind(path)
    s.listen(1)
    held.append(s)
with open(sys.argv[1] + ".new", "w") as f:
    f.write("%d %s" % (os.getpid(), " ".join(paths)))
os.rename(sys.argv[1] + ".new", sys.argv[1])
time.sleep(300)
)");
    dir_.Write("doc.docx", "www.doc.example");
    const std::string soffice =
        FakeOffice("exec /usr/bin/python3 " + script.string() + " " + made.string() + " \"$@\"");
    for (const bool bridge : {true, false}) {
        SCOPED_TRACE(bridge ? "the running suite" : "a start of its own");
        fs::remove(made);
        const pid_t scan = ::fork();
        if (scan == 0) {
            std::shared_ptr<OfficeService> service;
            if (bridge)
                service = std::make_shared<OfficeService>(
                    soffice,
                    std::vector<std::string>{"/usr/bin/python3", script.string(), made.string()});
            try {
                MakeWordReader(soffice, 600s, service)
                    ->ReadText(FromUtf8((dir_.Path() / "doc.docx").string()));
            } catch (...) {
            }
            ::_exit(0);
        }
        ASSERT_GT(scan, 0);
        for (int i = 0; i < 6000 && !fs::exists(made); ++i) std::this_thread::sleep_for(10ms);
        pid_t suite = 0;
        std::vector<std::string> sockets;
        std::ifstream in(made);
        in >> suite;
        for (std::string path; in >> path;) sockets.push_back(path);
        ::kill(scan, SIGKILL);
        ::waitpid(scan, nullptr, 0);
        ASSERT_GT(suite, 0);
        EXPECT_TRUE(test::Gone(suite)) << "the suite dies with the scan";
        ASSERT_EQ(sockets.size(), bridge ? 2u : 1u);
        for (const std::string& path : sockets) EXPECT_TRUE(fs::is_socket(path)) << path;
        platform::SweepStalePrivateFolders();
        for (const std::string& path : sockets)
            EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path;
    }
}
