// Compressed files, archives and mailboxes. The first byte chooses the path:
// 0 the archive reader alone, 1 the mbox reader alone, 2 and 3 a whole scan of
// the file as an archive or a mailbox, whose members and messages are read by
// their kinds (e-mail messages decoded from memory, the rest as plain text;
// nothing that runs an outside program); the rest is the file. Members and
// messages stay within their limits and keep their places under the
// container's; the files list and the findings' places agree.
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "engine/byte_source.h"
#include "engine/collector.h"
#include "engine/readers/archive_reader.h"
#include "engine/readers/mailbox_reader.h"
#include "fuzz_input.h"
#include "platform/fd_io.h"
#include "platform/private_folder.h"

using namespace corvexa;

namespace {

void ReadArchiveAlone(std::string_view in, const std::atomic<bool>& stop) {
    MemorySource source(in);
    ArchiveLimits limits;
    limits.memberBytes = 1 << 20;
    limits.totalBytes = 4 << 20;
    std::uint64_t total = 0;
    std::vector<ArchiveFailure> failures;
    ReadArchive(
        source, "in", limits,
        [&](const std::string& place, std::string_view bytes) {
            fuzz::Check(bytes.size() <= limits.memberBytes, "a member past its limit", place);
            fuzz::Check(place.rfind("in//", 0) == 0, "a member outside its container", place);
            total += bytes.size();
        },
        failures, stop,
        [&](const std::string& place) {
            fuzz::Check(place.rfind("in//", 0) == 0, "an archive outside its container", place);
        });
    // Bytes of an archive that failed part way are handed over too, once.
    fuzz::Check(total <= 2 * limits.totalBytes, "more unpacked than the limit allows");
}

void ReadMboxAlone(std::string_view in, const std::atomic<bool>& stop) {
    MemorySource source(in);
    constexpr std::size_t kMax = 4096;
    std::uint64_t seen = 0;
    const std::uint64_t count = ReadMbox(
        source, kMax,
        [&](std::uint64_t n, std::string_view message) {
            fuzz::Check(message.size() <= kMax, "a message past its limit");
            fuzz::Check(n == ++seen, "messages out of order");
        },
        [&](std::uint64_t n) { fuzz::Check(n == ++seen, "messages out of order"); }, stop);
    fuzz::Check(count == seen, "a message neither handed over nor named");
}

struct CountingSink : ScanSink {
    void WalkStarted() override {}
    void FileFound(const Text&) override {}
    void WalkFinished() override {}
    void ReadingFile(const Text&) override {}
    void FileDone() override { ++ended; }
    void FileFailed(const Text&, const std::string&) override { ++ended; }
    void MembersListed(std::size_t at, std::size_t count) override {
        fuzz::Check(at == 1 && listed == 0, "members listed away from their archive");
        listed += count;
    }
    void ScanFinished(const ScanSummary& s) override { summary = s; }
    int ended = 0;
    std::size_t listed = 0;
    ScanSummary summary;
};

std::string WriteInput(std::string_view in, const char* name) {
    const platform::PrivateFolder& folder = fuzz::PrivateFolder();
    const std::string path = folder.Inside(name);
    ::unlink(path.c_str());
    const int fd = folder.CreateFile(name);
    if (fd < 0) fuzz::Fail("cannot make the input file", path);
    const bool written = platform::WriteFull(fd, in.data(), in.size());
    ::close(fd);
    if (!written) fuzz::Fail("cannot write the input file", path);
    return path;
}

// The whole scan of one file: e-mail decoding on, archives and mailboxes read.
void ScanFile(std::string_view in, bool mailbox) {
    const std::string path = WriteInput(in, mailbox ? "in.mbox" : "in.tar.gz");
    ScanJob job;
    job.Mode = ScanMode::FileList;
    job.Archives = true;
    job.Mailboxes = true;
    job.Kinds.Set(DocumentKind::Eml, true);
    job.Pdf = PdfMode::PlainText;
    static const DocumentReaders readers = DocumentReaders::BuiltIn();
    ScanControl control;
    SharedList files, urls;
    const Text name = FromUtf8(path);
    files.Assign({name});
    CountingSink sink;
    FindingOrigins origins;
    TCollector collector(job, files, urls, control, sink, readers);
    collector.RecordOrigins(&origins);
    collector.CollectNow();
    fuzz::Check(sink.ended == 1 && sink.summary.FilesListed == 1, "the file was not read once");
    fuzz::Check(files.Size() == 1 + sink.listed, "members listed but not told");
    Text entry;
    for (std::size_t i = 1; files.TryAt(i, entry); ++i)
        fuzz::Check(IsMemberEntry(entry, name), "an entry outside its archive", ToUtf8(entry));
    fuzz::Check(origins.Size() == urls.Size(), "findings without their places");
    for (std::size_t i = 0; i < origins.Size(); ++i)
        fuzz::Check(origins.At(i).file < files.Size() && origins.At(i).entry < files.Size(),
                    "a finding placed past the files list");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > (1 << 16)) return 0;
    std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::atomic<bool> stop{false};
    switch (data[0] % 4) {
        case 0:
            ReadArchiveAlone(in, stop);
            break;
        case 1:
            ReadMboxAlone(in, stop);
            break;
        default:
            ScanFile(in, data[0] % 4 == 3);
            break;
    }
    return 0;
}
