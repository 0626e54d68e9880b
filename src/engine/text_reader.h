#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/line_sink.h"
#include "engine/text.h"

namespace corvexa {

// A file that could not be opened or read, or text that is not valid in the
// encoding it was read with. Ends the processing of one file.
class ReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class DecodeError : public ReadError {
public:
    using ReadError::ReadError;
};

// Strict UTF-8 (any invalid byte sequence is an error), the ANSI code page of
// the user's locale (never fails), and UTF-16 selected by a byte-order mark.
enum class Encoding { Utf8, Ansi, Utf16LE, Utf16BE };

// The encoding a byte-order mark at the start of data selects (UTF-8 EF BB BF,
// UTF-16 LE FF FE, UTF-16 BE FE FF, tested in that order), else `requested`.
// *markLength receives the mark's length (0 without one).
Encoding EncodingFromMark(const unsigned char* data, std::size_t size, Encoding requested,
                          std::size_t* markLength);

// Decodes a byte stream piece by piece into UTF-16. A sequence split between two
// pieces is carried over; one still open when the last piece ends is an error.
class TextDecoder {
public:
    TextDecoder(Encoding encoding, int ansiCodePage);
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    // Replaces out with the text of the piece. Throws DecodeError.
    void Decode(const char* data, std::size_t size, bool last, Text& out);
    // Appends the text of the piece to out.
    void DecodeAppend(const char* data, std::size_t size, bool last, Text& out);

private:
    struct Ansi;
    Encoding encoding_;
    int ansiCodePage_;
    unsigned char carry_[4];
    std::size_t carried_ = 0;
    Ansi* ansi_ = nullptr;
};

// Cuts text into lines at CR LF, lone CR and lone LF. A break at the very end
// does not add an empty line. Text may arrive in pieces; a CR at the end of one
// piece and an LF at the start of the next are one break. Lines the sink has no
// use for (see LineSink::NextKey) are passed over without being handed over.
class LineCutter {
public:
    // Hands every line completed in text to the sink, checking `stop` before
    // each. Returns false when stopped.
    bool Feed(TextView text, LineSink& sink, const std::atomic<bool>& stop);
    // Hands over the last line if the text did not end with a break.
    bool Finish(LineSink& sink, const std::atomic<bool>& stop);

private:
    // Hands a line held in pending_ over unless the sink has no use for it.
    bool HandOver(Text& line, LineSink& sink, const std::atomic<bool>& stop);

    Text pending_;
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
    LineSink& sink;                  // receives the lines (detection)
    const std::atomic<bool>& stop;   // checked before every line
    int ansiCodePage;                // Windows code page number used for ANSI
};

// Cuts a text into lines and hands them over, stopping when `stop` is set.
void ScanTextLines(TextView text, LineSink& sink, const std::atomic<bool>& stop);

// Reads a file through a 4096-byte buffer, one line at a time. Throws
// ReadError/DecodeError; the lines handed over before a failure stay handed over.
void ScanFileStream(const Text& path, Encoding encoding, ReadContext& ctx);

// Loads the whole file first (UTF-8, else ANSI from scratch), then hands over
// its lines.
void ScanMemoryStream(const Text& path, ReadContext& ctx);

// Reads a whole text file (mark first, 4096-byte buffer) into one text, line
// breaks included. Throws.
void LoadText(const Text& path, Encoding encoding, int ansiCodePage, Text& text);

// Reads a whole text file into lines (mark first, 4096-byte buffer). Throws.
void LoadLines(const Text& path, Encoding encoding, int ansiCodePage, Lines& lines);

// Size of the reading buffer.
inline constexpr std::size_t kReadBufferSize = 4096;

}  // namespace corvexa
