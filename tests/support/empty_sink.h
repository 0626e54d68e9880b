#pragma once

#include <string>

#include "engine/collector.h"

namespace corvexa::test {

// A ScanSink that ignores every notification. A test derives from it and
// overrides only the notifications it looks at.
struct EmptySink : ScanSink {
    void WalkStarted() override {}
    void FileFound(const Text&) override {}
    void WalkFinished() override {}
    void ReadingFile(const Text&) override {}
    void FileDone() override {}
    void FileFailed(const Text&, const std::string&) override {}
    void ScanFinished(const ScanSummary&) override {}
};

}  // namespace corvexa::test
