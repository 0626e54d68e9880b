// Text acquisition: byte-order marks, strict UTF-8, ANSI code pages, UTF-16,
// line cutting across buffer boundaries, and read failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/readers/text_reader.h"
#include "platform/ansi_codepage.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::TempDir;

namespace {

struct CollectLines : LineSink {
    std::vector<Text> lines;
    std::atomic<bool>* stopAfter = nullptr;
    std::size_t stopAt = 0;
    void Line(TextView l) override {
        lines.emplace_back(l);
        if (stopAfter && lines.size() == stopAt) stopAfter->store(true);
    }
};

std::vector<Text> FileStreamLines(const std::string& path, Encoding enc, int cp = 1252) {
    CollectLines sink;
    std::atomic<bool> stop{false};
    ReadContext ctx{sink, stop, cp};
    ScanFileStream(FromUtf8(path), enc, ctx);
    return sink.lines;
}

std::vector<Text> MemoryStreamLines(const std::string& path, int cp = 1252) {
    CollectLines sink;
    std::atomic<bool> stop{false};
    ReadContext ctx{sink, stop, cp};
    ScanMemoryStream(FromUtf8(path), ctx);
    return sink.lines;
}

std::vector<Text> Cut(std::u16string_view text) {
    CollectLines sink;
    std::atomic<bool> stop{false};
    ScanTextLines(text, sink, stop);
    return sink.lines;
}

// Feeds the text in three pieces, cut at every pair of places, and expects the
// same lines every time.
template <class Sink>
void ForEveryThreeWaySplit(const std::u16string& text, const std::vector<Text>& expected) {
    for (std::size_t cut1 = 0; cut1 <= text.size(); ++cut1) {
        for (std::size_t cut2 = cut1; cut2 <= text.size(); ++cut2) {
            LineCutter cutter;
            Sink sink;
            std::atomic<bool> stop{false};
            TextView v(text);
            cutter.Feed(v.substr(0, cut1), sink, stop);
            cutter.Feed(v.substr(cut1, cut2 - cut1), sink, stop);
            cutter.Feed(v.substr(cut2), sink, stop);
            cutter.Finish(sink, stop);
            EXPECT_EQ(sink.lines, expected) << "cuts at " << cut1 << " and " << cut2;
        }
    }
}

}  // namespace

TEST(LineCutting, BreaksAndTheLastLine) {
    struct Case {
        std::u16string text;
        std::vector<Text> lines;
    } cases[] = {
        {u"", {}},
        {u"a", {u"a"}},
        {u"a\n", {u"a"}},
        {u"a\r\n", {u"a"}},
        {u"a\r", {u"a"}},
        {u"\n", {u""}},
        {u"a\n\n", {u"a", u""}},
        {u"a\r\rb", {u"a", u"", u"b"}},
        {u"a\n\rb", {u"a", u"", u"b"}},
        {u"a\r\n\r\nb\n", {u"a", u"", u"b"}},
        {u"one\rtwo\nthree\r\nfour", {u"one", u"two", u"three", u"four"}},
        {u"x\u2028y\u0085z\fw", {u"x\u2028y\u0085z\fw"}},  // only CR and LF break lines
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Cut(c.text), c.lines) << "text of " << c.text.size() << " units";
    }
}

TEST(LineCutting, PiecesSplitAnywhereGiveTheSameLines) {
    const std::u16string text = u"alpha\r\nbeta\rgamma\n\r\ndelta\r";
    const std::vector<Text> whole = Cut(text);
    ForEveryThreeWaySplit<CollectLines>(text, whole);
}

TEST(Marks, SelectTheEncodingInTheirOrder) {
    struct Case {
        std::string bytes;
        Encoding requested, expected;
        std::size_t mark;
    } cases[] = {
        {"\xEF\xBB\xBFx", Encoding::Ansi, Encoding::Utf8, 3},
        {"\xFF\xFEx\0", Encoding::Utf8, Encoding::Utf16LE, 2},
        {"\xFE\xFF\0x", Encoding::Ansi, Encoding::Utf16BE, 2},
        {"\xEF\xBBx", Encoding::Ansi, Encoding::Ansi, 0},
        {"\xFF", Encoding::Utf8, Encoding::Utf8, 0},
        {"", Encoding::Utf8, Encoding::Utf8, 0},
        {"abc", Encoding::Ansi, Encoding::Ansi, 0},
    };
    for (const Case& c : cases) {
        std::size_t mark = 99;
        Encoding e = EncodingFromMark(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                      c.bytes.size(), c.requested, &mark);
        EXPECT_EQ(e, c.expected) << c.bytes;
        EXPECT_EQ(mark, c.mark) << c.bytes;
    }
}

TEST(StrictUtf8, RejectsWhatIsNotUtf8) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
    } cases[] = {
        {"ascii", "plain", true},
        {"two-byte", "caf\xC3\xA9", true},
        {"three-byte", "\xE2\x82\xAC", true},
        {"four-byte", "\xF0\x9F\x98\x80", true},
        {"largest", "\xF4\x8F\xBF\xBF", true},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong C1", "\xC1\xBF", false},
        {"overlong three", "\xE0\x80\xAF", false},
        {"overlong four", "\xF0\x80\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"above 10FFFF", "\xF4\x90\x80\x80", false},
        {"F5 lead", "\xF5\x80\x80\x80", false},
        {"lone continuation", "a\x80z", false},
        {"truncated at end", "ab\xE2\x82", false},
        {"truncated mid-text", "\xE2\x82z", false},
        {"latin-1 byte", "caf\xE9", false},
    };
    for (const Case& c : cases) {
        TextDecoder d(Encoding::Utf8, 1252);
        Text out;
        if (c.valid) {
            EXPECT_NO_THROW(d.Decode(c.bytes.data(), c.bytes.size(), true, out)) << c.name;
        } else {
            EXPECT_THROW(d.Decode(c.bytes.data(), c.bytes.size(), true, out), DecodeError)
                << c.name;
        }
    }
}

TEST(StrictUtf8, SequencesSplitBetweenPiecesDecode) {
    const std::string bytes = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
    const Text expected = u"a\u00E9\u20AC\U0001F600z";
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        for (std::size_t cut2 = cut; cut2 <= bytes.size(); ++cut2) {
            TextDecoder d(Encoding::Utf8, 1252);
            Text all, piece;
            d.Decode(bytes.data(), cut, false, piece);
            all += piece;
            d.Decode(bytes.data() + cut, cut2 - cut, false, piece);
            all += piece;
            d.Decode(bytes.data() + cut2, bytes.size() - cut2, true, piece);
            all += piece;
            EXPECT_EQ(all, expected) << cut << "," << cut2;
        }
    }
}

TEST(Ansi, DecodesWithTheCodePageOfTheLocale) {
    struct Case {
        int codePage;
        std::string bytes;
        Text text;
    } cases[] = {
        {1252, "caf\xE9 \x80", u"caf\u00E9 \u20AC"},
        {1250, "\xB9\x9C", u"\u0105\u015B"},
        {1251, "\xEF\xF0\xE8", u"\u043F\u0440\u0438"},
        {1253, "\xE1\xE2", u"\u03B1\u03B2"},
        {932, "\x82\xA0", u"\u3042"},
    };
    for (const Case& c : cases) {
        TextDecoder d(Encoding::Ansi, c.codePage);
        Text out;
        d.Decode(c.bytes.data(), c.bytes.size(), true, out);
        EXPECT_EQ(out, c.text) << c.codePage;
    }
}

// Every byte of every ANSI code page decodes to what the code page's own
// converter makes of it, whether the decoder takes it through a table or not,
// at any place in a buffer (the ASCII fast path takes sixteen bytes at a time).
TEST(Ansi, EveryByteDecodesAsTheConverterDecodesIt) {
    std::string bytes;
    for (int b = 0; b < 256; ++b) {
        bytes += std::string(static_cast<std::size_t>(b % 23), 'a');
        bytes += static_cast<char>(b);
    }
    for (int cp : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 932, 936}) {
        UErrorCode err = U_ZERO_ERROR;
        UConverter* cnv = ucnv_open(platform::IcuConverterName(cp).c_str(), &err);
        ASSERT_TRUE(U_SUCCESS(err)) << cp;
        Text expected(bytes.size() * 2 + 16, u'\0');
        const int32_t n = ucnv_toUChars(cnv, reinterpret_cast<UChar*>(expected.data()),
                                        static_cast<int32_t>(expected.size()), bytes.data(),
                                        static_cast<int32_t>(bytes.size()), &err);
        ucnv_close(cnv);
        ASSERT_TRUE(U_SUCCESS(err)) << cp;
        expected.resize(static_cast<std::size_t>(n));
        TextDecoder d(Encoding::Ansi, cp);
        Text out;
        d.Decode(bytes.data(), bytes.size(), true, out);
        EXPECT_EQ(out, expected) << cp;
    }
}

// Decode replaces what the text held, in every encoding, even when the earlier
// piece was longer (the text is written over, not cleared first).
TEST(Decoding, EachPieceReplacesTheTextOfTheLongerOneBefore) {
    struct Case {
        Encoding encoding;
        std::string first, second;
        Text text;
    } cases[] = {
        {Encoding::Utf8, std::string(100, 'x'), "ab", u"ab"},
        {Encoding::Ansi, std::string(100, 'x'), "a\xE9", u"a\u00E9"},
        {Encoding::Utf16LE, std::string(100, 'x'), std::string("a\0b\0", 4), u"ab"},
        {Encoding::Utf16BE, std::string(100, 'x'), std::string("\0a\0b", 4), u"ab"},
    };
    for (const Case& c : cases) {
        TextDecoder d(c.encoding, 1252);
        Text out;
        d.Decode(c.first.data(), c.first.size(), false, out);
        d.Decode(c.second.data(), c.second.size(), true, out);
        EXPECT_EQ(out, c.text) << static_cast<int>(c.encoding);
    }
}

// UTF-16 in either byte order, split between pieces at every byte: the same
// text, whether its units are taken eight at a time or one by one.
TEST(Decoding, Utf16SplitAnywhereGivesTheSameText) {
    Text text;
    for (char16_t u = 0; u < 61; ++u)
        text += static_cast<char16_t>(u % 3 ? u'a' + u % 26 : 0x20AC + u * 0x101);
    for (Encoding enc : {Encoding::Utf16LE, Encoding::Utf16BE}) {
        std::string bytes;
        for (char16_t u : text) {
            const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            bytes += enc == Encoding::Utf16LE ? std::string{lo, hi} : std::string{hi, lo};
        }
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            TextDecoder d(enc, 1252);
            Text out;
            d.DecodeAppend(bytes.data(), cut, false, out);
            d.DecodeAppend(bytes.data() + cut, bytes.size() - cut, true, out);
            EXPECT_EQ(out, text) << static_cast<int>(enc) << " cut " << cut;
        }
    }
}

TEST(Files, EncodingsAndMarksInBothModes) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<Text> lines;
    } cases[] = {
        {"utf8", "one\r\nt\xC3\xA9o\n", {u"one", u"t\u00E9o"}},
        {"utf8 mark", "\xEF\xBB\xBFone\ntwo", {u"one", u"two"}},
        {"utf16le mark", std::string("\xFF\xFEo\0n\0\r\0\n\0\xE9\0", 12), {u"on", u"\u00E9"}},
        {"utf16be mark", std::string("\xFE\xFF\0o\0\n\0k", 8), {u"o", u"k"}},
        {"utf16le without mark", std::string("a\0b\0", 4), {Text(u"a\0b\0", 4)}},
        {"ansi", "caf\xE9\nna\xEFve", {u"caf\u00E9", u"na\u00EFve"}},
        {"empty", "", {}},
        {"mark only", "\xEF\xBB\xBF", {}},
    };
    for (const Case& c : cases) {
        auto path = dir.Write(std::string(c.name) + ".txt", c.bytes).string();
        std::vector<Text> fileStream;
        try {
            fileStream = FileStreamLines(path, Encoding::Utf8);
        } catch (const DecodeError&) {
            fileStream = FileStreamLines(path, Encoding::Ansi);
        }
        EXPECT_EQ(fileStream, c.lines) << c.name << " (file stream)";
        EXPECT_EQ(MemoryStreamLines(path), c.lines) << c.name << " (memory stream)";
    }
}

TEST(Files, AfterTheUtf8MarkEachIllFormedSequenceIsOneReplacementCharacter) {
    TempDir dir;
    const std::string mark = "\xEF\xBB\xBF";
    struct Case {
        std::string body;
        std::vector<Text> lines;
    } cases[] = {
        {"\xFFwww.x.xx", {u"\uFFFDwww.x.xx"}},
        {"caf\xE9 ok\nnext", {u"caf\uFFFD ok", u"next"}},  // a cp1252 letter
        {"a\xE2\x82"
         "b",
         {u"a\uFFFD"
          "b"}},                                                // truncated: one
        {"\xC0\xAF/", {u"\uFFFD\uFFFD/"}},                      // never valid: each byte
        {"\xED\xA0\x80.", {u"\uFFFD\uFFFD\uFFFD."}},            // a surrogate
        {"\xF4\x90\x80\x80!", {u"\uFFFD\uFFFD\uFFFD\uFFFD!"}},  // past U+10FFFF
        {"ok\n\xE2\x82", {u"ok", u"\uFFFD"}},                   // cut by the end
        {"\xC3\xA9\xF0\x9F\x98\x80", {u"\u00E9\U0001F600"}},    // valid text stays
    };
    for (const Case& c : cases) {
        auto path = dir.Write("m.txt", mark + c.body).string();
        EXPECT_EQ(FileStreamLines(path, Encoding::Utf8), c.lines) << c.body;
        EXPECT_EQ(FileStreamLines(path, Encoding::Ansi), c.lines) << c.body;
        EXPECT_EQ(MemoryStreamLines(path), c.lines) << c.body;
    }
    // A bad byte in every position around the buffer's end, with a
    // sequence split by it: every line comes once, in order.
    for (std::size_t at = 4090; at < 4100; ++at) {
        std::string body(at - mark.size(), 'x');
        body += "\xFF\xC3\xA9y\n" + std::string(5000, 'z');
        auto path = dir.Write("b.txt", mark + body).string();
        std::vector<Text> lines{Text(at - mark.size(), u'x') + u"\uFFFD\u00E9y", Text(5000, u'z')};
        EXPECT_EQ(FileStreamLines(path, Encoding::Utf8), lines) << at;
        EXPECT_EQ(MemoryStreamLines(path), lines) << at;
    }
}

TEST(Files, LinesAcrossBufferBoundaries) {
    TempDir dir;
    // Lines of every length around the buffer size, and a CR LF split by it.
    std::string bytes;
    std::vector<Text> expected;
    for (std::size_t len : {4094u, 4095u, 4096u, 4097u, 1u, 8191u, 0u, 12000u}) {
        std::string line(len, 'x');
        if (len > 3) line.replace(len / 2, 3, "\xC3\xA9y");  // a two-byte letter inside
        bytes += line + "\r\n";
        expected.push_back(FromUtf8(line));
    }
    auto path = dir.Write("long.txt", bytes).string();
    EXPECT_EQ(FileStreamLines(path, Encoding::Utf8), expected);
    EXPECT_EQ(MemoryStreamLines(path), expected);
}

TEST(Files, DecodingErrorSurfacesWithTheBufferThatHoldsIt) {
    TempDir dir;
    // 100 lines of 100 bytes (10,000 bytes), then a Latin-1 byte in buffer 3.
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += std::string(99, 'a') + "\n";
    bytes += "caf\xE9\n";
    auto path = dir.Write("late.txt", bytes).string();

    CollectLines sink;
    std::atomic<bool> stop{false};
    ReadContext ctx{sink, stop, 1252};
    EXPECT_THROW(ScanFileStream(FromUtf8(path), Encoding::Utf8, ctx), DecodeError);
    // The lines of the first two buffers (8192 bytes: 81 complete lines) came through.
    EXPECT_EQ(sink.lines.size(), 81u);

    // Memory stream: read whole, so nothing before the retry.
    auto lines = MemoryStreamLines(path);
    ASSERT_EQ(lines.size(), 101u);
    EXPECT_EQ(lines.back(), u"caf\u00E9");
}

TEST(Files, StopEndsTheFileAtTheNextLine) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 10000; ++i) bytes += "line\n";
    auto path = dir.Write("many.txt", bytes).string();
    for (bool memory : {false, true}) {
        CollectLines sink;
        std::atomic<bool> stop{false};
        sink.stopAfter = &stop;
        sink.stopAt = 7;
        ReadContext ctx{sink, stop, 1252};
        if (memory) {
            ScanMemoryStream(FromUtf8(path), ctx);
        } else {
            ScanFileStream(FromUtf8(path), Encoding::Utf8, ctx);
        }
        EXPECT_EQ(sink.lines.size(), 7u) << (memory ? "memory" : "file");
    }
}

TEST(Files, WhatCannotBeReadFails) {
    TempDir dir;
    auto folder = dir.MakeDir("folder.txt").string();
    std::string fifo = (dir.Path() / "pipe.txt").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path :
         {(dir.Path() / "missing.txt").string(), folder, fifo, std::string("/dev/zero")}) {
        EXPECT_THROW(FileStreamLines(path, Encoding::Utf8), ReadError) << path;
        EXPECT_THROW(MemoryStreamLines(path), ReadError) << path;
    }
}

TEST(Files, NamesThatAreNotUtf8AreRead) {
    TempDir dir;
    auto path = dir.Write("caf\xE9-\xFF.txt", "www.example.com\n").string();
    Text name = FromUtf8(path);  // the bad bytes travel as escaped bytes
    CollectLines sink;
    std::atomic<bool> stop{false};
    ReadContext ctx{sink, stop, 1252};
    ScanFileStream(name, Encoding::Utf8, ctx);
    EXPECT_EQ(sink.lines, std::vector<Text>{u"www.example.com"});
}

namespace {

// Cares only for lines that hold a '#'.
struct HashLines : CollectLines {
    std::size_t NextKey(const char16_t* text, std::size_t from, std::size_t n) const override {
        for (std::size_t i = from; i < n; ++i)
            if (text[i] == u'#') return i;
        return n;
    }
};

}  // namespace

TEST(LineCutting, LinesWithoutKeysArePassedOverWhereverThePiecesEnd) {
    const std::u16string text = u"a\r\n#b\rc\n\nd#e#\r\nf\r\r#\n#g\nh";
    const std::vector<Text> wanted{u"#b", u"d#e#", u"#", u"#g"};
    ForEveryThreeWaySplit<HashLines>(text, wanted);
}

TEST(Files, BothReadersPassOverLinesWithoutKeys) {
    TempDir dir;
    std::string bytes;
    std::vector<Text> wanted;
    for (int i = 0; i < 3000; ++i) {
        std::string line = "line " + std::to_string(i);
        if (i % 7 == 0) line += " #" + std::to_string(i);
        if (i % 11 == 0) line = "";
        bytes += line + (i % 2 ? "\r\n" : "\n");
        if (line.find('#') != std::string::npos) wanted.push_back(FromUtf8(line));
    }
    auto path = dir.Write("keys.txt", bytes).string();
    for (bool memory : {false, true}) {
        HashLines sink;
        std::atomic<bool> stop{false};
        ReadContext ctx{sink, stop, 1252};
        if (memory) {
            ScanMemoryStream(FromUtf8(path), ctx);
        } else {
            ScanFileStream(FromUtf8(path), Encoding::Utf8, ctx);
        }
        EXPECT_EQ(sink.lines, wanted) << (memory ? "memory" : "file");
    }
}

TEST(Files, StopEndsAFileWithoutKeysWithinABuffer) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes += "no keys here\n";
    auto path = dir.Write("plain.txt", bytes).string();
    HashLines sink;
    std::atomic<bool> stop{true};
    ReadContext ctx{sink, stop, 1252};
    ScanFileStream(FromUtf8(path), Encoding::Utf8, ctx);
    EXPECT_TRUE(sink.lines.empty());
}
