#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/process_keeper.h"

extern char** environ;

namespace corvexa::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    ~Fd() { Close(); }
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// Our environment with the request's entries put over it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extra)
            if (x.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
        if (!replaced) env.push_back(std::move(entry));
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    p.reserve(strings.size() + 1);
    for (std::string& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

// The keepers running now, so that a last-moment exit can stop them from a
// signal handler. Lock-free: a slot is claimed with a compare-exchange.
constexpr int kKeeperSlots = 64;
std::atomic<pid_t> g_keepers[kKeeperSlots];

// Claims a slot for the keeper; -1 when all are taken.
int ClaimSlot(pid_t pid) {
    for (int i = 0; i < kKeeperSlots; ++i) {
        pid_t expected = 0;
        if (g_keepers[i].compare_exchange_strong(expected, pid)) return i;
    }
    return -1;
}

void ReleaseSlot(int slot) {
    if (slot >= 0) g_keepers[slot].store(0);
}

// Registers a keeper while it runs.
class KeeperSlot {
public:
    explicit KeeperSlot(pid_t pid) : slot_(ClaimSlot(pid)) {}
    ~KeeperSlot() { ReleaseSlot(slot_); }
    KeeperSlot(const KeeperSlot&) = delete;
    KeeperSlot& operator=(const KeeperSlot&) = delete;

private:
    int slot_ = -1;
};

// The argument vector, environment and namespace maps of one start, kept
// alive while the plan points into them.
struct PlanStorage {
    std::string program;
    std::vector<std::string> args, env;
    std::vector<char*> argv, envp;
    std::string uidMap, gidMap;
};

// Prepares the plan of a start; false (errno set) when there is no such program.
bool MakePlan(const ProcessRequest& req, PlanStorage& storage, detail::LaunchPlan& plan) {
    storage.program = FindExecutable(req.argv[0]);
    if (storage.program.empty()) {
        errno = ENOENT;
        return false;
    }
    storage.args = req.argv;
    storage.env = MergedEnvironment(req.environment);
    storage.argv = Pointers(storage.args);
    storage.envp = Pointers(storage.env);
    storage.uidMap = std::to_string(::geteuid()) + " " + std::to_string(::geteuid()) + " 1";
    storage.gidMap = std::to_string(::getegid()) + " " + std::to_string(::getegid()) + " 1";
    plan.program = storage.program.c_str();
    plan.argv = storage.argv.data();
    plan.envp = storage.envp.data();
    plan.workingFolder = req.workingFolder.empty() ? nullptr : req.workingFolder.c_str();
    plan.fileSizeLimit = static_cast<rlim_t>(req.fileSizeLimit);
    plan.cutNetwork = req.cutNetwork;
    plan.parent = ::getpid();
    plan.uidMap = storage.uidMap.c_str();
    plan.gidMap = storage.gidMap.c_str();
    return true;
}

// Reads whatever is in the pipe, keeping it when the request asks for it;
// false at its end.
bool Drain(int fd, const ProcessRequest& req) {
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            if (req.output && req.output->size() < req.outputLimit)
                req.output->append(buffer, std::min(static_cast<std::size_t>(n),
                                                    req.outputLimit - req.output->size()));
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

// How long a keeper told to stop may take to end everything before it is
// killed itself (only a descendant stuck in the kernel can hold it up).
constexpr auto kKeeperGrace = std::chrono::seconds(10);

// Waits for the keeper to end, at most until the deadline; false when it
// has not.
bool AwaitKeeper(pid_t keeper, int pidfd, Clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t w = ::waitpid(keeper, &status, WNOHANG);
        if (w == keeper || (w < 0 && errno != EINTR)) return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        int waitMs = static_cast<int>(std::min<long long>(left.count() + 1, 1000));
        if (pidfd >= 0) {
            pollfd fd{pidfd, POLLIN, 0};
            ::poll(&fd, 1, waitMs);
        } else {
            ::usleep(static_cast<useconds_t>(std::min(waitMs, 5)) * 1000);
        }
    }
}

// Tells the keeper to end the program and everything it started, and waits
// for that; kills the keeper when it takes too long.
void StopKeeper(pid_t keeper, int pidfd) {
    ::kill(keeper, SIGTERM);
    if (AwaitKeeper(keeper, pidfd, Clock::now() + kKeeperGrace)) return;
    ::kill(keeper, SIGKILL);
    while (::waitpid(keeper, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Drains the program's output until the keeper ends, the timeout passes or
// the cancel flag is raised. Returns the outcome of a stop, or Exited when
// the keeper ended by itself.
ProcessOutcome Supervise(const ProcessRequest& req, pid_t keeper, int pipeRead) {
    Fd pidfd{static_cast<int>(::syscall(SYS_pidfd_open, keeper, 0))};
    const auto deadline = Clock::now() + req.timeout;
    bool pipeOpen = true;
    for (;;) {
        int status = 0;
        const pid_t w = ::waitpid(keeper, &status, WNOHANG);
        if (w == keeper || (w < 0 && errno == ECHILD)) break;
        ProcessOutcome stop = ProcessOutcome::Exited;
        if (req.cancel && req.cancel->load(std::memory_order_relaxed))
            stop = ProcessOutcome::Cancelled;
        else if (req.timeout.count() > 0 && Clock::now() >= deadline)
            stop = ProcessOutcome::TimedOut;
        if (stop != ProcessOutcome::Exited) {
            StopKeeper(keeper, pidfd.fd);
            return stop;
        }
        pollfd fds[2];
        nfds_t n = 0;
        if (pipeOpen) fds[n++] = {pipeRead, POLLIN, 0};
        if (pidfd.fd >= 0) fds[n++] = {pidfd.fd, POLLIN, 0};
        // Without a pidfd the end is noticed by polling, a few times a second
        // at worst; a cancel flag is looked at as often.
        int waitMs = (pidfd.fd >= 0 && !req.cancel) ? 1000 : 20;
        if (pidfd.fd < 0 && !pipeOpen) waitMs = 2;
        if (req.timeout.count() > 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(
                std::max<long long>(0, std::min<long long>(waitMs, left.count() + 1)));
        }
        if (n == 0) {
            ::usleep(static_cast<useconds_t>(waitMs) * 1000);
        } else if (::poll(fds, n, waitMs) > 0 && pipeOpen &&
                   (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            pipeOpen = Drain(pipeRead, req);
        }
    }
    // What it wrote just before it ended.
    if (pipeOpen) Drain(pipeRead, req);
    return ProcessOutcome::Exited;
}

// The result the keeper reported for a program that was not stopped by us.
ProcessResult FromReport(int reportFd) {
    ProcessResult result;
    detail::Report report;
    ssize_t n;
    while ((n = ::read(reportFd, &report, sizeof report)) < 0 && errno == EINTR) {
    }
    if (n != static_cast<ssize_t>(sizeof report)) {
        result.outcome = ProcessOutcome::Signalled;  // the keeper itself was killed
        return result;
    }
    const int status = report.value;
    if (report.kind == detail::Report::NotStarted) {
        result.error = report.value;
    } else if (report.kind == detail::Report::Ended && WIFEXITED(status)) {
        result.outcome = ProcessOutcome::Exited;
        result.exitCode = WEXITSTATUS(status);
    } else {
        result.outcome = ProcessOutcome::Signalled;
        result.exitCode = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    }
    return result;
}

}  // namespace

ProcessResult RunHiddenProcess(const ProcessRequest& request) {
    ProcessResult result;
    PlanStorage storage;
    detail::LaunchPlan plan;
    if (request.argv.empty() || request.argv[0].empty() || !MakePlan(request, storage, plan)) {
        result.error = ENOENT;
        return result;
    }
    int output[2], report[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        result.error = errno;
        return result;
    }
    Fd readEnd{output[0]}, writeEnd{output[1]};
    if (::pipe2(report, O_CLOEXEC) != 0) {
        result.error = errno;
        return result;
    }
    Fd reportRead{report[0]}, reportWrite{report[1]};
    Fd devNull{request.inheritStdin ? -1 : ::open("/dev/null", O_RDONLY | O_CLOEXEC)};
    plan.stdinFd = devNull.fd;
    plan.outputFd = writeEnd.fd;
    plan.reportFd = reportWrite.fd;
    const pid_t keeper = ::fork();
    if (keeper == 0) detail::RunKeeper(plan);
    if (keeper < 0) {
        result.error = errno;
        return result;
    }
    KeeperSlot slot(keeper);
    writeEnd.Close();
    reportWrite.Close();
    ::fcntl(readEnd.fd, F_SETFL, ::fcntl(readEnd.fd, F_GETFL) | O_NONBLOCK);
    const ProcessOutcome stop = Supervise(request, keeper, readEnd.fd);
    if (stop != ProcessOutcome::Exited) {
        result.outcome = stop;
        return result;
    }
    return FromReport(reportRead.fd);
}

std::unique_ptr<LiveProcess> LiveProcess::Start(const ProcessRequest& request, int* error) {
    PlanStorage storage;
    detail::LaunchPlan plan;
    if (request.argv.empty() || request.argv[0].empty() || !MakePlan(request, storage, plan)) {
        *error = ENOENT;
        return nullptr;
    }
    // Its standard input is a socket, so that a write to a program that is
    // gone fails instead of raising SIGPIPE.
    int input[2], output[2], report[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0) {
        *error = errno;
        return nullptr;
    }
    Fd inMine{input[0]}, inTheirs{input[1]};
    if (::pipe2(output, O_CLOEXEC) != 0) {
        *error = errno;
        return nullptr;
    }
    Fd outMine{output[0]}, outTheirs{output[1]};
    if (::pipe2(report, O_CLOEXEC) != 0) {
        *error = errno;
        return nullptr;
    }
    Fd reportRead{report[0]}, reportWrite{report[1]};
    plan.stdinFd = inTheirs.fd;
    plan.outputFd = outTheirs.fd;
    plan.reportFd = reportWrite.fd;
    const pid_t keeper = ::fork();
    if (keeper == 0) detail::RunKeeper(plan);
    if (keeper < 0) {
        *error = errno;
        return nullptr;
    }
    std::unique_ptr<LiveProcess> live(new LiveProcess);
    live->keeper_ = keeper;
    live->slot_ = ClaimSlot(keeper);
    live->pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, keeper, 0));
    live->input_ = std::exchange(inMine.fd, -1);
    live->output_ = std::exchange(outMine.fd, -1);
    ::fcntl(live->output_, F_SETFL, ::fcntl(live->output_, F_GETFL) | O_NONBLOCK);
    return live;
}

LiveProcess::~LiveProcess() {
    End();
}

void LiveProcess::End() {
    if (keeper_ > 0) {
        StopKeeper(keeper_, pidfd_);
        ReleaseSlot(slot_);
        keeper_ = -1;
    }
    for (int* fd : {&pidfd_, &input_, &output_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

bool LiveProcess::Send(std::string_view data) {
    while (!data.empty() && input_ >= 0) {
        const ssize_t n = ::send(input_, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return data.empty();
}

ProcessOutcome LiveProcess::Receive(std::string* received,
                                    const std::function<bool(const std::string&)>& complete,
                                    Clock::time_point deadline, const std::atomic<bool>* cancel,
                                    std::size_t limit) {
    char buffer[65536];
    for (;;) {
        if (complete(*received)) return ProcessOutcome::Exited;
        ProcessOutcome stop = ProcessOutcome::Exited;
        if (output_ < 0 || received->size() > limit)
            stop = ProcessOutcome::Signalled;
        else if (cancel && cancel->load(std::memory_order_relaxed))
            stop = ProcessOutcome::Cancelled;
        else if (Clock::now() >= deadline)
            stop = ProcessOutcome::TimedOut;
        if (stop != ProcessOutcome::Exited) {
            End();
            return stop;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        // A cancel flag is looked at a few times a second at worst.
        pollfd fd{output_, POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 20)));
        const ssize_t n = ::read(output_, buffer, sizeof buffer);
        if (n > 0) {
            received->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            ::close(output_);
            output_ = -1;
        }
    }
}

void EndRunningProcesses() noexcept {
    for (std::atomic<pid_t>& keeper : g_keepers) {
        const pid_t pid = keeper.load();
        if (pid > 0) ::kill(pid, SIGTERM);
    }
}

ProcessResult RunHiddenCommand(const std::vector<std::string>& argv, const std::string& directory,
                               std::chrono::milliseconds timeout, const std::atomic<bool>* cancel,
                               std::uint64_t fileSizeLimit) {
    ProcessRequest request;
    request.fileSizeLimit = fileSizeLimit;
    request.argv = argv;
    request.workingFolder = directory;
    request.inheritStdin = true;
    request.timeout = timeout;
    request.cancel = cancel;
    return RunHiddenProcess(request);
}

std::string FindExecutable(const std::string& name) {
    auto executable = [](const std::string& p) {
        struct stat st;
        return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
    };
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return executable(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (executable(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

std::string ExecutableFolderNative() {
    std::string buffer(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return ".";
    buffer.resize(static_cast<std::size_t>(n));
    std::size_t slash = buffer.rfind('/');
    return slash == 0 ? std::string("/") : buffer.substr(0, slash);
}

}  // namespace corvexa::platform
