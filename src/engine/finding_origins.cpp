#include "engine/finding_origins.h"

#include <algorithm>

namespace corvexa {

const char* FindingKindName(FindingKind kind) {
    switch (kind) {
        case FindingKind::Email:
            return "email";
        case FindingKind::Ftp:
            return "ftp";
        case FindingKind::Web:
            break;
    }
    return "web";
}

void FindingOrigins::Add(std::uint64_t line, std::size_t count, FindingKind kind) {
    if (count == 0) return;
    if (runs_.empty() || !runs_.back().Same(file_, entry_, member_))
        runs_.push_back(Run{lines_.size(), file_, entry_, member_});
    const auto stored = static_cast<std::uint32_t>(std::min<std::uint64_t>(line, UINT32_MAX));
    lines_.insert(lines_.end(), count, stored);
    kinds_.insert(kinds_.end(), count, kind);
}

FindingOrigins::Origin FindingOrigins::At(std::size_t i) const {
    auto run = std::upper_bound(runs_.begin(), runs_.end(), i,
                                [](std::size_t index, const Run& r) { return index < r.first; });
    Origin o;
    if (run != runs_.begin()) {
        o.file = std::prev(run)->file;
        o.member = std::prev(run)->member;
        o.entry = std::prev(run)->entry;
    }
    o.line = i < lines_.size() ? lines_[i] : 0;
    o.kind = i < kinds_.size() ? kinds_[i] : FindingKind::Web;
    return o;
}

void FindingOrigins::TakeFrom(FindingOrigins& other, std::uint64_t shift) {
    const std::size_t base = lines_.size();
    for (const Run& r : other.runs_) {
        const std::uint64_t file = r.file + shift, entry = r.entry + shift;
        if (!runs_.empty() && runs_.back().Same(file, entry, r.member)) continue;
        runs_.push_back(Run{base + r.first, file, entry, r.member});
    }
    lines_.insert(lines_.end(), other.lines_.begin(), other.lines_.end());
    kinds_.insert(kinds_.end(), other.kinds_.begin(), other.kinds_.end());
    other.Clear();
}

void FindingOrigins::Clear() {
    lines_.clear();
    lines_.shrink_to_fit();
    kinds_.clear();
    kinds_.shrink_to_fit();
    runs_.clear();
}

std::size_t FindingOrigins::MemoryUsage() const {
    // std::deque keeps its entries in 512-byte nodes plus a map of node pointers.
    const std::size_t perNode = 512 / sizeof(std::uint32_t);
    const std::size_t nodes = (lines_.size() + perNode - 1) / perNode;
    const std::size_t kindNodes = (kinds_.size() + 511) / 512;
    return (nodes + kindNodes) * (512 + 2 * sizeof(void*)) + runs_.capacity() * sizeof(Run);
}

}  // namespace corvexa
