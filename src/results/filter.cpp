#include "results/filter.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include "platform/ascii.h"

namespace corvexa::results {
namespace {

inline char16_t Fold(char16_t c) {
    if (c < 0x80) return ascii::ToLower(c);
    if (U16_IS_SURROGATE(c)) return c;
    const UChar32 folded = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    return folded <= 0xFFFF ? static_cast<char16_t>(folded) : c;
}

Text FoldAll(TextView text) {
    Text out(text);
    for (char16_t& c : out) c = Fold(c);
    return out;
}

}  // namespace

EntryFilter::EntryFilter(TextView needle) : needle_(FoldAll(needle)) {
    if (needle_.empty()) return;
    const char16_t first = needle_[0];
    // U+212A KELVIN SIGN folds to 'k' and U+017F LONG S to 's': those two
    // letters take the general path.
    quickFirst_ = first < 0x80 && first != u'k' && first != u's';
    firstMask_ = ascii::IsLetter(first) ? 0x20 : 0;
}

bool EntryFilter::RestMatches(const char16_t* at) const {
    for (std::size_t j = 1; j < needle_.size(); ++j)
        if (Fold(at[j]) != needle_[j]) return false;
    return true;
}

bool EntryFilter::Matches(TextView entry) const {
    const std::size_t n = needle_.size();
    if (n == 0) return true;
    if (entry.size() < n) return false;
    const char16_t* p = entry.data();
    const char16_t* last = p + (entry.size() - n);
    const char16_t first = needle_[0];
    if (quickFirst_) {
        // (c | 0x20) == first also takes a few non-letters; RestMatches and
        // the check below sort them out.
        for (; p <= last; ++p)
            if ((*p | firstMask_) == first && (firstMask_ == 0 || ascii::IsLetter(*p)) &&
                RestMatches(p))
                return true;
        return false;
    }
    for (; p <= last; ++p)
        if (Fold(*p) == first && RestMatches(p)) return true;
    return false;
}

std::vector<std::uint32_t> FilterEntries(const SharedList& list, TextView needle,
                                         const std::vector<std::uint32_t>* within) {
    const EntryFilter filter(needle);
    std::vector<std::uint32_t> out;
    out.reserve(within ? within->size() : list.Size());
    std::uint32_t index = 0;
    std::size_t next = 0;  // position in `within`
    list.ForEach([&](TextView entry) {
        const std::uint32_t i = index++;
        if (within) {
            if (next >= within->size() || (*within)[next] != i) return;
            ++next;
        }
        if (filter.Matches(entry)) out.push_back(i);
    });
    return out;
}

bool Narrows(TextView shorter, TextView longer) {
    return FoldAll(longer).find(FoldAll(shorter)) != Text::npos;
}

}  // namespace corvexa::results
