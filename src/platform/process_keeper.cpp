// The forked side of running an outside program. Everything here runs in a
// child of a possibly multi-threaded process, so it keeps to async-signal-safe
// system calls: no allocation, no locks, no stdio.
#include "platform/process_keeper.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <initializer_list>

namespace corvexa::platform::detail {

namespace {

std::size_t Length(const char* s) {
    std::size_t n = 0;
    while (s[n]) ++n;
    return n;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t w = ::write(fd, p, size);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        size -= static_cast<std::size_t>(w);
    }
    return true;
}

bool WriteFile(const char* path, const char* text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, text, Length(text));
    ::close(fd);
    return ok;
}

// Every signal back to its default action and none blocked, whatever the
// process that forked us had set.
void DefaultSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int s = 1; s < NSIG; ++s) {
        if (s != SIGKILL && s != SIGSTOP) ::sigaction(s, &action, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// A network namespace of its own holds only a loopback that is down: nothing
// can be reached. Without the right to make one directly, a user namespace
// gives it, with our own ids mapped to themselves. Where neither is allowed
// the program runs as it is.
void CutNetwork(const LaunchPlan& plan) {
    if (::unshare(CLONE_NEWNET) == 0) return;
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return;
    WriteFile("/proc/self/setgroups", "deny");
    WriteFile("/proc/self/uid_map", plan.uidMap);
    WriteFile("/proc/self/gid_map", plan.gidMap);
}

// The program itself: dies with the keeper, in a group of its own, with the
// plan's descriptors, folder and limits. Reports errno on execFd when it
// cannot be started.
[[noreturn]] void StartProgram(const LaunchPlan& plan, pid_t keeper, int execFd) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != keeper) ::_exit(127);
    ::setpgid(0, 0);
    DefaultSignals();
    if (plan.stdinFd >= 0) ::dup2(plan.stdinFd, 0);
    ::dup2(plan.outputFd, 1);
    ::dup2(plan.outputFd, 2);
    // Nothing else of ours crosses into the program.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    int error = 0;
    if (plan.workingFolder && ::chdir(plan.workingFolder) != 0) error = errno;
    if (!error && plan.fileSizeLimit != 0) {
        const struct rlimit limit = {plan.fileSizeLimit, plan.fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) error = errno;
    }
    if (!error) {
        if (plan.cutNetwork) CutNetwork(plan);
        ::execve(plan.program, plan.argv, plan.envp);
        error = errno;
    }
    WriteAll(execFd, &error, sizeof error);
    ::_exit(127);
}

// Appends the decimal digits of n.
char* PutNumber(char* p, long n) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n > 0);
    while (count > 0) *p++ = digits[--count];
    return p;
}

// Sends SIGKILL to every child the keeper has right now: the program's
// descendants come to it as their parents die, since it is their reaper.
void KillChildren() {
    char path[64] = "/proc/self/task/";
    char* p = PutNumber(path + Length(path), ::getpid());
    const char tail[] = "/children";
    for (std::size_t i = 0; i < sizeof tail; ++i) *p++ = tail[i];
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buffer[1024];
    long pid = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] >= '0' && buffer[i] <= '9') {
                pid = pid * 10 + (buffer[i] - '0');
            } else {
                if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
                pid = 0;
            }
        }
    }
    if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
    ::close(fd);
}

// Waits for the program to end or for SIGTERM (a stop from the parent, or the
// parent's death). True when the program ended; its wait status in *status.
bool WaitForProgram(pid_t program, int* status) {
    sigset_t waitFor;
    sigemptyset(&waitFor);
    sigaddset(&waitFor, SIGCHLD);
    sigaddset(&waitFor, SIGTERM);
    for (;;) {
        // Reap what has ended: the program, or a descendant that came to us.
        for (;;) {
            int st = 0;
            const pid_t w = ::waitpid(-1, &st, WNOHANG);
            if (w <= 0) break;
            if (w == program) {
                *status = st;
                return true;
            }
        }
        siginfo_t info;
        if (::sigwaitinfo(&waitFor, &info) == SIGTERM) return false;
    }
}

// Ends the program's group and every descendant, however far it went, and
// reaps them all. Sets *status when the program is among them.
void EndEverything(pid_t program, bool programEnded, int* status) {
    ::kill(-program, SIGKILL);
    if (!programEnded) ::kill(program, SIGKILL);
    for (;;) {
        KillChildren();
        int st = 0;
        const pid_t w = ::waitpid(-1, &st, 0);
        if (w < 0) {
            if (errno == EINTR) continue;
            break;  // no child left
        }
        if (w == program && !programEnded) *status = st;
    }
}

}  // namespace

void RunKeeper(const LaunchPlan& plan) {
    // SIGTERM, also what our death sends, is taken through sigwaitinfo.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGCHLD);
    sigaddset(&blocked, SIGTERM);
    ::sigprocmask(SIG_SETMASK, &blocked, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != plan.parent) ::_exit(1);  // the parent is already gone
    // A terminal's Ctrl-C reaches the parent, which then stops us itself.
    ::setpgid(0, 0);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int s : {SIGINT, SIGQUIT, SIGHUP, SIGPIPE}) ::sigaction(s, &ignore, nullptr);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    Report report;
    int execPipe[2];
    if (::pipe2(execPipe, O_CLOEXEC) != 0) {
        report = {Report::NotStarted, errno};
        WriteAll(plan.reportFd, &report, sizeof report);
        ::_exit(0);
    }
    const pid_t keeper = ::getpid();
    const pid_t program = ::fork();
    if (program == 0) StartProgram(plan, keeper, execPipe[1]);
    ::close(execPipe[1]);
    int error = program < 0 ? errno : 0;
    if (program > 0) {
        ssize_t n;
        while ((n = ::read(execPipe[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
        if (n != static_cast<ssize_t>(sizeof error)) error = 0;
    }
    ::close(execPipe[0]);
    // The keeper holds nothing of the parent's but its report pipe.
    if (plan.reportFd > 0) ::close_range(0, static_cast<unsigned>(plan.reportFd) - 1, 0);
    ::close_range(static_cast<unsigned>(plan.reportFd) + 1, ~0U, 0);

    int status = 0;
    bool ended = false;
    if (error == 0) ended = WaitForProgram(program, &status);
    if (program > 0) EndEverything(program, ended || error != 0, &status);
    if (error != 0) {
        report = {Report::NotStarted, error};
    } else {
        report = {ended ? Report::Ended : Report::Stopped, status};
    }
    WriteAll(plan.reportFd, &report, sizeof report);
    ::_exit(0);
}

}  // namespace corvexa::platform::detail
