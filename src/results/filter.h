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
    bool RestMatches(const char16_t* at) const;

    Text needle_;  // folded
    // When the needle starts with an ASCII character that no other character
    // folds to, a candidate start is found by one compare: (c | mask) == first.
    bool quickFirst_ = false;
    char16_t firstMask_ = 0;
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
