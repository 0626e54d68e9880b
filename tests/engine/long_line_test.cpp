// Long lines go to detection in parts, cut only where no match can cross, and
// give exactly the findings of the whole line; the readers hold a bounded
// amount of such a line, STOP ends it at once, and memory-stream mode does
// not hold a text past its limit. Memory running out fails the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "engine/byte_source.h"
#include "engine/detect.h"
#include "engine/pattern_chars.h"
#include "engine/readers/text_reader.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::TempDir;

namespace {

struct Rng {
    std::uint64_t s;
    std::size_t Below(std::size_t n) {
        s ^= s << 13, s ^= s >> 7, s ^= s << 17;
        return static_cast<std::size_t>(s % n);
    }
};

// Pieces that make and break addresses, separators among them.
Text RandomText(Rng& rng, std::size_t length, bool fewCuts) {
    static const TextView kPieces[] = {u"www.",
                                       u"WWW.",
                                       u"http://",
                                       u"https://",
                                       u"ftp://",
                                       u"@",
                                       u".",
                                       u"..",
                                       u"com",
                                       u"org",
                                       u"example",
                                       u"a",
                                       u"Z9",
                                       u"-",
                                       u"_",
                                       u"(",
                                       u")",
                                       u"?",
                                       u"&",
                                       u"=",
                                       u"/",
                                       u"%",
                                       u"~",
                                       u"#",
                                       u"+",
                                       u":",
                                       u"mail@x.io",
                                       u"www.a.bc/p?q=1",
                                       u"ftp://f.example.net/x",
                                       u" ",
                                       u"\t",
                                       u",",
                                       u"\"",
                                       u"<",
                                       u"\u00E9",
                                       u"\u212A",
                                       u"\0"};
    constexpr std::size_t kCutFree = 26;  // the pieces before " " hold no cut
    Text text;
    while (text.size() < length) {
        // Now and then a long run without a single place to cut.
        if (fewCuts || rng.Below(400) == 0) {
            std::size_t run = fewCuts ? 1000 + rng.Below(400000) : rng.Below(300000);
            while (run-- > 0 && text.size() < length) text += kPieces[rng.Below(kCutFree + 3)];
            text += kPieces[kCutFree + 3 + rng.Below(std::size(kPieces) - kCutFree - 3)];
        } else {
            text += kPieces[rng.Below(std::size(kPieces))];
        }
    }
    return text;
}

std::vector<Text> WholeLineFindings(const std::vector<Text>& lines) {
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    for (const Text& line : lines) detector.DetectInLine(line);
    return urls.Snapshot();
}

std::string Utf8Lines(const std::vector<Text>& lines) {
    std::string bytes;
    for (const Text& line : lines) bytes += ToUtf8(line) + "\r\n";
    return bytes;
}

std::vector<Text> ReadFindings(ByteSource& source, bool memoryStream) {
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    std::atomic<bool> stop{false};
    ReadContext ctx{detector, stop, 1252};
    ScanPlainText(source, memoryStream, ctx);
    return urls.Snapshot();
}

// A sink with cut rules that records the parts and lines it receives.
struct PartRecorder : LineSink {
    LineCuts cuts;
    std::size_t parts = 0, longestPart = 0, lines = 0, abandoned = 0;
    Text line;  // the current line, parts joined
    std::vector<Text> whole;
    std::atomic<bool>* stop = nullptr;
    PartRecorder() {
        cuts.held.set();
        cuts.held.reset(' ');
    }
    const LineCuts* Cuts() const override { return &cuts; }
    void LinePart(TextView part) override {
        ++parts;
        longestPart = std::max(longestPart, part.size());
        EXPECT_EQ(part.back(), u' ');
        line += part;
        if (stop) stop->store(true);
    }
    void Line(TextView rest) override {
        ++lines;
        line += rest;
        whole.push_back(line);
        line.clear();
    }
    void AbandonLine() override {
        ++abandoned;
        line.clear();
    }
};

}  // namespace

TEST(LongLines, CutsComeFromThePatternsAsWritten) {
    // Every pattern's characters; nothing else may be held.
    std::bitset<128> expected;
    for (char c = 'a'; c <= 'z'; ++c) expected.set(c).set(c - 32);
    for (char c = '0'; c <= '9'; ++c) expected.set(c);
    for (char c : std::string("-@:%._+~#=()?&/")) expected.set(c);
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    ASSERT_NE(detector.Cuts(), nullptr);
    EXPECT_EQ(detector.Cuts()->held, expected);
    EXPECT_TRUE(detector.Cuts()->After(u' '));
    EXPECT_TRUE(detector.Cuts()->After(u'\u212A'));  // no case folding outside ASCII
    EXPECT_FALSE(detector.Cuts()->After(u'K'));
    // What the reading of patterns does not understand, it refuses.
    for (const char16_t* p : {u"a.b", u"\\w+", u"[^a]", u"(?=a)", u"^a", u"\u00E9"})
        EXPECT_THROW(CharsAMatchMayHold(p, true), std::logic_error) << ToUtf8(p);
    EXPECT_EQ(CharsAMatchMayHold(u"[a-c-]x\\.", false).count(), 6u);
}

TEST(LongLines, FindingsEqualThoseOfTheWholeLineInEveryReader) {
    Rng rng{0x9E3779B97F4A7C15ull};
    for (bool fewCuts : {false, true}) {
        std::vector<Text> lines;
        for (int i = 0; i < 3; ++i)
            lines.push_back(RandomText(rng, LineCutter::kPartLength * (1 + rng.Below(4)), fewCuts));
        lines.push_back(u"www.short.example.com");
        const std::vector<Text> expected = WholeLineFindings(lines);
        ASSERT_GT(expected.size(), 1000u);

        Text joined;
        for (const Text& l : lines) joined += l + u"\n";
        DetectionSwitches switches;
        SharedList urls;
        Detector detector(switches, urls);
        std::atomic<bool> stop{false};
        ScanTextLines(joined, detector, stop);
        EXPECT_EQ(urls.Snapshot(), expected) << "text, few cuts " << fewCuts;

        const std::string bytes = Utf8Lines(lines);
        MemorySource source(bytes);
        EXPECT_EQ(ReadFindings(source, false), expected) << "file stream, few cuts " << fewCuts;
        EXPECT_EQ(ReadFindings(source, true), expected) << "memory stream, few cuts " << fewCuts;
    }
}

TEST(LongLines, ReadersHoldABoundedPartOfALine) {
    // 40 parts' worth of "word " and one long run without a cut.
    Text line;
    while (line.size() < 40 * LineCutter::kPartLength) line += u"word ";
    line += Text(3 * LineCutter::kPartLength, u'x') + u" tail";
    const std::string bytes = ToUtf8(line) + "\n" + "next\n";
    for (bool memory : {false, true}) {
        PartRecorder sink;
        std::atomic<bool> stop{false};
        ReadContext ctx{sink, stop, 1252};
        MemorySource source(bytes);
        ScanPlainText(source, memory, ctx);
        ASSERT_EQ(sink.whole.size(), 2u);
        EXPECT_EQ(sink.whole[0], line);
        EXPECT_EQ(sink.whole[1], u"next");
        EXPECT_GE(sink.parts, 40u);
        // Parts are at most a part's length and a buffer, except the run that
        // has no cut, which is held once.
        EXPECT_LE(sink.longestPart,
                  3 * LineCutter::kPartLength + LineCutter::kPartLength + kReadBufferSize + 1);
        EXPECT_EQ(sink.abandoned, 0u);
    }
}

TEST(LongLines, StopDuringAHugeLineEndsItAtOnceAndForgetsIt) {
    Text line;
    while (line.size() < 200 * LineCutter::kPartLength) line += u"www.example.com ";
    const std::string bytes = ToUtf8(line) + "\n";
    for (bool memory : {false, true}) {
        PartRecorder sink;
        std::atomic<bool> stop{false};
        sink.stop = &stop;  // set by the first part
        ReadContext ctx{sink, stop, 1252};
        MemorySource source(bytes);
        ScanPlainText(source, memory, ctx);
        EXPECT_EQ(sink.parts, 1u);
        EXPECT_EQ(sink.lines, 0u);
        EXPECT_EQ(sink.abandoned, 1u);
    }
    // Detection forgets the findings of the abandoned line and takes the next
    // line afresh.
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    detector.LinePart(u"www.lost.example.com ");
    detector.AbandonLine();
    detector.Line(u"www.kept.example.com");
    EXPECT_EQ(urls.Snapshot(), std::vector<Text>{u"www.kept.example.com"});
}

TEST(LongLines, PartsTakeTheSwitchesOnceAndKeepTheOrderOfKinds) {
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    detector.LinePart(u"a@b.cd ftp://f.x www.one.com ");
    switches.www = false;  // from the next line on
    detector.LinePart(u"e@f.gh www.two.com ");
    detector.Line(u"ftp://g.y www.three.com");
    EXPECT_EQ(urls.Snapshot(),
              (std::vector<Text>{u"www.one.com", u"www.two.com", u"www.three.com", u"a@b.cd",
                                 u"e@f.gh", u"ftp://f.x", u"ftp://g.y"}));
    urls.Clear();
    detector.Line(u"www.four.com x@y.zz");
    EXPECT_EQ(urls.Snapshot(), std::vector<Text>{u"x@y.zz"});
}

TEST(LongLines, MemoryStreamDoesNotHoldATextPastItsLimit) {
    TempDir dir;
    // Past the limit, with an ANSI letter at the very end: the first pass
    // settles ANSI, the second finds every address once.
    std::string bytes;
    std::size_t lines = 0;
    while (bytes.size() < kMemoryStreamLimit + 4096) {
        bytes += "www.n" + std::to_string(lines++) + ".example.com " + std::string(200, ' ') + "\n";
    }
    bytes += "caf\xE9 www.last.example.com\n";
    auto path = dir.Write("big.txt", bytes);
    FileSource source(FromUtf8(path.string()));
    auto found = ReadFindings(source, true);
    ASSERT_EQ(found.size(), lines + 1);
    EXPECT_EQ(found.front(), u"www.n0.example.com");
    EXPECT_EQ(found.back(), u"www.last.example.com");
}

namespace {

// A source whose reading runs out of memory after some bytes.
struct StarvedSource : ByteSource {
    std::string bytes;
    std::size_t opens = 0, pos = 0;
    std::uint64_t Open() override {
        ++opens;
        pos = 0;
        return bytes.size();
    }
    std::size_t Read(char* buffer, std::size_t size) override {
        if (pos > 0) throw std::bad_alloc();
        std::size_t take = std::min(size, bytes.size());
        std::copy_n(bytes.data(), take, buffer);
        pos += take;
        return take;
    }
};

}  // namespace

TEST(OutOfMemory, FailsTheFileAndIsNeverRetriedOrTakenForItsEnd) {
    for (bool memory : {false, true}) {
        StarvedSource source;
        for (int i = 0; i < 20000; ++i) source.bytes += "www.a.com\n";
        DetectionSwitches switches;
        SharedList urls;
        Detector detector(switches, urls);
        std::atomic<bool> stop{false};
        ReadContext ctx{detector, stop, 1252};
        EXPECT_THROW(ScanPlainText(source, memory, ctx), std::bad_alloc);
        EXPECT_EQ(source.opens, 1u) << memory;  // no retry in ANSI
    }
}

TEST(LongLines, StopEndsTheFirstPassOfAFileTooLargeToHold) {
    // 200 MB of short lines, made up as they are read; STOP comes after 1 MB.
    struct Made : ByteSource {
        std::uint64_t size = 200u << 20, pos = 0, total = 0;
        std::atomic<bool>* stop = nullptr;
        std::uint64_t Open() override {
            pos = 0;
            return size;
        }
        std::size_t Read(char* buffer, std::size_t n) override {
            std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, size - pos));
            for (std::size_t i = 0; i < take; ++i) buffer[i] = (pos + i) % 16 == 15 ? '\n' : 'x';
            pos += take;
            total += take;
            if (total >= (1u << 20)) stop->store(true);
            return take;
        }
    } source;
    PartRecorder sink;
    std::atomic<bool> stop{false};
    source.stop = &stop;
    ReadContext ctx{sink, stop, 1252};
    ScanPlainText(source, true, ctx);
    EXPECT_LT(source.total, std::uint64_t{2} << 20);
    EXPECT_EQ(sink.lines, 0u);
}
