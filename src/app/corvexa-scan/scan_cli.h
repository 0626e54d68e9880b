#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/collector.h"
#include "results/views.h"

namespace corvexa::cli {

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
    bool help = false;
    unsigned threads = 0;    // -j: readers; 0 until parsed, then at least 1
    bool withFilename = false;  // -H
    bool lineNumber = false;    // -n
    bool count = false;         // --count
};

// Parses the command line. On a usage error returns nothing and sets *error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error);

std::string HelpText();

// Reads a file list: one path per line; a UTF-16 list is recognised by its
// byte-order mark, anything else is taken as bytes (file names need not be
// valid UTF-8). Empty lines are skipped. Throws on a read failure.
std::vector<Text> ReadFileList(const std::string& path);

// Runs the whole command; returns the exit status.
int Run(const std::vector<std::string>& args);

}  // namespace corvexa::cli
