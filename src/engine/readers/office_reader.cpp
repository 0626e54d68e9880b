#include "engine/readers/office_reader.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <sstream>
#include <system_error>

#include "engine/readers/office_links.h"
#include "engine/readers/office_service.h"
#include "engine/readers/office_sockets.h"
#include "engine/readers/office_table.h"
#include "engine/readers/text_reader.h"
#include "engine/text.h"
#include "platform/fd_io.h"
#include "platform/native_path.h"
#include "platform/private_folder.h"
#include "platform/process.h"

namespace corvexa {

namespace {

namespace fs = std::filesystem;

// Two conversions never run at once: a start of the suite is costly enough on
// its own, a running suite converts one document at a time, and one document
// at a time is what the scan needs.
std::mutex g_conversionMutex;

// A folder of our own under the temporary folder, removed with everything in
// it when the conversion is over, whatever happened (and by the next start's
// sweep when we were killed).
struct ConversionFolder : platform::PrivateFolder {
    ConversionFolder() try : platform
        ::PrivateFolder("corvexa-office-", platform::TemporaryFolderBase()) {}
    catch (const std::system_error& e) {
        throw ReadError(std::string("cannot create a temporary folder: ") + e.code().message());
    }
};

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw NotDecodable("the office suite wrote no output");
    std::ostringstream s;
    s << in.rdbuf();
    return std::move(s).str();
}

// What one conversion left in its output folder, read while it still exists.
using TakeOutput = std::function<void(const std::string& outFolder, const std::string& log)>;

// The document opened without blocking (a FIFO named like a document never
// reaches the suite) and relative to its folder, so no length of path stops
// it. Throws unless it is a regular file.
struct SourceFile {
    explicit SourceFile(const Text& path) {
        const std::string native = platform::NativeFromPath(path);
        fd = platform::OpenNative(native, O_RDONLY | O_NOCTTY | O_NONBLOCK);
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            if (fd >= 0) ::close(fd);
            throw ReadError("not a readable file: " + native);
        }
        std::error_code ec;
        name = fs::absolute(native, ec).string();
        if (ec || name.size() >= PATH_MAX) name.clear();
    }
    ~SourceFile() { ::close(fd); }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Puts the document at `at` for the suite: a link to it, or past the
    // system's limit on paths (which the suite cannot open, even through a
    // link) a copy read from our descriptor. False, errno set, on failure.
    bool PlaceAt(const std::string& at) const {
        if (!name.empty()) return ::symlink(name.c_str(), at.c_str()) == 0;
        const int out =
            ::open(at.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out < 0) return false;
        char buffer[65536];
        ssize_t n = 0;
        off_t offset = 0;
        while ((n = ::pread(fd, buffer, sizeof buffer, offset)) > 0 &&
               platform::WriteFull(out, buffer, static_cast<std::size_t>(n)))
            offset += n;
        const int saved = errno;
        ::close(out);
        errno = saved;
        return n == 0;
    }

    int fd = -1;
    std::string name;  // its absolute path; empty past the limit
};

// One start of the suite for this document alone; throws unless it ran to
// its end. Returns what it said.
std::string ConvertAlone(ConversionFolder& folder, const std::string& document,
                         const std::string& out, const std::string& filter, const OfficeRun& run) {
    const std::string tmp = folder.Path() + "/tmp";
    // A profile of its own: two instances on one profile fail.
    const std::string profile = OfficeFileUrl(folder.Path() + "/profile");
    bool prepared = ::mkdir(tmp.c_str(), 0700) == 0 &&
                    WriteOfficeProfile(folder.Path() + "/profile", run.soffice);
    // What the suite leaves outside our folder when it is killed goes with it.
    for (const std::string& socket : OfficeSockets(profile))
        prepared = prepared && folder.NoteOutsideSocket(socket);
    if (!prepared)
        throw ReadError("cannot prepare the conversion: " + std::string(std::strerror(errno)));
    platform::ProcessRequest request;
    request.argv = {run.soffice,    "-env:UserInstallation=" + profile,
                    "--headless",   "--invisible",
                    "--nologo",     "--norestore",
                    "--nodefault",  "--nolockcheck",
                    "--convert-to", filter,
                    "--outdir",     out,
                    document};
    request.workingFolder = folder.Path();
    // Its temporary files and anything it keeps for the user stay with us.
    request.environment = {"TMPDIR=" + tmp, "HOME=" + folder.Path()};
    request.inheritStdin = false;
    request.timeout = run.timeout;
    request.cancel = run.stop;
    request.cutNetwork = run.cutNetwork;
    std::string log;
    request.output = &log;
    request.outputLimit = 4u << 20;
    const platform::ProcessResult result = platform::RunHiddenProcess(request);
    switch (result.outcome) {
        case platform::ProcessOutcome::Exited:
            break;
        case platform::ProcessOutcome::TimedOut:
            throw ReadError("the office suite took too long");
        case platform::ProcessOutcome::Cancelled:
            throw ReadError("stopped");
        case platform::ProcessOutcome::NotStarted:
            throw ReadError("cannot start " + run.soffice + ": " + std::strerror(result.error));
        case platform::ProcessOutcome::Signalled:
            throw ReadError("the office suite crashed");
    }
    if (result.exitCode != 0) throw ReadError("the office suite failed");
    return log;
}

// Converts the document with the given export filter into a private folder and
// hands the result over: by the scan's running suite when there is one, else
// by a start of its own. Throws unless the suite ran to its end.
void Convert(const Text& path, const std::string& filter, const OfficeRun& run,
             const TakeOutput& take) {
    if (run.soffice.empty()) throw ReadError("no office suite is installed");
    const SourceFile source(path);

    std::lock_guard lock(g_conversionMutex);
    ConversionFolder folder;
    const std::string in = folder.Path() + "/in", out = folder.Path() + "/out";
    // The suite sees the document under a plain name in our folder, so a file
    // name can never read as an option and its lock file lands with us.
    const std::string document = in + "/document" + ToUtf8(LowerExtension(path));
    if (::mkdir(in.c_str(), 0700) != 0 || ::mkdir(out.c_str(), 0700) != 0 ||
        !source.PlaceAt(document))
        throw ReadError("cannot prepare the conversion: " + std::string(std::strerror(errno)));
    std::string log;
    if (!run.service || run.service->Convert(document, filter, out, run.timeout, run.stop, &log) ==
                            OfficeService::Outcome::Unavailable)
        log = ConvertAlone(folder, document, out, filter, run);
    take(out, log);
}

std::string TakeBom(std::string text) {
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return text;
}

}  // namespace

std::vector<LinkTarget> OfficeLinks(const Text& path, bool word, const OfficeRun& run) {
    const Text ext = LowerExtension(path);
    if (ext == u".docx" || ext == u".xlsx") return OoxmlLinks(platform::NativeFromPath(path));
    // The older binary forms keep their links in records of their own: the
    // suite writes the document in its XML form, whose links are read alike.
    std::vector<LinkTarget> links;
    const std::string filter = word ? "docx:MS Word 2007 XML" : "xlsx:Calc MS Excel 2007 XML";
    Convert(path, filter, run, [&](const std::string& out, const std::string&) {
        links = OoxmlLinks(out + (word ? "/document.docx" : "/document.xlsx"));
    });
    return links;
}

namespace {

class OfficeReader : public DocumentReader {
public:
    enum class Kind { Word, Excel };
    OfficeReader(Kind kind, std::string soffice, std::chrono::milliseconds timeout,
                 std::shared_ptr<OfficeService> service)
        : kind_(kind),
          soffice_(std::move(soffice)),
          timeout_(timeout),
          service_(std::move(service)) {}
    std::string_view Name() const override { return kind_ == Kind::Word ? "word" : "excel"; }
    std::string_view Description() const override {
        return kind_ == Kind::Word ? "word-processor documents (.doc, .docx)"
                                   : "spreadsheets (.xls, .xlsx)";
    }
    bool Available() const override { return !soffice_.empty(); }
    Text ReadText(const Text& path) override {
        OfficeRun run{soffice_, timeout_, StopFlag()};
        run.service = service_.get();
        return kind_ == Kind::Word ? WordText(path, run) : ExcelText(path, u"\t", run);
    }
    std::vector<LinkTarget> ReadLinks(const Text& path) override {
        OfficeRun run{soffice_, timeout_, StopFlag()};
        run.service = service_.get();
        return OfficeLinks(path, kind_ == Kind::Word, run);
    }

private:
    Kind kind_;
    std::string soffice_;
    std::chrono::milliseconds timeout_;
    std::shared_ptr<OfficeService> service_;
};

}  // namespace

std::string FindOffice() {
    if (std::string found = platform::FindExecutable("soffice"); !found.empty()) return found;
    for (const char* candidate :
         {"/usr/lib/libreoffice/program/soffice", "/usr/local/lib/libreoffice/program/soffice"}) {
        if (::access(candidate, X_OK) == 0) return candidate;
    }
    glob_t g{};
    std::string found;
    if (::glob("/opt/libreoffice*/program/soffice", 0, nullptr, &g) == 0) {
        for (std::size_t i = g.gl_pathc; i-- > 0 && found.empty();)  // the newest name last
            if (::access(g.gl_pathv[i], X_OK) == 0) found = g.gl_pathv[i];
    }
    ::globfree(&g);
    return found;
}

bool WordInstalled() {
    return !FindOffice().empty();
}
bool ExcelInstalled() {
    return !FindOffice().empty();
}

Text WordText(const Text& path, const OfficeRun& run) {
    Text text;
    Convert(path, "txt:Text (encoded):UTF8", run, [&](const std::string& out, const std::string&) {
        text = FromUtf8(TakeBom(ReadWholeFile(out + "/document.txt")));
    });
    return text;
}

Text ExcelText(const Text& path, TextView separator, const OfficeRun& run) {
    Text text;
    // Every sheet to a file of its own, cells as displayed, UTF-8.
    const std::string filter =
        "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1";
    Convert(path, filter, run, [&](const std::string& out, const std::string& log) {
        const std::vector<std::string> sheets = SheetFilesFromLog(log, out + "/");
        std::error_code ec;
        const auto written =
            std::distance(fs::directory_iterator(out, ec), fs::directory_iterator());
        // Nothing at all: the suite took the file for no workbook (it opens
        // any text as a document, which has no sheets to write).
        if (!ec && written == 0)
            throw NotDecodable("the office suite found no workbook in the file");
        if (sheets.empty() || ec || written != static_cast<std::ptrdiff_t>(sheets.size()))
            throw ReadError("the office suite did not write every sheet");
        for (const std::string& sheet : sheets)
            AppendSheetText(ReadWholeFile(sheet), separator, text);
    });
    return text;
}

std::shared_ptr<OfficeService> MakeOfficeService(const std::string& soffice) {
    const char* perFile = std::getenv("CORVEXA_OFFICE_PER_FILE");
    if (soffice.empty() || (perFile && *perFile && std::string_view(perFile) != "0"))
        return nullptr;
    return std::make_shared<OfficeService>(soffice);
}

std::shared_ptr<DocumentReader> MakeWordReader(std::string soffice,
                                               std::chrono::milliseconds timeout,
                                               std::shared_ptr<OfficeService> service) {
    return std::make_shared<OfficeReader>(OfficeReader::Kind::Word, std::move(soffice), timeout,
                                          std::move(service));
}

std::shared_ptr<DocumentReader> MakeExcelReader(std::string soffice,
                                                std::chrono::milliseconds timeout,
                                                std::shared_ptr<OfficeService> service) {
    return std::make_shared<OfficeReader>(OfficeReader::Kind::Excel, std::move(soffice), timeout,
                                          std::move(service));
}

}  // namespace corvexa
