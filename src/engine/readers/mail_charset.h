#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/text.h"

namespace corvexa {

// Character sets as mail readers and browsers decode them: a label (the
// charset parameter of a message part) names one encoding of a fixed table, so
// that "iso-8859-1", "latin1" and "us-ascii" all decode as windows-1252 and
// "gb2312" as GBK.

// The encoding a label names ("windows-1252", "Shift_JIS", ...), empty when the
// label is unknown. Letter case and surrounding white space do not matter.
std::string_view EncodingForLabel(std::string_view label);

// The ICU converter that decodes an encoding of the table; empty for the two
// encodings decoded without one ("replacement", "x-user-defined" and
// "ISO-8859-16", which ICU lacks).
std::string_view ConverterForEncoding(std::string_view encoding);

// Every encoding of the table, for tests.
std::size_t EncodingCount();
std::string_view EncodingAt(std::size_t i);

// Appends the text of bytes written in the charset a label names. With a
// missing or unknown label the bytes are taken as UTF-8 when they are valid
// UTF-8 and as windows-1252 otherwise. Never fails: bytes a charset does not
// define become U+FFFD.
void AppendDecoded(const char* data, std::size_t size, std::string_view label, Text& out);

// Decodes bytes that arrive in pieces, as AppendDecoded decodes them whole:
// the text of all pieces is that of AppendDecoded on their bytes joined. The
// choice that AppendDecoded makes for a missing or unknown label from the
// whole content is made by the caller (validUtf8: the whole content is valid
// UTF-8, see Utf8Checker).
class MailDecoder {
public:
    MailDecoder(std::string_view label, bool validUtf8);
    ~MailDecoder();
    MailDecoder(const MailDecoder&) = delete;
    MailDecoder& operator=(const MailDecoder&) = delete;

    // Appends the text of the next piece; `last` for the final one.
    void Append(const char* data, std::size_t size, bool last, Text& out);

private:
    enum class Way { Replacement, UserDefined, Latin10, Utf8, Converter };
    void AppendUtf8(const char* data, std::size_t size, bool last, Text& out);

    Way way_ = Way::Converter;
    std::string converter_;
    struct Icu;
    Icu* icu_ = nullptr;
    bool anyBytes_ = false;
    std::string carry_;  // UTF-8: the start of a sequence the piece cut
};

// Whether bytes that arrive in pieces are valid UTF-8 as a whole.
class Utf8Checker {
public:
    void Add(const char* data, std::size_t size);
    bool Valid() const { return valid_ && carry_.empty(); }

private:
    bool valid_ = true;
    std::string carry_;
};

// Whether a label names an encoding of the table.
inline bool IsKnownLabel(std::string_view label) {
    return !EncodingForLabel(label).empty();
}

}  // namespace corvexa
