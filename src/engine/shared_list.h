#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/text.h"

namespace corvexa {

// An ordered list of texts shared between the collector thread and the window:
// the URL list, the files list and the derived host and domain lists. Every
// call takes the list's lock, so each single access is atomic (a list made for
// one thread at a time has none: see Use).
//
// Entries are packed into blocks with a two-byte index entry each, and an entry
// of ASCII characters (nearly every address) is kept one byte a character, so a
// million findings cost little more than their UTF-8 text.
class SharedList {
public:
    // Who uses the list. A list that one thread at a time uses, handed from
    // thread to thread only through some other lock (a reader's buffer of
    // findings in a parallel scan), takes no lock of its own: every finding
    // goes through Append.
    enum class Use { Shared, OneThreadAtATime };

    explicit SharedList(Use use = Use::Shared);
    ~SharedList();
    SharedList(const SharedList&) = delete;
    SharedList& operator=(const SharedList&) = delete;

    void Append(TextView text);
    std::size_t Size() const;
    bool Empty() const { return Size() == 0; }

    // The entry at index i. Throws std::out_of_range past the end.
    Text At(std::size_t i) const;
    // Copies entry i into out when it exists; false past the end. For readers
    // that re-read the length before each entry while another thread appends.
    bool TryAt(std::size_t i, Text& out) const;

    void Clear();
    // Empties the list but keeps its storage (up to a bound) for the entries
    // that come next, so that a list filled and emptied again and again, as
    // a reader's buffer is once a file, takes no new memory each time.
    // A list whose storage is more than `keepAtMost` bytes is freed instead.
    void Recycle(std::size_t keepAtMost = std::size_t{2} << 20);
    // Puts entries in before index `at` (at the end when `at` is past it),
    // in their order; the entries from `at` on move back by their number.
    void InsertAt(std::size_t at, const std::vector<Text>& entries);
    // Appends every entry of `other` (another list), in order: a block of
    // entries at a time, bytes and index words in bulk.
    void AppendFrom(const SharedList& other);
    // Appends entries from index `from` on, at most `count` of them, to `out`
    // as UTF-8 lines ending in LF, holding the lock once. Returns how many.
    std::size_t AppendLinesUtf8(std::size_t from, std::size_t count, std::string& out) const;
    // Replaces the whole content in one step (the new content is built before
    // the lock is taken).
    void Assign(const std::vector<Text>& entries);
    // Deletes the entries at the given indices (any order, duplicates and
    // indices past the end ignored), keeping the order of the rest.
    void RemoveAt(std::vector<std::size_t> indices);

    // Calls f on the entries from index `from` on, at most `count` of them,
    // holding the lock once; the length is checked before each entry. Returns
    // how many were visited. f must not touch this list.
    std::size_t VisitFrom(std::size_t from, std::size_t count,
                          const std::function<void(TextView)>& f) const;

    // Like ForEach, but the lock is taken for a batch of entries at a time, so
    // a reader on another thread never waits long. For a list that nothing
    // rewrites meanwhile (entries appended meanwhile may or may not be seen).
    void ForEachBatched(const std::function<void(TextView)>& f) const;

    // Exchanges the contents of two lists in one step.
    void Swap(SharedList& other);

    std::vector<Text> Snapshot() const;
    // Calls f on every entry in order while holding the lock once; f must not
    // touch this list.
    void ForEach(const std::function<void(TextView)>& f) const;

    // Bytes held by the list's storage (blocks and index in use; not what
    // Recycle keeps for later), for measurements.
    std::size_t MemoryUsage() const;

private:
    // Characters live in byte blocks: an entry whose characters are all below
    // 0x80 one byte each, any other entry as UTF-16 code units. The index keeps
    // one 16-bit word an entry: its start in its block, and the top bit set for
    // a UTF-16 entry; its end is the next entry's start or the block's end.
    // The memory blocks live in: a region of its own from the heap while the
    // list is small and for a long entry, else a share of a 1 MiB region mapped
    // for the list alone (2 MiB once the list is long), so that a long list does
    // not pin the heap's free space between the short-lived buffers of a scan.
    struct FreeRegion {
        std::size_t size = 0;
        bool mapped = false;
        void operator()(unsigned char* bytes) const;
    };
    using Region = std::unique_ptr<unsigned char[], FreeRegion>;
    struct Block {
        unsigned char* bytes = nullptr;
        std::size_t capacity = 0;
        std::size_t used = 0;
        std::size_t first = 0;  // index of the block's first entry
    };
    // Where entry i is, as a visitor walking the list in order keeps it.
    struct Cursor {
        std::size_t block = 0;
        std::size_t end = 0;  // index of the first entry past the block
    };
    Block MakeBlockLocked(std::size_t cap);
    void MapSlabLocked();
    void NewBlockLocked(std::size_t size);
    void SetWordLocked(std::size_t i, std::uint16_t word);
    void OpenIndexLocked(std::size_t at, std::size_t count, std::size_t block);
    bool InsertInBlockLocked(std::size_t at, const std::vector<Text>& entries);
    void AppendLocked(TextView text);
    // Room for a new entry of `size` bytes, indexed; the caller fills it.
    unsigned char* PlaceLocked(std::size_t size, bool wide);
    // Indexes a new last entry that starts at `word` (with kWide) in the last block.
    void PushWordLocked(std::uint16_t word);
    void AppendBlockLocked(const SharedList& other, std::size_t b, std::size_t end);
    void ClearLocked();
    void SwapLocked(SharedList& other);
    std::uint16_t WordLocked(std::size_t i) const;
    Cursor CursorLocked(std::size_t i) const;
    void AdvanceLocked(std::size_t i, Cursor& at) const;
    // Entry i (in block at.block) as its stored bytes; wide when UTF-16.
    const unsigned char* BytesLocked(std::size_t i, const Cursor& at, std::size_t& size,
                                     bool& wide) const;
    void ReadLocked(std::size_t i, const Cursor& at, Text& out) const;
    // Appends entry i (in block at.block) to `to` as it is stored.
    void CopyLocked(std::size_t i, const Cursor& at, SharedList& to) const;
    // Calls f(i, cursor) on the entries from index `from` on, at most `count`
    // of them, in order. Returns how many.
    template <class F>
    std::size_t EachFromLocked(std::size_t from, std::size_t count, F&& f) const;

    // The list's lock, taken only when the list is shared.
    class Lock {
    public:
        explicit Lock(bool shared) : shared_(shared) {}
        void lock() {
            if (shared_) mutex_.lock();
        }
        bool try_lock() { return !shared_ || mutex_.try_lock(); }
        void unlock() {
            if (shared_) mutex_.unlock();
        }

    private:
        const bool shared_;
        std::mutex mutex_;
    };

    mutable Lock mutex_;
    std::vector<Region> regions_;
    unsigned char* slabFree_ = nullptr;  // the unused end of the last mapped region
    std::size_t slabLeft_ = 0;
    std::vector<Block> blocks_;
    // Emptied blocks kept by Recycle, in their regions, the next to use last.
    std::vector<Block> spare_;
    std::vector<std::unique_ptr<std::uint16_t[]>> index_;  // chunks of kChunk words
    std::size_t size_ = 0;
    mutable std::size_t hint_ = 0;  // the block the last lookup found
};

}  // namespace corvexa
