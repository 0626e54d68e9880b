#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace corvexa::test {

struct ScannerResult {
    int status = -1;
    std::string out, err;
};

// Runs corvexa-scan (CORVEXA_SCAN, else from PATH) with the arguments and
// standard input from /dev/null; `during` runs while it is running.
ScannerResult RunScannerProcess(const std::vector<std::string>& args,
                                const std::function<void(pid_t)>& during = {});

}  // namespace corvexa::test
