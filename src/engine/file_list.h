#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/text.h"

namespace corvexa {

// Reads a list of files, one path per line: "Load File List..." in the window
// and `corvexa-scan --files-from` take lists through these same rules.
//
// - A UTF-16 byte-order mark selects UTF-16 (strict).
// - Otherwise (a UTF-8 mark or none) each line is decided alone: a line that
//   is valid UTF-8 is read as UTF-8 (what `find > list.txt` and editors write),
//   and a line that is not keeps its bytes as the name, since a file name here
//   is a string of bytes that need not be UTF-8. The program's own export
//   writes such a name as those bytes, so the list names the same files when it
//   is loaded again or handed to another program. One odd name never changes
//   how the other lines are read.
//
// Lines end at CR, LF or CR LF, and a final line break adds no entry.
enum class EmptyLines {
    Keep,  // every line is an entry, an empty one included (the window's list)
    Skip,  // empty lines are left out (the command line)
};
std::vector<Text> ParseFileList(std::string_view bytes, EmptyLines empty = EmptyLines::Keep);

// Reads the list at path and parses it. Only a regular file is read (a pipe or
// device would block the window). Throws ReadError/DecodeError.
std::vector<Text> LoadFileList(const Text& path);

// The command line's list: a file, a pipe (`--files-from <(find ...)`) or
// standard input for "-"; empty lines are left out. Throws ReadError/DecodeError.
std::vector<Text> ReadFileListArgument(const std::string& argument);

}  // namespace corvexa
