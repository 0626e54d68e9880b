#pragma once

#include <atomic>
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

// The command line's list read a piece at a time, so that a scan can start on
// the first names while the rest are read. The names, and the errors, are
// those ReadFileListArgument gives: each piece is whole lines, parsed with the
// line break before it (an empty line, left out), so that a mark at the list's
// start is read as a mark and nowhere else. A list in UTF-16 comes in one piece.
class FileListStream {
public:
    // Opens the list. Throws ReadError.
    explicit FileListStream(const std::string& argument);
    ~FileListStream();
    FileListStream(const FileListStream&) = delete;
    FileListStream& operator=(const FileListStream&) = delete;
    // The names of the next piece into `names` (replaced; it may be empty);
    // false at the list's end, or when a read was interrupted with `stop`
    // set. Throws ReadError/DecodeError.
    bool Next(std::vector<Text>& names, const std::atomic<bool>* stop = nullptr);

private:
    // Reads more bytes into pending_; false at the end of the list.
    bool ReadMore(std::size_t size, const std::atomic<bool>* stop);
    std::string argument_;
    int fd_ = -1;
    bool standardInput_ = false;
    bool ended_ = false;
    bool started_ = false;    // the list's first piece is parsed
    std::size_t pieces_ = 0;  // pieces so far, for the size of the next
    std::string pending_;     // bytes read and not parsed yet
};

}  // namespace corvexa
