#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/readers/document_reader.h"
#include "engine/text.h"

namespace corvexa {

// The text of an e-mail message stored in a file (MIME): the decoded text
// parts in message order (plain and HTML alike, the HTML as source; nested
// multiparts and forwarded messages included; attachments skipped), then the
// body outside the parts, then the header lines in file order, unfolded and
// with encoded words decoded; CR LF after each. Throws ReadError when the file
// cannot be read or holds no message.
Text EmlText(const Text& path);
// The same for a message held in memory (one message of a mailbox); name
// says which in errors.
Text EmlTextOfBytes(std::string_view bytes, const std::string& name);

// The same text handed to feed in pieces of a bounded size (about
// kEmlPieceLength code units; a header line up to kLongestHeader bytes is one
// piece), decoded as it is read: a part of hundreds of MB costs no more than
// a piece. A header line longer than kLongestHeader is decoded only as far as
// that bound, and the message then counts as partly read (PartialRead, with
// no text of its own, thrown once everything was handed over).
constexpr std::size_t kEmlPieceLength = std::size_t{1} << 16;
constexpr std::size_t kLongestHeader = std::size_t{1} << 20;
void EmlStream(const Text& path, const TextPieces& feed);
void EmlStreamOfBytes(std::string_view bytes, const std::string& name, const TextPieces& feed);

// The "eml" reader: EmlText for ".eml" files.
std::shared_ptr<DocumentReader> MakeEmlReader();

}  // namespace corvexa
