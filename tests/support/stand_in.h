#pragma once

// Stand-ins for outside programs (a converter, the office suite) and the
// processes they become.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace corvexa::test {

// Writes a shell script below `dir` that runs `body`, executable by its owner
// only, and returns its full path.
std::filesystem::path WriteStandIn(const TempDir& dir, const std::string& relative,
                                   const std::string& body);
// The same at a full path, making its folder first.
std::filesystem::path WriteStandIn(const std::filesystem::path& program, const std::string& body);

// Running, as opposed to gone or a zombie waiting for whoever adopted it.
bool Alive(pid_t pid);

// True once the process is gone; waits up to `patience` for that.
bool Gone(pid_t pid, std::chrono::milliseconds patience = std::chrono::minutes(1));

}  // namespace corvexa::test
