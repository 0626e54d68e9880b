#pragma once

#include <string>
#include <vector>

#include "app/corvexa-scan/scan_options.h"
#include "engine/file_list.h"

namespace corvexa::cli {

// Runs the whole command; returns the exit status.
int Run(const std::vector<std::string>& args);

}  // namespace corvexa::cli
