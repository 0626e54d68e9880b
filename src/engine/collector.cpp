#include "engine/collector.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <new>

#include "engine/text_reader.h"
#include "platform/native_path.h"
#include "platform/tick.h"

namespace corvexa {

std::int64_t FileSizeOf(const Text& path) {
    struct stat st;
    std::string native = platform::NativeFromPath(path);
    if (::stat(native.c_str(), &st) == 0) return static_cast<std::int64_t>(st.st_size);
    if (::lstat(native.c_str(), &st) == 0) return static_cast<std::int64_t>(st.st_size);
    return -1;
}

double ElapsedSeconds(std::uint32_t startTick, std::uint32_t endTick) {
    return static_cast<std::uint32_t>(endTick - startTick) / 1000.0;
}

Text LowerExtension(TextView path) {
    std::size_t slash = path.find_last_of(u"/\\");
    TextView name = slash == TextView::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.rfind(u'.');
    if (dot == TextView::npos) return {};
    Text ext(name.substr(dot));
    for (char16_t& c : ext)
        if (c >= u'A' && c <= u'Z') c = c - u'A' + u'a';
    return ext;
}

TCollector::TCollector(ScanJob job, SharedList& files, SharedList& urls, ScanControl& control,
                       ScanSink& sink, DocumentReaders readers)
    : job_(std::move(job)),
      files_(files),
      control_(control),
      sink_(sink),
      readers_(std::move(readers)),
      detector_(control.Switches, urls) {}

TCollector::~TCollector() { Wait(); }

void TCollector::Start() { thread_ = std::thread([this] { CollectNow(); }); }

void TCollector::Wait() {
    if (thread_.joinable()) thread_.join();
}

void TCollector::CollectNow() {
    startTick_ = platform::TickCount32();
    ScanSummary summary;
    summary.StartTick = startTick_;

    if (job_.Mode == ScanMode::Directory) {
        sink_.WalkStarted();
        mask_ = FileMask::Compile(job_.FileMask, &summary.MaskError);
        if (mask_) {
            CollectFolder(job_.Folder, job_.IncludeSubfolders);
        } else {
            // An invalid mask matches no file; the completion says why.
            summary.MaskInvalid = true;
        }
        sink_.WalkFinished();
    }

    Text path;
    for (std::size_t i = 0; files_.TryAt(i, path); ++i) {
        if (Stopping()) break;
        sink_.ReadingFile(path);
        // A failed file is skipped; its findings so far stay. Running out of
        // memory on one file is such a failure, never a finished file.
        try {
            ExtractURLsFromFile(path);
        } catch (const std::bad_alloc&) {
            sink_.FileFailed(path, "out of memory");
            continue;
        } catch (const std::exception& e) {
            sink_.FileFailed(path, e.what());
            continue;
        }
        sink_.FileDone();
    }

    summary.Stopped = Stopping();
    sink_.ScanFinished(summary);
}

void TCollector::CollectFolder(const Text& folder, bool recurse) {
    if (Stopping()) return;
    std::string native = platform::NativeFromPath(folder);
    DIR* dir = ::opendir(native.empty() ? "" : native.c_str());
    if (!dir) return;  // a folder that cannot be listed contributes nothing

    // A folder already on the walk's chain (reached again through a link) is
    // not entered a second time, so links never make the walk loop.
    struct stat self;
    if (::fstat(::dirfd(dir), &self) == 0) {
        auto id = std::make_pair(self.st_dev, self.st_ino);
        if (std::find(openFolders_.begin(), openFolders_.end(), id) != openFolders_.end()) {
            ::closedir(dir);
            return;
        }
        openFolders_.push_back(id);
    } else {
        openFolders_.emplace_back(0, 0);
    }

    Text prefix = folder;
    if (prefix.empty() || (prefix.back() != platform::kPathSeparator)) prefix += platform::kPathSeparator;
    std::string nativePrefix = platform::NativeFromPath(prefix);

    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        bool isFolder;
        if (entry->d_type == DT_DIR) {
            isFolder = true;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isFolder = ::stat((nativePrefix + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        } else {
            isFolder = false;
        }
        Text path = prefix + platform::PathFromNative(name);
        if (!isFolder) {
            if (mask_ && mask_->Matches(path)) AddFoundFile(path);
        } else if (recurse) {
            CollectFolder(path, true);
        }
    }
    ::closedir(dir);
    openFolders_.pop_back();
}

void TCollector::AddFoundFile(const Text& path) {
    if (job_.SkipLargeFilesMB != 0) {
        double mb = static_cast<double>(FileSizeOf(path)) / 1048576.0;
        if (mb >= static_cast<double>(job_.SkipLargeFilesMB)) return;
    }
    files_.Append(path);
    sink_.FileFound(path);
}

void TCollector::ExtractURLsFromFile(const Text& path) {
    const Text ext = LowerExtension(path);
    auto scanDocument = [&](const std::shared_ptr<DocumentReader>& reader) {
        Text text = reader->ReadText(path);
        ScanTextLines(text, detector_, control_.StopRequested);
    };

    // A decoded message is read again below as plain text.
    if (ext == u".eml" && job_.DecodeEML && DocumentReaders::Usable(readers_.eml))
        scanDocument(readers_.eml);

    if (ext == u".pdf" && job_.PdfProcessing == "xpdf" && DocumentReaders::Usable(readers_.xpdf)) {
        scanDocument(readers_.xpdf);
    } else if (ext == u".pdf" && job_.PdfProcessing == "pdfium" &&
               DocumentReaders::Usable(readers_.pdfium)) {
        scanDocument(readers_.pdfium);
    } else if ((ext == u".docx" || ext == u".doc") && job_.DecodeWord &&
               DocumentReaders::Usable(readers_.word)) {
        scanDocument(readers_.word);
    } else if ((ext == u".xlsx" || ext == u".xls") && job_.DecodeExcel &&
               DocumentReaders::Usable(readers_.excel)) {
        scanDocument(readers_.excel);
    } else {
        ScanPlainText(path);
    }
}

void TCollector::ScanPlainText(const Text& path) {
    ReadContext ctx{detector_, control_.StopRequested, control_.AnsiCodePage};
    FileSource source(path);
    corvexa::ScanPlainText(source, control_.MemoryStream.load(std::memory_order_relaxed), ctx);
}

}  // namespace corvexa
