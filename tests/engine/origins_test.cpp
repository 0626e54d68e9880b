// Each finding's file and line number, held to a plain reading: the text cut
// at every CR LF, CR and LF, each line searched on its own.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/collector.h"
#include "engine/readers/text_reader.h"
#include "support/empty_sink.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::TempDir;

namespace {

using QuietSink = test::EmptySink;

using Found = std::vector<std::tuple<std::uint64_t, std::uint32_t, FindingKind, Text>>;

// The plain reading of one file's text, as file `file`: each line searched once
// for each kind alone (a line's findings come web, e-mail, ftp).
void Expect(const std::string& text, std::uint64_t file, Found& out) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        for (FindingKind kind : {FindingKind::Web, FindingKind::Email, FindingKind::Ftp}) {
            DetectionSwitches alone;
            alone.http = alone.https = alone.www = kind == FindingKind::Web;
            alone.email = kind == FindingKind::Email;
            alone.ftp = kind == FindingKind::Ftp;
            SharedList found;
            Detector d(alone, found);
            d.DetectInLine(FromUtf8(lines[n]));
            for (const Text& f : found.Snapshot())
                out.emplace_back(file, static_cast<std::uint32_t>(n + 1), kind, f);
        }
    }
}

// Lines of every length around the reading buffer, breaks of every kind, runs
// of lines without any address (passed over unread) and addresses at the
// start, middle and end of lines.
std::string RandomText(std::mt19937& rng) {
    static const char* breaks[] = {"\n", "\r\n", "\r", "\n\n", "\r\r\n"};
    // The last is found both as a web and as an e-mail address.
    static const char* addresses[] = {"http://a.example.com/x", "bob@example.org",
                                      "ftp://ftp.example.net/pub", "www.example.de.",
                                      "www.both@example.com"};
    std::string s;
    const int lines = 200 + static_cast<int>(rng() % 800);
    for (int i = 0; i < lines; ++i) {
        const auto kind = static_cast<unsigned>(rng() % 10);
        if (kind < 3) {
            s += std::string(rng() % 50, ' ') + addresses[rng() % std::size(addresses)] +
                 std::string(rng() % 50, 'y');
        } else if (kind == 3) {
            s += std::string(4000 + rng() % 300, 'z');  // across a buffer edge
        } else if (kind == 4) {
            s += addresses[rng() % std::size(addresses)];
            s += " ";
            s += addresses[rng() % std::size(addresses)];
        } else {
            s += std::string(rng() % 120, 'w');
        }
        s += breaks[rng() % 5];
    }
    if (rng() % 2) s += "tail www.last.example.com";
    return s;
}

class EchoEml : public DocumentReader {
public:
    std::string_view Name() const override { return "eml"; }
    std::string_view Description() const override { return "test"; }
    bool Available() const override { return true; }
    Text ReadText(const Text& path) override {
        return FromUtf8(test::ReadFileBytes(std::filesystem::path(ToUtf8(path))));
    }
};

}  // namespace

TEST(Origins, FileAndLineOfEveryFindingInBothReadingModes) {
    TempDir dir;
    std::mt19937 rng(1515);
    std::vector<std::string> texts;
    std::vector<Text> list;
    for (int i = 0; i < 12; ++i) {
        texts.push_back(RandomText(rng));
        // Every third file is a message: its decoded text is read, then the raw file.
        std::string name = "f" + std::to_string(i) + (i % 3 == 2 ? ".eml" : ".txt");
        list.push_back(FromUtf8(dir.Write(name, texts.back()).string()));
    }
    Found expected;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i % 3 == 2) Expect(texts[i], i, expected);
        Expect(texts[i], i, expected);
    }
    ASSERT_GT(expected.size(), 1000u);

    for (bool memory : {false, true}) {
        SCOPED_TRACE(memory ? "memory stream" : "file stream");
        ScanJob job;
        job.Mode = ScanMode::FileList;
        job.Kinds.Set(DocumentKind::Eml);
        ScanControl control;
        control.MemoryStream = memory;
        SharedList files, urls;
        files.Assign(list);
        QuietSink sink;
        DocumentReaders docs = DocumentReaders::BuiltIn();
        docs.Of(DocumentKind::Eml) = std::make_shared<EchoEml>();
        FindingOrigins origins;
        TCollector c(job, files, urls, control, sink, docs);
        c.RecordOrigins(&origins);
        c.CollectNow();

        Found got;
        ASSERT_EQ(origins.Size(), urls.Size());
        for (std::size_t i = 0; i < urls.Size(); ++i)
            got.emplace_back(origins.At(i).file, origins.At(i).line, origins.At(i).kind,
                             urls.At(i));
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], expected[i])
                << "finding " << i << ": " << ToUtf8(std::get<3>(got[i]));
    }
}

// A line far longer than a reading part is searched part by part, its findings
// held until its end: each keeps its kind and line there too.
TEST(Origins, KindOfEveryFindingOnALineReadInParts) {
    TempDir dir;
    std::string text = "first www.a.example.com\n";
    std::string longLine;
    for (int i = 0; longLine.size() < 3 * LineCutter::kPartLength; ++i)
        longLine += " ftp://f" + std::to_string(i) + ".example.net www.both" + std::to_string(i) +
                    "@example.com x" + std::to_string(i) + "@example.org https://h.example.com/" +
                    std::to_string(i);
    text += longLine + "\nlast ftp://z.example.net\n";
    Found expected;
    Expect(text, 0, expected);
    for (bool memory : {false, true}) {
        SCOPED_TRACE(memory ? "memory stream" : "file stream");
        ScanJob job;
        job.Mode = ScanMode::FileList;
        ScanControl control;
        control.MemoryStream = memory;
        SharedList files, urls;
        files.Assign({FromUtf8(dir.Write("long.txt", text).string())});
        QuietSink sink;
        FindingOrigins origins;
        TCollector c(job, files, urls, control, sink);
        c.RecordOrigins(&origins);
        c.CollectNow();
        ASSERT_EQ(urls.Size(), expected.size());
        ASSERT_EQ(origins.Size(), urls.Size());
        for (std::size_t i = 0; i < urls.Size(); ++i) {
            const FindingOrigins::Origin o = origins.At(i);
            ASSERT_EQ(std::make_tuple(o.file, o.line, o.kind, urls.At(i)), expected[i])
                << "finding " << i;
        }
    }
}

TEST(Origins, RecordingLeavesTheFindingsAsTheyWere) {
    TempDir dir;
    std::mt19937 rng(7);
    std::string text = RandomText(rng);
    auto path = FromUtf8(dir.Write("a.txt", text).string());
    auto scan = [&](bool record) {
        ScanJob job;
        job.Mode = ScanMode::FileList;
        ScanControl control;
        SharedList files, urls;
        files.Assign({path});
        QuietSink sink;
        FindingOrigins origins;
        TCollector c(job, files, urls, control, sink);
        if (record) c.RecordOrigins(&origins);
        c.CollectNow();
        return urls.Snapshot();
    };
    EXPECT_EQ(scan(true), scan(false));
}
