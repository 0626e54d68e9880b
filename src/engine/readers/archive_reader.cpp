#include "engine/readers/archive_reader.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <memory>

namespace corvexa {

namespace {

// Endings of compressed single files, then of archives.
constexpr std::string_view kCompressedEndings[] = {".gz", ".bz2", ".xz", ".zst", ".lz4"};
constexpr std::string_view kArchiveEndings[] = {".tgz", ".tbz", ".tbz2", ".txz", ".tzst",
                                                ".zip", ".tar", ".7z",   ".cpio"};

bool EndsWithNoCase(std::string_view name, std::string_view ending) {
    if (name.size() < ending.size()) return false;
    name.remove_prefix(name.size() - ending.size());
    for (std::size_t i = 0; i < ending.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != ending[i]) return false;
    }
    return true;
}

// The name a compressed single file gives its one member: its own last path
// part without the compression ending.
std::string RawMemberName(const std::string& place) {
    std::size_t slash = place.rfind('/');
    std::string name = slash == std::string::npos ? place : place.substr(slash + 1);
    for (std::string_view ending : kCompressedEndings) {
        if (EndsWithNoCase(name, ending) && name.size() > ending.size()) {
            name.resize(name.size() - ending.size());
            break;
        }
    }
    return name;
}

std::string ErrorOf(archive* a, const char* fallback) {
    const char* text = archive_error_string(a);
    return text && *text ? std::string(text) : std::string(fallback);
}

std::string MegaBytes(std::uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MB";
}

struct Reader {
    void operator()(archive* a) const { archive_read_free(a); }
};
using Handle = std::unique_ptr<archive, Reader>;

Handle NewReader() {
    Handle a(archive_read_new());
    if (!a) throw std::bad_alloc();
    archive_read_support_filter_all(a.get());
    // The binary formats only: a text format (a file-system manifest) would
    // take a compressed text file of one address a line for a list of names.
    for (auto support : {archive_read_support_format_7zip, archive_read_support_format_ar,
                         archive_read_support_format_cab, archive_read_support_format_cpio,
                         archive_read_support_format_empty, archive_read_support_format_iso9660,
                         archive_read_support_format_lha, archive_read_support_format_rar,
                         archive_read_support_format_rar5, archive_read_support_format_tar,
                         archive_read_support_format_xar, archive_read_support_format_zip})
        support(a.get());
    archive_read_support_format_raw(a.get());
    return a;
}

// Feeds libarchive from a ByteSource.
struct SourceFeed {
    ByteSource* source;
    std::string buffer = std::string(std::size_t{1} << 16, '\0');
};

la_ssize_t FeedRead(archive* a, void* data, const void** out) {
    auto* feed = static_cast<SourceFeed*>(data);
    try {
        std::size_t n = feed->source->Read(feed->buffer.data(), feed->buffer.size());
        *out = feed->buffer.data();
        return static_cast<la_ssize_t>(n);
    } catch (const std::exception& e) {
        archive_set_error(a, EIO, "%s", e.what());
        return -1;
    }
}

// One outermost archive being read, with the budget its members share.
class Walk {
public:
    Walk(const ArchiveLimits& limits, std::uint64_t packed, const MemberVisitor& visit,
         const ContainerVisitor& entered, std::vector<ArchiveFailure>& failures,
         const std::atomic<bool>& stop)
        : limits_(limits),
          packed_(packed),
          visit_(visit),
          entered_(entered),
          failures_(failures),
          stop_(stop) {}

    // Reads the opened archive a. Returns false, having read nothing, when it
    // is no container at all (bytes with neither compression nor format).
    bool Read(archive* a, const std::string& place, int depth);

private:
    enum class Outcome { Read, Failed, Ended };
    Outcome ReadMember(archive* a, const std::string& place, std::string& bytes);
    bool Nested(const std::string& bytes, const std::string& place, int depth);
    void Fail(const std::string& place, std::string reason) {
        failures_.push_back({place, std::move(reason)});
    }

    const ArchiveLimits& limits_;
    std::uint64_t packed_;
    std::uint64_t unpacked_ = 0;
    bool ended_ = false;  // a bomb ends the whole outermost archive
    const MemberVisitor& visit_;
    const ContainerVisitor& entered_;
    std::vector<ArchiveFailure>& failures_;
    const std::atomic<bool>& stop_;
};

bool Walk::Read(archive* a, const std::string& place, int depth) {
    archive_entry* entry = nullptr;
    int rc = archive_read_next_header(a, &entry);
    if (rc == ARCHIVE_OK || rc == ARCHIVE_WARN) {
        const bool raw = archive_format(a) == ARCHIVE_FORMAT_RAW;
        if (raw && archive_filter_count(a) <= 1) return false;  // plain bytes
    }
    if (depth > 1 && entered_) entered_(place);
    for (; !ended_ && !stop_.load(std::memory_order_relaxed);
         rc = archive_read_next_header(a, &entry)) {
        if (rc == ARCHIVE_EOF) break;
        if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN) {
            Fail(place, ErrorOf(a, "corrupt archive"));
            break;
        }
        if (archive_entry_filetype(entry) != AE_IFREG) continue;
        const char* name = archive_entry_pathname(entry);
        const std::string member = archive_format(a) == ARCHIVE_FORMAT_RAW
                                       ? RawMemberName(place)
                                       : std::string(name ? name : "");
        const std::string memberPlace = place + std::string(kMemberSeparator) + member;
        if (archive_entry_is_encrypted(entry)) {
            Fail(memberPlace, "encrypted");
            continue;
        }
        std::string bytes;
        Outcome outcome = ReadMember(a, memberPlace, bytes);
        if (outcome == Outcome::Ended) break;
        if (outcome == Outcome::Failed) continue;
        if (depth < limits_.depth && IsArchiveName(member) && Nested(bytes, memberPlace, depth + 1))
            continue;
        visit_(memberPlace, bytes);
    }
    return true;
}

Walk::Outcome Walk::ReadMember(archive* a, const std::string& place, std::string& bytes) {
    char buffer[1 << 16];
    for (;;) {
        la_ssize_t n = archive_read_data(a, buffer, sizeof buffer);
        if (n == 0) return Outcome::Read;
        if (n < 0) {
            // What was unpacked before the damage is still read.
            Fail(place, ErrorOf(a, "corrupt member"));
            if (!bytes.empty()) visit_(place, bytes);
            return n == ARCHIVE_FATAL ? Outcome::Ended : Outcome::Failed;
        }
        const auto got = static_cast<std::uint64_t>(n);
        unpacked_ += got;
        if (bytes.size() + got > limits_.memberBytes) {
            Fail(place, "expands past " + MegaBytes(limits_.memberBytes) + " (not read further)");
            ended_ = true;
            return Outcome::Ended;
        }
        if (unpacked_ > limits_.totalBytes ||
            unpacked_ > limits_.ratio * packed_ + (std::uint64_t{1} << 20)) {
            Fail(place, "archive expands past " + std::to_string(limits_.ratio) +
                            " times its size or " + MegaBytes(limits_.totalBytes) +
                            " (not read further)");
            ended_ = true;
            return Outcome::Ended;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (stop_.load(std::memory_order_relaxed)) return Outcome::Ended;
    }
}

bool Walk::Nested(const std::string& bytes, const std::string& place, int depth) {
    Handle a = NewReader();
    if (archive_read_open_memory(a.get(), bytes.data(), bytes.size()) != ARCHIVE_OK) return false;
    return Read(a.get(), place, depth);
}

}  // namespace

bool IsArchiveName(std::string_view name) {
    for (std::string_view ending : kCompressedEndings)
        if (EndsWithNoCase(name, ending)) return true;
    for (std::string_view ending : kArchiveEndings)
        if (EndsWithNoCase(name, ending)) return true;
    return false;
}

bool ReadArchive(ByteSource& source, const std::string& place, const ArchiveLimits& limits,
                 const MemberVisitor& visit, std::vector<ArchiveFailure>& failures,
                 const std::atomic<bool>& stop, const ContainerVisitor& entered) {
    const std::uint64_t packed = source.Open();
    SourceFeed feed{&source};
    Handle a = NewReader();
    if (archive_read_open(a.get(), &feed, nullptr, FeedRead, nullptr) != ARCHIVE_OK) return false;
    Walk walk(limits, packed, visit, entered, failures, stop);
    return walk.Read(a.get(), place, 1);
}

}  // namespace corvexa
