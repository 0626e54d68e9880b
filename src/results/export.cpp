#include "results/export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/fd_io.h"
#include "platform/native_path.h"
#include "platform/replace_file.h"
#include "results/places.h"

namespace corvexa::results {

namespace {

// An entry as UTF-8; ASCII, which findings always are, goes straight in.
void AppendUtf8(std::string& out, TextView text) {
    const std::size_t base = out.size();
    out.resize(base + text.size());
    char* to = out.data() + base;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0x80) {
            out.resize(base + i);
            out += platform::NativeFromPath(text.substr(i));
            return;
        }
        to[i] = static_cast<char>(c);
    }
}

// Whether a link may be written through: not when it sits in a folder anyone
// may write to but only owners may delete from (such as /tmp) and neither we
// nor the folder's owner made it, since another user could have planted it
// there to have us overwrite a file of ours. The kernel can enforce the same
// rule, but that setting may be off.
bool LinkMayBeFollowed(const std::string& path, const struct stat& link) {
    if (link.st_uid == ::geteuid()) return true;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return false;
    const bool shared = (st.st_mode & S_ISVTX) != 0 && (st.st_mode & S_IWOTH) != 0;
    return !shared || st.st_uid == link.st_uid;
}

// An export file being written. A regular file (or a new one) is written to a
// private temporary file beside it, which replaces it only once every byte is
// on the disk: a full disk or any other failure leaves the previous export as
// it was and no partial file. A device, a pipe or a link is written directly. The
// descriptor is closed, and the temporary file removed, on every path out.
class ExportWriter {
public:
    explicit ExportWriter(const Text& path) : nativePath_(platform::NativeFromPath(path)) {
        // A link (such as /dev/stdout) is written through, as before: replacing
        // it would put a file where the link was.
        struct stat st {};
        const bool direct =
            ::lstat(nativePath_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
        if (direct && S_ISLNK(st.st_mode) && !LinkMayBeFollowed(nativePath_, st)) {
            errno = EACCES;
            Fail("Cannot create file (a link another user made)");
        }
        if (direct) {
            do {
                fd_ = ::open(nativePath_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            } while (fd_ < 0 && errno == EINTR);
        } else if (replacement_.Open(nativePath_, platform::NewFileMode())) {
            fd_ = replacement_.Fd();
        }
        if (fd_ < 0) Fail("Cannot create file");
    }
    // The replacement removes its temporary file itself.
    ~ExportWriter() {
        if (fd_ >= 0 && fd_ != replacement_.Fd()) ::close(fd_);
    }
    ExportWriter(const ExportWriter&) = delete;
    ExportWriter& operator=(const ExportWriter&) = delete;

    void Put(std::string_view bytes) {
        while (!bytes.empty()) {
            std::size_t n = std::min(bytes.size(), kBufferSize - used_);
            std::memcpy(buffer_ + used_, bytes.data(), n);
            used_ += n;
            bytes.remove_prefix(n);
            if (used_ == kBufferSize) Flush();
        }
    }

    // Flushes the buffer, closes the file and puts it in place.
    void Close() {
        Flush();
        const int fd = fd_;
        fd_ = -1;
        if (fd == replacement_.Fd()) {
            if (!replacement_.Commit()) Fail("Cannot write file");
        } else if (::close(fd) != 0 && errno != EINTR) {
            Fail("Cannot write file");
        }
    }

private:
    static constexpr std::size_t kBufferSize = 4096;

    void Flush() {
        if (!platform::WriteFull(fd_, buffer_, used_)) Fail("Cannot write file");
        used_ = 0;
    }

    // The destructor closes the file.
    [[noreturn]] void Fail(const char* what) {
        int error = errno;
        throw ExportError(std::string(what) + " \"" + nativePath_ + "\": " + std::strerror(error));
    }

    std::string nativePath_;
    platform::ReplacementFile replacement_;  // unless written directly
    int fd_ = -1;
    std::size_t used_ = 0;
    char buffer_[kBufferSize];
};

}  // namespace

void ExportList(const SharedList& list, const Text& path) {
    ExportWriter writer(path);
    writer.Put("\xEF\xBB\xBF");
    // Entries are encoded a few at a time under the list's lock (which checks
    // the length before each one) and written outside it, so that a scan that
    // is appending never waits for the disk.
    constexpr std::size_t kBatch = 128;
    std::string staged;
    for (std::size_t i = 0;;) {
        staged.clear();
        std::size_t got = list.VisitFrom(i, kBatch, [&](TextView entry) {
            AppendUtf8(staged, entry);
            staged += "\r\n";
        });
        if (got == 0) break;
        writer.Put(staged);
        i += got;
    }
    writer.Close();
}

void ExportRows(const SharedList& list, const std::vector<std::uint32_t>& rows, const Text& path) {
    ExportWriter writer(path);
    writer.Put("\xEF\xBB\xBF");
    std::string staged;
    Text entry;
    for (std::uint32_t row : rows) {
        if (!list.TryAt(row, entry)) continue;
        staged.clear();
        AppendUtf8(staged, entry);
        staged += "\r\n";
        writer.Put(staged);
    }
    writer.Close();
}

void ExportPlaces(const SharedList& findings, const FindingOrigins& origins,
                  const SharedList& files, const Text& path) {
    ExportWriter writer(path);
    std::string staged, place;
    std::uint64_t lastFile = UINT64_MAX;
    std::string lastMember;
    Text entry;
    for (std::size_t i = 0; findings.TryAt(i, entry); ++i) {
        const FindingOrigins::Origin o = origins.At(i);
        if (o.file != lastFile || o.member != lastMember) {
            place = PlaceColumn(o, files);
            lastFile = o.file;
            lastMember = o.member;
        }
        staged = place;
        staged += '\t';
        staged += std::to_string(o.line);
        staged += '\t';
        AppendUtf8(staged, entry);
        staged += '\n';
        writer.Put(staged);
    }
    writer.Close();
}

}  // namespace corvexa::results
