#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/scan_job.h"
#include "engine/settings_table.h"
#include "results/views.h"

namespace corvexa::cli {

// What standard output is written as: lines of text, JSON Lines or CSV.
enum class OutputFormat { Text, Json, Csv };

// The scan before any option: the window's defaults for detection, subfolders
// and PDF reading; every file, of any size, and no document decoded.
ScanInputs CommandLineInputs();

// What the command line asks for. The scan itself is given as ScanInputs,
// checked but not yet built into a job: that needs the readers, which Run
// builds once.
struct Options {
    ScanInputs inputs = CommandLineInputs();
    bool memoryStream = DefaultMemoryStream();
    bool filesFromGiven = false;
    std::string filesFrom;           // a list file, "-" for standard input
    std::vector<std::string> files;  // after "--"
    std::string output;              // -o: export file instead of standard output
    std::string filesOut;            // --files-out
    results::ViewMode view = results::ViewMode::Url;
    bool dedup = false;
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
    unsigned threads = 0;                      // -j: readers; 0 until parsed, then at least 1
    bool withFilename = false;                 // -H
    bool lineNumber = false;                   // -n
    bool count = false;                        // --count
    OutputFormat format = OutputFormat::Text;  // --json, --format
};

// One command-line option. The table of these is the only place an option is
// described: the parser, --help and the manual page are all made from it.
struct OptionDef {
    const char* group;    // heading in --help and the manual page
    const char* names;    // "o,output": an optional one-letter name, then the long one
    const char* value;    // the value's name ("FILE"), or nullptr for a switch
    const char* help;     // one paragraph; --help wraps it
    const char* missing;  // the message when the value is missing (options with a value)
    // Applies the option (value is empty for a switch); on a bad value returns
    // false and sets *error.
    bool (*apply)(Options& o, const std::string& value, std::string* error);
};

std::span<const OptionDef> OptionTable();

// Parses the command line (without the program name). On a usage error
// returns nothing and sets *error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error);

// What a usage error says of a problem of the scan's inputs; empty for none.
std::string ProblemText(const ScanJobResult& checked);

// The --help text and the manual page (roff, section 1), both from the table.
std::string HelpText();
std::string ManPage(const std::string& version);

}  // namespace corvexa::cli
