#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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

// Starts the program with the pipe's write end as its standard output and
// error; returns the child's pid or -1 with errno set.
pid_t Spawn(const ProcessRequest& req, int pipeWrite) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    if (!req.inheritStdin) posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeWrite, 1);
    posix_spawn_file_actions_adddup2(&actions, pipeWrite, 2);
    if (!req.workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, req.workingFolder.c_str());
    // A group of its own, so everything it starts can be ended together; and
    // default signal handling, whatever ours is.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> args = req.argv;
    std::vector<std::string> env = MergedEnvironment(req.environment);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return pid;
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

// Waits for the child while draining its output; ends it on timeout or cancel.
ProcessResult Supervise(const ProcessRequest& req, pid_t pid, int pipeRead) {
    ProcessResult result;
    Fd pidfd{static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))};
    const auto deadline = Clock::now() + req.timeout;
    bool pipeOpen = true;
    int status = 0;
    for (;;) {
        pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid) break;
        if (req.cancel && req.cancel->load(std::memory_order_relaxed))
            result.outcome = ProcessOutcome::Cancelled;
        else if (req.timeout.count() > 0 && Clock::now() >= deadline)
            result.outcome = ProcessOutcome::TimedOut;
        if (result.outcome != ProcessOutcome::NotStarted) {
            ::kill(-pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            ::kill(-pid, SIGKILL);
            return result;
        }
        pollfd fds[2];
        nfds_t n = 0;
        if (pipeOpen) fds[n++] = {pipeRead, POLLIN, 0};
        if (pidfd.fd >= 0) fds[n++] = {pidfd.fd, POLLIN, 0};
        // Without a pidfd the exit is noticed by polling, a few times a second
        // at worst; a cancel flag is looked at as often.
        int waitMs = (pidfd.fd >= 0 && !req.cancel) ? 1000 : 20;
        if (pidfd.fd < 0 && !pipeOpen) waitMs = 2;
        if (req.timeout.count() > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(std::max<long long>(0, std::min<long long>(waitMs, left.count() + 1)));
        }
        if (n == 0) {
            ::usleep(static_cast<useconds_t>(waitMs) * 1000);
        } else if (::poll(fds, n, waitMs) > 0 && pipeOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            pipeOpen = Drain(pipeRead, req);
        }
    }
    // What it wrote just before it ended.
    if (pipeOpen) Drain(pipeRead, req);
    // It has ended: whatever it left running in its group goes too.
    ::kill(-pid, SIGKILL);
    if (WIFEXITED(status)) {
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
    if (request.argv.empty() || request.argv[0].empty()) {
        result.error = ENOENT;
        return result;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.error = errno;
        return result;
    }
    Fd readEnd{fds[0]}, writeEnd{fds[1]};
    pid_t pid = Spawn(request, writeEnd.fd);
    if (pid < 0) {
        result.error = errno;
        return result;
    }
    writeEnd.Close();
    ::fcntl(readEnd.fd, F_SETFL, ::fcntl(readEnd.fd, F_GETFL) | O_NONBLOCK);
    if (request.fileSizeLimit != 0) {
        // Set at once after the start, before the program has read its input.
        const struct rlimit limit = {static_cast<rlim_t>(request.fileSizeLimit),
                                     static_cast<rlim_t>(request.fileSizeLimit)};
        ::prlimit(pid, RLIMIT_FSIZE, &limit, nullptr);
    }
    return Supervise(request, pid, readEnd.fd);
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
