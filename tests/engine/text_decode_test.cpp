// The memory-stream reader holds a file's bytes, settles their encoding with
// IsStrictUtf8 and decodes them a piece at a time: its lines must be those of
// the whole file decoded at once (UTF-8, else ANSI from scratch) and cut in one
// go, whatever falls on a piece boundary. Line numbers counted over lines
// without keys must match a plain count.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/readers/text_reader.h"
#include "support/collect_lines.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::CollectLines;
using corvexa::test::TempDir;

namespace {

// The lines as the reader made them when it decoded the whole file first:
// UTF-8 (replacing after its mark), and on any error ANSI from the start.
std::vector<Text> WholeFileLines(const std::string& bytes, int codePage) {
    Text text;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (Encoding requested : {Encoding::Utf8, Encoding::Ansi}) {
        std::size_t mark = 0;
        const Encoding encoding = EncodingFromMark(data, bytes.size(), requested, &mark);
        try {
            TextDecoder decoder(encoding, codePage, encoding == Encoding::Utf8 && mark == 3);
            decoder.Decode(bytes.data() + mark, bytes.size() - mark, true, text);
            break;
        } catch (const DecodeError&) {
            text.clear();
        }
    }
    CollectLines sink;
    std::atomic<bool> stop{false};
    ScanTextLines(text, sink, stop);
    return sink.lines;
}

std::vector<Text> MemoryStreamLines(ByteSource& source, int codePage) {
    CollectLines sink;
    std::atomic<bool> stop{false};
    ReadContext ctx{sink, stop, codePage};
    ScanMemoryStream(source, ctx);
    return sink.lines;
}

// `inner` placed so that its first byte lies at `at`, in ASCII lines.
std::string At(std::size_t at, const std::string& inner, const std::string& head = "") {
    std::string bytes = head;
    for (std::size_t i = 0; bytes.size() < at; ++i) bytes += (i % 61 == 60) ? '\n' : 'a';
    bytes.resize(at);
    return bytes + inner + " www.after.example.com\r\nend";
}

std::string Utf16(const std::u16string& text, bool le) {
    std::string bytes = le ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t u : text) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        bytes += le ? std::string{lo, hi} : std::string{hi, lo};
    }
    return bytes;
}

}  // namespace

TEST(HeldBytes, LinesAreThoseOfTheWholeFileDecodedAtOnce) {
    // The reader decodes 16 KiB at a time; the file stream fetches 64 KiB.
    const std::size_t piece = 4 * kReadBufferSize;
    const std::size_t read = 16 * kReadBufferSize;  // bytes a read asks for
    struct Case {
        const char* name;
        std::string bytes;
        int codePage = 1252;
    };
    std::vector<Case> cases = {
        {"empty", ""},
        {"only a UTF-8 mark", "\xEF\xBB\xBF"},
        {"only a UTF-16 mark", "\xFF\xFE"},
        {"one line, no break", "www.one.example.com"},
        {"breaks only", "\r\n\r\r\n\n"},
        {"CR LF split between pieces", At(piece - 1, "\r\n")},
        {"CR at a piece's end, text after", At(piece - 1, "\rx")},
        {"UTF-8 sequence split between pieces", At(piece - 1, "\xE2\x82\xAC")},
        {"4-byte UTF-8 split between pieces", At(piece - 2, "\xF0\x9F\x98\x80")},
        {"invalid byte in the second piece", At(piece + 5, "caf\xE9")},
        {"invalid byte far on", At(3 * piece + 7, "\xFF")},
        {"UTF-8 cut off at the very end", "www.a.example.com \xE2\x82"},
        {"surrogate in UTF-8", At(40, "\xED\xA0\x80")},
        {"overlong UTF-8", At(31, "\xC0\xAF")},
        {"UTF-8 mark, then an invalid byte", At(piece + 3, "\xFF\xE2\x82", "\xEF\xBB\xBF")},
        {"UTF-8 split between reads", At(read - 2, "\xF0\x9F\x98\x80")},
        {"UTF-8 cut off where a read ends", At(read - 2, "\xF0\x9F\x98")},
        {"UTF-8 cut off at a read's very end", At(read - 3, "\xF0\x9F\x98") + "\x80"},
        {"code page 1251", At(piece - 1, "\xEF\xF0\xE8"), 1251},
        {"code page 932, pair split between pieces", At(piece - 1, "\x82\xA0\x82\xA2"), 932},
        {"code page 936, pair at a piece's end", At(piece - 2, "\xC4\xE3"), 936},
        {"UTF-16 LE, odd length", Utf16(u"www.x.example.com\r\nb", true) + "z"},
        {"UTF-16 BE, odd length", Utf16(u"www.x.example.com\nb", false) + "z"},
    };
    std::u16string long16;
    while (long16.size() < piece) long16 += u"\u20AC www.u.example.com \U0001F600\r\n";
    cases.push_back({"UTF-16 LE across pieces", Utf16(long16, true)});
    cases.push_back({"UTF-16 BE across pieces, odd", Utf16(long16, false) + "q"});
    cases.push_back({"UTF-16 LE, surrogate pair split",
                     Utf16(std::u16string(piece / 2 - 2, u'a') + u"\U0001F600\nx", true)});
    TempDir dir;
    for (const Case& c : cases) {
        const std::vector<Text> wanted = WholeFileLines(c.bytes, c.codePage);
        MemorySource memory(c.bytes);
        EXPECT_EQ(MemoryStreamLines(memory, c.codePage), wanted) << c.name;
        FileSource file(FromUtf8(dir.Write("case.txt", c.bytes).string()));
        EXPECT_EQ(MemoryStreamLines(file, c.codePage), wanted) << c.name << " (file)";
    }
}

// IsStrictUtf8 agrees with the strict decoder on every sequence at every place
// around the blocks its ASCII fast path takes.
TEST(HeldBytes, StrictUtf8CheckAgreesWithTheDecoder) {
    const std::string sequences[] = {
        "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
        "\x80",     "\xC3",         "\xE2\x82",         "\xF0\x9F\x98",
        "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80",     "\xF5\x80",
        "\xFF",     "\xC3\x28",     "\xE2\x28\xAC",
    };
    for (const std::string& s : sequences) {
        for (std::size_t at = 0; at < 70; ++at) {
            for (bool tail : {false, true}) {
                const std::string bytes = std::string(at, 'a') + s + (tail ? "bc" : "");
                bool decodes = true;
                try {
                    Text out;
                    TextDecoder(Encoding::Utf8, 1252).Decode(bytes.data(), bytes.size(), true, out);
                } catch (const DecodeError&) {
                    decodes = false;
                }
                EXPECT_EQ(IsStrictUtf8(reinterpret_cast<const unsigned char*>(bytes.data()),
                                       bytes.size()),
                          decodes)
                    << "at " << at << (tail ? " with a tail" : "");
                bool ascii = true;
                if (IsStrictUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                 &ascii)) {
                    EXPECT_FALSE(ascii);  // every sequence above starts past ASCII
                }
                const std::string plain = std::string(at, 'a') + (tail ? "bc" : "");
                ascii = false;
                EXPECT_TRUE(IsStrictUtf8(reinterpret_cast<const unsigned char*>(plain.data()),
                                         plain.size(), &ascii) &&
                            ascii);
                // The same without an exception, also with the text in two
                // pieces (a sequence carried over from the first).
                for (std::size_t cut = at; cut <= bytes.size(); cut += at < 60 ? 70 : 1) {
                    TextDecoder decoder(Encoding::Utf8, 1252);
                    Text out;
                    const char* error = nullptr;
                    decoder.TryDecodeInto(bytes.data(), cut, false, out, 0, &error);
                    if (!error)
                        decoder.TryDecodeInto(bytes.data() + cut, bytes.size() - cut, true, out, 0,
                                              &error);
                    EXPECT_EQ(error == nullptr, decodes) << "at " << at << " cut at " << cut;
                }
            }
        }
    }
}

namespace {

// Takes only lines with a '#', and the number of each.
struct NumberedHashLines : LineSink {
    std::vector<std::uint64_t> numbers;
    NumberedHashLines() { numberLines = true; }
    std::size_t NextKey(const char16_t* text, std::size_t from, std::size_t n) const override {
        for (std::size_t i = from; i < n; ++i)
            if (text[i] == u'#') return i;
        return n;
    }
    void Line(TextView) override { numbers.push_back(lineNumber); }
};

}  // namespace

// Lines without keys are counted in blocks (one vector of units at a time,
// each lane adding up to 8192 breaks): the numbers of the lines with keys are
// those a count one unit at a time gives, across every kind of break.
TEST(HeldBytes, LineNumbersCountEveryBreakPassedOver) {
    std::string bytes;
    for (int run = 0; run < 6; ++run) {
        for (int i = 0; i < 70000; ++i) bytes += "\n\r\n\r"[(i * 7 + run) % 4];
        bytes += run % 2 ? "x\r" : "";
        bytes += "\n#key\r\n";
        for (int i = 0; i < 17 + run; ++i) bytes += i % 3 ? "\r\n" : "\r";
        bytes += "#k2\r";
    }
    std::vector<std::uint64_t> wanted;
    std::uint64_t line = 1;
    bool hash = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '#') hash = true;
        if (c == '\n' || c == '\r') {
            if (hash) wanted.push_back(line);
            hash = false;
            ++line;
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        }
    }
    if (hash) wanted.push_back(line);
    for (bool memoryStream : {false, true}) {
        NumberedHashLines sink;
        std::atomic<bool> stop{false};
        ReadContext ctx{sink, stop, 1252};
        MemorySource source(bytes);
        ScanPlainText(source, memoryStream, ctx);
        EXPECT_EQ(sink.numbers, wanted) << (memoryStream ? "memory stream" : "file stream");
    }
}

namespace {

// Bytes in memory that count how often they are opened.
struct CountedSource : MemorySource {
    using MemorySource::MemorySource;
    std::size_t opens = 0;
    std::uint64_t Open() override {
        ++opens;
        return MemorySource::Open();
    }
};

}  // namespace

// In file-stream mode the retry in ANSI hands over what reading the file
// twice did (the lines before the failing buffer twice), but a file that the
// first attempt fetched whole, in one chunk, is not opened again.
TEST(FileStreamRetry, AFileOfOneChunkIsReadOnce) {
    const std::size_t chunk = 16 * kReadBufferSize;
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t opens;
    } cases[] = {
        {"UTF-8", At(5000, "\xE2\x82\xAC"), 1},
        {"ANSI in one chunk", At(5000, "caf\xE9"), 1},
        {"ANSI at the end of a chunk's room", At(chunk - 30, "caf\xE9").substr(0, chunk - 1), 1},
        // The end of a file that fills the chunk is only known from a second read.
        {"ANSI filling the chunk", At(chunk - 30, "caf\xE9").substr(0, chunk), 2},
        {"cut off at the end", "www.a.example.com\n\xE2\x82", 1},
        {"ANSI in the second chunk", At(chunk + 10, "caf\xE9"), 2},
        {"ANSI in the first of two chunks", At(100, "caf\xE9" + std::string(chunk, 'x')), 2},
    };
    for (const Case& c : cases) {
        std::vector<Text> wanted;
        {
            CollectLines sink;
            std::atomic<bool> stop{false};
            ReadContext ctx{sink, stop, 1252};
            MemorySource first(c.bytes), second(c.bytes);
            try {
                ScanFileStream(first, Encoding::Utf8, ctx);
            } catch (const DecodeError&) {
                ScanFileStream(second, Encoding::Ansi, ctx);
            }
            wanted = sink.lines;
        }
        CollectLines sink;
        std::atomic<bool> stop{false};
        ReadContext ctx{sink, stop, 1252};
        CountedSource source(c.bytes);
        ScanPlainText(source, false, ctx);
        EXPECT_EQ(sink.lines, wanted) << c.name;
        EXPECT_EQ(source.opens, c.opens) << c.name;
    }
}
