#include "app/corvexa-scan/scan_output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/fd_io.h"
#include "results/places.h"

namespace corvexa::cli {

OutputBuffer::OutputBuffer() {
    buffer_.reserve(kFlushAt + 4096);
}

bool OutputBuffer::Line(const char* end) {
    buffer_ += end;
    return buffer_.size() < kFlushAt || Flush();
}

bool OutputBuffer::Flush() {
    if (!platform::WriteFull(1, buffer_.data(), buffer_.size())) return false;
    buffer_.clear();
    return true;
}

ListPrinter::ListPrinter(const SharedList& list, int fd) : list_(list), fd_(fd) {
    buffer_.reserve(2 * kWriteAt);
}

void ListPrinter::AddNewLocked() {
    // A batch at a time, so that the list's lock is never held long.
    constexpr std::size_t kBatch = 1024;
    while (ok_) {
        const std::size_t added = list_.AppendLinesUtf8(printed_, kBatch, buffer_);
        printed_ += added;
        if (buffer_.size() >= kWriteAt) {
            ok_ = platform::WriteFull(fd_, buffer_.data(), buffer_.size());
            if (!ok_) error_ = errno;
            buffer_.clear();
        }
        if (added < kBatch) return;
    }
}

void ListPrinter::Drain() {
    std::lock_guard lock(mutex_);
    AddNewLocked();
}

bool ListPrinter::Finish() {
    std::lock_guard lock(mutex_);
    AddNewLocked();
    if (ok_ && !buffer_.empty()) {
        ok_ = platform::WriteFull(fd_, buffer_.data(), buffer_.size());
        if (!ok_) error_ = errno;
        buffer_.clear();
    }
    if (!ok_) errno = error_;
    return ok_;
}

bool PrintFindings(const SharedList& list, const FindingOrigins* origins, const SharedList& files,
                   OriginColumns columns) {
    OutputBuffer out;
    Text entry;
    std::uint64_t lastFile = UINT64_MAX;
    std::string path, lastMember;
    for (std::size_t i = 0; list.TryAt(i, entry); ++i) {
        std::string& b = out.Buffer();
        if (columns.Any() && origins) {
            const FindingOrigins::Origin o = origins->At(i);
            if (columns.file) {
                if (o.file != lastFile || o.member != lastMember) {
                    path = results::PlaceColumn(o, files);  // ARCHIVE//MEMBER for a member
                    lastFile = o.file;
                    lastMember = o.member;
                }
                b += path;
                b += '\t';
            }
            if (columns.line) {
                b += std::to_string(o.line);
                b += '\t';
            }
        }
        b += ToUtf8(entry);
        if (!out.Line()) return false;
    }
    return out.Flush();
}

bool PrintCounts(const SharedList& list, const results::DedupCollator& collator) {
    struct Group {
        std::string key;
        std::size_t first;
        std::size_t count;
    };
    std::vector<Group> groups;
    std::unordered_map<std::string, std::size_t> byKey;
    Text entry;
    for (std::size_t i = 0; list.TryAt(i, entry); ++i) {
        std::string key = collator.SortKey(entry);
        auto [it, added] = byKey.try_emplace(key, groups.size());
        if (added) groups.push_back(Group{std::move(key), i, 0});
        ++groups[it->second].count;
    }
    byKey.clear();
    std::sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
        if (a.count != b.count) return a.count > b.count;
        return a.key < b.key;
    });
    OutputBuffer out;
    for (const Group& g : groups) {
        std::string& b = out.Buffer();
        b += std::to_string(g.count);
        b += '\t';
        b += ToUtf8(list.At(g.first));
        if (!out.Line()) return false;
    }
    return out.Flush();
}

}  // namespace corvexa::cli
