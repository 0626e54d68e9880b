#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/byte_source.h"
#include "engine/line_sink.h"
#include "engine/readers/text_decode.h"
#include "engine/text.h"

namespace corvexa {

// Cuts text into lines at CR LF, lone CR and lone LF. A break at the very end
// does not add an empty line. Text may arrive in pieces; a CR at the end of one
// piece and an LF at the start of the next are one break. Lines the sink has no
// use for (see LineSink::NextKey) are passed over without being handed over.
//
// A line longer than kPartLength goes to a sink with cut rules (LineSink::Cuts)
// in parts, so the cutter holds at most about kPartLength of it plus the run
// after its last allowed cut; to any other sink it goes whole.
class LineCutter {
public:
    static constexpr std::size_t kPartLength = std::size_t{1} << 18;

    // Hands every line completed in text to the sink, checking `stop` before
    // each line and each part. With `last`, the text is the end of the input
    // and its final line is handed over too (as Finish would). Returns false
    // when stopped.
    bool Feed(TextView text, LineSink& sink, const std::atomic<bool>& stop, bool last = false);
    // Feed for a piece of text that is all ASCII, held as bytes (one byte a
    // unit), for a sink whose KeysInAscii holds: the same as Feed of the text
    // in UTF-16, but only the lines handed over are ever widened to it.
    bool FeedAscii(std::string_view bytes, LineSink& sink, const std::atomic<bool>& stop,
                   bool last = false);
    // Feed for a sink whose KeysInAscii holds: the lines are found in an image
    // of the text as bytes (one a unit, ASCII as it stands), and only the
    // lines handed over are taken from the text.
    bool FeedNarrowed(TextView text, LineSink& sink, const std::atomic<bool>& stop,
                      bool last = false);
    // Hands over the last line if the text did not end with a break.
    bool Finish(LineSink& sink, const std::atomic<bool>& stop);
    // For a read that failed: a line handed over in part is abandoned.
    void Abandon(LineSink& sink);

private:
    bool FeedLines(TextView text, LineSink& sink, const std::atomic<bool>& stop, bool last);
    bool FeedAsciiLines(const char* p, std::size_t n, LineSink& sink, const std::atomic<bool>& stop,
                        bool last);
    // Hands over the ASCII line p[start, end), widened; in parts when it is long.
    bool HandAscii(const char* p, std::size_t start, std::size_t end, LineSink& sink,
                   const std::atomic<bool>& stop);
    // The text of p[start, start + size): units_ there, else the bytes widened.
    const char16_t* TextOf(const char* p, std::size_t start, std::size_t size) const;
    // Keeps p[start, n) in pending_, its long front handed over first.
    bool KeepAscii(const char* p, std::size_t start, std::size_t n, LineSink& sink,
                   const std::atomic<bool>& stop);
    // Hands the line held in pending_ over unless the sink has no use for it.
    bool HandOver(LineSink& sink, const std::atomic<bool>& stop);
    // Hands over the line [start, end) of p, in parts when it is long; when
    // not `wanted` (known to hold a key), only if the sink has a use for it.
    // `bytes`, when not null, is p as bytes (see LineSink::lineBytes).
    bool HandLine(const char16_t* p, std::size_t start, std::size_t end, bool wanted,
                  LineSink& sink, const std::atomic<bool>& stop, const char* bytes = nullptr);
    // Hands over parts from the front of p[pos, end) while more than
    // kPartLength of it is left; pos moves past them.
    bool HandParts(const char16_t* p, std::size_t& pos, std::size_t end, LineSink& sink,
                   const std::atomic<bool>& stop);
    // Hands over pending_ up to its last allowed cut once it grows long.
    bool TrimPending(LineSink& sink, const std::atomic<bool>& stop);
    bool Part(TextView part, LineSink& sink, const std::atomic<bool>& stop);

    Text pending_;
    const char16_t* units_ = nullptr;  // the text FeedNarrowed is looking at
    std::size_t uncut_ = 0;            // pending_[0, uncut_) holds no allowed cut
    bool inParts_ = false;             // the current line was handed over in part
    bool skipLf_ = false;
    std::uint64_t breaks_ = 0;  // line breaks passed so far, when the sink numbers lines
};

// The lines of a whole file, in one block of text.
class Lines : public LineSink {
public:
    std::size_t Size() const { return spans_.size(); }
    TextView operator[](std::size_t i) const {
        return TextView(text_).substr(spans_[i].first, spans_[i].second);
    }
    void Clear() {
        text_.clear();
        spans_.clear();
    }
    void Line(TextView line) override;

private:
    Text text_;
    std::vector<std::pair<std::size_t, std::size_t>> spans_;
};

// What a plain-text reader needs besides the path.
struct ReadContext {
    LineSink& sink;                 // receives the lines (detection)
    const std::atomic<bool>& stop;  // checked before every line
    int ansiCodePage;               // Windows code page number used for ANSI
};

// Cuts a text into lines and hands them over, stopping when `stop` is set.
void ScanTextLines(TextView text, LineSink& sink, const std::atomic<bool>& stop);

// Every reader below comes in two forms: one reads the file at a path, the
// other any ByteSource (byte_source.h), such as bytes in memory.

// Reads a file through a 4096-byte buffer, one line at a time. Throws
// ReadError/DecodeError; the lines handed over before a failure stay handed over.
void ScanFileStream(ByteSource& source, Encoding encoding, ReadContext& ctx);
void ScanFileStream(const Text& path, Encoding encoding, ReadContext& ctx);

// Holds the whole file first and settles its encoding (UTF-8 when it all
// decodes in it, else ANSI), then hands over its lines, decoding a piece at a
// time. A file larger than kMemoryStreamLimit bytes is not held: one pass
// decodes it to settle the encoding in the same way, a second hands over its
// lines as ScanFileStream does, so the findings are the same.
void ScanMemoryStream(ByteSource& source, ReadContext& ctx);
void ScanMemoryStream(const Text& path, ReadContext& ctx);

// A file read as plain text during a scan: in memory-stream mode
// ScanMemoryStream; in file-stream mode ScanFileStream in UTF-8 and, after any
// failure of that, once more from the start in ANSI. Throws when that fails too.
void ScanPlainText(ByteSource& source, bool memoryStream, ReadContext& ctx);

// Reads a whole text file (mark first, 4096-byte buffer) into one text, line
// breaks included. Strict even after a UTF-8 mark. Throws.
void LoadText(ByteSource& source, Encoding encoding, int ansiCodePage, Text& text);
void LoadText(const Text& path, Encoding encoding, int ansiCodePage, Text& text);

// Reads a whole text file into lines (mark first, 4096-byte buffer). Strict
// even after a UTF-8 mark: a file list or table with a bad byte is refused.
// Throws.
void LoadLines(ByteSource& source, Encoding encoding, int ansiCodePage, Lines& lines);
void LoadLines(const Text& path, Encoding encoding, int ansiCodePage, Lines& lines);

// Size of the reading buffer.
inline constexpr std::size_t kReadBufferSize = 4096;

// The largest file (bytes) that memory-stream mode holds whole.
inline constexpr std::size_t kMemoryStreamLimit = std::size_t{32} << 20;

}  // namespace corvexa
