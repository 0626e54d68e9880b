#include "engine/readers/office_reader.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// Two conversions never run at once: each start of the suite is costly enough
// on its own, and one document at a time is what the scan needs.
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

// A file: URL for a local path, every byte outside the safe set escaped.
std::string FileUrl(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::strchr("/-._~", c)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

// The settings of the suite's fresh profile, written before its first start:
// links a document makes to the web are refused, and every web address goes
// through a proxy on the loopback's discard port, where nothing answers, so
// a document's images, style sheets and other linked content are never
// fetched (a beacon, or a request to an address of the document's choosing).
constexpr const char* kProfileSettings =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\">"
    "<prop oor:name=\"BlockUntrustedRefererLinks\" "
    "oor:op=\"fuse\"><value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetProxyType\" oor:op=\"fuse\"><value>1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetHTTPProxyName\" "
    "oor:op=\"fuse\"><value>127.0.0.1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetHTTPProxyPort\" oor:op=\"fuse\"><value>9</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetHTTPSProxyName\" "
    "oor:op=\"fuse\"><value>127.0.0.1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetHTTPSProxyPort\" oor:op=\"fuse\"><value>9</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\">"
    "<prop oor:name=\"ooInetNoProxy\" oor:op=\"fuse\"><value></value></prop></item>\n"
    "</oor:items>\n";

// Makes the profile folder with its settings; false (errno set) on failure.
bool WriteProfile(const std::string& profile) {
    const std::string user = profile + "/user";
    if (::mkdir(profile.c_str(), 0700) != 0 || ::mkdir(user.c_str(), 0700) != 0) return false;
    const std::string file = user + "/registrymodifications.xcu";
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string_view text(kProfileSettings);
    const bool written = platform::WriteFull(fd, text.data(), text.size());
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return written;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw NotDecodable("the office suite wrote no output");
    std::ostringstream s;
    s << in.rdbuf();
    return std::move(s).str();
}

// What one conversion left in its output folder, read while it still exists.
using TakeOutput = std::function<void(const std::string& outFolder, const std::string& log)>;

// Converts the document with the given export filter into a private folder and
// hands the result over; throws unless the suite ran to its end.
void Convert(const Text& path, const std::string& filter, const OfficeRun& run,
             const TakeOutput& take) {
    if (run.soffice.empty()) throw ReadError("no office suite is installed");
    std::error_code ec;
    const fs::path source = fs::absolute(platform::NativeFromPath(path), ec);
    struct stat st;
    if (ec || ::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        throw ReadError("not a readable file: " + source.string());

    std::lock_guard lock(g_conversionMutex);
    ConversionFolder folder;
    const std::string in = folder.Path() + "/in", out = folder.Path() + "/out",
                      tmp = folder.Path() + "/tmp";
    // The suite sees the document under a plain name in our folder, so a file
    // name can never read as an option and its lock file lands with us.
    const std::string document = in + "/document" + ToUtf8(LowerExtension(path));
    if (::mkdir(in.c_str(), 0700) != 0 || ::mkdir(out.c_str(), 0700) != 0 ||
        ::mkdir(tmp.c_str(), 0700) != 0 || !WriteProfile(folder.Path() + "/profile") ||
        ::symlink(source.c_str(), document.c_str()) != 0)
        throw ReadError("cannot prepare the conversion: " + std::string(std::strerror(errno)));

    platform::ProcessRequest request;
    request.argv = {run.soffice,
                    // A profile of its own: two instances on one profile fail.
                    "-env:UserInstallation=" + FileUrl(folder.Path() + "/profile"), "--headless",
                    "--invisible", "--nologo", "--norestore", "--nodefault", "--nolockcheck",
                    "--convert-to", filter, "--outdir", out, document};
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
    OfficeReader(Kind kind, std::string soffice, std::chrono::milliseconds timeout)
        : kind_(kind), soffice_(std::move(soffice)), timeout_(timeout) {}
    std::string_view Name() const override { return kind_ == Kind::Word ? "word" : "excel"; }
    std::string_view Description() const override {
        return kind_ == Kind::Word ? "word-processor documents (.doc, .docx)"
                                   : "spreadsheets (.xls, .xlsx)";
    }
    bool Available() const override { return !soffice_.empty(); }
    Text ReadText(const Text& path) override {
        OfficeRun run{soffice_, timeout_, StopFlag()};
        return kind_ == Kind::Word ? WordText(path, run) : ExcelText(path, u"\t", run);
    }
    std::vector<LinkTarget> ReadLinks(const Text& path) override {
        OfficeRun run{soffice_, timeout_, StopFlag()};
        return OfficeLinks(path, kind_ == Kind::Word, run);
    }

private:
    Kind kind_;
    std::string soffice_;
    std::chrono::milliseconds timeout_;
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

std::shared_ptr<DocumentReader> MakeWordReader(std::string soffice,
                                               std::chrono::milliseconds timeout) {
    return std::make_shared<OfficeReader>(OfficeReader::Kind::Word, std::move(soffice), timeout);
}

std::shared_ptr<DocumentReader> MakeExcelReader(std::string soffice,
                                                std::chrono::milliseconds timeout) {
    return std::make_shared<OfficeReader>(OfficeReader::Kind::Excel, std::move(soffice), timeout);
}

}  // namespace corvexa
