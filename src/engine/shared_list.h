#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/text.h"

namespace corvexa {

// An ordered list of texts shared between the collector thread and the window:
// the URL list, the files list and the derived host and domain lists. Every
// call takes the list's lock, so each single access is atomic.
//
// Entries are packed into large character blocks with a small index, so a
// million findings cost little more than their text.
class SharedList {
public:
    SharedList();
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
    // Puts entries in before index `at` (at the end when `at` is past it),
    // in their order; the entries from `at` on move back by their number.
    void InsertAt(std::size_t at, const std::vector<Text>& entries);
    // Appends every entry of `other` (another list), in order.
    void AppendFrom(const SharedList& other);
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

    // Bytes held by the list's storage (blocks and index), for measurements.
    std::size_t MemoryUsage() const;

private:
    struct Entry {
        std::uint32_t block;
        std::uint32_t offset;
        std::uint32_t length;
    };
    void AppendLocked(TextView text);
    void ClearLocked();
    TextView ViewLocked(std::size_t i) const;

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<char16_t[]>> blocks_;
    std::vector<std::size_t> blockCapacity_;
    std::size_t used_ = 0;  // characters used in the last block
    std::deque<Entry> index_;
};

}  // namespace corvexa
