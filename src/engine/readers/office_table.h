#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/text.h"

namespace corvexa {

// Appends one sheet, given as the office suite's CSV export writes it (comma
// separated, fields with a comma, quote or line break in double quotes, quotes
// doubled, UTF-8, rows ended by LF), as lines: each row's cells joined by the
// separator, every line feed inside a cell replaced by a space, CR LF after each
// row. Empty cells and empty rows are kept, so columns never shift.
void AppendSheetText(std::string_view csv, TextView separator, Text& out);

// The files the office suite reports writing in the folder, one per sheet, in
// sheet order: its "Writing sheet NAME -> PATH" lines.
std::vector<std::string> SheetFilesFromLog(std::string_view log, std::string_view folder);

}  // namespace corvexa
