#include "support/run_scanner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace corvexa::test {

pid_t SpawnScanner(const std::vector<std::string>& args,
                   const std::function<void(posix_spawn_file_actions_t&)>& files) {
    const char* binary = std::getenv("CORVEXA_SCAN");
    std::vector<std::string> all{binary ? binary : "corvexa-scan"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    files(fa);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

ScannerResult RunScannerProcess(const std::vector<std::string>& args,
                                const std::function<void(pid_t)>& during) {
    TempDir io;
    const std::string outPath = (io.Path() / "out").string();
    const std::string errPath = (io.Path() / "err").string();
    ScannerResult r;
    const pid_t pid = SpawnScanner(args, [&](posix_spawn_file_actions_t& fa) {
        constexpr int kCreate = O_WRONLY | O_CREAT | O_TRUNC;
        posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), kCreate, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), kCreate, 0600);
    });
    if (pid == 0) return r;
    if (during) during(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadFileBytes(outPath);
    r.err = ReadFileBytes(errPath);
    return r;
}

bool WaitUntilCatching(pid_t pid, int signal) {
    const std::string statusFile = "/proc/" + std::to_string(pid) + "/status";
    for (int i = 0; i < 12000; ++i) {
        std::ifstream in(statusFile);
        if (!in) return false;
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("SigCgt:", 0) != 0) continue;
            const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
            if (caught & (1ULL << (signal - 1))) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace corvexa::test
