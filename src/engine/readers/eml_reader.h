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

// The "eml" reader: EmlText for ".eml" files.
std::shared_ptr<DocumentReader> MakeEmlReader();

}  // namespace corvexa
