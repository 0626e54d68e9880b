#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace corvexa {

// What a finding is: which of the detections made it.
enum class FindingKind : std::uint8_t { Web, Email, Ftp };

// "web", "email" or "ftp".
const char* FindingKindName(FindingKind kind);

// Where each finding of a URL list was made: the index of its file in the files
// list and the number of its line in the file's text (the first line is 1),
// and which detection made it. Kept beside the list, entry for entry, at five
// bytes a finding (the line number and the kind) plus one run per file that
// has findings.
//
// Not synchronised: one thread fills it while a scan runs, and it is read
// afterwards.
class FindingOrigins {
public:
    struct Origin {
        std::uint64_t file = 0;
        std::uint32_t line = 0;  // saturates at 4294967295
        FindingKind kind = FindingKind::Web;
        // The member of an archive the finding was made in (its path inside
        // the file, nested ones joined by "//"), a mailbox's message number
        // or a document's links ("link:page=2"); empty for the file itself.
        std::string member;
        // The entry of the files list the finding was made in: `file`, or
        // the entry a scan put after an archive for the member read.
        std::uint64_t entry = 0;
    };

    // The file the following Add calls belong to.
    void BeginFile(std::uint64_t file) {
        file_ = entry_ = file;
        member_.clear();
    }
    // The file Add calls go to now, and the place inside it.
    std::uint64_t CurrentFile() const { return file_; }
    const std::string& CurrentMember() const { return member_; }
    // The member of the current file the following Add calls belong to;
    // empty: the file itself.
    void BeginMember(std::string member) { member_ = std::move(member); }
    // An archive's member of the current file that has an entry of its own in
    // the files list, at index `entry`.
    void BeginEntry(std::uint64_t entry, std::string member) {
        entry_ = entry;
        member_ = std::move(member);
    }
    // `count` findings of `kind` on line `line` of the current file.
    void Add(std::uint64_t line, std::size_t count, FindingKind kind = FindingKind::Web);

    std::size_t Size() const { return lines_.size(); }
    Origin At(std::size_t i) const;

    // Appends every origin of `other`, in order, its indices into the files
    // list moved on by `shift`; `other` is left empty.
    void TakeFrom(FindingOrigins& other, std::uint64_t shift = 0);
    void Clear();

    std::size_t MemoryUsage() const;

private:
    struct Run {
        std::size_t first;  // index of the run's first finding
        std::uint64_t file;
        std::uint64_t entry;
        std::string member;
        bool Same(std::uint64_t f, std::uint64_t e, const std::string& m) const {
            return file == f && entry == e && member == m;
        }
    };
    std::deque<std::uint32_t> lines_;
    std::deque<FindingKind> kinds_;
    std::vector<Run> runs_;
    std::uint64_t file_ = 0;
    std::uint64_t entry_ = 0;
    std::string member_;
};

}  // namespace corvexa
