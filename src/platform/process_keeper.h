#pragma once

#include <sys/resource.h>
#include <sys/types.h>

namespace corvexa::platform::detail {

// Everything the forked side needs, prepared before the fork: after it only
// async-signal-safe calls are made, so nothing here allocates.
struct LaunchPlan {
    const char* program = nullptr;  // a full path
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    int stdinFd = -1;                     // becomes standard input; -1 keeps ours
    int outputFd = -1;                    // becomes standard output and standard error
    int reportFd = -1;                    // where the keeper writes its Report
    const char* workingFolder = nullptr;  // null keeps ours
    rlim_t fileSizeLimit = 0;             // zero: none
    bool cutNetwork = false;
    pid_t parent = 0;              // the process that forked the keeper
    const char* uidMap = nullptr;  // "UID UID 1" for a user namespace
    const char* gidMap = nullptr;
};

// What the keeper tells the parent when its program is over.
struct Report {
    enum Kind : int { Ended = 1, NotStarted = 2, Stopped = 3 };
    int kind = 0;
    int value = 0;  // the wait status (Ended, Stopped) or errno (NotStarted)
};

// The keeper: a process of ours between us and the program. It dies with us,
// becomes the reaper of everything the program starts (even what leaves its
// group or session), starts the program, waits for it or for SIGTERM, then
// kills and reaps every descendant left and writes a Report. Never returns.
[[noreturn]] void RunKeeper(const LaunchPlan& plan);

}  // namespace corvexa::platform::detail
