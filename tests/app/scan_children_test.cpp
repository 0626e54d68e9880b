// corvexa-scan and the outside programs it starts: none outlives the scan or
// the scanner, however the scanner ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/run_scanner.h"
#include "support/stand_in.h"
#include "support/temp_dir.h"

using corvexa::test::Gone;
using corvexa::test::ReadFileBytes;
using corvexa::test::RunScannerProcess;
using corvexa::test::ScannerResult;
using corvexa::test::SpawnScanner;
using corvexa::test::TempDir;
using corvexa::test::WaitUntilCatching;
using corvexa::test::WriteStandIn;
namespace fs = std::filesystem;

namespace {

// The number a file holds once it is written whole (it ends with a newline);
// zero when that does not happen within a minute.
pid_t WaitForPid(const fs::path& file) {
    for (int i = 0; i < 6000; ++i) {
        const std::string s = ReadFileBytes(file);
        if (!s.empty() && s.back() == '\n') return static_cast<pid_t>(std::stol(s));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// A stand-in PDF converter found on PATH before any real one, for as long as
// the object lives.
class StandInConverter {
public:
    explicit StandInConverter(const std::string& body) {
        WriteStandIn(dir_, "bin/pdftotext", body);
        const char* path = std::getenv("PATH");
        saved_ = path ? path : "/usr/bin:/bin";
        setenv("PATH", ((dir_.Path() / "bin").string() + ":" + saved_).c_str(), 1);
    }
    ~StandInConverter() { setenv("PATH", saved_.c_str(), 1); }
    StandInConverter(const StandInConverter&) = delete;
    StandInConverter& operator=(const StandInConverter&) = delete;
    fs::path File(const std::string& name) const { return dir_.Path() / name; }

private:
    TempDir dir_;
    std::string saved_;
};

}  // namespace

TEST(ScanChildren, KilledScannerTakesItsConverterAlongAndItsFolderGoesAtTheNextStart) {
    TempDir docs;
    docs.Write("a.pdf", "%PDF-1.4\n");
    StandInConverter converter("printf '%s\\n' \"$TMPDIR\" > '" +
                               (docs.Path() / "tmpdir").string() + "'; echo $$ > '" +
                               (docs.Path() / "pid").string() + "'; sleep 300");
    pid_t child = 0;
    ScannerResult killed =
        RunScannerProcess({"--quiet", "--", (docs.Path() / "a.pdf").string()}, [&](pid_t scanner) {
            child = WaitForPid(docs.Path() / "pid");
            kill(scanner, SIGKILL);
        });
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(Gone(child)) << "the converter outlived the scanner";

    // Its temporary folder was our private folder, which the killed scanner
    // left; the next start removes it.
    std::string tmp = ReadFileBytes(docs.Path() / "tmpdir");
    ASSERT_FALSE(tmp.empty());
    tmp.pop_back();
    EXPECT_EQ(fs::path(tmp).filename().string().rfind("corvexa-", 0), 0u) << tmp;
    struct stat st {};
    ASSERT_EQ(lstat(tmp.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    RunScannerProcess({"--quiet", "--", (docs.Path() / "tmpdir").string()});
    EXPECT_FALSE(fs::exists(tmp)) << tmp;
}

TEST(ScanChildren, WhatAConverterStartsInASessionOfItsOwnEndsWithTheScan) {
    TempDir docs;
    docs.Write("a.pdf", "%PDF-1.4\n");
    const fs::path pidFile = docs.Path() / "grandchild";
    // The converter ends only once its child has left for a session of its own.
    StandInConverter converter(
        "setsid sh -c 'echo $$ > \"$1\"; exec sleep 300' sh '" + pidFile.string() +
        "' & while [ ! -s '" + pidFile.string() +
        "' ]; do sleep 0.01; done; printf 'http://converted.example/\\n' > \"$4\"");
    ScannerResult r = RunScannerProcess({"--", (docs.Path() / "a.pdf").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "http://converted.example/\n");
    const pid_t grandchild = WaitForPid(pidFile);
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(Gone(grandchild)) << "the converter's detached child outlived the scan";
}

// Starts the scanner with `args`, its standard output a pipe nobody reads
// (returned in `out`, the reading end).
pid_t SpawnIntoUnreadPipe(const std::vector<std::string>& args, int& out) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return 0;
    const pid_t scanner = SpawnScanner(args, [&](posix_spawn_file_actions_t& fa) {
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    });
    close(fds[1]);
    out = fds[0];
    return scanner;
}

// Waits until the pipe holds all it can.
bool WaitUntilFull(int pipe) {
    const int capacity = fcntl(pipe, F_GETPIPE_SZ);
    int queued = 0;
    for (int i = 0; i < 6000 && (ioctl(pipe, FIONREAD, &queued) != 0 || queued < capacity); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return queued >= capacity;
}

// Waits until a signal sent to the process is no longer pending: a thread has
// taken it, so a second one is not merged with it.
bool WaitUntilTaken(pid_t pid, int signal) {
    const std::string statusFile = "/proc/" + std::to_string(pid) + "/status";
    for (int i = 0; i < 12000; ++i) {
        std::ifstream in(statusFile);
        if (!in) return false;
        bool pending = false;
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("ShdPnd:", 0) != 0 && line.rfind("SigPnd:", 0) != 0) continue;
            if (std::stoull(line.substr(7), nullptr, 16) & (1ULL << (signal - 1))) pending = true;
        }
        if (!pending) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool EndedBy(pid_t process, int signal) {
    int status = 0;
    if (waitpid(process, &status, 0) != process) return false;
    return WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

std::string ManyAddresses() {
    std::string many;
    for (int i = 0; i < 40000; ++i) many += "http://host" + std::to_string(i) + ".example.com/\n";
    return many;
}

TEST(ScanChildren, ASecondSignalEndsTheScannerWhateverItIsDoing) {
    // The first SIGTERM stops the scan; the scanner then writes its findings
    // (with their files: written once the scan is over) to a pipe nobody
    // reads and blocks there. The second one ends it.
    TempDir docs;
    docs.Write("many.txt", ManyAddresses());
    docs.Write("hang.pdf", "%PDF-1.4\n");
    const fs::path pidFile = docs.Path() / "pid";
    StandInConverter converter("trap '' TERM INT; echo $$ > '" + pidFile.string() +
                               "'; while :; do sleep 1; done");
    int out = -1;
    const pid_t scanner =
        SpawnIntoUnreadPipe({"-j", "1", "--quiet", "-H", "--", (docs.Path() / "many.txt").string(),
                             (docs.Path() / "hang.pdf").string()},
                            out);
    ASSERT_GT(scanner, 0);
    EXPECT_TRUE(WaitUntilCatching(scanner, SIGTERM));
    const pid_t child = WaitForPid(pidFile);  // the text file is done, the converter hangs
    ASSERT_GT(child, 0);
    kill(scanner, SIGTERM);
    // Stopped in order: the converter is ended, and the findings fill the pipe.
    EXPECT_TRUE(Gone(child));
    EXPECT_TRUE(WaitUntilFull(out));
    kill(scanner, SIGTERM);
    EXPECT_TRUE(EndedBy(scanner, SIGTERM));
    close(out);
}

TEST(ScanChildren, ASecondSignalEndsAScannerBlockedPrintingWhileItScans) {
    // Plain findings go out while the scan runs: with nobody reading, the
    // scanner blocks in the middle of the scan; the second SIGTERM ends it.
    TempDir docs;
    docs.Write("many.txt", ManyAddresses());
    docs.Write("more.txt", ManyAddresses());
    int out = -1;
    const pid_t scanner =
        SpawnIntoUnreadPipe({"-j", "2", "--quiet", "--", (docs.Path() / "many.txt").string(),
                             (docs.Path() / "more.txt").string()},
                            out);
    ASSERT_GT(scanner, 0);
    EXPECT_TRUE(WaitUntilCatching(scanner, SIGTERM));
    EXPECT_TRUE(WaitUntilFull(out));
    kill(scanner, SIGTERM);
    EXPECT_TRUE(WaitUntilTaken(scanner, SIGTERM));
    kill(scanner, SIGTERM);
    EXPECT_TRUE(EndedBy(scanner, SIGTERM));
    close(out);
}
