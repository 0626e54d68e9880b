#include "engine/shared_list.h"

#include <sys/mman.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace corvexa {

namespace {
// A block holds up to 32 KiB, so an entry's start fits in 15 bits; a longer
// entry gets a block of its own. A list's first blocks are smaller (from 512
// bytes, doubling), so the many short lists held back per file stay small.
constexpr std::size_t kBlockBytes = 32 * 1024;
constexpr std::size_t kFirstBlockBytes = 512;
constexpr std::size_t kSlabBytes = 1024 * 1024;
constexpr std::size_t kHugeSlabBytes = 2 * 1024 * 1024;
constexpr std::size_t kHugeAfterBytes = 2 * kSlabBytes;
constexpr std::uint16_t kWide = 0x8000;
constexpr std::uint16_t kStartMask = 0x7fff;
// The index is kept in chunks of 4096 words, so it grows without copying.
constexpr std::size_t kChunkBits = 12;
constexpr std::size_t kChunk = std::size_t{1} << kChunkBits;

// Both run for every finding appended, eight characters a step where the
// processor has SSE2 (every x86-64 one).
bool AllAscii(TextView text) {
    const char16_t* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    char16_t any = 0;
#ifdef __SSE2__
    __m128i wide = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8)
        wide = _mm_or_si128(wide, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    // Any bit of 0xff80 set in a character makes it 0x80 or more.
    const __m128i high = _mm_and_si128(wide, _mm_set1_epi16(static_cast<short>(0xff80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xffff) return false;
#endif
    for (; i < n; ++i) any = static_cast<char16_t>(any | p[i]);
    return any < 0x80;
}

// Writes the characters of an ASCII text one byte each.
void Narrow(TextView text, unsigned char* dst) {
    const char16_t* p = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
#ifdef __SSE2__
    for (; i + 8 <= n; i += 8) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(chars, chars));
    }
#endif
    for (; i < n; ++i) dst[i] = static_cast<unsigned char>(p[i]);
}
}  // namespace

SharedList::SharedList(Use use) : mutex_(use == Use::Shared) {}
SharedList::~SharedList() = default;

void SharedList::FreeRegion::operator()(unsigned char* bytes) const {
    if (mapped)
        ::munmap(bytes, size);
    else
        delete[] bytes;
}

SharedList::Block SharedList::MakeBlockLocked(std::size_t cap) {
    regions_.reserve(regions_.size() + 1);
    Block block;
    if (cap == kBlockBytes) {
        if (slabLeft_ < cap) MapSlabLocked();
        block.bytes = slabFree_;
        slabFree_ += cap;
        slabLeft_ -= cap;
    } else {
        regions_.emplace_back(new unsigned char[cap], FreeRegion{cap, false});
        block.bytes = regions_.back().get();
    }
    block.capacity = cap;
    return block;
}

// Maps the next region that blocks are cut from. Its pages are faulted in at
// once: touching a fresh page costs far more than filling it, more so in a
// virtual machine, and once per region is cheaper than once per page. A list
// that has filled a few regions is a long one (the URL list of a large scan):
// it takes 2 MiB at a time, aligned, in one huge page where the system gives
// one.
void SharedList::MapSlabLocked() {
    std::size_t mappedSoFar = 0;
    for (const Region& region : regions_)
        if (region.get_deleter().mapped) mappedSoFar += region.get_deleter().size;
    const bool huge = mappedSoFar >= kHugeAfterBytes;
    const std::size_t size = huge ? kHugeSlabBytes : kSlabBytes;
    // A huge region is cut out of a mapping twice its size at its alignment.
    const std::size_t span = huge ? 2 * size : size;
    void* mapped = ::mmap(nullptr, span, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | (huge ? 0 : MAP_POPULATE), -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    auto* start = static_cast<unsigned char*>(mapped);
    if (huge) {
        const auto address = reinterpret_cast<std::uintptr_t>(mapped);
        const std::size_t head = (size - address % size) % size;
        if (head) ::munmap(start, head);
        if (span - head - size) ::munmap(start + head + size, span - head - size);
        start += head;
        ::madvise(start, size, MADV_HUGEPAGE);        // hints: either may be refused,
        ::madvise(start, size, MADV_POPULATE_WRITE);  // and pages then come as touched
    }
    regions_.emplace_back(start, FreeRegion{size, true});
    slabFree_ = start;
    slabLeft_ = size;
}

void SharedList::NewBlockLocked(std::size_t size) {
    std::size_t cap =
        blocks_.empty() ? kFirstBlockBytes : std::min(kBlockBytes, blocks_.back().capacity * 2);
    cap = std::max(cap, size);
    blocks_.reserve(blocks_.size() + 1);
    if (!spare_.empty() && spare_.back().capacity >= size) {
        Block reused = spare_.back();
        spare_.pop_back();
        reused.used = 0;
        reused.first = size_;
        blocks_.push_back(reused);
        return;
    }
    Block block = MakeBlockLocked(cap);
    block.first = size_;
    blocks_.push_back(block);
}

unsigned char* SharedList::PlaceLocked(std::size_t size, bool wide) {
    if (blocks_.empty() || blocks_.back().used + size > blocks_.back().capacity ||
        blocks_.back().used > kStartMask)
        NewBlockLocked(size);
    Block& block = blocks_.back();
    const auto start = static_cast<std::uint16_t>(block.used);
    PushWordLocked(static_cast<std::uint16_t>(wide ? start | kWide : start));
    unsigned char* dst = block.bytes + block.used;
    block.used += size;
    return dst;
}

void SharedList::PushWordLocked(std::uint16_t word) {
    // Index chunks kept by Recycle are used again.
    const std::size_t chunk = size_ >> kChunkBits;
    if (chunk == index_.size())
        index_.push_back(std::make_unique_for_overwrite<std::uint16_t[]>(kChunk));
    index_[chunk][size_ & (kChunk - 1)] = word;
    ++size_;
}

void SharedList::AppendLocked(TextView text) {
    if (text.size() > UINT32_MAX) throw std::length_error("list entry too long");
    if (!AllAscii(text)) {
        const std::size_t size = text.size() * sizeof(char16_t);
        std::memcpy(PlaceLocked(size, true), text.data(), size);
        return;
    }
    Narrow(text, PlaceLocked(text.size(), false));
}

std::uint16_t SharedList::WordLocked(std::size_t i) const {
    return index_[i >> kChunkBits][i & (kChunk - 1)];
}

// The block of entry i (i < size_): the one a lookup found last or the next
// one, as a reader in order asks, else by binary search.
SharedList::Cursor SharedList::CursorLocked(std::size_t i) const {
    auto endOf = [&](std::size_t b) {
        return b + 1 < blocks_.size() ? blocks_[b + 1].first : size_;
    };
    for (std::size_t b : {hint_, hint_ + 1})
        if (b < blocks_.size() && blocks_[b].first <= i && i < endOf(b)) {
            hint_ = b;
            return Cursor{b, endOf(b)};
        }
    auto after = std::upper_bound(blocks_.begin(), blocks_.end(), i,
                                  [](std::size_t v, const Block& b) { return v < b.first; });
    const auto b = static_cast<std::size_t>(after - blocks_.begin()) - 1;
    hint_ = b;
    return Cursor{b, endOf(b)};
}

void SharedList::AdvanceLocked(std::size_t i, Cursor& at) const {
    while (i >= at.end) {
        ++at.block;
        at.end = at.block + 1 < blocks_.size() ? blocks_[at.block + 1].first : size_;
    }
}

const unsigned char* SharedList::BytesLocked(std::size_t i, const Cursor& at, std::size_t& size,
                                             bool& wide) const {
    const std::uint16_t word = WordLocked(i);
    const Block& block = blocks_[at.block];
    const std::size_t start = word & kStartMask;
    const std::size_t stop = i + 1 < at.end ? (WordLocked(i + 1) & kStartMask) : block.used;
    wide = (word & kWide) != 0;
    size = stop - start;
    return block.bytes + start;
}

void SharedList::ReadLocked(std::size_t i, const Cursor& at, Text& out) const {
    std::size_t size = 0;
    bool wide = false;
    const unsigned char* bytes = BytesLocked(i, at, size, wide);
    if (wide) {
        out.resize(size / sizeof(char16_t));
        std::memcpy(out.data(), bytes, size);
    } else {
        out.resize(size);
        for (std::size_t k = 0; k < size; ++k) out[k] = bytes[k];
    }
}

void SharedList::ClearLocked() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    spare_.clear();
    spare_.shrink_to_fit();
    regions_.clear();
    regions_.shrink_to_fit();
    slabFree_ = nullptr;
    slabLeft_ = 0;
    index_.clear();
    index_.shrink_to_fit();
    size_ = 0;
}

void SharedList::SwapLocked(SharedList& other) {
    blocks_.swap(other.blocks_);
    spare_.swap(other.spare_);
    std::swap(hint_, other.hint_);
    regions_.swap(other.regions_);
    std::swap(slabFree_, other.slabFree_);
    std::swap(slabLeft_, other.slabLeft_);
    index_.swap(other.index_);
    std::swap(size_, other.size_);
}

void SharedList::Append(TextView text) {
    std::lock_guard lock(mutex_);
    AppendLocked(text);
}

std::size_t SharedList::Size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

Text SharedList::At(std::size_t i) const {
    std::lock_guard lock(mutex_);
    if (i >= size_) throw std::out_of_range("list index out of range");
    Text out;
    ReadLocked(i, CursorLocked(i), out);
    return out;
}

bool SharedList::TryAt(std::size_t i, Text& out) const {
    std::lock_guard lock(mutex_);
    if (i >= size_) return false;
    ReadLocked(i, CursorLocked(i), out);
    return true;
}

void SharedList::CopyLocked(std::size_t i, const Cursor& at, SharedList& to) const {
    std::size_t size = 0;
    bool wide = false;
    const unsigned char* bytes = BytesLocked(i, at, size, wide);
    std::memcpy(to.PlaceLocked(size, wide), bytes, size);
}

template <class F>
std::size_t SharedList::EachFromLocked(std::size_t from, std::size_t count, F&& f) const {
    if (from >= size_) return 0;
    Cursor at = CursorLocked(from);
    std::size_t i = from;
    for (; i < size_ && i - from < count; ++i) {
        AdvanceLocked(i, at);
        f(i, at);
    }
    return i - from;
}

void SharedList::Clear() {
    std::lock_guard lock(mutex_);
    ClearLocked();
}

void SharedList::Recycle(std::size_t keepAtMost) {
    std::lock_guard lock(mutex_);
    std::size_t held = index_.size() * kChunk * sizeof(std::uint16_t);
    for (const std::vector<Block>* list : {&blocks_, &spare_})
        for (const Block& block : *list) held += block.capacity;
    if (held > keepAtMost) {
        ClearLocked();
        return;
    }
    // The spare blocks are used last first: those in use now go after them,
    // the list's first block last, so that they come back in the order the
    // list took them (small ones first).
    spare_.insert(spare_.end(), blocks_.rbegin(), blocks_.rend());
    blocks_.clear();
    size_ = 0;
    hint_ = 0;
}

void SharedList::SetWordLocked(std::size_t i, std::uint16_t word) {
    index_[i >> kChunkBits][i & (kChunk - 1)] = word;
}

// Makes room for `count` index words before entry `at`: the words from `at`
// on move up, and the blocks after `block` start `count` later.
void SharedList::OpenIndexLocked(std::size_t at, std::size_t count, std::size_t block) {
    while (index_.size() * kChunk < size_ + count)
        index_.push_back(std::make_unique_for_overwrite<std::uint16_t[]>(kChunk));
    for (std::size_t j = size_; j-- > at;) SetWordLocked(j + count, WordLocked(j));
    for (std::size_t b = block + 1; b < blocks_.size(); ++b) blocks_[b].first += count;
    size_ += count;
    hint_ = 0;
}

// Puts the entries in before `at` within the block that holds entry `at`, or
// moves that block's entries from `at` on, after the new ones, to a new block
// right after it. Each insertion touches one block's bytes and the index words
// after it, so a scan that lists members after each of many archives stays
// fast. False, with nothing changed, for entries too long for that.
bool SharedList::InsertInBlockLocked(std::size_t at, const std::vector<Text>& entries) {
    std::vector<unsigned char> added;
    std::vector<std::uint16_t> words;  // start in `added`, kWide for UTF-16
    for (const Text& entry : entries) {
        const bool wide = !AllAscii(entry);
        words.push_back(static_cast<std::uint16_t>(added.size() | (wide ? kWide : 0)));
        if (wide) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(entry.data());
            added.insert(added.end(), bytes, bytes + entry.size() * sizeof(char16_t));
        } else {
            for (char16_t c : entry) added.push_back(static_cast<unsigned char>(c));
        }
        if (added.size() > kBlockBytes / 2) return false;
    }
    const Cursor cursor = CursorLocked(at);
    Block& block = blocks_[cursor.block];
    const std::size_t split = WordLocked(at) & kStartMask;
    const std::size_t tailBytes = block.used - split;
    const std::size_t lastStart = WordLocked(cursor.end - 1) & kStartMask;
    // Every start must stay within 15 bits, in place or in a new block.
    if (tailBytes + added.size() > kBlockBytes) return false;
    if (lastStart - split + added.size() > kStartMask) return false;
    const std::size_t count = entries.size();
    const std::size_t tailEntries = cursor.end - at;
    if (block.used + added.size() <= block.capacity && lastStart + added.size() <= kStartMask) {
        // Room in place: the tail moves up by the new bytes.
        std::memmove(block.bytes + split + added.size(), block.bytes + split, tailBytes);
        std::memcpy(block.bytes + split, added.data(), added.size());
        block.used += added.size();
        OpenIndexLocked(at, count, cursor.block);
        for (std::size_t j = at + count; j < at + count + tailEntries; ++j)
            SetWordLocked(j, static_cast<std::uint16_t>(WordLocked(j) + added.size()));
        for (std::size_t k = 0; k < count; ++k)
            SetWordLocked(at + k, static_cast<std::uint16_t>(words[k] + split));
        return true;
    }
    // A new block after this one takes the new entries, then the tail.
    blocks_.reserve(blocks_.size() + 1);
    Block moved = MakeBlockLocked(kBlockBytes);
    std::memcpy(moved.bytes, added.data(), added.size());
    std::memcpy(moved.bytes + added.size(), blocks_[cursor.block].bytes + split, tailBytes);
    moved.used = added.size() + tailBytes;
    moved.first = at;
    blocks_[cursor.block].used = split;
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(cursor.block) + 1, moved);
    OpenIndexLocked(at, count, cursor.block + 1);
    const std::size_t shift = added.size() - split;  // wraps as unsigned; the sum fits
    for (std::size_t j = at + count; j < at + count + tailEntries; ++j)
        SetWordLocked(j, static_cast<std::uint16_t>(WordLocked(j) + shift));
    for (std::size_t k = 0; k < count; ++k) SetWordLocked(at + k, words[k]);
    return true;
}

void SharedList::InsertAt(std::size_t at, const std::vector<Text>& entries) {
    if (entries.empty()) return;
    SharedList kept;  // declared first: the old content is freed after the lock
    std::lock_guard lock(mutex_);
    at = std::min(at, size_);
    if (at == size_) {
        for (const Text& entry : entries) AppendLocked(entry);
        return;
    }
    if (InsertInBlockLocked(at, entries)) return;
    // Long entries: the whole list is written again, the new ones in place.
    Cursor cursor = CursorLocked(0);
    for (std::size_t i = 0; i <= size_; ++i) {
        if (i == at)
            for (const Text& entry : entries) kept.AppendLocked(entry);
        if (i == size_) break;
        AdvanceLocked(i, cursor);
        CopyLocked(i, cursor, kept);
    }
    SwapLocked(kept);
}

// Entries [from.first, end) of block b of `other`: as many as fit go into
// this list's last block in one copy, the rest into a new block.
void SharedList::AppendBlockLocked(const SharedList& other, std::size_t b, std::size_t end) {
    const Block& from = other.blocks_[b];
    auto startOf = [&](std::size_t i) -> std::size_t {
        return i < end ? (other.WordLocked(i) & kStartMask) : from.used;
    };
    std::size_t i = from.first;
    while (i < end) {
        const std::size_t first = startOf(i);
        std::size_t j = i;
        if (!blocks_.empty()) {
            const Block& to = blocks_.back();
            // Each start within 15 bits, the bytes within the block.
            while (j < end && to.used + (startOf(j) - first) <= kStartMask &&
                   to.used + (startOf(j + 1) - first) <= to.capacity)
                ++j;
        }
        if (j == i) {
            NewBlockLocked(startOf(end) - first);
            continue;
        }
        Block& to = blocks_.back();
        const std::size_t bytes = startOf(j) - first;
        const std::size_t at = to.used;
        std::memcpy(to.bytes + at, from.bytes + first, bytes);
        to.used += bytes;
        for (std::size_t k = i; k < j; ++k) {
            const std::uint16_t word = other.WordLocked(k);
            const std::size_t start = (word & kStartMask) - first + at;
            PushWordLocked(static_cast<std::uint16_t>(start | (word & kWide)));
        }
        i = j;
    }
}

void SharedList::AppendFrom(const SharedList& other) {
    if (&other == this) return;
    std::scoped_lock lock(mutex_, other.mutex_);
    for (std::size_t b = 0; b < other.blocks_.size(); ++b) {
        const std::size_t end =
            b + 1 < other.blocks_.size() ? other.blocks_[b + 1].first : other.size_;
        AppendBlockLocked(other, b, end);
    }
}

std::size_t SharedList::AppendLinesUtf8(std::size_t from, std::size_t count,
                                        std::string& out) const {
    std::lock_guard lock(mutex_);
    Text wideEntry;
    return EachFromLocked(from, count, [&](std::size_t i, const Cursor& at) {
        std::size_t size = 0;
        bool wide = false;
        const unsigned char* bytes = BytesLocked(i, at, size, wide);
        if (wide) {
            // Held as UTF-16 only when some character is not ASCII.
            wideEntry.resize(size / sizeof(char16_t));
            std::memcpy(wideEntry.data(), bytes, size);
            out += ToUtf8(wideEntry);
        } else {
            out.append(reinterpret_cast<const char*>(bytes), size);
        }
        out += '\n';
    });
}

void SharedList::Swap(SharedList& other) {
    if (&other == this) return;
    std::scoped_lock lock(mutex_, other.mutex_);
    SwapLocked(other);
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
    SharedList kept;  // declared first: the old content is freed after the lock
    std::lock_guard lock(mutex_);
    if (size_ == 0) return;
    Cursor at = CursorLocked(0);
    std::size_t k = 0;
    for (std::size_t i = 0; i < size_; ++i) {
        while (k < indices.size() && indices[k] < i) ++k;
        if (k < indices.size() && indices[k] == i) continue;
        AdvanceLocked(i, at);
        CopyLocked(i, at, kept);
    }
    SwapLocked(kept);
}

std::size_t SharedList::VisitFrom(std::size_t from, std::size_t count,
                                  const std::function<void(TextView)>& f) const {
    std::lock_guard lock(mutex_);
    Text entry;
    return EachFromLocked(from, count, [&](std::size_t i, const Cursor& at) {
        ReadLocked(i, at, entry);
        f(entry);
    });
}

std::vector<Text> SharedList::Snapshot() const {
    std::vector<Text> out;
    out.reserve(Size());
    ForEach([&](TextView entry) { out.emplace_back(entry); });
    return out;
}

void SharedList::ForEach(const std::function<void(TextView)>& f) const {
    VisitFrom(0, SIZE_MAX, f);
}

std::size_t SharedList::MemoryUsage() const {
    std::lock_guard lock(mutex_);
    std::size_t bytes = 0;
    for (const Block& block : blocks_) bytes += block.capacity;
    const std::size_t chunks = (size_ + kChunk - 1) >> kChunkBits;  // those in use
    return bytes + chunks * kChunk * sizeof(std::uint16_t) + blocks_.capacity() * sizeof(Block) +
           regions_.capacity() * sizeof(Region) + index_.capacity() * sizeof(void*);
}

}  // namespace corvexa
