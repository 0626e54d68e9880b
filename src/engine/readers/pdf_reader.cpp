#include "engine/readers/pdf_reader.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>

#include "engine/readers/pdf_library.h"
#include "engine/readers/text_reader.h"
#include "platform/native_path.h"
#include "platform/private_folder.h"
#include "platform/process.h"

namespace corvexa {

namespace {

// One extraction at a time in the whole process: the library is not used from
// two threads at once.
std::mutex& ExtractionLock() {
    static std::mutex lock;
    return lock;
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The size of the file at path; zero when there is none.
std::uint64_t FileSize(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// A path the converter reads the same wherever it starts: relative paths are
// made absolute against our working folder, which also keeps a name that
// begins with "-" from reading as an option.
std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    std::string cwd(4096, '\0');
    while (!::getcwd(cwd.data(), cwd.size())) {
        if (errno != ERANGE) return "./" + path;
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::char_traits<char>::length(cwd.c_str()));
    return (cwd == "/" ? cwd : cwd + "/") + path;
}

// A descriptor closed when it goes out of scope.
struct ScopedFd {
    int fd = -1;
    ~ScopedFd() {
        if (fd >= 0) ::close(fd);
    }
};

// The name the converter is given for the document at native: its absolute
// path; past the system's limit on paths, our own descriptor of it (held in
// fd) as /proc names it, which the converter opens like any file. Empty when it
// is no regular file: a FIFO or a device named like a PDF never reaches the
// converter.
std::string ConverterInput(const std::string& native, ScopedFd& fd) {
    fd.fd = platform::OpenNative(native, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    struct stat st;
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return {};
    std::string absolute = AbsolutePath(native);
    if (absolute.size() < PATH_MAX) return absolute;
    return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd.fd);
}

}  // namespace

PdfExtractor::PdfExtractor(PdfSettings settings) : settings_(std::move(settings)) {
    if (settings_.converterFolder.empty())
        settings_.converterFolder = platform::ExecutableFolderNative() + "/xpdf";
    if (settings_.libraryNames.empty()) settings_.libraryNames = DefaultPdfLibraryNames();
    if (settings_.privateFolderBase.empty())
        settings_.privateFolderBase = platform::PrivateFolderBase();
}

PdfExtractor::~PdfExtractor() = default;

Text PdfExtractor::YukleXPDF(const Text& dosyaadi) {
    std::lock_guard lock(ExtractionLock());
    // The text goes to a new file in a folder of this document's own, which
    // nobody else can read or plant a link in; the folder goes with
    // everything in it on every way out of here.
    std::optional<platform::PrivateFolder> folder;
    try {
        folder.emplace("corvexa-pdf-", settings_.privateFolderBase);
    } catch (const std::system_error&) {
        return LibraryText(dosyaadi);
    }
    const int fd = folder->CreateFile("text.txt");
    if (fd < 0) return LibraryText(dosyaadi);
    ::close(fd);
    const std::string output = folder->Inside("text.txt");
    ScopedFd document;
    const std::string input = ConverterInput(platform::NativeFromPath(dosyaadi), document);
    // A converter that wrote nothing leaves the document to the library, which
    // also says why a document that is no file could not be read.
    if (input.empty() || !RunConverter(input, output) || FileSize(output) == 0)
        return LibraryText(dosyaadi);
    return ReadConverterOutput(output);
}

Text PdfExtractor::YuklePDFium(const Text& dosyaadi) {
    std::lock_guard lock(ExtractionLock());
    return LibraryText(dosyaadi);
}

Text PdfExtractor::LibraryTextOfBytes(std::string_view bytes) {
    std::lock_guard lock(ExtractionLock());
    if (bytes.empty()) throw ReadError("empty PDF document");
    PdfLibrary& library = LoadPdfLibrary(settings_.libraryNames);
    return library.DocumentText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                settings_.cancel);
}

namespace {

// The links of the document in data through the library, or none when no
// library with links loads or it cannot open the document.
std::vector<LinkTarget> LibraryLinks(const PdfSettings& settings,
                                     const std::function<std::string_view()>& data) {
    PdfLibrary* library = nullptr;
    try {
        library = &LoadPdfLibrary(settings.libraryNames);
    } catch (const ReadError&) {
        return {};
    }
    if (!library->HasLinks()) return {};
    const std::string_view bytes = data();
    if (bytes.empty()) return {};
    try {
        return library->DocumentLinks(reinterpret_cast<const unsigned char*>(bytes.data()),
                                      bytes.size(), settings.cancel);
    } catch (const NotDecodable&) {
        return {};
    }
}

}  // namespace

std::vector<LinkTarget> PdfExtractor::Links(const Text& dosyaadi) {
    std::lock_guard lock(ExtractionLock());
    std::optional<MappedFile> file;
    return LibraryLinks(settings_, [&] {
        file.emplace(platform::NativeFromPath(platform::ExtendedPath(dosyaadi)));
        return std::string_view(reinterpret_cast<const char*>(file->Data()), file->Size());
    });
}

std::vector<LinkTarget> PdfExtractor::LinksOfBytes(std::string_view bytes) {
    std::lock_guard lock(ExtractionLock());
    return LibraryLinks(settings_, [&] { return bytes; });
}

bool PdfExtractor::LinksAvailable() {
    std::lock_guard lock(ExtractionLock());
    try {
        return LoadPdfLibrary(settings_.libraryNames).HasLinks();
    } catch (const ReadError&) {
        return false;
    }
}

bool PdfLinksAvailable() {
    return PdfExtractor(PdfSettings{}).LinksAvailable();
}

Text PdfExtractor::LibraryText(const Text& dosyaadi) {
    PdfLibrary& library = LoadPdfLibrary(settings_.libraryNames);
    MappedFile file(platform::NativeFromPath(platform::ExtendedPath(dosyaadi)));
    return library.DocumentText(file.Data(), file.Size(), settings_.cancel);
}

// Runs the converter on the document. False when it could not run or did not
// finish in time, so that its output, if any, is not to be taken.
bool PdfExtractor::RunConverter(const std::string& pdf, const std::string& output) {
    const std::string& folder = settings_.converterFolder;
    std::string converter = platform::FindExecutable(folder + "/" + settings_.converterName);
    if (converter.empty()) converter = platform::FindExecutable(settings_.converterName);
    if (converter.empty()) return false;
    platform::ProcessRequest request;
    request.argv = {converter, "-enc", "UTF-8", pdf, output};
    request.workingFolder = IsFolder(folder) ? folder : std::string();
    request.timeout = settings_.converterTimeout;
    request.cancel = settings_.cancel;
    request.fileSizeLimit = settings_.converterOutputLimit;
    // Its temporary files go to the output's private folder, and go with it.
    request.environment = {"TMPDIR=" + output.substr(0, output.rfind('/'))};
    const platform::ProcessResult result = platform::RunHiddenProcess(request);
    struct stat st {};
    if (::stat(output.c_str(), &st) == 0 &&
        static_cast<std::uint64_t>(st.st_size) >= settings_.converterOutputLimit)
        throw ReadError("the converter's text passed " +
                        std::to_string(settings_.converterOutputLimit >> 20) + " MiB");
    switch (result.outcome) {
        case platform::ProcessOutcome::Cancelled:
            throw ReadError("stopped");
        case platform::ProcessOutcome::TimedOut:
        case platform::ProcessOutcome::NotStarted:
            return false;
        case platform::ProcessOutcome::Exited:
        case platform::ProcessOutcome::Signalled:
            return true;
    }
    return false;
}

// The output file's lines (UTF-8, else ANSI), each followed by CR LF.
Text PdfExtractor::ReadConverterOutput(const std::string& output) {
    const Text path = platform::PathFromNative(output);
    Lines lines;
    try {
        LoadLines(path, Encoding::Utf8, settings_.ansiCodePage, lines);
    } catch (const std::exception&) {
        LoadLines(path, Encoding::Ansi, settings_.ansiCodePage, lines);
    }
    Text text;
    for (std::size_t i = 0; i < lines.Size(); ++i) {
        text += lines[i];
        text += u"\r\n";
    }
    return text;
}

namespace {

class PdfReader : public DocumentReader {
public:
    PdfReader(std::shared_ptr<PdfExtractor> extractor, bool converter)
        : extractor_(std::move(extractor)), converter_(converter) {}
    std::string_view Name() const override { return converter_ ? "xpdf" : "pdfium"; }
    std::string_view Description() const override {
        return converter_ ? "PDF text through the external converter"
                          : "PDF text through the PDF library";
    }
    // The converter and the library are looked for anew for each document; a
    // document that neither can read fails on its own.
    bool Available() const override { return true; }
    Text ReadText(const Text& path) override {
        return converter_ ? extractor_->YukleXPDF(path) : extractor_->YuklePDFium(path);
    }
    // The library takes a document from memory; the converter needs a file.
    bool ReadsMemory() const override { return !converter_; }
    Text ReadBytes(std::string_view bytes, const std::string& name) override {
        if (converter_) return DocumentReader::ReadBytes(bytes, name);
        return extractor_->LibraryTextOfBytes(bytes);
    }
    std::vector<LinkTarget> ReadLinks(const Text& path) override { return extractor_->Links(path); }
    std::vector<LinkTarget> ReadLinksOfBytes(std::string_view bytes, const std::string&) override {
        return extractor_->LinksOfBytes(bytes);
    }

private:
    std::shared_ptr<PdfExtractor> extractor_;
    bool converter_;
};

}  // namespace

std::shared_ptr<DocumentReader> MakeXpdfReader(std::shared_ptr<PdfExtractor> extractor) {
    return std::make_shared<PdfReader>(std::move(extractor), true);
}

std::shared_ptr<DocumentReader> MakePdfiumReader(std::shared_ptr<PdfExtractor> extractor) {
    return std::make_shared<PdfReader>(std::move(extractor), false);
}

}  // namespace corvexa
