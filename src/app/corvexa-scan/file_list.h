#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/text.h"

namespace corvexa::cli {

// A file list: one path per line; a UTF-16 list is recognised by its
// byte-order mark, anything else is taken as bytes (file names need not be
// valid UTF-8). Empty lines are skipped.
std::vector<Text> ParseFileList(std::string_view bytes);

// Reads the list file at path ("-": standard input) and parses it. Throws on a
// read failure.
std::vector<Text> ReadFileList(const std::string& path);

}  // namespace corvexa::cli
