#pragma once

#include <cstdint>
#include <vector>

#include "engine/shared_list.h"
#include "engine/text.h"

namespace corvexa::results {

// The filter of the results view: which entries of a list contain a text,
// letter case ignored (Unicode simple case folding).
class EntryFilter {
public:
    explicit EntryFilter(TextView needle);
    bool Matches(TextView entry) const;
    const Text& Folded() const { return needle_; }

private:
    Text needle_;  // folded
    char16_t firstLower_ = 0, firstUpper_ = 0;
};

// Indices, ascending, of the entries that contain needle. With `within` (indices
// ascending, say the matches of a shorter needle that this one extends), only
// those entries are tested.
std::vector<std::uint32_t> FilterEntries(const SharedList& list, TextView needle,
                                         const std::vector<std::uint32_t>* within = nullptr);

// True when every entry containing `longer` also contains `shorter`, so that a
// filter narrowed from `shorter` to `longer` need only test earlier matches.
bool Narrows(TextView shorter, TextView longer);

}  // namespace corvexa::results
