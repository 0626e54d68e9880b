// Pieces of plain text that are all ASCII are cut into lines and searched for
// detection's keys as bytes. The lines (and parts of long lines) handed over,
// with their numbers, must be exactly those of the path that decodes every
// piece to UTF-16 first, in both reading modes and whatever the encoding.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/ascii_keys.h"
#include "engine/byte_source.h"
#include "engine/detect.h"
#include "engine/readers/text_reader.h"

using namespace corvexa;

namespace {

struct Rng {
    std::uint64_t s;
    std::size_t Below(std::size_t n) {
        s ^= s << 13, s ^= s >> 7, s ^= s << 17;
        return static_cast<std::size_t>(s % n);
    }
};

// ASCII that comes close to keys without holding one: every line passed over.
std::string Filler(Rng& rng, std::size_t size, const std::string& nl) {
    static const char* const kWords[] = {"alpha", "beta.gamma", "key: value", "w.w.w",
                                         "www",   "http:/",     "ftp:",       "ww.",
                                         "::",    "//",         "x.y",        "W"};
    std::string out;
    while (out.size() < size) {
        const std::size_t words = rng.Below(10);
        for (std::size_t i = 0; i < words; ++i) out += std::string(kWords[rng.Below(12)]) + " ";
        out += nl;
    }
    out.resize(size);
    return out;
}

struct Handed {
    std::uint64_t number;
    Text text;
    bool part;
    bool operator==(const Handed&) const = default;
};

// Records what a reader hands over; finds keys as detection does, in bytes
// only when `ascii`.
class Recorder : public LineSink {
public:
    explicit Recorder(bool ascii) : ascii_(ascii) { numberLines = true; }
    std::size_t NextKey(const char16_t* text, std::size_t from, std::size_t n) const override {
        return keys_.NextKey(text, from, n);
    }
    bool KeysInAscii() const override { return ascii_; }
    std::size_t NextKeyAscii(const char* text, std::size_t from, std::size_t n) const override {
        return keys_.NextKeyAscii(text, from, n);
    }
    const LineCuts* Cuts() const override { return keys_.Cuts(); }
    void Line(TextView line) override { got.push_back({lineNumber, Text(line), false}); }
    void LinePart(TextView part) override { got.push_back({lineNumber, Text(part), true}); }
    void AbandonLine() override { got.push_back({0, u"(abandoned)", true}); }

    std::vector<Handed> got;

private:
    bool ascii_;
    DetectionSwitches switches_;
    SharedList list_;
    Detector keys_{switches_, list_};
};

struct Outcome {
    std::vector<Handed> got;
    bool failed = false;
};

Outcome Read(const std::string& bytes, bool memoryStream, bool ascii) {
    Recorder sink(ascii);
    Outcome o;
    std::atomic<bool> stop{false};
    ReadContext ctx{sink, stop, 1252};
    MemorySource source(bytes);
    try {
        ScanPlainText(source, memoryStream, ctx);
    } catch (const ReadError&) {
        o.failed = true;
    }
    o.got = std::move(sink.got);
    return o;
}

void ExpectSameAsDecoded(const std::string& name, const std::string& bytes) {
    for (bool memoryStream : {false, true}) {
        SCOPED_TRACE(name + (memoryStream ? " (memory stream)" : " (file stream)"));
        const Outcome fast = Read(bytes, memoryStream, true);
        const Outcome decoded = Read(bytes, memoryStream, false);
        EXPECT_EQ(fast.failed, decoded.failed);
        ASSERT_EQ(fast.got.size(), decoded.got.size());
        for (std::size_t i = 0; i < fast.got.size(); ++i)
            EXPECT_EQ(fast.got[i], decoded.got[i]) << "line handed over #" << i;
    }
}

Text Widened(const std::string& ascii) {
    return Text(ascii.begin(), ascii.end());
}

}  // namespace

TEST(AsciiKeys, SameKeysAsDetectionInUtf16) {
    static const char* const kPieces[] = {"www.", "WwW.", "w", "W",  ".",   ":",  "/",  "://",
                                          "@",    "a",    " ", "\n", "ww.", ":/", "x@y"};
    DetectionSwitches switches;
    SharedList list;
    Detector detector(switches, list);
    Rng rng{0x9E3779B97F4A7C15u};
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const std::size_t pieces = rng.Below(round < 1000 ? 6 : 40);
        for (std::size_t i = 0; i < pieces; ++i) text += kPieces[rng.Below(15)];
        const Text wide = Widened(text);
        for (std::size_t from = 0; from <= text.size(); ++from)
            ASSERT_EQ(NextAsciiKey(text.data(), from, text.size()),
                      detector.NextKey(wide.data(), from, wide.size()))
                << "text \"" << text << "\" from " << from;
    }
}

// An address whose key falls at and around the edges of the pieces both
// readers take (file stream 4096 bytes, held bytes 16384, a read 65536), under
// each kind of line break.
TEST(AsciiLines, AddressesAcrossPieceEdgesGiveTheDecodedLines) {
    struct Address {
        const char* text;
        std::size_t key;  // offset of its key
    };
    static const Address kAddresses[] = {{"someone@example.com", 7},
                                         {"www.example.org/path", 3},
                                         {"WwW.Mixed.Case.com", 3},
                                         {"http://host.example.net/a?b=1", 4},
                                         {"ftp://files.example.com/pub", 3}};
    Rng rng{12345};
    for (std::size_t edge : {std::size_t{4096}, std::size_t{16384}, std::size_t{65536}})
        for (const Address& a : kAddresses)
            for (int off = -4; off <= 4; ++off)
                for (const std::string nl : {"\n", "\r\n", "\r"}) {
                    const std::size_t at = edge + static_cast<std::size_t>(off) - a.key;
                    const std::string bytes =
                        Filler(rng, at, nl) + a.text + nl + Filler(rng, 3000, nl);
                    ExpectSameAsDecoded(std::string(a.text) + " at " + std::to_string(edge) +
                                            (off < 0 ? "" : "+") + std::to_string(off) + " break " +
                                            std::to_string(nl.size()) + (nl == "\r" ? "CR" : ""),
                                        bytes);
                }
}

TEST(AsciiLines, OddTextGivesTheDecodedLines) {
    Rng rng{777};
    const std::string mid = Filler(rng, 70000, "\n");
    std::string crAtEdge = Filler(rng, 4095, "\n");
    crAtEdge.back() = 'x';
    crAtEdge += "\r\nafter www.example.com\n";
    const std::string u16 = Filler(rng, 9000, "\n") + "u16@example.com www.u16.org\r\n" +
                            Filler(rng, 9000, "\r\n") + "http://end.example.com";
    std::string le = "\xFF\xFE", be = "\xFE\xFF";
    for (char c : u16) {
        le += std::string{c, '\0'};
        be += std::string{'\0', c};
    }
    const struct {
        const char* name;
        std::string bytes;
    } kCases[] = {
        {"empty", ""},
        {"one CR LF", "\r\n"},
        {"one CR", "\r"},
        {"keys at the very start", "@a.com\n:// www.\nwww.x.com"},
        {"CR LF split by the file-stream buffer", crAtEdge},
        {"no break at the end", Filler(rng, 5000, "\n") + "last@line.com"},
        {"UTF-8 between ASCII pieces", Filler(rng, 5000, "\n") +
                                           "caf\xC3\xA9 www.ex\xC3\xA9mple.fr/ \xC3\xA9@x.com\n" +
                                           mid + "x@example.com\n"},
        {"UTF-8 sequence split by the buffer",
         Filler(rng, 4095, "\n") + "\xE2\x82\xAC www.split.com\n" + mid},
        {"ANSI early", "caf\xE9@example.com www.\xE9x.com\n" + mid + "late@example.com\n"},
        {"ANSI late, past a read", mid + "a@example.com\n" + mid + "bad \xE9 y@example.org\n" +
                                       Filler(rng, 5000, "\n") + "z@example.net\n"},
        {"UTF-8 cut short at the end", mid + "a@b.com\n\xE2\x82"},
        {"UTF-8 mark, then an invalid byte",
         "\xEF\xBB\xBF" + mid + "\xFF a@b.com\n" + mid + "c@d.com\n"},
        {"UTF-16 LE", le},
        {"UTF-16 BE", be},
        {"UTF-16 LE without a mark", le.substr(2)},
        {"NUL bytes", std::string("\0\0a@b.com\0www.x.com\0\n", 21) + std::string(5000, '\0') +
                          "http://n.ul.com\n"},
        {"long line with keys",
         std::string(300000, 'x') + " a@example.com " + std::string(200000, '.') + " www.l.com\n"},
        {"long line without a cut", std::string(600000, 'a') + "@example.com\nb@c.de\n"},
        {"long line, many keys",
         [] {
             std::string s;
             for (int i = 0; i < 40000; ++i) s += "abc@def.gh www.a.com/ ";
             return s;
         }()},
    };
    for (const auto& c : kCases) ExpectSameAsDecoded(c.name, c.bytes);
}

// Units past ASCII whose low byte (or high byte) is that of a key, a slash, a
// 'w' or a line break: looked at as bytes, none of them may count as one.
TEST(AsciiLines, UnitsPastAsciiAreNeitherKeysNorBreaks) {
    const std::u16string units[] = {u"\u0140", u"\uFF20", u"\u202E", u"\u010A", u"\u010D",
                                    u"\u012F", u"\u013A", u"\u0157", u"\u2E77", u"\u0A0D",
                                    u"\u402E", u"\u8040", u"\uFF0E", u"\u0D0A", u"\u3A2F"};
    std::u16string text;
    for (const std::u16string& u : units)
        text += u"x" + u + u"example.com www" + u + u"a.com http" + u + u"//b.com w" + u +
                u"ww.c.com a@b" + u + u".com\n";
    for (int i = 0; i < 300; ++i) text += u"line without anything\n";
    text += text;
    std::string le = "\xFF\xFE", be = "\xFE\xFF", utf8 = ToUtf8(text);
    for (char16_t c : text) {
        le += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        be += std::string{static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
    }
    ExpectSameAsDecoded("UTF-8", utf8);
    ExpectSameAsDecoded("UTF-16 LE", le);
    ExpectSameAsDecoded("UTF-16 BE", be);
    ExpectSameAsDecoded("UTF-16 LE from the second byte", le.substr(1));
}

TEST(AsciiLines, LinesPassedOverAreCounted) {
    // Many pieces without a key, then one line with an address, under each
    // kind of break; the line number counts every break, a CR LF once.
    for (const std::string nl : {"\n", "\r\n", "\r"}) {
        std::string bytes;
        for (int i = 0; i < 10000; ++i) bytes += "plain text, line " + std::to_string(i) + nl;
        bytes += "write to x@example.com" + nl + "done" + nl;
        for (bool memoryStream : {false, true}) {
            const Outcome fast = Read(bytes, memoryStream, true);
            ASSERT_EQ(fast.got.size(), 1u) << nl.size();
            EXPECT_EQ(fast.got[0], (Handed{10001, u"write to x@example.com", false}));
        }
    }
}
