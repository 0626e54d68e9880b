#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/byte_source.h"

namespace corvexa {

namespace platform {
class LiveProcess;
class PrivateFolder;
}  // namespace platform

// One office suite kept running for a whole scan, started on the first
// document that needs it, and every document converted by it in turn: a start
// of the suite costs seconds, a conversion by a running one a fraction of that.
// A small bridge program (Python, through the suite's own interface) stands
// between us and the suite, taking one request a line on its standard input.
// It runs as every outside program of ours does: in a keeper that dies with
// us, without network, in a private folder with the suite's profile that
// refuses remote content. A document that hangs the suite past its time-out,
// or one that crashes it, fails alone: the suite is ended with everything it
// started, and the next document starts a fresh one. STOP ends it at once.
// One conversion at a time.
class OfficeService {
public:
    // soffice: the suite's program. bridge: the program that runs the bridge
    // and its first arguments; empty: a Python 3 that can load the suite's
    // interface, with the built-in script. (Tests put a stand-in there.)
    explicit OfficeService(std::string soffice, std::vector<std::string> bridge = {});
    ~OfficeService();
    OfficeService(const OfficeService&) = delete;
    OfficeService& operator=(const OfficeService&) = delete;

    enum class Outcome {
        Done,         // the suite is through with it: the output folder says what came of it
        Unavailable,  // no bridge can run here: convert it with a start of its own
    };
    // Converts document (a path without tab or line break) with the export
    // filter ("EXTENSION:FILTER:OPTIONS", as the suite's conversion command
    // takes it) into outFolder, named after the document. *log receives what
    // the suite said meanwhile. Throws ReadError when the conversion took
    // longer than timeout (the suite's start included), was stopped, or the
    // suite died.
    Outcome Convert(const std::string& document, const std::string& filter,
                    const std::string& outFolder, std::chrono::milliseconds timeout,
                    const std::atomic<bool>* stop, std::string* log);

    // How many times the suite was started (tests see a restart here).
    int Starts() const { return starts_; }

    // The suite died, or its bridge said what no bridge says.
    struct Crashed : ReadError {
        Crashed() : ReadError("the office suite crashed") {}
    };

private:
    // Starts the bridge with the first request already on its way; false when
    // no bridge can run here. Throws as Convert.
    bool StartBridge(const std::string& firstRequest,
                     std::chrono::steady_clock::time_point deadline, const std::atomic<bool>* stop);
    void EndBridge();
    // The next reply's status word, its payload in *payload; throws as
    // Convert when none comes.
    std::string TakeReply(std::chrono::steady_clock::time_point deadline,
                          const std::atomic<bool>* stop, std::string* payload);

    std::string soffice_;
    std::vector<std::string> bridge_;
    std::mutex mutex_;
    bool unavailable_ = false;
    int starts_ = 0;
    std::string received_;  // what the bridge said past the last reply taken
    std::unique_ptr<platform::PrivateFolder> folder_;
    std::unique_ptr<platform::LiveProcess> process_;
};

// The suite's fresh profile, made in folder (which must not exist yet): links
// a document makes to the web are refused and every web address goes to a
// proxy where nothing answers. It is made as the suite (soffice) leaves a
// profile after its first start, so that start does only what a conversion
// needs. False, errno set, on failure.
bool WriteOfficeProfile(const std::string& folder, const std::string& soffice);

// The program that starts the suite for the running suite: the launcher that
// the suite's own start script ends in, when soffice is that script (the
// script finds its folder through a dozen small programs first, which a
// first document would wait for), else soffice itself.
std::string OfficeLauncher(const std::string& soffice);

// The build of the suite, as its installation names it (versionrc beside the
// program); empty when it does not say.
std::string OfficeBuildId(const std::string& soffice);

// A file: URL for a local path, every byte outside the safe set escaped.
std::string OfficeFileUrl(const std::string& path);

}  // namespace corvexa
