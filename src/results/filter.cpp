#include "results/filter.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

namespace corvexa::results {
namespace {

inline char16_t Fold(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
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
    firstLower_ = needle_[0];
    // The characters that fold to the first one: for ASCII its two cases.
    firstUpper_ = (firstLower_ >= u'a' && firstLower_ <= u'z')
                      ? static_cast<char16_t>(firstLower_ - 32)
                      : firstLower_;
}

bool EntryFilter::Matches(TextView entry) const {
    const std::size_t n = needle_.size();
    if (n == 0) return true;
    if (entry.size() < n) return false;
    const bool asciiFirst = firstLower_ < 0x80;
    const std::size_t last = entry.size() - n;
    for (std::size_t i = 0; i <= last; ++i) {
        const char16_t c = entry[i];
        if (asciiFirst) {
            // Most entries are ASCII: a cheap test of the first character.
            if (c != firstLower_ && c != firstUpper_ && (c < 0x80 || Fold(c) != firstLower_)) continue;
        } else if (Fold(c) != firstLower_) {
            continue;
        }
        std::size_t j = 1;
        while (j < n && Fold(entry[i + j]) == needle_[j]) ++j;
        if (j == n) return true;
    }
    return false;
}

std::vector<std::uint32_t> FilterEntries(const SharedList& list, TextView needle,
                                         const std::vector<std::uint32_t>* within) {
    const EntryFilter filter(needle);
    std::vector<std::uint32_t> out;
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
