#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/shared_list.h"
#include "engine/text.h"

namespace corvexa::results {

// Case-insensitive, locale-aware ordering for Remove Duplicates: ICU collation
// of the user's default locale at secondary strength (letter case ignored,
// accents kept). Hyphens and apostrophes only break ties, so "co-op" sorts next
// to "coop" without being equal to it. Use one object from one thread at a time;
// Remove Duplicates spreads its own work over threads internally.
class DedupCollator {
public:
    // locale: an ICU locale id; empty means the user's default locale.
    explicit DedupCollator(const std::string& locale = {});
    ~DedupCollator();
    DedupCollator(const DedupCollator&) = delete;
    DedupCollator& operator=(const DedupCollator&) = delete;

    // The sort key of a text: byte strings compare with memcmp like the texts.
    std::string SortKey(TextView text) const;
    // <0, 0, >0.
    int Compare(TextView a, TextView b) const;

private:
    friend struct DedupAccess;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The entries sorted ascending and freed of entries that compare equal to an
// earlier one; of equal entries the first in list order stays, with its case.
std::vector<Text> SortedUnique(const std::vector<Text>& entries, const DedupCollator& collator);

// Remove Duplicates on a shared list: replaces its content in one step.
void RemoveDuplicates(SharedList& list, const DedupCollator& collator);

// Lets tests and fuzzing reach the threaded path with small lists: from
// fromDistinct distinct texts on (0: the normal threshold), with the given
// number of workers (0: as many as the machine has, up to 4).
void SetParallelDedupForTesting(std::size_t fromDistinct, unsigned workers);

}  // namespace corvexa::results
