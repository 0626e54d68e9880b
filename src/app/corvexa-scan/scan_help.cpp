// --help and the manual page, both made from the option table.
#include <sstream>

#include "app/corvexa-scan/scan_options.h"

namespace corvexa::cli {

namespace {

constexpr const char* kSynopsis[] = {"[options] FOLDER", "[options] --files-from LIST",
                                     "[options] -- FILE..."};

constexpr const char* kDescription =
    "Finds web addresses (with a scheme or \"www.\"), e-mail addresses and ftp links in the files "
    "of a folder or of a file list, and prints every finding in the order found, one per line.";

constexpr const char* kNotes[] = {
    "Progress (files, bytes, findings, elapsed time) goes to standard error when it is a terminal. "
    "Ctrl-C or SIGTERM stops the scan cleanly and still writes the findings made so far.",
    "Files that could not be read (gone, refused, too large for the memory) are skipped; "
    "their count goes to standard error at the end, and with --verbose each one with its reason. "
    "They do not change the exit status.",
};

struct ExitStatus {
    const char* code;
    const char* meaning;
};
constexpr ExitStatus kExitStatus[] = {
    {"0", "done"},
    {"1", "the results cannot be written"},
    {"2", "bad arguments"},
    {"130", "stopped by Ctrl-C (SIGINT)"},
    {"143", "stopped by SIGTERM"},
};

std::string Label(const OptionDef& d) {
    if (!d.apply) return d.value;
    std::string n = d.names;
    std::string value = d.value ? std::string(" ") + d.value : "";
    if (n.size() > 2 && n[1] == ',') {
        // Appended piece by piece: "-" + a temporary trips GCC 12's -Wrestrict.
        std::string label = "-";
        label.append(n, 0, 1).append(value).append(", --").append(n, 2).append(value);
        return label;
    }
    return "--" + n + value;
}

// Wraps text into lines of at most width columns, each indented by indent.
void Wrap(std::ostream& out, const std::string& text, std::size_t column, std::size_t indent,
          std::size_t width) {
    std::istringstream words(text);
    std::string word;
    bool first = true;
    while (words >> word) {
        if (!first && column + 1 + word.size() > width) {
            out << '\n' << std::string(indent, ' ');
            column = indent;
        } else if (!first) {
            out << ' ';
            ++column;
        }
        out << word;
        column += word.size();
        first = false;
    }
    out << '\n';
}

std::string Roff(const std::string& text) {
    std::string r;
    for (char c : text) {
        if (c == '-' || c == '\\') r += '\\';
        r += c;
    }
    if (!r.empty() && (r[0] == '.' || r[0] == '\'')) r.insert(0, "\\&");
    return r;
}

// "Folder scan:" -> "Folder scan"; the note in brackets stays in the text.
std::string Heading(const char* group) {
    std::string g = group;
    if (!g.empty() && g.back() == ':') g.pop_back();
    return g;
}

}  // namespace

std::string HelpText() {
    constexpr std::size_t kWidth = 79, kIndent = 24;
    std::ostringstream out;
    for (std::size_t i = 0; i < std::size(kSynopsis); ++i)
        out << (i == 0 ? "Usage: " : "       ") << "corvexa-scan " << kSynopsis[i] << '\n';
    out << '\n';
    Wrap(out, kDescription, 0, 0, kWidth);
    const char* group = nullptr;
    for (const OptionDef& d : OptionTable()) {
        if (!group || std::string(group) != d.group) {
            group = d.group;
            out << '\n' << group << '\n';
        }
        std::string label = "  " + Label(d);
        out << label;
        if (label.size() + 2 > kIndent)
            out << '\n' << std::string(kIndent, ' ');
        else
            out << std::string(kIndent - label.size(), ' ');
        Wrap(out, d.help, kIndent, kIndent, kWidth);
    }
    for (const char* note : kNotes) {
        out << '\n';
        Wrap(out, note, 0, 0, kWidth);
    }
    std::string status = "Exit status:";
    for (std::size_t i = 0; i < std::size(kExitStatus); ++i)
        status +=
            std::string(i == 0 ? " " : ", ") + kExitStatus[i].code + " " + kExitStatus[i].meaning;
    out << '\n';
    Wrap(out, status + ".", 0, 0, kWidth);
    return out.str();
}

std::string ManPage(const std::string& version) {
    std::ostringstream out;
    out << ".TH CORVEXA\\-SCAN 1 \"\" \"corvexa\\-scan " << Roff(version)
        << "\" \"User Commands\"\n"
        << ".SH NAME\ncorvexa\\-scan \\- find web addresses, e\\-mail addresses and ftp links in "
           "files\n"
        << ".SH SYNOPSIS\n";
    for (const char* s : kSynopsis) out << ".B corvexa\\-scan\n" << Roff(s) << "\n.br\n";
    out << ".SH DESCRIPTION\n" << Roff(kDescription) << "\n.SH OPTIONS\n";
    const char* group = nullptr;
    for (const OptionDef& d : OptionTable()) {
        if (!group || std::string(group) != d.group) {
            group = d.group;
            out << ".SS " << Roff(Heading(group)) << '\n';
        }
        out << ".TP\n.B \"" << Roff(Label(d)) << "\"\n" << Roff(d.help) << '\n';
    }
    out << ".SH NOTES\n";
    for (const char* note : kNotes) out << ".PP\n" << Roff(note) << '\n';
    out << ".SH EXIT STATUS\n";
    for (const ExitStatus& s : kExitStatus)
        out << ".TP\n.B " << s.code << '\n' << Roff(s.meaning) << '\n';
    return out.str();
}

}  // namespace corvexa::cli
