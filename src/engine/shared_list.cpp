#include "engine/shared_list.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace corvexa {

namespace {
// 64 Ki characters a block; a longer entry gets a block of its own.
constexpr std::size_t kBlockChars = 64 * 1024;
}  // namespace

SharedList::SharedList() = default;
SharedList::~SharedList() = default;

void SharedList::AppendLocked(TextView text) {
    if (text.size() > UINT32_MAX) throw std::length_error("list entry too long");
    std::size_t len = text.size();
    if (blocks_.empty() || used_ + len > blockCapacity_.back()) {
        std::size_t cap = std::max(kBlockChars, len);
        blocks_.push_back(std::make_unique_for_overwrite<char16_t[]>(cap));
        blockCapacity_.push_back(cap);
        used_ = 0;
    }
    char16_t* dst = blocks_.back().get() + used_;
    if (len) std::memcpy(dst, text.data(), len * sizeof(char16_t));
    index_.push_back(Entry{static_cast<std::uint32_t>(blocks_.size() - 1),
                           static_cast<std::uint32_t>(used_), static_cast<std::uint32_t>(len)});
    used_ += len;
}

TextView SharedList::ViewLocked(std::size_t i) const {
    const Entry& e = index_[i];
    return TextView(blocks_[e.block].get() + e.offset, e.length);
}

void SharedList::ClearLocked() {
    blocks_.clear();
    blockCapacity_.clear();
    used_ = 0;
    index_.clear();
    index_.shrink_to_fit();
}

void SharedList::Append(TextView text) {
    std::lock_guard lock(mutex_);
    AppendLocked(text);
}

std::size_t SharedList::Size() const {
    std::lock_guard lock(mutex_);
    return index_.size();
}

Text SharedList::At(std::size_t i) const {
    std::lock_guard lock(mutex_);
    if (i >= index_.size()) throw std::out_of_range("list index out of range");
    return Text(ViewLocked(i));
}

bool SharedList::TryAt(std::size_t i, Text& out) const {
    std::lock_guard lock(mutex_);
    if (i >= index_.size()) return false;
    out.assign(ViewLocked(i));
    return true;
}

void SharedList::Clear() {
    std::lock_guard lock(mutex_);
    ClearLocked();
}

void SharedList::InsertAt(std::size_t at, const std::vector<Text>& entries) {
    std::lock_guard lock(mutex_);
    const std::size_t before = index_.size();
    for (const Text& entry : entries) AppendLocked(entry);
    at = std::min(at, before);
    std::rotate(index_.begin() + static_cast<std::ptrdiff_t>(at),
                index_.begin() + static_cast<std::ptrdiff_t>(before), index_.end());
}

void SharedList::AppendFrom(const SharedList& other) {
    if (&other == this) return;
    std::scoped_lock lock(mutex_, other.mutex_);
    for (std::size_t i = 0; i < other.index_.size(); ++i) AppendLocked(other.ViewLocked(i));
}

void SharedList::Swap(SharedList& other) {
    if (&other == this) return;
    std::scoped_lock lock(mutex_, other.mutex_);
    blocks_.swap(other.blocks_);
    blockCapacity_.swap(other.blockCapacity_);
    std::swap(used_, other.used_);
    index_.swap(other.index_);
}

void SharedList::Assign(const std::vector<Text>& entries) {
    SharedList fresh;
    for (const Text& t : entries) fresh.AppendLocked(t);  // nobody else sees it yet
    Swap(fresh);
}  // the old content is freed here, outside the lock

void SharedList::ForEachBatched(const std::function<void(TextView)>& f) const {
    constexpr std::size_t kBatch = 4096;
    for (std::size_t i = 0;;) {
        const std::size_t got = VisitFrom(i, kBatch, f);
        if (got == 0) return;
        i += got;
    }
}

void SharedList::RemoveAt(std::vector<std::size_t> indices) {
    std::sort(indices.begin(), indices.end());
    std::lock_guard lock(mutex_);
    std::vector<Text> kept;
    kept.reserve(index_.size());
    std::size_t k = 0;
    for (std::size_t i = 0; i < index_.size(); ++i) {
        while (k < indices.size() && indices[k] < i) ++k;
        if (k < indices.size() && indices[k] == i) continue;
        kept.emplace_back(ViewLocked(i));
    }
    ClearLocked();
    for (const Text& t : kept) AppendLocked(t);
}

std::size_t SharedList::VisitFrom(std::size_t from, std::size_t count,
                                  const std::function<void(TextView)>& f) const {
    std::lock_guard lock(mutex_);
    std::size_t i = from;
    for (; i < index_.size() && i - from < count; ++i) f(ViewLocked(i));
    return i - from;
}

std::vector<Text> SharedList::Snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<Text> out;
    out.reserve(index_.size());
    for (std::size_t i = 0; i < index_.size(); ++i) out.emplace_back(ViewLocked(i));
    return out;
}

void SharedList::ForEach(const std::function<void(TextView)>& f) const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < index_.size(); ++i) f(ViewLocked(i));
}

std::size_t SharedList::MemoryUsage() const {
    std::lock_guard lock(mutex_);
    std::size_t bytes = 0;
    for (std::size_t c : blockCapacity_) bytes += c * sizeof(char16_t);
    // std::deque keeps its entries in 512-byte nodes plus a map of node pointers.
    std::size_t perNode = 512 / sizeof(Entry);
    std::size_t nodes = (index_.size() + perNode - 1) / perNode;
    bytes += nodes * 512 + nodes * sizeof(void*) * 2;
    return bytes + blocks_.capacity() * sizeof(void*) +
           blockCapacity_.capacity() * sizeof(std::size_t);
}

}  // namespace corvexa
