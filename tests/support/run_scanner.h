#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace corvexa::test {

struct ScannerResult {
    int status = -1;
    std::string out, err;
};

// Starts corvexa-scan (CORVEXA_SCAN, else from PATH) with the arguments and
// standard input from /dev/null; `files` adds what its standard output and
// error become. Returns its process id, or 0 when it could not be started.
pid_t SpawnScanner(const std::vector<std::string>& args,
                   const std::function<void(posix_spawn_file_actions_t&)>& files);

// Runs corvexa-scan (CORVEXA_SCAN, else from PATH) with the arguments and
// standard input from /dev/null; `during` runs while it is running.
ScannerResult RunScannerProcess(const std::vector<std::string>& args,
                                const std::function<void(pid_t)>& during = {});

// Waits until the process catches the signal, that is until its start-up is
// over and a signal would stop its scan rather than kill it. False when that
// does not happen within a minute, or the process is gone.
bool WaitUntilCatching(pid_t pid, int signal);

}  // namespace corvexa::test
