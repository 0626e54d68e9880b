#pragma once

#include <cstddef>
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

}  // namespace corvexa
