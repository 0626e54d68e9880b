#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvexa::platform {

// One run of an outside program (a converter, an office suite) that the scan
// waits for. The program gets an argument vector, never a command line, so no
// file name can turn into shell syntax.
struct ProcessRequest {
    // argv[0] is the program: a path, or a bare name looked up on PATH.
    std::vector<std::string> argv;
    // The program's working folder; empty keeps ours.
    std::string workingFolder;
    // "NAME=value" entries added to (or replacing in) our own environment.
    std::vector<std::string> environment;
    // Standard input: ours when true, /dev/null otherwise.
    bool inheritStdin = true;
    // How long the program may run; zero waits without a limit.
    std::chrono::milliseconds timeout{0};
    // Checked while waiting; when it becomes true the program is ended.
    const std::atomic<bool>* cancel = nullptr;
    // When set, receives what the program writes to standard output and
    // standard error (interleaved as written), up to outputLimit bytes; the
    // rest is read and thrown away.
    std::string* output = nullptr;
    std::size_t outputLimit = 1 << 20;
    // The largest file the program may write, in bytes (zero: no limit): past
    // it the kernel refuses the write and ends the program (SIGXFSZ).
    std::uint64_t fileSizeLimit = 0;
    // Started in a network namespace of its own, where nothing can be
    // reached, whenever the system lets us make one.
    bool cutNetwork = true;
};

enum class ProcessOutcome {
    Exited,      // ended by itself; exitCode holds its status
    Signalled,   // killed by a signal it did not expect from us
    TimedOut,    // ran past the timeout and was killed
    Cancelled,   // the cancel flag was raised and it was killed
    NotStarted,  // could not be started at all (error holds errno)
};

struct ProcessResult {
    ProcessOutcome outcome = ProcessOutcome::NotStarted;
    int exitCode = -1;
    int error = 0;
    bool Succeeded() const { return outcome == ProcessOutcome::Exited && exitCode == 0; }
};

// Runs the program in a process group of its own, with standard output and
// standard error read from a pipe and thrown away, and waits for it. A keeper
// process of ours stands between us and the program: both die with the
// thread that started them (even when we are killed outright), and the keeper
// is the reaper of every process the program starts. When the program ends,
// times out or is cancelled, every descendant it left is killed, also those
// that left its group or session, so nothing outlives the call.
ProcessResult RunHiddenProcess(const ProcessRequest& request);

// Tells every program running through RunHiddenProcess to end, with all it
// started. Safe to call from a signal handler; it does not wait.
void EndRunningProcesses() noexcept;

// A program that keeps running while we talk to it: requests go to its
// standard input, replies come from its standard output (standard error goes
// there too). It is started and guarded as RunHiddenProcess does (a keeper that
// dies with us and reaps all it starts, no network, in a group of its own), so
// ending it, by us, by EndRunningProcesses or by our death, ends everything it
// started. The request's timeout, cancel and output fields are not used: each
// Receive has its own.
class LiveProcess {
public:
    using Clock = std::chrono::steady_clock;
    // Null, with *error set to errno, when it cannot be started.
    static std::unique_ptr<LiveProcess> Start(const ProcessRequest& request, int* error);
    // Ends it, with everything it started.
    ~LiveProcess();
    LiveProcess(const LiveProcess&) = delete;
    LiveProcess& operator=(const LiveProcess&) = delete;

    // Writes all of data to its standard input; false when it is gone.
    bool Send(std::string_view data);
    // Appends what it writes to *received until complete(*received) holds
    // (Exited), up to limit bytes. Past the deadline (TimedOut), when *cancel
    // is raised (Cancelled) or past the limit (Signalled) it is ended at once;
    // when its output ends first, it is over (Signalled).
    ProcessOutcome Receive(std::string* received,
                           const std::function<bool(const std::string&)>& complete,
                           Clock::time_point deadline, const std::atomic<bool>* cancel,
                           std::size_t limit);
    bool Running() const { return keeper_ > 0; }

private:
    LiveProcess() = default;
    void End();
    int keeper_ = -1;
    int pidfd_ = -1;
    int input_ = -1;   // our end of its standard input
    int output_ = -1;  // our end of its standard output
    int slot_ = -1;    // where EndRunningProcesses finds it
};

// A converter's run as the PDF reader needs it: the argument vector (argv[0] a
// path or a name looked up on PATH), started in the given working folder (empty
// keeps ours), our standard input, its output thrown away, no window. Ended
// after the timeout (zero: none) or when *cancel becomes true.
ProcessResult RunHiddenCommand(const std::vector<std::string>& argv, const std::string& directory,
                               std::chrono::milliseconds timeout,
                               const std::atomic<bool>* cancel = nullptr,
                               std::uint64_t fileSizeLimit = 0);

// The full path of a program found on PATH (or the name itself when it holds a
// slash and is executable); empty when there is none.
std::string FindExecutable(const std::string& name);

// The folder holding the running executable, as the file system names it,
// without a trailing separator. (The windows use the Qt form in desktop.h.)
std::string ExecutableFolderNative();

}  // namespace corvexa::platform
