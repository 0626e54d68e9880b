// The plain-text readers on bytes in memory. The two reading modes of a scan
// (the whole file at once, or a 4096-byte buffer line by line) are held to each
// other, to a plain line cutter for valid UTF-8, and LoadLines to LoadText.
// Detection's keys found in ASCII bytes are held to those found in UTF-16, and
// the lines a reader hands to detection (passing over the rest, as bytes where
// a piece is ASCII) to those it hands over when it decodes every piece first.
#include <algorithm>
#include <atomic>
#include <tuple>

#include "engine/ascii_keys.h"
#include "engine/detect.h"
#include "engine/readers/text_reader.h"
#include "fuzz_input.h"

using namespace corvexa;

namespace {

struct Collect : LineSink {
    std::vector<Text> lines;
    void Line(TextView line) override { lines.emplace_back(line); }
};

// Lines at CR LF, lone CR and lone LF; a break at the very end adds none.
std::vector<Text> PlainCut(TextView text) {
    std::vector<Text> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n') continue;
        out.emplace_back(text.substr(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) out.emplace_back(text.substr(start));
    return out;
}

// Strict UTF-8 decoded to UTF-16; false on any invalid sequence (overlong
// forms, surrogates, beyond U+10FFFF, cut short).
bool DecodeUtf8(std::string_view s, Text* out) {
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        std::size_t n = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        if (n == 0 || i + n > s.size()) return false;
        char32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            unsigned char d = s[i + k];
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            out->push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out->push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out->push_back(char16_t(cp));
        }
        i += n;
    }
    return true;
}

// Keeps the lines (and parts) handed over with their numbers; finds keys as
// detection does, in bytes only when `ascii`.
struct Keyed : LineSink {
    explicit Keyed(bool inAscii) : ascii(inAscii) { numberLines = true; }
    std::size_t NextKey(const char16_t* text, std::size_t from, std::size_t n) const override {
        return keys.NextKey(text, from, n);
    }
    bool KeysInAscii() const override { return ascii; }
    std::size_t NextKeyAscii(const char* text, std::size_t from, std::size_t n) const override {
        return keys.NextKeyAscii(text, from, n);
    }
    const LineCuts* Cuts() const override { return keys.Cuts(); }
    void Line(TextView line) override { got.emplace_back(lineNumber, Text(line), false); }
    void LinePart(TextView part) override { got.emplace_back(lineNumber, Text(part), true); }
    void AbandonLine() override { got.emplace_back(0, Text(), true); }

    bool ascii;
    DetectionSwitches switches;
    SharedList list;
    Detector keys{switches, list};
    std::vector<std::tuple<std::uint64_t, Text, bool>> got;
};

std::vector<std::tuple<std::uint64_t, Text, bool>> KeyedLines(std::string_view bytes,
                                                              bool memoryStream, bool ascii) {
    std::atomic<bool> stop{false};
    Keyed sink(ascii);
    ReadContext ctx{sink, stop, 1252};
    MemorySource source(bytes);
    try {
        ScanPlainText(source, memoryStream, ctx);
    } catch (const ReadError&) {
        sink.got.emplace_back(0, u"(failed)", false);
    }
    return std::move(sink.got);
}

void CheckKeys(std::string_view bytes) {
    std::string ascii(bytes);
    for (char& c : ascii) c = static_cast<char>(c & 0x7F);
    const Text wide(ascii.begin(), ascii.end());
    DetectionSwitches switches;
    SharedList list;
    Detector detector(switches, list);
    for (std::size_t from : {std::size_t{0}, ascii.size() / 3, ascii.size()})
        fuzz::Check(NextAsciiKey(ascii.data(), from, ascii.size()) ==
                        detector.NextKey(wide.data(), from, wide.size()),
                    "keys in ASCII bytes differ from keys in UTF-16");
}

struct Outcome {
    bool failed = false;
    std::vector<Text> lines;
};

Outcome Scan(std::string_view bytes, bool memoryStream) {
    std::atomic<bool> stop{false};
    Collect sink;
    ReadContext ctx{sink, stop, 1252};
    MemorySource source(bytes);
    Outcome o;
    try {
        ScanPlainText(source, memoryStream, ctx);
    } catch (const ReadError&) {
        o.failed = true;
    }
    o.lines = std::move(sink.lines);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    Outcome whole = Scan(bytes, true), buffered = Scan(bytes, false);
    fuzz::Check(whole.failed == buffered.failed, "one reading mode failed, the other did not");
    // The buffered mode may have handed over UTF-8 lines before it found the
    // file is not UTF-8 and began again in ANSI; what follows is the same.
    fuzz::Check(
        buffered.lines.size() >= whole.lines.size() &&
            std::equal(whole.lines.begin(), whole.lines.end(),
                       buffered.lines.end() - static_cast<std::ptrdiff_t>(whole.lines.size())),
        "the reading modes give different lines");
    std::size_t markLength = 0;
    EncodingFromMark(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                     Encoding::Utf8, &markLength);
    Text utf8;
    if ((markLength == 0 || markLength == 3) && DecodeUtf8(bytes.substr(markLength), &utf8)) {
        fuzz::Check(!whole.failed && whole.lines == PlainCut(utf8), "valid UTF-8 read differently");
        fuzz::Check(buffered.lines == whole.lines, "valid UTF-8: the buffered mode began again");
    }

    CheckKeys(bytes);
    for (bool memoryStream : {false, true})
        fuzz::Check(KeyedLines(bytes, memoryStream, true) == KeyedLines(bytes, memoryStream, false),
                    "lines found through ASCII bytes differ from those found in UTF-16");

    // LoadText and LoadLines in the encoding the first byte names.
    static constexpr Encoding kEncodings[4] = {Encoding::Utf8, Encoding::Ansi, Encoding::Utf16LE,
                                               Encoding::Utf16BE};
    const Encoding encoding = kEncodings[data[0] & 3];
    MemorySource source(bytes);
    Text text;
    Lines lines;
    bool textOk = true, linesOk = true;
    try {
        LoadText(source, encoding, 1252, text);
    } catch (const ReadError&) {
        textOk = false;
    }
    try {
        LoadLines(source, encoding, 1252, lines);
    } catch (const ReadError&) {
        linesOk = false;
    }
    fuzz::Check(textOk == linesOk, "LoadText and LoadLines disagree on failure");
    if (textOk) {
        std::vector<Text> cut = PlainCut(text), got;
        for (std::size_t i = 0; i < lines.Size(); ++i) got.emplace_back(lines[i]);
        fuzz::Check(cut == got, "LoadLines differs from LoadText cut into lines");
    }
    return 0;
}
