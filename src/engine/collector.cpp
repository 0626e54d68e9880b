#include "engine/collector.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "engine/byte_source.h"
#include "engine/folder_walk.h"
#include "engine/readers/archive_reader.h"
#include "engine/readers/eml_reader.h"
#include "engine/readers/mailbox_reader.h"
#include "engine/readers/text_reader.h"
#include "platform/ascii.h"
#include "platform/fd_io.h"
#include "platform/native_path.h"
#include "platform/private_folder.h"
#include "platform/tick.h"

namespace corvexa {

std::int64_t FileSizeOf(const Text& path) {
    // The file a link leads to, else the link itself; paths of any length.
    std::string native = platform::NativeFromPath(path);
    for (int flags : {O_PATH, O_PATH | O_NOFOLLOW}) {
        int fd = platform::OpenNative(native, flags);
        if (fd < 0) continue;
        struct stat st;
        int rc = ::fstat(fd, &st);
        ::close(fd);
        if (rc == 0) return static_cast<std::int64_t>(st.st_size);
    }
    return -1;
}

bool NamesNoFile(const Text& path) {
    if (path.empty()) return true;
    const int fd = platform::OpenNative(platform::NativeFromPath(path), O_PATH | O_NOFOLLOW);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == ENOENT || errno == ENOTDIR;
}

double ElapsedSeconds(std::uint32_t startTick, std::uint32_t endTick) {
    return static_cast<std::uint32_t>(endTick - startTick) / 1000.0;
}

TCollector::TCollector(ScanJob job, SharedList& files, SharedList& urls, ScanControl& control,
                       ScanSink& sink, DocumentReaders readers)
    : job_(std::move(job)),
      files_(files),
      control_(control),
      sink_(sink),
      readers_(std::move(readers)),
      detector_(control.Switches, urls) {
    // STOP also ends a conversion an outside program is doing for a reader.
    for (const auto& reader : readers_.All()) reader->SetStopFlag(&control_.StopRequested);
    // Whether each reader can run is settled here, once for the scan.
    for (const DocumentKindInfo& kind : DocumentKindTable()) {
        const auto& reader = readers_.Of(kind.kind);
        if (job_.Kinds.Has(kind.kind) && DocumentReaders::Usable(reader))
            enabled_[static_cast<std::size_t>(kind.kind)] = reader.get();
    }
    if (auto pdf = readers_.ForPdf(job_.Pdf); DocumentReaders::Usable(pdf)) pdfReader_ = pdf.get();
}

TCollector::~TCollector() {
    Wait();
}

void TCollector::Start() {
    thread_ = std::thread([this] { CollectNow(); });
}

void TCollector::Wait() {
    if (thread_.joinable()) thread_.join();
}

void TCollector::CollectNow() {
    startTick_ = platform::TickCount32();
    ScanSummary summary;
    summary.StartTick = startTick_;

    if (job_.Mode == ScanMode::Directory)
        Walk(summary);
    else if (!feed_)
        DropMemberEntries(files_);  // an earlier scan's; they come again with their archive

    std::size_t membersListed = 0;
    Text path;
    for (std::size_t i = 0; NextListed(i, path); ++i) {
        if (Stopping()) break;
        if (origins_) origins_->BeginFile(i);
        sink_.ReadingFile(path);
        ReadListedFile(path, summary);
        // An archive's members go right after it, in the order read.
        const std::vector<Text> members = TakeMembers();
        if (members.empty()) continue;
        files_.InsertAt(i + 1, members);
        sink_.MembersListed(i + 1, members.size());
        i += members.size();
        membersListed += members.size();
    }

    folders_.Release();
    summary.FilesListed = files_.Size() - membersListed;
    summary.Stopped = Stopping();
    sink_.ScanFinished(summary);
}

bool TCollector::NextListed(std::size_t i, Text& path) {
    return files_.TryAt(i, path) || (feed_ && feed_->WaitFor(i, path, control_.StopRequested));
}

void FileListFeed::Add(const std::vector<Text>& names) {
    {
        std::lock_guard lock(mutex_);
        files_.InsertAt(SIZE_MAX, names);  // at the end, in one step
    }
    more_.notify_all();
}

void FileListFeed::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    more_.notify_all();
}

bool FileListFeed::WaitFor(std::size_t i, Text& out, const std::atomic<bool>& stop) {
    while (!files_.TryAt(i, out))
        if (!WaitBeyond(i, stop)) return files_.TryAt(i, out);
    return true;
}

bool FileListFeed::WaitBeyond(std::size_t size, const std::atomic<bool>& stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (files_.Size() > size) return true;
        if (closed_ || stop.load()) return false;
        // A stop comes without a notification here: it is looked at now and then.
        more_.wait_for(lock, std::chrono::milliseconds(50));
    }
}

void TCollector::ReadListedFile(const Text& path, ScanSummary& summary) {
    // A failed file is skipped; its findings so far stay. Running out of
    // memory on one file is such a failure, never a finished file.
    try {
        ExtractURLsFromFile(path);
    } catch (const std::bad_alloc&) {
        ++summary.FilesFailed;
        sink_.FileFailed(path, "out of memory");
        return;
    } catch (const std::exception& e) {
        if (job_.Mode == ScanMode::FileList && NamesNoFile(path)) {
            ++summary.EntriesMissing;
            sink_.EntryMissing(path, e.what());
        } else {
            ++summary.FilesFailed;
            sink_.FileFailed(path, e.what());
        }
        return;
    }
    ++summary.FilesRead;
    sink_.FileDone();
}

void TCollector::Walk(ScanSummary& summary) {
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

void TCollector::RecordOrigins(FindingOrigins* origins) {
    origins_ = origins;
    detector_.RecordOrigins(origins);
    lineSink_->numberLines = origins != nullptr;
}

void TCollector::CollectFolder(const Text& folder, bool recurse) {
    FolderWalk::Run(
        folder, recurse, [this] { return Stopping(); },
        [this](const Text& path) {
            if (mask_ && mask_->Matches(path)) AddFoundFile(path);
        });
}

void TCollector::AddFoundFile(const Text& path) {
    if (job_.SkipLargeFilesMB != 0) {
        double mb = static_cast<double>(FileSizeOf(path)) / 1048576.0;
        if (mb >= static_cast<double>(job_.SkipLargeFilesMB)) return;
    }
    files_.Append(path);
    sink_.FileFound(path);
}

bool IsMemberEntry(TextView entry, TextView file) {
    return entry.size() >= file.size() + 2 && entry.substr(0, file.size()) == file &&
           entry.substr(file.size(), 2) == u"//";
}

namespace {

// Calls f on every entry with whether it is a member's entry: one that
// follows the archive it starts with, and that archive's other members.
void ForEachEntry(const SharedList& files, const std::function<void(TextView, bool)>& f) {
    Text file;
    files.ForEachBatched([&](TextView entry) {
        // Most entries hold no "//" at all: no member's does.
        const bool member = entry.find(u"//") != TextView::npos && IsMemberEntry(entry, file) &&
                            IsArchiveName(platform::NativeFromPath(file));
        if (!member) file.assign(entry);
        f(entry, member);
    });
}

}  // namespace

std::size_t CountMemberEntries(const SharedList& files) {
    std::size_t members = 0;
    ForEachEntry(files, [&](TextView, bool member) { members += member ? 1 : 0; });
    return members;
}

std::size_t DropMemberEntries(SharedList& files) {
    // A list without members is left as it is.
    if (CountMemberEntries(files) == 0) return 0;
    std::vector<Text> kept;
    std::size_t dropped = 0;
    ForEachEntry(files, [&](TextView entry, bool member) {
        if (member)
            ++dropped;
        else
            kept.emplace_back(entry);
    });
    files.Assign(kept);
    return dropped;
}

namespace {

// Joins failures into one reason, "; " between them.
std::string JoinFailures(const std::vector<std::string>& failures) {
    std::string reason;
    for (const std::string& f : failures) reason += (reason.empty() ? "" : "; ") + f;
    return reason;
}

}  // namespace

void TCollector::ExtractURLsFromFile(const Text& path) {
    cuts_.clear();
    members_.clear();
    fileIndex_ = origins_ ? origins_->CurrentFile() : 0;
    ReadFile(path);
    if (!cuts_.empty()) throw ReadError(JoinFailures(cuts_));
}

bool TCollector::ScanDocumentText(const std::function<void(const TextPieces&)>& read) {
    LineCutter cutter;
    const std::atomic<bool>& stop = control_.StopRequested;
    auto feed = [&](TextView piece) { return cutter.Feed(piece, *lineSink_, stop); };
    try {
        read(feed);
        cutter.Finish(*lineSink_, stop);
    } catch (const PartialRead& cut) {
        cutter.Feed(cut.TextSoFar(), *lineSink_, stop, true);
        cuts_.push_back(cut.what());
    } catch (const NotDecodable&) {
        cutter.Abandon(*lineSink_);
        return false;
    } catch (...) {
        cutter.Abandon(*lineSink_);
        throw;
    }
    return true;
}

void TCollector::ReadFile(const Text& path) {
    const Text ext = LowerExtension(path);
    // True when the reader decoded the document; false when it is to be read
    // as plain text.
    auto scanDocument = [&](DocumentReader& reader) {
        // The readers and the programs they run open the file as they please:
        // a FIFO or a device named like a document would block them, so only
        // a regular file is handed over (checked without blocking).
        {
            FileSource probe(path);
            probe.Open();
        }
        if (!ScanDocumentText([&](const TextPieces& feed) { reader.StreamText(path, feed); }))
            return false;
        if (job_.LinkTargets) ScanLinks(reader, path);
        return true;
    };

    if (job_.Archives && IsArchiveName(platform::NativeFromPath(path)) && ScanArchive(path)) return;

    if (job_.Mailboxes) {
        const std::string native = platform::NativeFromPath(path);
        if (IsMboxName(native) && ScanMailbox(path)) return;
        // A Maildir message, decoded and then read below as plain text.
        if (IsMaildirMessage(native) && !(ext == u".eml" && job_.Kinds.Has(DocumentKind::Eml)))
            ScanDocumentText([&](const TextPieces& feed) { EmlStream(path, feed); });
    }

    for (const DocumentKindInfo& kind : DocumentKindTable()) {
        DocumentReader* reader = enabled_[static_cast<std::size_t>(kind.kind)];
        if (!reader || !kind.Matches(ext)) continue;
        if (scanDocument(*reader) && !kind.alsoPlainText) return;
        break;
    }
    if (pdfReader_ && ext == u".pdf" && scanDocument(*pdfReader_)) return;
    ScanPlainText(path);
}

void TCollector::ScanPlainText(const Text& path) {
    ReadContext ctx{*lineSink_, control_.StopRequested, control_.AnsiCodePage};
    FileSource source(path, &folders_);
    corvexa::ScanPlainText(source, control_.MemoryStream.load(std::memory_order_relaxed), ctx);
}

void TCollector::ScanLinks(DocumentReader& reader, const Text& path) {
    std::vector<LinkTarget> links;
    try {
        links = reader.ReadLinks(path);
    } catch (const ReadError& e) {
        cuts_.push_back(std::string("link targets: ") + e.what());
        return;
    }
    ScanLinkTargets(links);
}

void TCollector::ScanLinkTargets(const std::vector<LinkTarget>& links) {
    const std::string base = origins_ ? origins_->CurrentMember() : std::string();
    for (std::size_t i = 0; i < links.size() && !Stopping();) {
        const std::uint32_t page = links[i].page;
        Text text;
        for (; i < links.size() && links[i].page == page; ++i) {
            text += FromUtf8(links[i].uri);
            text += u'\n';
        }
        if (origins_) {
            // Under the member the document is, when it is one.
            origins_->BeginMember(base.empty()
                                      ? LinkPlace(page)
                                      : base + std::string(kMemberSeparator) + LinkPlace(page));
        }
        ScanTextLines(text, *lineSink_, control_.StopRequested);
    }
    if (origins_) origins_->BeginMember(base);
}

bool TCollector::ScanArchive(const Text& path) {
    std::vector<std::string> failures;
    // Each member is read as a text of its own: its lines are numbered from 1.
    const std::string container = platform::NativeFromPath(path);
    const std::size_t skip = container.size() + kMemberSeparator.size();
    auto visit = [&](const std::string& place, std::string_view bytes) {
        ListMember(place, place.substr(skip));
        ScanMember(place, bytes, failures);
    };
    auto entered = [&](const std::string& place) { ListMember(place, place.substr(skip)); };
    std::vector<ArchiveFailure> broken;
    FileSource source(path);
    const bool read = ReadArchive(source, container, ArchiveLimits{}, visit, broken,
                                  control_.StopRequested, entered);
    if (origins_) origins_->BeginFile(fileIndex_);
    if (!read) return false;
    for (const ArchiveFailure& f : broken) failures.push_back(f.place + ": " + f.reason);
    if (failures.empty()) return true;
    throw ReadError(JoinFailures(failures));
}

void TCollector::ListMember(const std::string& place, std::string member) {
    members_.push_back(platform::PathFromNative(place));
    if (origins_) origins_->BeginEntry(fileIndex_ + members_.size(), std::move(member));
}

void TCollector::ScanMember(const std::string& place, std::string_view bytes,
                            std::vector<std::string>& failures) {
    const Text ext = LowerExtension(platform::PathFromNative(place));
    bool alsoPlain = true;
    if (DocumentReader* reader = MemberReader(ext, alsoPlain)) {
        try {
            if (ScanMemberDocument(*reader, place, bytes, ext) && !alsoPlain) return;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            failures.push_back(place + ": " + e.what());
            return;
        }
    }
    ReadContext ctx{*lineSink_, control_.StopRequested, control_.AnsiCodePage};
    MemorySource source(bytes);
    try {
        corvexa::ScanPlainText(source, control_.MemoryStream.load(std::memory_order_relaxed), ctx);
    } catch (const ReadError& e) {
        failures.push_back(place + ": " + e.what());
    }
}

bool TCollector::ScanMemberDocument(DocumentReader& reader, const std::string& place,
                                    std::string_view bytes, const Text& lowerExtension) {
    std::vector<LinkTarget> links;
    std::vector<LinkTarget>* wanted = job_.LinkTargets ? &links : nullptr;
    const bool decoded = ScanDocumentText([&](const TextPieces& feed) {
        feed(MemberText(reader, place, bytes, lowerExtension, wanted));
    });
    if (decoded) ScanLinkTargets(links);
    return decoded;
}

DocumentReader* TCollector::MemberReader(const Text& lowerExtension, bool& alsoPlain) const {
    for (const DocumentKindInfo& kind : DocumentKindTable()) {
        DocumentReader* reader = enabled_[static_cast<std::size_t>(kind.kind)];
        if (!reader || !kind.Matches(lowerExtension)) continue;
        alsoPlain = kind.alsoPlainText;
        return reader;
    }
    alsoPlain = false;
    if (pdfReader_ && lowerExtension == u".pdf") return pdfReader_;
    return nullptr;
}

namespace {

// A member written to a new file of a private folder, for a reader that runs
// an outside program; the file is removed when this goes.
class MemberFile {
public:
    MemberFile(const platform::PrivateFolder& folder, const std::string& name,
               std::string_view bytes)
        : path_(folder.Inside(name)) {
        const int fd = folder.CreateFile(name);
        if (fd < 0) throw ReadError("cannot make a private file: " + std::string(strerror(errno)));
        const bool written = platform::WriteFull(fd, bytes.data(), bytes.size());
        const int error = errno;
        if (::close(fd) != 0 || !written) {
            ::unlink(path_.c_str());
            throw ReadError("cannot write a private file: " +
                            std::string(strerror(written ? errno : error)));
        }
    }
    ~MemberFile() { ::unlink(path_.c_str()); }
    MemberFile(const MemberFile&) = delete;
    MemberFile& operator=(const MemberFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace

Text TCollector::MemberText(DocumentReader& reader, const std::string& place,
                            std::string_view bytes, const Text& lowerExtension,
                            std::vector<LinkTarget>* links) {
    // A failure to read the links cuts the member short; its text stays.
    auto fetchLinks = [&](const std::function<std::vector<LinkTarget>()>& read) {
        if (!links) return;
        try {
            *links = read();
        } catch (const ReadError& e) {
            cuts_.push_back(place + ": link targets: " + e.what());
        }
    };
    if (reader.ReadsMemory()) {
        Text text = reader.ReadBytes(bytes, place);
        fetchLinks([&] { return reader.ReadLinksOfBytes(bytes, place); });
        return text;
    }
    if (!memberFolder_)
        memberFolder_ = std::make_unique<platform::PrivateFolder>("corvexa-member-");
    // The member's own ending (one the reader knows), so that the program
    // behind the reader takes it for what it is.
    const std::string name =
        "member-" + std::to_string(++memberFiles_) + platform::NativeFromPath(lowerExtension);
    MemberFile file(*memberFolder_, name, bytes);
    const Text path = platform::PathFromNative(file.Path());
    Text text = reader.ReadText(path);
    fetchLinks([&] { return reader.ReadLinks(path); });
    return text;
}

bool TCollector::ScanMailbox(const Text& path) {
    constexpr std::size_t kLongestMessage = std::size_t{64} << 20;
    ReadContext ctx{*lineSink_, control_.StopRequested, control_.AnsiCodePage};
    const bool memoryStream = control_.MemoryStream.load(std::memory_order_relaxed);
    const std::string native = platform::NativeFromPath(path);
    std::vector<std::string> failures;
    // A message's place is the mailbox and its number: "box.mbox//3".
    auto visit = [&](std::uint64_t number, std::string_view message) {
        const std::string member = std::to_string(number);
        if (origins_) origins_->BeginMember(member);
        LineCutter cutter;
        const std::atomic<bool>& stop = control_.StopRequested;
        try {
            EmlStreamOfBytes(message, native + "//" + member,
                             [&](TextView piece) { return cutter.Feed(piece, *lineSink_, stop); });
            cutter.Finish(*lineSink_, stop);
        } catch (const PartialRead& cut) {
            cutter.Feed(cut.TextSoFar(), *lineSink_, stop, true);
            failures.push_back(cut.what());
        } catch (const ReadError& e) {
            cutter.Abandon(*lineSink_);
            failures.push_back(e.what());
        }
        MemorySource raw(message);
        try {
            corvexa::ScanPlainText(raw, memoryStream, ctx);
        } catch (const ReadError& e) {
            failures.push_back(native + "//" + member + ": " + e.what());
        }
    };
    auto tooLong = [&](std::uint64_t number) {
        failures.push_back(native + "//" + std::to_string(number) + ": message longer than 64 MB");
    };
    FileSource source(path);
    const std::uint64_t count =
        ReadMbox(source, kLongestMessage, visit, tooLong, control_.StopRequested);
    if (origins_) origins_->BeginMember({});
    if (count == 0) return false;
    if (!failures.empty()) throw ReadError(JoinFailures(failures));
    return true;
}

}  // namespace corvexa
