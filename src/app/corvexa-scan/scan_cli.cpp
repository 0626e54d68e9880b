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
#include "engine/text_reader.h"
#include "platform/ansi_codepage.h"
#include "platform/native_path.h"
#include "platform/tick.h"
#include "results/dedup.h"
#include "results/export.h"

namespace corvexa::cli {

namespace {

constexpr const char* kProgram = "corvexa-scan";

bool ParseInt32(const std::string& s, std::int32_t* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    *out = static_cast<std::int32_t>(v);
    return true;
}

// Switches on the document decoder of that name.
bool EnableDecoder(const std::string& name, ScanJob* job) {
    if (name == "eml") job->DecodeEML = true;
    else if (name == "word") job->DecodeWord = true;
    else if (name == "excel") job->DecodeExcel = true;
    else return false;
    return true;
}

// -H, -n and --count shape what is printed; an export file keeps its format.
std::string CheckOutputOptions(const Options& o) {
    const bool origins = o.withFilename || o.lineNumber;
    if ((origins || o.count) && !o.output.empty())
        return "-H, -n and --count print to standard output; they cannot be used with -o";
    if (origins && o.count) return "--count cannot be used with -H or -n";
    if (origins && o.dedup)
        return "--dedup merges findings from different places; it cannot be used with -H or -n";
    return {};
}

}  // namespace

std::string HelpText() {
    return R"(Usage: corvexa-scan [options] FOLDER
       corvexa-scan [options] --files-from LIST
       corvexa-scan [options] -- FILE...

Finds web addresses (with a scheme or "www."), e-mail addresses and ftp links
in the files of a folder or of a file list, and prints every finding in the
order found, one per line.

Folder scan:
  --mask MASK           file mask matched against each file's full path
                        (* any run, ? one character, [set], [!set]; letter
                        case ignored); default "*"
  --no-subfolders       do not descend into subfolders
  --skip-larger-mb N    skip files of N MiB or more (0: no limit)

File list (every entry is read, whatever its name or size):
  --files-from LIST     read the paths from LIST, one per line ("-": standard
                        input)
  -- FILE...            the paths given on the command line

Detection:
  --no-email            no e-mail addresses
  --no-ftp              no ftp links
  --no-http             no http:// addresses
  --no-https            no https:// addresses
  --no-www              no addresses that begin with "www."

Reading:
  --memory-stream       load each text file whole before searching it
                        (default: read it through a small buffer, line by line)
  --pdf xpdf|pdfium|plain  how PDF files are read: through the pdftotext
                        converter ("xpdf/" beside the program, else PATH) with
                        the PDF library as fallback (xpdf, the default),
                        through the PDF library alone (pdfium), or as plain
                        text (plain)
  --eml                 decode e-mail messages (.eml): their text parts,
                        headers decoded; the raw file is then read as well
  --word                read .doc and .docx documents through LibreOffice
                        (soffice, run headless once per document)
  --excel               read .xls and .xlsx workbooks through LibreOffice:
                        every sheet, each cell as displayed
  --decode LIST         the same as a comma-separated list: eml,word,excel
                        Without these, such files are read as plain text, as
                        they are when LibreOffice is not installed.
  -j, --threads N       read N files at a time (default: the number of cores);
                        the output is the same for every N, in file order

Where found (standard output only):
  -H, --with-filename   print each finding's file before it
  -n, --line-number     print each finding's line number (from 1) before it
                        Columns are tab-separated: FILE<TAB>LINE<TAB>FINDING;
                        a tab, CR or LF in a file name is written \t, \r, \n
  --count               print each distinct entry of the list (equal as
                        --dedup compares) as COUNT<TAB>ENTRY, most frequent
                        first, equal counts in --dedup order

Results:
  --view url|host|domain  print the findings as found (url), as host names or
                        as domain names; default url
  --dedup               sort the (derived) list and remove duplicates, letter
                        case ignored; the first of equal entries stays
  -o FILE               write the list to FILE as an export file (UTF-8 with
                        byte-order mark, CR LF line ends) instead of printing
  --files-out FILE      write the list of files read to FILE the same way

Other:
  --quiet               no progress on standard error
  -h, --help            show this text

Progress (files, bytes, findings, elapsed time) goes to standard error when it
is a terminal. Ctrl-C stops the scan cleanly and still writes the findings made
so far.

Exit status: 0 when done, 2 for bad arguments, 130 after Ctrl-C, 1 when the
results cannot be written.
)";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error) {
    Options o;
    o.job.PdfProcessing = PdfMode::Xpdf;
    std::vector<std::string> positional;
    auto fail = [&](const std::string& msg) -> std::optional<Options> {
        *error = msg;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasInlineValue = false;
        if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
            if (auto eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                hasInlineValue = true;
            }
        }
        auto takeValue = [&](std::string* out) -> bool {
            if (hasInlineValue) {
                *out = value;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            *out = args[++i];
            return true;
        };
        auto flag = [&](bool* target, bool v) -> bool {
            if (hasInlineValue) return false;
            *target = v;
            return true;
        };

        if (arg == "--") {
            for (++i; i < args.size(); ++i) o.files.push_back(args[i]);
            if (o.files.empty()) return fail("-- must be followed by at least one file");
            break;
        } else if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--mask") {
            std::string m;
            if (!takeValue(&m)) return fail("--mask needs a value");
            o.job.FileMask = FromUtf8(m);
        } else if (arg == "--no-subfolders") {
            if (!flag(&o.job.IncludeSubfolders, false)) return fail("--no-subfolders takes no value");
        } else if (arg == "--skip-larger-mb") {
            std::string v;
            if (!takeValue(&v)) return fail("--skip-larger-mb needs a number");
            if (!ParseInt32(v, &o.job.SkipLargeFilesMB))
                return fail("--skip-larger-mb needs a whole number, not '" + v + "'");
        } else if (arg == "--no-email") {
            if (!flag(&o.email, false)) return fail("--no-email takes no value");
        } else if (arg == "--no-ftp") {
            if (!flag(&o.ftp, false)) return fail("--no-ftp takes no value");
        } else if (arg == "--no-http") {
            if (!flag(&o.http, false)) return fail("--no-http takes no value");
        } else if (arg == "--no-https") {
            if (!flag(&o.https, false)) return fail("--no-https takes no value");
        } else if (arg == "--no-www") {
            if (!flag(&o.www, false)) return fail("--no-www takes no value");
        } else if (arg == "--memory-stream") {
            if (!flag(&o.memoryStream, true)) return fail("--memory-stream takes no value");
        } else if (arg == "--pdf") {
            std::string v;
            if (!takeValue(&v)) return fail("--pdf needs xpdf, pdfium or plain");
            if (v != "xpdf" && v != "pdfium" && v != "plain")
                return fail("--pdf takes xpdf, pdfium or plain, not '" + v + "'");
            o.job.PdfProcessing = v == "plain" ? PdfMode::PlainText : PdfModeFromName(v);
        } else if (arg == "--eml" || arg == "--word" || arg == "--excel") {
            if (hasInlineValue) return fail(arg + " takes no value");
            if (!EnableDecoder(arg.substr(2), &o.job)) return fail("unknown decoder");
        } else if (arg == "--decode") {
            std::string list;
            if (!takeValue(&list) || list.empty()) return fail("--decode needs a list: eml,word,excel");
            for (std::size_t start = 0; start <= list.size();) {
                std::size_t end = std::min(list.find(',', start), list.size());
                std::string name = list.substr(start, end - start);
                if (!EnableDecoder(name, &o.job))
                    return fail("--decode takes eml, word and excel, not '" + name + "'");
                start = end + 1;
            }
        } else if (arg == "--files-from") {
            if (!takeValue(&o.filesFrom)) return fail("--files-from needs a file");
            o.filesFromGiven = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!takeValue(&o.output) || o.output.empty()) return fail(arg + " needs a file");
        } else if (arg == "--files-out") {
            if (!takeValue(&o.filesOut) || o.filesOut.empty()) return fail("--files-out needs a file");
        } else if (arg == "--view") {
            std::string v;
            if (!takeValue(&v)) return fail("--view needs url, host or domain");
            if (v == "url") o.view = results::ViewMode::Url;
            else if (v == "host") o.view = results::ViewMode::Host;
            else if (v == "domain") o.view = results::ViewMode::Domain;
            else return fail("--view takes url, host or domain, not '" + v + "'");
        } else if (arg == "--dedup") {
            if (!flag(&o.dedup, true)) return fail("--dedup takes no value");
        } else if (arg == "-j" || arg == "--threads" || (arg.rfind("-j", 0) == 0 && arg.size() > 2)) {
            std::string v = arg.size() > 2 && arg[1] == 'j' ? arg.substr(2) : std::string();
            if (v.empty() && !takeValue(&v)) return fail(arg + " needs a number");
            std::int32_t n = 0;
            if (!ParseInt32(v, &n) || n < 1 || n > 1024)
                return fail(arg + " needs a number from 1 to 1024, not '" + v + "'");
            o.threads = static_cast<unsigned>(n);
        } else if (arg == "-H" || arg == "--with-filename") {
            if (!flag(&o.withFilename, true)) return fail(arg + " takes no value");
        } else if (arg == "-n" || arg == "--line-number") {
            if (!flag(&o.lineNumber, true)) return fail(arg + " takes no value");
        } else if (arg == "--count") {
            if (!flag(&o.count, true)) return fail("--count takes no value");
        } else if (arg == "--quiet" || arg == "-q") {
            if (!flag(&o.quiet, true)) return fail("--quiet takes no value");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option '" + args[i] + "'");
        } else {
            positional.push_back(arg);
        }
    }
    if (o.help) return o;

    int sources = (positional.empty() ? 0 : 1) + (o.filesFromGiven ? 1 : 0) + (o.files.empty() ? 0 : 1);
    if (sources == 0) return fail("name a FOLDER, --files-from LIST or -- FILE...");
    if (sources > 1 || positional.size() > 1)
        return fail("give exactly one of FOLDER, --files-from LIST or -- FILE...");
    ScanInputs in;
    in.Mode = positional.empty() ? ScanMode::FileList : ScanMode::Directory;
    if (!positional.empty()) in.Folder = FromUtf8(positional.front());
    in.FolderRequired = false;
    in.IncludeSubfolders = o.job.IncludeSubfolders;
    in.FileMask = o.job.FileMask;
    in.CheckMask = true;
    in.SkipLargeFiles = true;
    in.SkipLargeFilesMB = o.job.SkipLargeFilesMB;
    in.Email = o.email, in.Ftp = o.ftp, in.Http = o.http, in.Https = o.https, in.Www = o.www;
    in.DecodeEML = o.job.DecodeEML, in.DecodeWord = o.job.DecodeWord, in.DecodeExcel = o.job.DecodeExcel;
    in.Pdf = o.job.PdfProcessing;
    ScanJobResult built = BuildScanJob(in, DocumentReaders::BuiltIn());
    if (built.Problem == ScanJobProblem::NoDetection)
        return fail("every kind of detection is switched off; nothing could be found");
    if (built.Problem == ScanJobProblem::MaskInvalid) return fail("invalid --mask: " + built.MaskError);
    o.job = std::move(built.Job);
    if (auto e = CheckOutputOptions(o); !e.empty()) return fail(e);
    if (o.threads == 0) o.threads = std::max(1u, std::thread::hardware_concurrency());
    return o;
}

std::vector<Text> ReadFileList(const std::string& path) {
    std::string bytes;
    {
        int fd = path == "-" ? 0 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw ReadError("cannot open " + path + ": " + std::strerror(errno));
        char buf[65536];
        for (;;) {
            ssize_t r = ::read(fd, buf, sizeof buf);
            if (r > 0) {
                bytes.append(buf, static_cast<std::size_t>(r));
            } else if (r == 0) {
                break;
            } else if (errno != EINTR) {
                int e = errno;
                if (fd != 0) ::close(fd);
                throw ReadError("cannot read " + path + ": " + std::strerror(e));
            }
        }
        if (fd != 0) ::close(fd);
    }
    std::vector<Text> list;
    auto* u = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t markLength = 0;
    Encoding enc = EncodingFromMark(u, bytes.size(), Encoding::Utf8, &markLength);
    if (enc == Encoding::Utf16LE || enc == Encoding::Utf16BE) {
        TextDecoder decoder(enc, 1252);
        Text text;
        decoder.Decode(bytes.data() + markLength, bytes.size() - markLength, true, text);
        Lines lines;
        std::atomic<bool> never{false};
        ScanTextLines(text, lines, never);
        for (std::size_t i = 0; i < lines.Size(); ++i)
            if (!lines[i].empty()) list.emplace_back(lines[i]);
        return list;
    }
    std::string_view rest(bytes);
    rest.remove_prefix(markLength);
    while (!rest.empty()) {
        std::size_t end = rest.find_first_of("\r\n");
        std::string_view line = rest.substr(0, end);
        if (!line.empty()) list.push_back(platform::PathFromNative(line));
        if (end == std::string_view::npos) break;
        std::size_t next = end + 1;
        if (rest[end] == '\r' && next < rest.size() && rest[next] == '\n') ++next;
        rest.remove_prefix(next);
    }
    return list;
}

namespace {

std::atomic<bool>* g_stopFlag = nullptr;
volatile sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
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
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t w = ::write(fd, data, size);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        size -= static_cast<std::size_t>(w);
    }
    return true;
}

// The list on standard output: UTF-8, one entry per line, LF.
bool PrintList(const SharedList& list) {
    std::string buffer;
    buffer.reserve(1 << 16);
    Text entry;
    for (std::size_t i = 0; list.TryAt(i, entry); ++i) {
        buffer += ToUtf8(entry);
        buffer += '\n';
        if (buffer.size() >= (1 << 16)) {
            if (!WriteAll(1, buffer.data(), buffer.size())) return false;
            buffer.clear();
        }
    }
    return WriteAll(1, buffer.data(), buffer.size());
}

bool ParentFolderExists(const std::string& file) {
    std::string parent = ".";
    if (auto slash = file.find_last_of('/'); slash != std::string::npos)
        parent = slash == 0 ? "/" : file.substr(0, slash);
    struct stat st;
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
    for (const std::string* out : {&o.output, &o.filesOut}) {
        if (!out->empty() && !ParentFolderExists(*out)) {
            std::fprintf(stderr, "%s: cannot write %s: its folder does not exist\n", kProgram,
                         out->c_str());
            return 2;
        }
    }

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

    // As the window does at START: the office readers only where the suite is.
    // The PDF converter's output goes to a private temporary folder.
    DocumentReaderOptions readerOptions;
    readerOptions.cancel = &control.StopRequested;
    readerOptions.ansiCodePage = control.AnsiCodePage;
    const DocumentReaders readers = DocumentReaders::BuiltIn(readerOptions);
    if ((o.job.DecodeWord && !DocumentReaders::Usable(readers.word)) ||
        (o.job.DecodeExcel && !DocumentReaders::Usable(readers.excel)))
        std::fprintf(stderr, "%s: warning: LibreOffice (soffice) not found; office documents are "
                             "read as plain text\n", kProgram);
    o.job.DecodeWord = o.job.DecodeWord && DocumentReaders::Usable(readers.word);
    o.job.DecodeExcel = o.job.DecodeExcel && DocumentReaders::Usable(readers.excel);

    bool progress = !o.quiet && ::isatty(2);
    CliSink sink(progress, o.job.Mode == ScanMode::Directory, files, lists.Urls());

    g_stopFlag = &control.StopRequested;
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sa.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
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

    int status = g_interrupted ? 130 : 0;
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
