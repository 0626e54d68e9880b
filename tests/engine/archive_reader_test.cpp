// Compressed files and archives made at test time with Python's gzip, zipfile
// and tarfile modules (and zip for an encrypted one): members and their
// places, nesting, hostile member names, bombs, damage and encryption; and
// the collector's reading of them with the switch on and off.
#include "engine/readers/archive_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/collector.h"
#include "support/empty_sink.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::TempDir;

namespace {

// Builds the fixtures below dir with one Python run.
void MakeArchives(const TempDir& dir) {
    const std::string script = R"PY(
import gzip, io, os, sys, tarfile, zipfile
os.chdir(sys.argv[1])
def tar_bytes(members, mode="w"):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode=mode) as t:
        for name, data in members:
            info = tarfile.TarInfo(name); info.size = len(data)
            t.addfile(info, io.BytesIO(data))
    return buf.getvalue()
open("bare.txt.gz", "wb").write(gzip.compress(b"http://bare.example/\n"))
open("notes.txt.gz", "wb").write(gzip.compress(b"see http://gz.example/\n"))
open("docs.tar.gz", "wb").write(tar_bytes([("docs/a.txt", b"one\nmail a@tar.example\n")], "w:gz"))
with zipfile.ZipFile("names.zip", "w") as z:
    z.writestr("../evil.txt", "http://dotdot.example/")
    z.writestr("/abs.txt", "http://abs.example/")
inner = tar_bytes([("c.txt", b"http://nested.example/")])
with zipfile.ZipFile("outer.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("b.tar", inner)
    z.writestr("top.txt", "http://top.example/")
open("bomb.gz", "wb").write(gzip.compress(b"x" * (64 << 20), 9))
whole = tar_bytes([("first.txt", b"http://first.example/\n"), ("big.bin", os.urandom(200000))], "w:gz")
open("cut.tar.gz", "wb").write(whole[: len(whole) // 2])
open("fake.gz", "wb").write(b"not compressed http://fake.example/\n")
open("empty.gz", "wb").write(b"")
)PY";
    dir.Write("make.py", script);
    const std::string cmd =
        "python3 '" + (dir.Path() / "make.py").string() + "' '" + dir.Path().string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

struct Read {
    bool archive = false;
    std::map<std::string, std::string> members;
    std::vector<ArchiveFailure> failures;
};

Read ReadAll(const std::string& path, const std::string& place) {
    Read r;
    std::atomic<bool> stop{false};
    FileSource source(FromUtf8(path));
    r.archive = ReadArchive(
        source, place, ArchiveLimits{},
        [&](const std::string& p, std::string_view bytes) { r.members[p] = std::string(bytes); },
        r.failures, stop);
    return r;
}

class ArchiveReaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        MakeArchives(*dir_);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string At(const std::string& name) { return (dir_->Path() / name).string(); }
    static TempDir* dir_;
};
TempDir* ArchiveReaderTest::dir_ = nullptr;

TEST_F(ArchiveReaderTest, MembersAndTheirPlaces) {
    struct Case {
        const char* file;
        std::map<std::string, std::string> members;
    } cases[] = {
        {"notes.txt.gz", {{"notes.txt.gz//notes.txt", "see http://gz.example/\n"}}},
        // A text of one address a line is a text, not a list of member names.
        {"bare.txt.gz", {{"bare.txt.gz//bare.txt", "http://bare.example/\n"}}},
        {"docs.tar.gz", {{"docs.tar.gz//docs/a.txt", "one\nmail a@tar.example\n"}}},
        // Hostile names are labels only: nothing is written anywhere.
        {"names.zip",
         {{"names.zip//../evil.txt", "http://dotdot.example/"},
          {"names.zip///abs.txt", "http://abs.example/"}}},
        {"outer.zip",
         {{"outer.zip//b.tar//c.txt", "http://nested.example/"},
          {"outer.zip//top.txt", "http://top.example/"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Read r = ReadAll(At(c.file), c.file);
        EXPECT_TRUE(r.archive);
        EXPECT_EQ(r.members, c.members);
        EXPECT_TRUE(r.failures.empty()) << r.failures.front().reason;
    }
    EXPECT_TRUE(IsArchiveName("A.TAR.GZ"));
    EXPECT_FALSE(IsArchiveName("report.docx"));
}

TEST_F(ArchiveReaderTest, NestingStopsAtTheDepthLimit) {
    ArchiveLimits flat;
    flat.depth = 1;
    std::atomic<bool> stop{false};
    std::map<std::string, std::size_t> seen;
    std::vector<ArchiveFailure> failures;
    FileSource source(FromUtf8(At("outer.zip")));
    ReadArchive(
        source, "outer.zip", flat,
        [&](const std::string& p, std::string_view bytes) { seen[p] = bytes.size(); }, failures,
        stop);
    // The inner archive is handed over as it is, unopened.
    EXPECT_EQ(seen.count("outer.zip//b.tar"), 1u);
    EXPECT_EQ(seen.count("outer.zip//b.tar//c.txt"), 0u);
}

TEST_F(ArchiveReaderTest, BadInputFailsWithItsReasonAndKeepsWhatWasRead) {
    Read bomb = ReadAll(At("bomb.gz"), "bomb.gz");
    EXPECT_TRUE(bomb.members.empty());
    ASSERT_EQ(bomb.failures.size(), 1u);
    EXPECT_EQ(bomb.failures[0].place, "bomb.gz//bomb");
    EXPECT_NE(bomb.failures[0].reason.find("expands past"), std::string::npos);

    Read cut = ReadAll(At("cut.tar.gz"), "cut.tar.gz");
    EXPECT_EQ(cut.members.count("cut.tar.gz//first.txt"), 1u);
    EXPECT_FALSE(cut.failures.empty());

    // Bytes with no compression and no format are no archive at all.
    EXPECT_FALSE(ReadAll(At("fake.gz"), "fake.gz").archive);
    Read empty = ReadAll(At("empty.gz"), "empty.gz");
    EXPECT_TRUE(empty.members.empty());
}

TEST_F(ArchiveReaderTest, EncryptedMemberFails) {
    if (std::system("command -v zip >/dev/null") != 0) GTEST_SKIP() << "zip is not installed";
    const std::string plain = dir_->Write("secret/s.txt", "http://secret.example/").string();
    const std::string zip = At("locked.zip");
    const std::string cmd =
        "cd '" + dir_->Path().string() + "/secret' && zip -q -e -P pw '" + zip + "' s.txt";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << plain;
    Read r = ReadAll(zip, "locked.zip");
    EXPECT_TRUE(r.members.empty());
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].place, "locked.zip//s.txt");
    EXPECT_EQ(r.failures[0].reason, "encrypted");
}

struct NullSink : test::EmptySink {
    void FileFailed(const Text&, const std::string& why) override { failed.push_back(why); }
    std::vector<std::string> failed;
};

TEST_F(ArchiveReaderTest, CollectorReadsMembersOnlyWithTheSwitch) {
    for (bool on : {false, true}) {
        ScanJob job;
        job.Mode = ScanMode::FileList;
        job.Archives = on;
        ScanControl control;
        SharedList files, urls;
        NullSink sink;
        files.Assign({FromUtf8(At("notes.txt.gz")), FromUtf8(At("outer.zip")),
                      FromUtf8(At("bomb.gz")), FromUtf8(At("fake.gz"))});
        TCollector collector(job, files, urls, control, sink);
        collector.CollectNow();
        std::vector<std::string> found;
        for (const Text& t : urls.Snapshot()) found.push_back(ToUtf8(t));
        if (!on) {
            EXPECT_EQ(found, std::vector<std::string>{"http://fake.example/"});
            EXPECT_TRUE(sink.failed.empty());
            continue;
        }
        EXPECT_EQ(found, (std::vector<std::string>{"http://gz.example/", "http://nested.example/",
                                                   "http://top.example/", "http://fake.example/"}));
        ASSERT_EQ(sink.failed.size(), 1u);
        EXPECT_NE(sink.failed[0].find("bomb.gz//bomb: archive expands past"), std::string::npos);
    }
}

TEST(ArchiveDevices, FifoNamedGzIsRefusedWithoutBlocking) {
    TempDir dir;
    const std::string fifo = (dir.Path() / "pipe.gz").string();
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
    std::atomic<bool> stop{false};
    std::vector<ArchiveFailure> failures;
    FileSource source(FromUtf8(fifo));
    EXPECT_THROW(ReadArchive(
                     source, "pipe.gz", ArchiveLimits{},
                     [](const std::string&, std::string_view) {}, failures, stop),
                 ReadError);
}

}  // namespace
