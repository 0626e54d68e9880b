#pragma once

// Byte-order marks and the decoding of a file's bytes into UTF-16 text.

#include <cstddef>

#include "engine/byte_source.h"
#include "engine/text.h"

namespace corvexa {

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
//
// With replaceInvalid (used for text that starts with the UTF-8 mark, which
// names its encoding), UTF-8 never fails: each maximal ill-formed subsequence
// becomes one U+FFFD, as Unicode recommends, and the bytes after it (ASCII
// ones above all) are decoded as they stand.
class TextDecoder {
public:
    TextDecoder(Encoding encoding, int ansiCodePage, bool replaceInvalid = false);
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    // Replaces out with the text of the piece. Throws DecodeError.
    void Decode(const char* data, std::size_t size, bool last, Text& out);
    // Appends the text of the piece to out.
    void DecodeAppend(const char* data, std::size_t size, bool last, Text& out);
    // Writes the text of the piece into out from `base` on (base <= out.size())
    // and returns where it ends. out grows as needed but never shrinks: what
    // lies past the end is left as it was, so a buffer used again is written
    // over instead of being zeroed first. Throws DecodeError.
    std::size_t DecodeInto(const char* data, std::size_t size, bool last, Text& out,
                           std::size_t base);
    // DecodeInto without throwing: text that does not decode sets *error (null
    // before) to what is wrong with it, and the decoder is not to be used on.
    std::size_t TryDecodeInto(const char* data, std::size_t size, bool last, Text& out,
                              std::size_t base, const char** error);

    // Whether the next piece, when it is all ASCII, decodes to its bytes as
    // they stand, one unit each (UTF-8 and most ANSI code pages, with no
    // sequence carried over from the piece before).
    bool KeepsAscii() const {
        return carried_ == 0 && !icu_ && (table_ ? asciiSame_ : encoding_ == Encoding::Utf8);
    }

private:
    struct Icu;
    std::size_t DecodeIcu(const char* data, std::size_t size, bool last, Text& out,
                          std::size_t base);
    std::size_t DecodeUtf16(const unsigned char* bytes, std::size_t size, bool last, Text& out,
                            std::size_t base);
    std::size_t DecodeTable(const unsigned char* bytes, std::size_t size, Text& out,
                            std::size_t base);

    Encoding encoding_;
    int ansiCodePage_;
    unsigned char carry_[4];
    std::size_t carried_ = 0;
    Icu* icu_ = nullptr;               // ANSI of several bytes, and UTF-8 with replacement
    const char16_t* table_ = nullptr;  // ANSI of one byte a character: its 256 characters
    bool asciiSame_ = false;           // table_ leaves every ASCII byte as it is
};

// Whether every byte is below 0x80.
bool IsAscii(const char* data, std::size_t size);

// Whether bytes are strict UTF-8 throughout, as TextDecoder reads them: the
// same bytes decode as UTF-8 without an error exactly when this is true.
// With `ascii`, also tells whether every byte is below 0x80.
bool IsStrictUtf8(const unsigned char* data, std::size_t size, bool* ascii = nullptr);

}  // namespace corvexa
