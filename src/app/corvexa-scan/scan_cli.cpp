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
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "app/corvexa-scan/scan_output.h"
#include "app/corvexa-scan/structured_output.h"
#include "engine/file_list.h"
#include "engine/parallel_scan.h"
#include "engine/readers/pdf_reader.h"
#include "engine/readers/text_reader.h"
#include "engine/scan_job.h"
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
    // With a printer, the findings go to standard output as each file's are in.
    CliSink(bool progress, bool walking, const SharedList& files, const SharedList& urls,
            ListPrinter* printer)
        : progress_(progress), files_(files), urls_(urls), printer_(printer), walked_(!walking) {}

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
    void FileDone() override {
        ++done_;
        if (printer_) printer_->Drain();
    }
    // The progress counts files, not the members' entries after an archive.
    void MembersListed(std::size_t, std::size_t count) override { members_ += count; }
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
    // Files read to their end.
    std::size_t Done() const { return done_.load(); }

private:
    void PrintLine(std::uint32_t startTick, std::uint32_t now) {
        std::size_t done = started_.load();
        const std::size_t members = members_.load();
        std::size_t total = files_.Size();
        total -= std::min(total, members);
        std::fprintf(stderr, "\r%s %zu/%zu files  %.1f MB  %zu findings  %.1f s\033[K",
                     walked_ ? "reading" : "listing", done, total,
                     static_cast<double>(bytes_.load()) / 1048576.0, urls_.Size(),
                     ElapsedSeconds(startTick, now));
        std::fflush(stderr);
    }

    bool progress_;
    const SharedList& files_;
    const SharedList& urls_;
    ListPrinter* printer_;
    std::atomic<bool> walked_{false};
    std::atomic<std::size_t> started_{0};
    std::atomic<std::size_t> done_{0};
    std::atomic<std::size_t> members_{0};
    std::atomic<std::uint64_t> bytes_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool finished_ = false;
    ScanSummary summary_;
    std::uint32_t endTick_ = 0;
    std::vector<std::pair<Text, std::string>> failed_;
};

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
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, platform::NativeFromPath(path).c_str(),
                         reason.c_str());
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

// A usage error: the message, then where to read more.
int UsageError(const std::string& error) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram, error.c_str(),
                 kProgram);
    return 2;
}

// The findings on standard output, in the form the options ask for.
bool PrintResults(const Options& o, const SharedList& list, const FindingOrigins& origins,
                  const SharedList& files, const ScanTotals& totals, ListPrinter* printer) {
    if (o.count) return PrintCounts(list, results::DedupCollator());
    switch (o.format) {
        case OutputFormat::Json:
            return PrintJsonLines(list, origins, files, totals);
        case OutputFormat::Csv:
            return PrintCsv(list, origins, files);
        case OutputFormat::Text:
            break;
    }
    const OriginColumns columns{o.withFilename, o.lineNumber};
    if (columns.Any()) return PrintFindings(list, &origins, files, columns);
    if (printer) return printer->Finish();  // the rest of what it printed during the scan
    return ListPrinter(list).Finish();
}

// False, said, when an output file's folder does not exist.
bool OutputFoldersExist(const Options& o) {
    for (const std::string* out : {&o.output, &o.filesOut}) {
        if (!out->empty() && !ParentFolderExists(*out)) {
            std::fprintf(stderr, "%s: cannot write %s: its folder does not exist\n", kProgram,
                         out->c_str());
            return false;
        }
    }
    return true;
}

// The findings can go out during the scan when they are printed as found: in
// the URL view, none removed or counted, one a line, on standard output (and
// nothing else written there or after them).
bool PrintsWhileScanning(const Options& o) {
    return o.view == results::ViewMode::Url && !o.dedup && !o.count &&
           o.format == OutputFormat::Text && !OriginColumns{o.withFilename, o.lineNumber}.Any() &&
           o.output.empty() && o.filesOut.empty();
}

// Everything one run shares between its steps.
struct ScanRun {
    results::ResultLists lists;
    SharedList files;
    ScanControl control;
    DocumentReaders readers;
    ScanJob job;
    FindingOrigins origins;  // where each finding was, when the output shows it
    std::uint32_t startTick = 0;
    std::unique_ptr<ListPrinter> printer;  // when the findings go out during the scan
    // --files-from: read while the scan runs, the names handed on by the feed.
    std::unique_ptr<FileListStream> list;
    FileListFeed feed{files};
    bool listFailed = false;
};

void SetControl(const Options& o, ScanControl& control) {
    control.Switches.email = o.inputs.Email;
    control.Switches.ftp = o.inputs.Ftp;
    control.Switches.http = o.inputs.Http;
    control.Switches.https = o.inputs.Https;
    control.Switches.www = o.inputs.Www;
    control.MemoryStream = o.memoryStream;
    control.AnsiCodePage = platform::AnsiCodePage();
}

// The files of a file-list scan, or a warning when the folder of a folder scan
// is missing (the walk then finds nothing). False, said, when the list cannot
// be read.
bool ListFiles(const Options& o, ScanRun& run) {
    if (o.inputs.Mode == ScanMode::FileList) {
        try {
            if (o.filesFromGiven) {
                // Opened now, read while the scan runs.
                run.list = std::make_unique<FileListStream>(o.filesFrom);
                return true;
            }
            std::vector<Text> list;
            for (const std::string& f : o.files) list.push_back(platform::PathFromNative(f));
            run.files.Assign(list);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
            return false;
        }
    } else {
        struct stat st;
        std::string folder = platform::NativeFromPath(o.inputs.Folder);
        if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            std::fprintf(stderr, "%s: warning: directory not found: %s\n", kProgram,
                         folder.c_str());
    }
    return true;
}

// Builds the readers and the job from them, once for the run. A decoder asked
// for whose reader cannot run here is left off, with a warning (as the window's
// START does); the PDF converter's output goes to a private temporary folder.
// The inputs were checked when parsed; false, said, should the job refuse them.
bool BuildJob(const Options& o, ScanRun& run) {
    DocumentReaderOptions readerOptions;
    readerOptions.cancel = &run.control.StopRequested;
    readerOptions.ansiCodePage = run.control.AnsiCodePage;
    run.readers = DocumentReaders::BuiltIn(readerOptions);
    ScanJobResult built = BuildScanJob(o.inputs, run.readers);
    if (built.Problem != ScanJobProblem::None) {
        UsageError(ProblemText(built));
        return false;
    }
    run.job = std::move(built.Job);
    std::set<std::string> warnings;  // each once
    for (const DocumentKindInfo& kind : DocumentKindTable())
        if (o.inputs.Kinds.Has(kind.kind) && !run.job.Kinds.Has(kind.kind) &&
            !kind.missingWarning.empty())
            warnings.insert(std::string(kind.missingWarning));
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "%s: warning: %s\n", kProgram, warning.c_str());
    // The converter gives a PDF's text only: its links come from the library.
    if (o.verbose && run.job.LinkTargets && run.job.Pdf == PdfMode::Xpdf && !PdfLinksAvailable())
        std::fprintf(stderr,
                     "%s: no PDF library that reads links (Poppler GLib, or PDFium with its link "
                     "calls) loads: PDF files give their text only\n",
                     kProgram);
    return true;
}

// The names of --files-from to the scan, piece by piece, while it runs. A list
// that cannot be read to its end stops the scan (what was printed of the
// findings of its first names stays printed).
void FeedList(ScanRun& run) {
    std::vector<Text> names;
    try {
        while (run.list->Next(names, &run.control.StopRequested)) run.feed.Add(names);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        run.listFailed = true;
        run.control.StopRequested.store(true);
    }
    run.feed.Close();
}

template <class Collector>
void RunCollector(Collector& collector, bool origins, ScanRun& run, CliSink& sink) {
    if (origins) collector.RecordOrigins(&run.origins);
    if (run.list) collector.SetFeed(&run.feed);
    collector.Start();
    if (run.list) FeedList(run);
    sink.ShowProgressUntilFinished(run.startTick);
    collector.Wait();
}

// Runs the scan to its end: Ctrl-C and SIGTERM stop it, and on a terminal its
// progress shows on standard error.
void Scan(const Options& o, ScanRun& run, CliSink& sink) {
    g_stopFlag = &run.control.StopRequested;
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);

    const bool record =
        OriginColumns{o.withFilename, o.lineNumber}.Any() || o.format != OutputFormat::Text;
    run.startTick = platform::TickCount32();
    if (o.threads <= 1) {
        TCollector collector(run.job, run.files, run.lists.Urls(), run.control, sink, run.readers);
        RunCollector(collector, record, run, sink);
    } else {
        ParallelCollector collector(run.job, run.files, run.lists.Urls(), run.control, sink,
                                    o.threads, run.readers);
        RunCollector(collector, record, run, sink);
    }
    g_stopFlag = nullptr;

    ReportFailedFiles(sink.Failed(), o.verbose);
    if (sink.Summary().MaskInvalid)
        std::fprintf(stderr, "%s: invalid file mask: %s\n", kProgram,
                     sink.Summary().MaskError.c_str());
}

// Derives and sorts the list as asked, then exports or prints it (and the list
// of files read); the exit status.
int WriteResults(const Options& o, ScanRun& run, const CliSink& sink, bool progress) {
    results::ResultLists& lists = run.lists;
    lists.Show(o.view);
    if (o.dedup && !o.count) {
        results::DedupCollator collator;
        lists.RemoveDuplicates(collator);
    }

    int status = g_interrupted == SIGTERM ? 143 : g_interrupted ? 130 : 0;
    const ScanTotals totals{sink.Done(), sink.Failed().size(),
                            ElapsedSeconds(run.startTick, sink.EndTick()), g_interrupted != 0};
    try {
        if (!o.filesOut.empty()) results::ExportList(run.files, FromUtf8(o.filesOut));
        if (!o.output.empty()) {
            results::ExportList(lists.Current(), FromUtf8(o.output));
        } else if (!PrintResults(o, lists.Current(), run.origins, run.files, totals,
                                 run.printer.get())) {
            std::fprintf(stderr, "%s: cannot write the findings: %s\n", kProgram,
                         std::strerror(errno));
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        return 1;
    }
    if (g_interrupted && progress) std::fprintf(stderr, "%s: stopped\n", kProgram);
    return status;
}

}  // namespace

int Run(const std::vector<std::string>& args) {
    std::string error;
    auto parsed = ParseOptions(args, &error);
    if (!parsed) return UsageError(error);
    const Options& o = *parsed;
    if (o.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (o.version) return PrintVersion();
    if (!OutputFoldersExist(o)) return 2;
    // What earlier runs that were killed left in the temporary folders.
    platform::SweepStalePrivateFolders();

    ScanRun run;
    SetControl(o, run.control);
    if (!ListFiles(o, run)) return 2;
    if (!BuildJob(o, run)) return 2;
    const bool progress = !o.quiet && ::isatty(2);
    // On a terminal that also shows the progress line, the findings wait for
    // the scan's end: printed during it, they would run into that line.
    if (PrintsWhileScanning(o) && !(progress && ::isatty(1)))
        run.printer = std::make_unique<ListPrinter>(run.lists.Urls());
    CliSink sink(progress, o.inputs.Mode == ScanMode::Directory, run.files, run.lists.Urls(),
                 run.printer.get());
    Scan(o, run, sink);
    if (run.listFailed) return 2;
    return WriteResults(o, run, sink, progress);
}

}  // namespace corvexa::cli
