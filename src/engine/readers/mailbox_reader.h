#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/byte_source.h"

namespace corvexa {

// Mailboxes: an mbox file holds messages one after another, each after a line
// that starts with "From " at the start of the file or after an empty line;
// a line of the message that started so was written with ">" before it
// (">From ", ">>From ", ...), and one ">" is taken off again. A Maildir folder
// keeps one message a file in its cur/ and new/ folders.

// Whether the file name is read as an mbox: "mbox" itself or an ending
// ".mbox" or ".mbx" (ASCII case ignored).
bool IsMboxName(std::string_view path);
// Whether the file lies in a folder named "cur" or "new" (a Maildir's).
bool IsMaildirMessage(std::string_view path);

// Hands the messages of the mbox in source to visit one at a time, numbered
// from 1, without their "From " line and with the escapes undone; memory holds
// one message at most. A message longer than maxMessage is not handed over:
// tooLong is called with its number instead and the rest is read. Checks stop
// between lines. Returns the number of messages; 0 when the source does not
// start with "From " (no mbox: read it as it is). Throws ReadError.
using MessageVisitor = std::function<void(std::uint64_t number, std::string_view message)>;
std::uint64_t ReadMbox(ByteSource& source, std::size_t maxMessage, const MessageVisitor& visit,
                       const std::function<void(std::uint64_t number)>& tooLong,
                       const std::atomic<bool>& stop);

}  // namespace corvexa
