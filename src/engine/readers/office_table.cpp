#include "engine/readers/office_table.h"

namespace corvexa {

namespace {

void AppendCell(std::string& cell, Text& out) {
    for (char& c : cell)
        if (c == '\n') c = ' ';
    out += FromUtf8(cell);
    cell.clear();
}

}  // namespace

void AppendSheetText(std::string_view csv, TextView separator, Text& out) {
    if (csv.size() >= 3 && csv.substr(0, 3) == "\xEF\xBB\xBF") csv.remove_prefix(3);
    std::string cell;
    bool quoted = false;   // inside a quoted field
    bool rowOpen = false;  // something of the current row has been read
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (quoted) {
            if (c != '"') {
                cell += c;
            } else if (i + 1 < csv.size() && csv[i + 1] == '"') {
                cell += '"';
                ++i;
            } else {
                quoted = false;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
            rowOpen = true;
        } else if (c == ',') {
            AppendCell(cell, out);
            out += separator;
            rowOpen = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') ++i;
            AppendCell(cell, out);
            out += u"\r\n";
            rowOpen = false;
        } else {
            cell += c;
            rowOpen = true;
        }
    }
    if (rowOpen) {
        AppendCell(cell, out);
        out += u"\r\n";
    }
}

std::vector<std::string> SheetFilesFromLog(std::string_view log, std::string_view folder) {
    static constexpr std::string_view kPrefix = "Writing sheet ";
    std::vector<std::string> files;
    const std::string arrow = " -> " + std::string(folder);
    while (!log.empty()) {
        std::size_t end = log.find('\n');
        std::string_view line = log.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.substr(0, kPrefix.size()) == kPrefix) {
            std::size_t at = line.rfind(arrow);
            if (at != std::string_view::npos) files.emplace_back(line.substr(at + 4));
        }
        if (end == std::string_view::npos) break;
        log.remove_prefix(end + 1);
    }
    return files;
}

}  // namespace corvexa
