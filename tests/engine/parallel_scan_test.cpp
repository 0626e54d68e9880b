// The parallel scan against one collector: the same findings, files list,
// origins and notifications over a tree of very different files; a stop that
// leaves a prefix of the full result; findings held back within their limit;
// document readers one at a time; a long first file that holds up no reader;
// the counts of a file list with entries that name no file; a list whose
// names come while the scan runs, and a stop while they are still awaited;
// no folder held open at the end.
#include "engine/parallel_scan.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/collector.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::RecordingSink;
using corvexa::test::TempDir;
namespace fs = std::filesystem;

namespace {

// A message reader that hands back the raw file and notes how many calls ever
// ran at the same time.
class CountingEmlReader : public DocumentReader {
public:
    std::string_view Name() const override { return "eml"; }
    std::string_view Description() const override { return "test"; }
    bool Available() const override { return true; }
    Text ReadText(const Text& path) override {
        ++calls;
        if (!StopFlag()) calledWithoutStopFlag = true;
        int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::string bytes = test::ReadFileBytes(fs::path(ToUtf8(path)));
        --inside;
        return FromUtf8("decoded " + bytes.substr(0, 200));
    }
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    // A reader that runs an outside program ends it through the scan's stop
    // flag, whichever thread calls it.
    std::atomic<bool> calledWithoutStopFlag{false};
    std::atomic<int> calls{0};
};

struct Outcome {
    std::vector<Text> files, urls;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> origins;
    std::vector<std::string> events;
    ScanSummary summary;
    std::size_t peakWaiting = 0;
};

// readers == 0: one TCollector; else a ParallelCollector with that many.
Outcome RunScan(const ScanJob& job, bool memoryStream, unsigned readers, ParallelLimits limits = {},
                std::shared_ptr<DocumentReader> eml = nullptr,
                std::function<void(const std::string&, ScanControl&)> hook = {},
                const std::vector<Text>& list = {}) {
    ScanControl control;
    control.MemoryStream = memoryStream;
    SharedList files, urls;
    files.Assign(list);
    RecordingSink sink;
    if (hook) sink.hook = [&](const std::string& e) { hook(e, control); };
    DocumentReaders docs = DocumentReaders::BuiltIn();
    if (eml) docs.Of(DocumentKind::Eml) = eml;
    FindingOrigins origins;
    Outcome out;
    if (readers == 0) {
        TCollector c(job, files, urls, control, sink, docs);
        c.RecordOrigins(&origins);
        c.Start();
        c.Wait();
    } else {
        ParallelCollector c(job, files, urls, control, sink, readers, docs, limits);
        c.RecordOrigins(&origins);
        c.Start();
        c.Wait();
        out.peakWaiting = c.PeakWaitingBytes();
    }
    out.files = files.Snapshot();
    out.urls = urls.Snapshot();
    EXPECT_EQ(origins.Size(), urls.Size());
    for (std::size_t i = 0; i < origins.Size(); ++i)
        out.origins.emplace_back(origins.At(i).file, origins.At(i).line);
    out.events = sink.events;
    out.summary = sink.summary;
    return out;
}

// How many of this process's open files are the folder `root` or below it.
int OpenUnder(const fs::path& root) {
    int count = 0;
    const std::string prefix = fs::canonical(root).string();
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = fs::read_symlink(entry.path(), ec).string();
        if (!ec && target.rfind(prefix, 0) == 0) ++count;
    }
    return count;
}

std::string Address(std::mt19937& rng, int i) {
    switch (rng() % 4) {
        case 0:
            return "http://host" + std::to_string(i) +
                   ".example.com/p?q=" + std::to_string(rng() % 99);
        case 1:
            return "user" + std::to_string(i) + "@mail.example.org";
        case 2:
            return "ftp://ftp" + std::to_string(i) + ".example.net/pub";
        default:
            return "www.site" + std::to_string(i) + ".example.de";
    }
}

// Text of about `lines` lines with the three kinds of line break, long lines
// without any address, and an address on every `every`-th line.
std::string MakeText(std::mt19937& rng, int lines, int every) {
    static const char* breaks[] = {"\n", "\r\n", "\r"};
    std::string s;
    for (int i = 0; i < lines; ++i) {
        if (i % every == 0)
            s += "see " + Address(rng, i) + " and " + Address(rng, i + 1);
        else
            s += std::string(rng() % 300, 'x');
        s += breaks[rng() % 3];
    }
    return s;
}

// Files of very different sizes: a large one first, empty ones, one without a
// final break, an ANSI file whose first accented letter comes late (read twice
// in file-stream mode), UTF-16, messages, and a link to nothing.
void MakeTree(const TempDir& dir) {
    std::mt19937 rng(15);
    dir.Write("tree/000-large.txt", MakeText(rng, 60000, 2));
    for (int i = 0; i < 40; ++i) {
        std::string name = "tree/sub" + std::to_string(i % 3) + "/f" + std::to_string(i);
        switch (i % 8) {
            case 0:
                dir.Write(name + ".txt", "");
                break;
            case 1:
                dir.Write(name + ".txt", "last line www.no-break" + std::to_string(i) + ".com");
                break;
            case 2:
                dir.Write(name + ".txt", MakeText(rng, 5000 + static_cast<int>(rng() % 5000), 3));
                break;
            case 3: {
                std::string t = MakeText(rng, 400, 2);
                t += "caf\xE9 http://late.example.com\n";
                dir.Write(name + ".txt", t);
                break;
            }
            case 4: {
                std::string u8 = "a@b.example.com\r\nhttps://utf16.example.org/x\n";
                std::string u16 = "\xFF\xFE";
                for (char c : u8) u16 += std::string{c, '\0'};
                dir.Write(name + ".txt", u16);
                break;
            }
            case 5:
                dir.Write(name + ".eml", "From: sender@example.com\nhttp://mail.example.com\n");
                break;
            default:
                dir.Write(name + ".log", MakeText(rng, 50 + static_cast<int>(rng() % 200), 5));
        }
    }
    fs::create_symlink(dir.Path() / "nowhere", dir.Path() / "tree/sub1/dangling.txt");
}

ScanJob FolderJob(const TempDir& dir) {
    ScanJob job;
    job.Mode = ScanMode::Directory;
    job.Folder = FromUtf8((dir.Path() / "tree").string());
    job.Kinds.Set(DocumentKind::Eml);
    return job;
}

}  // namespace

TEST(ParallelScan, SameResultAsOneCollectorInBothReadingModes) {
    TempDir dir;
    MakeTree(dir);
    const ScanJob job = FolderJob(dir);
    for (bool memory : {false, true}) {
        SCOPED_TRACE(memory ? "memory stream" : "file stream");
        auto eml = std::make_shared<CountingEmlReader>();
        // Folders are held open while their files are read; by the scan's
        // end none is (it would keep the file system from being unmounted).
        int heldAtEnd = -1;
        auto atEnd = [&](const std::string& e, ScanControl&) {
            if (e == "ScanFinished") heldAtEnd = OpenUnder(dir.Path());
        };
        Outcome one = RunScan(job, memory, 0, {}, eml, atEnd);
        EXPECT_EQ(heldAtEnd, 0);
        ASSERT_GT(one.urls.size(), 50000u);
        struct Setting {
            unsigned readers;
            ParallelLimits limits;
        } settings[] = {{4, {}}, {4, {2, 64 * 1024}}, {3, {1, 1}}, {2, {8, 256 * 1024}}};
        for (const Setting& s : settings) {
            SCOPED_TRACE(testing::Message() << s.readers << " readers, " << s.limits.filesAhead
                                            << " ahead, " << s.limits.heldBytes << " bytes");
            auto emlN = std::make_shared<CountingEmlReader>();
            heldAtEnd = -1;
            Outcome many = RunScan(job, memory, s.readers, s.limits, emlN, atEnd);
            EXPECT_EQ(heldAtEnd, 0);
            EXPECT_EQ(many.files, one.files);
            EXPECT_TRUE(many.urls == one.urls);
            EXPECT_TRUE(many.origins == one.origins);
            EXPECT_EQ(many.events, one.events);
            EXPECT_FALSE(many.summary.Stopped);
            EXPECT_EQ(emlN->most.load(), 1) << "document readers must run one at a time";
            EXPECT_GT(emlN->calls.load(), 0);
            EXPECT_FALSE(emlN->calledWithoutStopFlag.load());
        }
    }
}

TEST(ParallelScan, AStopLeavesAPrefixOfTheFullResult) {
    TempDir dir;
    MakeTree(dir);
    const ScanJob job = FolderJob(dir);
    Outcome full = RunScan(job, false, 0);
    for (int stopAt : {1, 4, 12}) {
        SCOPED_TRACE(stopAt);
        int done = 0;
        Outcome cut = RunScan(job, false, 4, {3, 64 * 1024}, nullptr,
                              [&](const std::string& e, ScanControl& c) {
                                  if (e == "FileDone" && ++done == stopAt) c.StopRequested = true;
                              });
        EXPECT_TRUE(cut.summary.Stopped);
        EXPECT_EQ(cut.files, full.files);  // the walk was over
        ASSERT_LT(cut.urls.size(), full.urls.size());
        EXPECT_TRUE(std::equal(cut.urls.begin(), cut.urls.end(), full.urls.begin()));
        EXPECT_TRUE(std::equal(cut.origins.begin(), cut.origins.end(), full.origins.begin()));
        // The notifications too are those of one collector, up to the stop.
        ASSERT_LE(cut.events.size(), full.events.size());
        EXPECT_TRUE(std::equal(cut.events.begin(), cut.events.end() - 1, full.events.begin()));
        EXPECT_EQ(cut.events.back(), "ScanFinished");
    }
}

TEST(ParallelScan, FindingsWaitingForTheirTurnStayWithinTheLimit) {
    // A large first file with many findings, then files with many findings
    // each: readers ahead of the first file must not pile theirs up.
    TempDir dir;
    std::vector<Text> list;
    auto lines = [](const std::string& host, int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += "http://" + host + std::to_string(i) + ".example.com/page\n";
        return s;
    };
    list.push_back(FromUtf8(dir.Write("first.txt", lines("first", 150000)).string()));
    for (int i = 0; i < 10; ++i)
        list.push_back(FromUtf8(dir.Write("later" + std::to_string(i) + ".txt",
                                          lines("later" + std::to_string(i) + "-", 20000))
                                    .string()));
    ScanJob job;
    job.Mode = ScanMode::FileList;
    const ParallelLimits limits{4, 256 * 1024};
    Outcome one = RunScan(job, false, 0, {}, nullptr, {}, list);
    Outcome many = RunScan(job, false, 4, limits, nullptr, {}, list);
    EXPECT_TRUE(many.urls == one.urls);
    EXPECT_TRUE(many.origins == one.origins);
    // Each later file holds about 1.7 MB of findings; four of them would be
    // near 7 MB. A file is held back up to the limit plus one storage block
    // (128 KiB) and the findings added between two looks.
    EXPECT_LE(many.peakWaiting, limits.filesAhead * (limits.heldBytes + 2 * 128 * 1024));
    EXPECT_GT(many.peakWaiting, 0u);
}

namespace {

// A message reader that keeps the first file until `release` says so.
class GateEmlReader : public DocumentReader {
public:
    std::string_view Name() const override { return "eml"; }
    std::string_view Description() const override { return "test"; }
    bool Available() const override { return true; }
    Text ReadText(const Text&) override {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        return u"http://gate.example.com\n";
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool release = false;
};

}  // namespace

TEST(ParallelScan, AFileThatTakesLongHoldsUpNoOtherReader) {
    // The first file stays open until every later file has been read and
    // waits for its turn: the other readers need not wait for it.
    TempDir dir;
    std::vector<Text> list{FromUtf8(dir.Write("first.eml", "x").string())};
    constexpr std::size_t kLater = 40;
    for (std::size_t i = 0; i < kLater; ++i)
        list.push_back(FromUtf8(dir.Write("f" + std::to_string(i) + ".txt",
                                          "http://later" + std::to_string(i) + ".example.com\n")
                                    .string()));
    ScanJob job;
    job.Mode = ScanMode::FileList;
    job.Kinds.Set(DocumentKind::Eml);
    auto gate = std::make_shared<GateEmlReader>();
    DocumentReaders docs = DocumentReaders::BuiltIn();
    docs.Of(DocumentKind::Eml) = gate;
    ScanControl control;
    SharedList files, urls;
    files.Assign(list);
    RecordingSink sink;
    ParallelCollector c(job, files, urls, control, sink, 2, docs);
    c.Start();
    {
        std::unique_lock lock(gate->mutex);
        gate->changed.wait(lock, [&] { return gate->entered; });
    }
    // Polled: the collector has no signal of its own for this. Should the
    // other reader stop short, this fails rather than waits for ever.
    for (int i = 0; i < 60000 && c.FilesWaiting() < kLater; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(c.FilesWaiting(), kLater);
    EXPECT_TRUE(urls.Empty()) << "findings went in before the first file's";
    {
        std::lock_guard lock(gate->mutex);
        gate->release = true;
    }
    gate->changed.notify_all();
    c.Wait();
    ASSERT_EQ(urls.Size(), kLater + 1);
    EXPECT_EQ(urls.At(0), u"http://gate.example.com");
    EXPECT_EQ(urls.At(kLater),
              u"http://later" + FromUtf8(std::to_string(kLater - 1)) + u".example.com");
}

TEST(ParallelScan, AFileListGivesTheCountsOfOneCollector) {
    // Entries that name nothing, one naming a folder (it fails), files read.
    TempDir dir;
    std::vector<Text> list{FromUtf8(dir.Write("a.txt", "http://a.example.com\n").string()),
                           FromUtf8((dir.Path() / "missing.txt").string()), u"",
                           FromUtf8(dir.Path().string()),
                           FromUtf8(dir.Write("b.txt", "b@example.com\n").string())};
    ScanJob job;
    job.Mode = ScanMode::FileList;
    Outcome one = RunScan(job, false, 0, {}, nullptr, {}, list);
    for (unsigned readers : {2u, 3u}) {
        SCOPED_TRACE(readers);
        Outcome many = RunScan(job, false, readers, {}, nullptr, {}, list);
        EXPECT_EQ(many.events, one.events);
        EXPECT_TRUE(many.urls == one.urls);
        EXPECT_EQ(many.summary.FilesListed, 5u);
        EXPECT_EQ(many.summary.FilesRead, one.summary.FilesRead);
        EXPECT_EQ(many.summary.FilesFailed, one.summary.FilesFailed);
        EXPECT_EQ(many.summary.EntriesMissing, one.summary.EntriesMissing);
    }
    EXPECT_EQ(one.summary.FilesRead, 2u);
    EXPECT_EQ(one.summary.FilesFailed, 1u);
    EXPECT_EQ(one.summary.EntriesMissing, 2u);
}

namespace {

// Notes where each listed name ends: read, failed or naming no file.
struct EndingSink : test::RecordingSink {
    void EntryMissing(const Text& path, const std::string&) override {
        Add("EntryMissing " + ToUtf8(path));
    }
};

// A file list scanned with all its names in the list from the start (no
// pieces given) or fed piece by piece: each piece once every name of the
// pieces before it has ended, so that the readers have run out of names and
// wait for more. With stopAfter, the scan is stopped (the list still open)
// once that many pieces have ended. readers == 0: one TCollector.
Outcome RunListScan(const ScanJob& job, unsigned readers,
                    const std::vector<std::vector<Text>>& pieces, bool fed,
                    std::size_t stopAfter = SIZE_MAX) {
    ScanControl control;
    SharedList files, urls;
    FileListFeed feed(files);
    EndingSink sink;
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t ended = 0;
    sink.hook = [&](const std::string& e) {
        if (e == "FileDone" || e.rfind("FileFailed ", 0) == 0 || e.rfind("EntryMissing ", 0) == 0) {
            std::lock_guard lock(mutex);
            ++ended;
            changed.notify_all();
        }
    };
    if (!fed)
        for (const auto& piece : pieces) feed.Add(piece);
    FindingOrigins origins;
    auto run = [&](auto& c) {
        c.RecordOrigins(&origins);
        if (fed) c.SetFeed(&feed);
        c.Start();
        std::size_t given = 0, done = 0;
        for (const auto& piece : fed ? pieces : std::vector<std::vector<Text>>{}) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return ended >= given; });
            }
            if (done++ == stopAfter) {
                control.StopRequested = true;
                break;
            }
            feed.Add(piece);
            given += piece.size();
        }
        if (stopAfter == SIZE_MAX) feed.Close();
        c.Wait();  // a stopped scan ends with its list still open
        feed.Close();
    };
    if (readers == 0) {
        TCollector c(job, files, urls, control, sink);
        run(c);
    } else {
        ParallelCollector c(job, files, urls, control, sink, readers);
        run(c);
    }
    Outcome out;
    out.files = files.Snapshot();
    out.urls = urls.Snapshot();
    for (std::size_t i = 0; i < origins.Size(); ++i)
        out.origins.emplace_back(origins.At(i).file, origins.At(i).line);
    out.events = sink.events;
    out.summary = sink.summary;
    return out;
}

// The scan those pieces are fed to: a file list, archives opened.
ScanJob ListJob() {
    ScanJob job;
    job.Mode = ScanMode::FileList;
    job.Archives = true;
    return job;
}

// Pieces of a list with files read, entries that name nothing, a folder (it
// fails) and an archive whose members' entries go in while names still come.
std::vector<std::vector<Text>> ListPieces(const TempDir& dir) {
    std::mt19937 rng(7);
    auto file = [&](const std::string& name, int lines) {
        return FromUtf8(dir.Write(name, MakeText(rng, lines, 2)).string());
    };
    const std::string script =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    z.writestr('in/one.txt', 'http://member-one.example.com/\\n')\n"
        "    z.writestr('two.txt', 'two@member.example.org\\n')\n";
    dir.Write("make.py", script);
    const fs::path zip = dir.Path() / "pack.zip";
    const std::string cmd =
        "python3 '" + (dir.Path() / "make.py").string() + "' '" + zip.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return {
        {file("a.txt", 3000), file("b.txt", 10)},
        {},
        {FromUtf8((dir.Path() / "missing.txt").string()), u"", FromUtf8(dir.Path().string())},
        {FromUtf8(zip.string()), file("c.txt", 200)},
        {file("d.txt", 5000), file("e.txt", 1), file("f.txt", 40), FromUtf8(zip.string())},
    };
}

}  // namespace

TEST(ParallelScan, AFedListGivesTheResultOfTheWholeList) {
    TempDir dir;
    const auto pieces = ListPieces(dir);
    const ScanJob job = ListJob();
    const Outcome whole = RunListScan(job, 0, pieces, false);
    ASSERT_GT(whole.urls.size(), 1000u);
    EXPECT_EQ(whole.summary.EntriesMissing, 2u);
    EXPECT_EQ(whole.summary.FilesFailed, 1u);
    EXPECT_GT(whole.files.size(), whole.summary.FilesListed);  // the members' entries
    for (unsigned readers : {0u, 2u, 3u}) {
        SCOPED_TRACE(readers);
        const Outcome fed = RunListScan(job, readers, pieces, true);
        EXPECT_EQ(fed.files, whole.files);
        EXPECT_TRUE(fed.urls == whole.urls);
        EXPECT_TRUE(fed.origins == whole.origins);
        EXPECT_EQ(fed.events, whole.events);
        EXPECT_FALSE(fed.summary.Stopped);
        EXPECT_EQ(fed.summary.FilesListed, whole.summary.FilesListed);
        EXPECT_EQ(fed.summary.FilesRead, whole.summary.FilesRead);
        EXPECT_EQ(fed.summary.EntriesMissing, whole.summary.EntriesMissing);
    }
}

TEST(ParallelScan, AStopWhileTheListIsStillReadEndsTheScan) {
    // The readers wait for names that never come: a stop ends them all the
    // same, with the findings of the names that came.
    TempDir dir;
    const auto pieces = ListPieces(dir);
    const ScanJob job = ListJob();
    for (std::size_t after : {std::size_t{1}, std::size_t{4}}) {
        const std::vector<std::vector<Text>> given(
            pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(after));
        const Outcome first = RunListScan(job, 0, given, false);
        for (unsigned readers : {0u, 2u}) {
            SCOPED_TRACE(testing::Message() << after << " pieces, " << readers << " readers");
            const Outcome cut = RunListScan(job, readers, pieces, true, after);
            EXPECT_TRUE(cut.summary.Stopped);
            EXPECT_EQ(cut.files, first.files);
            EXPECT_TRUE(cut.urls == first.urls);
            EXPECT_EQ(cut.summary.FilesRead, first.summary.FilesRead);
        }
    }
}
