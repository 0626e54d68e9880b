// Outside programs run with an argument vector, their output drained, and
// nothing of theirs left running after a timeout or a cancel.
#include "platform/process.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/stand_in.h"
#include "support/temp_dir.h"

using namespace corvexa::platform;
using corvexa::test::Gone;
using corvexa::test::ReadFileBytes;
using corvexa::test::TempDir;

namespace {

ProcessResult Sh(const std::string& script, std::vector<std::string> args = {},
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(0)) {
    ProcessRequest r;
    r.argv = {"/bin/sh", "-c", script, "sh"};
    r.argv.insert(r.argv.end(), args.begin(), args.end());
    r.timeout = timeout;
    return RunHiddenProcess(r);
}

pid_t ReadPid(const std::filesystem::path& p) {
    for (int i = 0; i < 200; ++i) {
        std::string s = ReadFileBytes(p);
        if (!s.empty() && s.back() == '\n') return static_cast<pid_t>(std::stol(s));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

}  // namespace

TEST(RunHiddenProcess, ExitStatusAndStartFailures) {
    EXPECT_TRUE(Sh("exit 0").Succeeded());
    ProcessResult r = Sh("exit 3");
    EXPECT_EQ(r.outcome, ProcessOutcome::Exited);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(r.Succeeded());
    EXPECT_EQ(Sh("kill -9 $$").outcome, ProcessOutcome::Signalled);

    ProcessRequest missing;
    missing.argv = {"corvexa-no-such-program"};
    r = RunHiddenProcess(missing);
    EXPECT_EQ(r.outcome, ProcessOutcome::NotStarted);
    EXPECT_EQ(r.error, ENOENT);
    EXPECT_EQ(RunHiddenProcess(ProcessRequest{}).outcome, ProcessOutcome::NotStarted);
}

TEST(RunHiddenProcess, ArgumentsArriveUnchangedAndRunNothing) {
    TempDir dir;
    const std::string out = (dir.Path() / "args").string();
    const std::vector<std::string> hostile = {"a b",           "\"quoted\"",  "$(touch pwned)",
                                              "`touch pwned`", "back\\slash", "semi;colon",
                                              "new\nline",     "'",           ""};
    std::vector<std::string> args = {out};
    args.insert(args.end(), hostile.begin(), hostile.end());
    ProcessRequest r;
    r.argv = {"/bin/sh", "-c",
              "out=$1; shift; for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$out\"", "sh"};
    r.argv.insert(r.argv.end(), args.begin(), args.end());
    r.workingFolder = dir.Path().string();
    ASSERT_TRUE(RunHiddenProcess(r).Succeeded());
    std::string expected;
    for (const std::string& a : hostile) expected += a + '\0';
    EXPECT_EQ(ReadFileBytes(out), expected);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "pwned"));
}

TEST(RunHiddenProcess, WorkingFolderEnvironmentAndStdin) {
    TempDir dir;
    ProcessRequest r;
    r.argv = {"/bin/sh", "-c", "pwd > where; printf '%s' \"$CORVEXA_PROBE\" > env; cat > in"};
    r.workingFolder = dir.Path().string();
    r.environment = {"CORVEXA_PROBE=value with = sign"};
    r.inheritStdin = false;
    ASSERT_TRUE(RunHiddenProcess(r).Succeeded());
    EXPECT_EQ(ReadFileBytes(dir.Path() / "where"), dir.Path().string() + "\n");
    EXPECT_EQ(ReadFileBytes(dir.Path() / "env"), "value with = sign");
    EXPECT_EQ(ReadFileBytes(dir.Path() / "in"), "");
}

TEST(RunHiddenProcess, LargeOutputIsDrained) {
    // Far more than a pipe holds: the program would block forever if nobody read.
    EXPECT_TRUE(Sh("head -c 20000000 /dev/zero; head -c 5000000 /dev/zero >&2").Succeeded());
}

TEST(RunHiddenProcess, OutputIsKeptWhenAskedForUpToTheLimit) {
    std::string output;
    ProcessRequest r;
    // The last line comes just before the end: it is kept too.
    r.argv = {"/bin/sh", "-c",
              "echo one; echo two >&2; head -c 100000 /dev/zero | tr '\\0' x; echo; printf last"};
    r.output = &output;
    ASSERT_TRUE(RunHiddenProcess(r).Succeeded());
    EXPECT_EQ(output.substr(0, 8), "one\ntwo\n");
    EXPECT_EQ(output.size(), 8u + 100000u + 1u + 4u);
    EXPECT_EQ(output.substr(output.size() - 5), "\nlast");

    output.clear();
    r.outputLimit = 10;
    ASSERT_TRUE(RunHiddenProcess(r).Succeeded());
    EXPECT_EQ(output, "one\ntwo\nxx");
}

TEST(RunHiddenProcess, TimeoutAndCancelEndTheWholeGroup) {
    for (bool cancel : {false, true}) {
        TempDir dir;
        const auto pidFile = dir.Path() / "pid";
        std::atomic<bool> flag{false};
        ProcessRequest r;
        // The background child keeps the pipe open and ignores SIGTERM.
        r.argv = {"/bin/sh", "-c", "trap '' TERM; sleep 300 & echo $! > \"$1\"; wait", "sh",
                  pidFile.string()};
        if (cancel) {
            r.cancel = &flag;
        } else {
            r.timeout = std::chrono::milliseconds(300);
        }
        std::thread raiser;
        if (cancel)
            raiser = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                flag = true;
            });
        auto start = std::chrono::steady_clock::now();
        ProcessResult result = RunHiddenProcess(r);
        auto took = std::chrono::steady_clock::now() - start;
        if (raiser.joinable()) raiser.join();
        EXPECT_EQ(result.outcome, cancel ? ProcessOutcome::Cancelled : ProcessOutcome::TimedOut);
        EXPECT_LT(took, std::chrono::seconds(10));
        pid_t child = ReadPid(pidFile);
        ASSERT_GT(child, 0);
        EXPECT_TRUE(Gone(child, std::chrono::seconds(1)))
            << "background child survived, cancel=" << cancel;
    }
}

TEST(RunHiddenProcess, LeftoversOfAFinishedProgramAreEnded) {
    TempDir dir;
    const auto pidFile = dir.Path() / "pid";
    // The program ends at once, leaving a child that holds its output open.
    ProcessResult r =
        Sh("sleep 300 & echo $! > \"$1\"; exit 0", {pidFile.string()}, std::chrono::seconds(20));
    EXPECT_TRUE(r.Succeeded());
    pid_t child = ReadPid(pidFile);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(Gone(child, std::chrono::seconds(1)));
}

TEST(RunHiddenProcess, DescendantsThatLeaveTheGroupOrSessionAreEnded) {
    // Each program leaves a process behind that has left its group: in a
    // session of its own, and as the orphan of a double start. The run ends
    // by itself, by its time-out, or by a cancel.
    const char* leavers[] = {
        "setsid sleep 300 & echo $! > \"$1\"",
        "setsid sh -c 'sleep 300 & echo $! > \"$1\"' sh \"$1\"",
    };
    enum class End { Itself, TimeOut, Cancel };
    for (const char* leaver : leavers) {
        for (End end : {End::Itself, End::TimeOut, End::Cancel}) {
            TempDir dir;
            const auto pidFile = dir.Path() / "pid";
            std::atomic<bool> flag{false};
            ProcessRequest r;
            // The program goes on once the leaver has written its pid.
            const std::string rest =
                std::string("while [ ! -s \"$1\" ]; do sleep 0.01; done; ") +
                (end == End::Itself ? "exit 0" : "touch \"$1.seen\"; sleep 300");
            r.argv = {"/bin/sh", "-c", std::string(leaver) + "; " + rest, "sh", pidFile.string()};
            if (end == End::TimeOut)
                r.timeout = std::chrono::seconds(5);  // long after the pid is written
            if (end == End::Cancel) r.cancel = &flag;
            std::thread raiser;
            if (end == End::Cancel)
                raiser = std::thread([&] {
                    for (int i = 0;
                         i < 6000 && !std::filesystem::exists(pidFile.string() + ".seen"); ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    flag = true;
                });
            ProcessResult result = RunHiddenProcess(r);
            if (raiser.joinable()) raiser.join();
            const ProcessOutcome want[] = {ProcessOutcome::Exited, ProcessOutcome::TimedOut,
                                           ProcessOutcome::Cancelled};
            EXPECT_EQ(result.outcome, want[static_cast<int>(end)]) << leaver;
            pid_t leftover = ReadPid(pidFile);
            ASSERT_GT(leftover, 0) << leaver;
            EXPECT_TRUE(Gone(leftover, std::chrono::seconds(10)))
                << leaver << " end=" << static_cast<int>(end);
        }
    }
}

TEST(RunHiddenProcess, EndRunningProcessesEndsThemFromAnywhere) {
    TempDir dir;
    const auto pidFile = dir.Path() / "pid";
    std::thread ender([&] {
        ReadPid(pidFile);  // until it runs
        EndRunningProcesses();
    });
    ProcessResult r = Sh("trap '' TERM; setsid sleep 300 & echo $! > \"$1\"; wait",
                         {pidFile.string()}, std::chrono::seconds(120));
    ender.join();
    EXPECT_EQ(r.outcome, ProcessOutcome::Signalled);
    pid_t leftover = ReadPid(pidFile);
    ASSERT_GT(leftover, 0);
    EXPECT_TRUE(Gone(leftover, std::chrono::seconds(10)));
}

TEST(RunHiddenProcess, NoNetworkUnlessAllowed) {
    if (std::system("unshare -rn true >/dev/null 2>&1") != 0 &&
        std::system("unshare -n true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "this system lets no process make a network namespace";
    // A listener on the loopback: the program may connect to it only when its
    // network is left alone.
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));
    for (bool cut : {true, false}) {
        TempDir dir;
        ProcessRequest r;
        r.argv = {"bash", "-c",
                  "echo hello > /dev/tcp/127.0.0.1/" + port + " && touch reached; touch ran"};
        r.workingFolder = dir.Path().string();
        r.cutNetwork = cut;
        ASSERT_TRUE(RunHiddenProcess(r).Succeeded());
        EXPECT_TRUE(std::filesystem::exists(dir.Path() / "ran"));
        EXPECT_EQ(std::filesystem::exists(dir.Path() / "reached"), !cut);
        int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        EXPECT_EQ(connection >= 0, !cut) << "cut=" << cut;
        if (connection >= 0) close(connection);
    }
    close(listener);
}

TEST(FindExecutable, PathLookup) {
    EXPECT_EQ(FindExecutable("sh").empty(), false);
    EXPECT_EQ(FindExecutable("/bin/sh"), "/bin/sh");
    EXPECT_EQ(FindExecutable("corvexa-no-such-program"), "");
    EXPECT_EQ(FindExecutable("/etc/passwd"), "");  // not executable
    EXPECT_EQ(FindExecutable(""), "");
    EXPECT_FALSE(ExecutableFolderNative().empty());
    EXPECT_EQ(ExecutableFolderNative().back() == '/', ExecutableFolderNative() == "/");
}
