#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/collector.h"
#include "engine/text.h"

namespace corvexa::test {

// A ScanSink that writes down every notification as a line of text, in the
// order they came ("FileFound PATH", "FileFailed PATH | REASON", ...), and
// calls `hook` with each one after noting it (on the thread that sent it).
struct RecordingSink : ScanSink {
    std::mutex mutex;
    std::vector<std::string> events;
    std::function<void(const std::string&)> hook;
    ScanSummary summary;
    int finished = 0;  // how many times ScanFinished came

    void Add(const std::string& e) {
        {
            std::lock_guard lock(mutex);
            events.push_back(e);
        }
        if (hook) hook(e);
    }
    void WalkStarted() override { Add("WalkStarted"); }
    void FileFound(const Text& p) override { Add("FileFound " + ToUtf8(p)); }
    void WalkFinished() override { Add("WalkFinished"); }
    void ReadingFile(const Text& p) override { Add("ReadingFile " + ToUtf8(p)); }
    void FileDone() override { Add("FileDone"); }
    void FileFailed(const Text& p, const std::string& reason) override {
        Add("FileFailed " + ToUtf8(p) + " | " + reason);
    }
    void ScanFinished(const ScanSummary& s) override {
        summary = s;
        ++finished;
        Add("ScanFinished");
    }
    // The events that begin with `prefix`, without it.
    std::vector<std::string> With(const std::string& prefix) {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
        return out;
    }
};

}  // namespace corvexa::test
