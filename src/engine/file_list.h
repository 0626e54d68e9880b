#pragma once

#include <vector>

#include "engine/text.h"

namespace corvexa {

// Reads a list of files, one path per line, as "Load File List..." takes it.
//
// - A UTF-16 byte-order mark selects UTF-16 (strict).
// - A UTF-8 mark: the names are UTF-8 where the bytes are valid UTF-8; other
//   bytes are kept as the raw bytes of the name. A file name here is a string
//   of bytes that need not be UTF-8, and the program's own export writes such a
//   name as those bytes, so that the list names the same files when it is
//   loaded again (or handed to another program).
// - No mark: strict UTF-8 when the whole file is valid UTF-8 (what `find` and
//   editors write), otherwise the ANSI code page.
//
// Lines end at CR, LF or CR LF; every line, an empty one included, is an entry,
// and a final line break adds none. Throws ReadError/DecodeError.
std::vector<Text> LoadFileList(const Text& path, int ansiCodePage);

// The same rules applied to a file's bytes.
std::vector<Text> ParseFileList(std::string_view bytes, int ansiCodePage);

}  // namespace corvexa
