#include "app/corvexa-scan/scan_cli.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/corvexa-scan/scan_output.h"
#include "engine/parallel_scan.h"
#include "engine/scan_job.h"
#include "engine/readers/text_reader.h"
#include "platform/ansi_codepage.h"
#include "platform/fd_io.h"
#include "platform/native_path.h"
#include "platform/private_folder.h"
#include "platform/process.h"
#include "platform/tick.h"
#include "results/dedup.h"
#include "results/export.h"
#include "version/version_info.h"

namespace corvexa::cli {

namespace {

constexpr const char* kProgram = "corvexa-scan";

}  // namespace

namespace {

std::atomic<bool>* g_stopFlag = nullptr;
volatile sig_atomic_t g_interrupted = 0;  // the signal that stopped the scan

// The first Ctrl-C or SIGTERM stops the scan in order; a second one ends the
// program at once, whatever a reader is doing, after telling the outside
// programs still running to end with everything they started.
extern "C" void OnInterrupt(int signal) {
    if (g_interrupted) {
        platform::EndRunningProcesses();
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signal, &fallback, nullptr);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(signal);
        ::_exit(128 + signal);
    }
    g_interrupted = signal;
    if (g_stopFlag) g_stopFlag->store(true);
}

// Counts what the collector reports and, on a terminal, shows it.
class CliSink : public ScanSink {
public:
    CliSink(bool progress, bool walking, const SharedList& files, const SharedList& urls)
        : progress_(progress), files_(files), urls_(urls), walked_(!walking) {}

    void WalkStarted() override {}
    void FileFound(const Text&) override {}
    void WalkFinished() override { walked_ = true; }
    void ReadingFile(const Text& path) override {
        if (progress_) {
            std::int64_t size = FileSizeOf(path);
            if (size > 0) bytes_ += static_cast<std::uint64_t>(size);
        }
        ++started_;
    }
    void FileDone() override {}
    void FileFailed(const Text& path, const std::string& reason) override {
        std::lock_guard lock(mutex_);
        failed_.push_back({path, reason});
    }
    void ScanFinished(const ScanSummary& summary) override {
        std::lock_guard lock(mutex_);
        summary_ = summary;
        endTick_ = platform::TickCount32();
        finished_ = true;
        cv_.notify_all();
    }

    // Shows progress until the scan has finished.
    void ShowProgressUntilFinished(std::uint32_t startTick) {
        std::unique_lock lock(mutex_);
        while (!finished_) {
            cv_.wait_for(lock, std::chrono::milliseconds(250));
            if (progress_ && !finished_) PrintLine(startTick, platform::TickCount32());
        }
        if (progress_) {
            PrintLine(startTick, endTick_);
            std::fputc('\n', stderr);
        }
    }

    const ScanSummary& Summary() const { return summary_; }
    // The files that could not be read, with the reason, in the order read.
    const std::vector<std::pair<Text, std::string>>& Failed() const { return failed_; }
    std::uint32_t EndTick() const { return endTick_; }

private:
    void PrintLine(std::uint32_t startTick, std::uint32_t now) {
        std::size_t done = started_.load();
        std::size_t total = files_.Size();
        std::fprintf(stderr, "\r%s %zu/%zu files  %.1f MB  %zu findings  %.1f s\033[K",
                     walked_ ? "reading" : "listing", done, total,
                     static_cast<double>(bytes_.load()) / 1048576.0, urls_.Size(),
                     ElapsedSeconds(startTick, now));
        std::fflush(stderr);
    }

    bool progress_;
    const SharedList& files_;
    const SharedList& urls_;
    std::atomic<bool> walked_{false};
    std::atomic<std::size_t> started_{0};
    std::atomic<std::uint64_t> bytes_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool finished_ = false;
    ScanSummary summary_;
    std::uint32_t endTick_ = 0;
    std::vector<std::pair<Text, std::string>> failed_;
};

// The list on standard output: UTF-8, one entry per line, LF.
bool PrintList(const SharedList& list) {
    std::string buffer;
    buffer.reserve(1 << 16);
    Text entry;
    for (std::size_t i = 0; list.TryAt(i, entry); ++i) {
        buffer += ToUtf8(entry);
        buffer += '\n';
        if (buffer.size() >= (1 << 16)) {
            if (!platform::WriteFull(1, buffer.data(), buffer.size())) return false;
            buffer.clear();
        }
    }
    return platform::WriteFull(1, buffer.data(), buffer.size());
}

bool ParentFolderExists(const std::string& file) {
    std::string parent = ".";
    if (auto slash = file.find_last_of('/'); slash != std::string::npos)
        parent = slash == 0 ? "/" : file.substr(0, slash);
    struct stat st;
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Files that could not be read: a count by default, each one with its reason
// when verbose. They never change the exit status.
void ReportFailedFiles(const std::vector<std::pair<Text, std::string>>& failed, bool verbose) {
    if (failed.empty()) return;
    if (verbose) {
        for (const auto& [path, reason] : failed)
            std::fprintf(stderr, "%s: %s: %s\n", kProgram,
                         platform::NativeFromPath(path).c_str(), reason.c_str());
    } else {
        std::fprintf(stderr, "%s: %zu file%s could not be read (--verbose names them)\n", kProgram,
                     failed.size(), failed.size() == 1 ? "" : "s");
    }
}

// The version from the executable's own version block.
int PrintVersion() {
    try {
        version::TEXEVersionData data = version::GetVersionData("/proc/self/exe");
        std::printf("%s %s\n", kProgram, ToUtf8(data.FileVersion).c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        return 1;
    }
}

}  // namespace

int Run(const std::vector<std::string>& args) {
    std::string error;
    auto parsed = ParseOptions(args, &error);
    if (!parsed) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
                     error.c_str(), kProgram);
        return 2;
    }
    Options& o = *parsed;
    if (o.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (o.version) return PrintVersion();
    for (const std::string* out : {&o.output, &o.filesOut}) {
        if (!out->empty() && !ParentFolderExists(*out)) {
            std::fprintf(stderr, "%s: cannot write %s: its folder does not exist\n", kProgram,
                         out->c_str());
            return 2;
        }
    }

    // What earlier runs that were killed left in the temporary folders.
    platform::SweepStalePrivateFolders();

    results::ResultLists lists;
    SharedList files;
    ScanControl control;
    control.Switches.email = o.email;
    control.Switches.ftp = o.ftp;
    control.Switches.http = o.http;
    control.Switches.https = o.https;
    control.Switches.www = o.www;
    control.MemoryStream = o.memoryStream;
    control.AnsiCodePage = platform::AnsiCodePage();

    if (o.job.Mode == ScanMode::FileList) {
        try {
            std::vector<Text> list;
            if (o.filesFromGiven) {
                list = ReadFileList(o.filesFrom);
            } else {
                for (const std::string& f : o.files) list.push_back(platform::PathFromNative(f));
            }
            files.Assign(list);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
            return 2;
        }
    } else {
        struct stat st;
        std::string folder = platform::NativeFromPath(o.job.Folder);
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            std::fprintf(stderr, "%s: warning: directory not found: %s\n", kProgram, folder.c_str());
    }

    // The job already holds the office readers only where the suite is (as the
    // window's START does). The PDF converter's output goes to a private
    // temporary folder.
    for (const std::string& warning : o.readerWarnings)
        std::fprintf(stderr, "%s: warning: %s\n", kProgram, warning.c_str());
    DocumentReaderOptions readerOptions;
    readerOptions.cancel = &control.StopRequested;
    readerOptions.ansiCodePage = control.AnsiCodePage;
    const DocumentReaders readers = DocumentReaders::BuiltIn(readerOptions);

    bool progress = !o.quiet && ::isatty(2);
    CliSink sink(progress, o.job.Mode == ScanMode::Directory, files, lists.Urls());

    g_stopFlag = &control.StopRequested;
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);

    FindingOrigins origins;
    const OriginColumns columns{o.withFilename, o.lineNumber};
    if (o.threads <= 1) {
        TCollector collector(o.job, files, lists.Urls(), control, sink, readers);
        if (columns.Any()) collector.RecordOrigins(&origins);
        collector.Start();
        sink.ShowProgressUntilFinished(platform::TickCount32());
        collector.Wait();
    } else {
        ParallelCollector collector(o.job, files, lists.Urls(), control, sink, o.threads, readers);
        if (columns.Any()) collector.RecordOrigins(&origins);
        collector.Start();
        sink.ShowProgressUntilFinished(platform::TickCount32());
        collector.Wait();
    }
    g_stopFlag = nullptr;

    ReportFailedFiles(sink.Failed(), o.verbose);
    if (sink.Summary().MaskInvalid)
        std::fprintf(stderr, "%s: invalid file mask: %s\n", kProgram, sink.Summary().MaskError.c_str());

    switch (o.view) {
        case results::ViewMode::Url: break;
        case results::ViewMode::Host: lists.ShowHostnames(); break;
        case results::ViewMode::Domain: lists.ShowDomainNames(); break;
    }
    if (o.dedup && !o.count) {
        results::DedupCollator collator;
        lists.RemoveDuplicates(collator);
    }

    int status = g_interrupted == SIGTERM ? 143 : g_interrupted ? 130 : 0;
    try {
        if (!o.filesOut.empty()) results::ExportList(files, FromUtf8(o.filesOut));
        if (!o.output.empty()) {
            results::ExportList(lists.Current(), FromUtf8(o.output));
        } else if (!(o.count ? PrintCounts(lists.Current(), results::DedupCollator())
                     : columns.Any() ? PrintFindings(lists.Current(), &origins, files, columns)
                                     : PrintList(lists.Current()))) {
            std::fprintf(stderr, "%s: cannot write the findings: %s\n", kProgram, std::strerror(errno));
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        return 1;
    }
    if (g_interrupted && progress) std::fprintf(stderr, "%s: stopped\n", kProgram);
    return status;
}

}  // namespace corvexa::cli
