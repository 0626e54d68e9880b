#pragma once

#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/collector.h"
#include "results/views.h"

namespace corvexa::cli {

// What standard output is written as: lines of text, JSON Lines or CSV.
enum class OutputFormat { Text, Json, Csv };

struct Options {
    ScanJob job;
    bool email = true, ftp = true, http = true, https = true, www = true;
    bool memoryStream = false;
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
    unsigned threads = 0;       // -j: readers; 0 until parsed, then at least 1
    bool withFilename = false;  // -H
    bool lineNumber = false;    // -n
    bool count = false;         // --count
    OutputFormat format = OutputFormat::Text;  // --json, --format
    // Why decoders asked for are left off (their reader cannot run here), each once.
    std::set<std::string> readerWarnings;
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

// The --help text and the manual page (roff, section 1), both from the table.
std::string HelpText();
std::string ManPage(const std::string& version);

}  // namespace corvexa::cli
