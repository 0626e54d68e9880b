#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/byte_source.h"
#include "engine/detect.h"
#include "engine/file_mask.h"
#include "engine/readers/document_reader.h"
#include "engine/scan_job.h"
#include "engine/shared_list.h"
#include "engine/text.h"

namespace corvexa {

namespace platform {
class PrivateFolder;
}

// State the window and the collector share. The window writes the flags at any
// time; the collector reads them at the moment of use (a switch from the next
// line, the reading mode from the next file, a stop at the next check).
struct ScanControl {
    std::atomic<bool> StopRequested{false};
    DetectionSwitches Switches;
    std::atomic<bool> MemoryStream{false};  // plain-text reading mode
    int AnsiCodePage = 1252;
};

// How a scan ended, as the completion step sees it.
struct ScanSummary {
    std::uint32_t StartTick = 0;
    bool Stopped = false;      // StopRequested was set when the collector finished
    bool MaskInvalid = false;  // directory mode with an invalid mask: nothing was listed
    std::string MaskError;
    // FilesListed counts the files on disk (or entries of a file list), not
    // the members' entries a scan puts in the files list after an archive.
    // What became of the listed files: read to their end, failed (FileFailed),
    // or, in a file list, entries that name no file at all (EntryMissing).
    // Files listed but never reached (a stop) are in none of them.
    std::uint64_t FilesListed = 0;
    std::uint64_t FilesRead = 0;
    std::uint64_t FilesFailed = 0;
    std::uint64_t EntriesMissing = 0;
};

// Receives the collector's notifications, on the collector thread, in the order
// they happen. The window forwards them to its own thread in that order.
class ScanSink {
public:
    virtual ~ScanSink() = default;
    virtual void WalkStarted() = 0;
    virtual void FileFound(const Text& path) = 0;
    virtual void WalkFinished() = 0;
    virtual void ReadingFile(const Text& path) = 0;
    virtual void FileDone() = 0;
    // Instead of FileDone, for a file that could not be read to its end (it
    // vanished, was refused, failed to decode in every way tried, memory ran
    // out): its findings so far stay. The reason is a short English text for
    // logs and the command line. The window ignores it.
    virtual void FileFailed(const Text& path, const std::string& reason) {
        (void)path;
        (void)reason;
    }
    // Instead of FileDone, for an entry of a file list that names no file
    // (nothing by that name, or an empty line), with the reading's reason. By
    // default a failure like any other.
    virtual void EntryMissing(const Text& path, const std::string& reason) {
        FileFailed(path, reason);
    }
    // Entries for the members of an archive just read were put into the files
    // list: `count` of them from index `at` on, the entries after them moved
    // back by as many. Sent after the archive's FileDone or FileFailed.
    virtual void MembersListed(std::size_t at, std::size_t count) {
        (void)at;
        (void)count;
    }
    virtual void ScanFinished(const ScanSummary& summary) = 0;
};

// Whether entry names a member of the archive or compressed file `file`
// (written after it in the files list by a scan): it starts with file's
// name and "//" (a member without a name ends there).
bool IsMemberEntry(TextView entry, TextView file);
// How many entries of a files list are members' entries (as below).
std::size_t CountMemberEntries(const SharedList& files);
// Removes from a files list the members' entries a scan put in after their
// archive, leaving the files a scan reads; returns how many went.
std::size_t DropMemberEntries(SharedList& files);

// Whether a path names nothing at all (as opposed to a file that exists but
// cannot be read): empty, or no such file or folder on the way.
bool NamesNoFile(const Text& path);

// Size in bytes of the file at path, or -1 when it cannot be found.
std::int64_t FileSizeOf(const Text& path);

// Seconds between two tick counts, modulo 2^32 milliseconds.
double ElapsedSeconds(std::uint32_t startTick, std::uint32_t endTick);

// The names of a file list that is still being read while the scan runs (the
// command line's --files-from): the files list grows at its end, and a scan
// that reaches its end waits for more names until the list is closed. The
// thread that reads the list must close it, also when it fails or is stopped.
// A fed list starts empty: it holds no members' entries of an earlier scan.
class FileListFeed {
public:
    explicit FileListFeed(SharedList& files) : files_(files) {}
    void Add(const std::vector<Text>& names);
    void Close();
    // Entry i of the files list into `out`, waiting while the list may still
    // grow; false when the list was closed without it, or at a stop.
    bool WaitFor(std::size_t i, Text& out, const std::atomic<bool>& stop);
    // Waits until the files list holds more than `size` entries; false when
    // it was closed without them, or at a stop.
    bool WaitBeyond(std::size_t size, const std::atomic<bool>& stop);

private:
    SharedList& files_;
    std::mutex mutex_;
    std::condition_variable more_;
    bool closed_ = false;
};

// One scan: walks the folder (directory mode) or takes the files list as it is
// (file-list mode), reads every file and detects addresses in every line. Runs
// on its own thread; at most one per window at a time.
class TCollector {
public:
    TCollector(ScanJob job, SharedList& files, SharedList& urls, ScanControl& control,
               ScanSink& sink, DocumentReaders readers = DocumentReaders::BuiltIn());
    ~TCollector();  // waits for the thread
    TCollector(const TCollector&) = delete;
    TCollector& operator=(const TCollector&) = delete;

    // Starts the thread, whose body is CollectNow.
    void Start();
    // Waits until the thread has finished (after ScanFinished was delivered).
    void Wait();

    // The thread body; may also be called directly on the current thread.
    void CollectNow();
    // Step one of CollectNow in directory mode: the walk between WalkStarted
    // and WalkFinished, which fills the files list.
    void Walk(ScanSummary& summary);
    void CollectFolder(const Text& folder, bool recurse);
    void AddFoundFile(const Text& path);
    // The per-file step: chooses a reader, acquires the text, runs detection.
    // A document its reader cannot decode is read as plain text. Throws when
    // the file cannot be read, or was read only in part (its findings stay).
    void ExtractURLsFromFile(const Text& path);

    std::uint32_t StartTick() const { return startTick_; }

    // The entries of the members of the archive ExtractURLsFromFile last read
    // (the place of each member read, nested archives included, in reading
    // order), to go into the files list right after the archive; the origins
    // of their findings have those entries (the archive's index plus one,
    // two, ...) as `entry`. Emptied by the next ExtractURLsFromFile.
    std::vector<Text> TakeMembers() { return std::move(members_); }
    // Lets go of the folder of the plain-text file read last, held open for
    // the next file of that folder; the scan's end does it.
    void ReleaseFolder() { folders_.Release(); }

    // Notes each finding's file (its index in the files list) and line number
    // in `origins` from now on; null stops it.
    void RecordOrigins(FindingOrigins* origins);
    // File-list mode: the list is still being read (call before Start).
    void SetFeed(FileListFeed* feed) { feed_ = feed; }
    // The detection the per-file step hands lines to, and a sink to put in
    // its place (one that passes the lines on to it).
    Detector& Detection() { return detector_; }
    void SetLineSink(LineSink& sink) { lineSink_ = &sink; }

private:
    bool Stopping() const { return control_.StopRequested.load(std::memory_order_relaxed); }
    void ReadFile(const Text& path);
    // Reads one file of the list and tells the sink how that ended.
    void ReadListedFile(const Text& path, ScanSummary& summary);
    // Entry i of the files list, waiting for it while a feed may bring it.
    bool NextListed(std::size_t i, Text& path);
    void ScanPlainText(const Text& path);
    // Runs detection on the text a reader gives; a text cut short at one of
    // the reader's bounds is searched as far as it goes and the cut is noted.
    // False when the reader cannot decode the document.
    // The text arrives in pieces (DocumentReader::StreamText) and is cut into
    // lines as it comes.
    bool ScanDocumentText(const std::function<void(const TextPieces&)>& read);
    // Reads a compressed file or archive member by member; false when it is
    // neither (read it as plain text). Throws naming the members that failed.
    bool ScanArchive(const Text& path);
    // Reads one member of an archive (member: its path inside the file) as
    // its kind, found by its name, when that kind's reader is on; else as
    // plain text. Its failures are noted under its place.
    void ScanMember(const std::string& place, std::string_view bytes,
                    std::vector<std::string>& failures);
    // Notes a member's entry; its findings go to that entry from now on.
    void ListMember(const std::string& place, std::string member);
    // Reads a member's text as its reader gives it, and, for a link-targets
    // scan, the addresses behind its links.
    bool ScanMemberDocument(DocumentReader& reader, const std::string& place,
                            std::string_view bytes, const Text& lowerExtension);
    // Reads link targets (each page's as a text of its own) already fetched.
    void ScanLinkTargets(const std::vector<LinkTarget>& links);
    // The reader of the kind a member's name ends as, or null (plain text);
    // alsoPlain says whether the raw bytes are read as well.
    DocumentReader* MemberReader(const Text& lowerExtension, bool& alsoPlain) const;
    // The text of a member: from memory when its reader takes memory, else
    // through a file of the scan's private folder, removed right after.
    // For a link-targets scan, links receives the member's link targets.
    Text MemberText(DocumentReader& reader, const std::string& place, std::string_view bytes,
                    const Text& lowerExtension, std::vector<LinkTarget>* links);
    // Reads an mbox message by message, each decoded and then as it is;
    // false when the file is no mbox. Throws naming the messages that failed.
    bool ScanMailbox(const Text& path);
    // Reads the link targets of a document its reader decoded, each page's
    // as a text of their own, one a line; a failure is noted as a cut.
    void ScanLinks(DocumentReader& reader, const Text& path);

    ScanJob job_;
    SharedList& files_;
    ScanControl& control_;
    ScanSink& sink_;
    DocumentReaders readers_;
    // The readers this scan uses, settled when it is set up: one per enabled
    // kind whose reader can run (else null), and the PDF mode's.
    std::array<DocumentReader*, kDocumentKindCount> enabled_{};
    DocumentReader* pdfReader_ = nullptr;
    Detector detector_;
    LineSink* lineSink_ = &detector_;
    FolderCache folders_;  // for plain-text files, read one after another
    FindingOrigins* origins_ = nullptr;
    FileListFeed* feed_ = nullptr;
    std::optional<FileMask> mask_;
    std::uint32_t startTick_ = 0;
    std::thread thread_;
    // Where members go for the readers that need a file (made at the first).
    std::unique_ptr<platform::PrivateFolder> memberFolder_;
    std::uint64_t memberFiles_ = 0;
    // The bounds that cut the file being read, as they were met.
    std::vector<std::string> cuts_;
    // The members' entries of the file being read, and its own index.
    std::vector<Text> members_;
    std::uint64_t fileIndex_ = 0;
};

}  // namespace corvexa
