// The file mask matcher. A mask without sets is held to a plain backtracking
// matcher (patterns separated by ';', spaces around them dropped, any one of
// them matching); every mask to letter case: an ASCII letter's case never
// matters.
#include <algorithm>
#include <vector>

#include "engine/file_mask.h"
#include "fuzz_input.h"

using namespace corvexa;

namespace {

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

// '*' any run, '?' one character, anything else itself (ASCII case ignored);
// memoised over (mask position, path position).
bool PlainMatch(TextView mask, TextView path) {
    std::vector<signed char> memo((mask.size() + 1) * (path.size() + 1), -1);
    auto match = [&](auto& self, std::size_t m, std::size_t p) -> bool {
        signed char& seen = memo[m * (path.size() + 1) + p];
        if (seen >= 0) return seen;
        bool r;
        if (m == mask.size())
            r = p == path.size();
        else if (mask[m] == u'*')
            r = self(self, m + 1, p) || (p < path.size() && self(self, m, p + 1));
        else if (p == path.size())
            r = false;
        else if (mask[m] == u'?' || Lower(mask[m]) == Lower(path[p]))
            r = self(self, m + 1, p + 1);
        else
            r = false;
        seen = r;
        return r;
    };
    return match(match, 0, 0);
}

int StarGroups(TextView mask) {
    int groups = 0;
    for (std::size_t i = 0; i < mask.size(); ++i)
        if (mask[i] == u'*' && (i == 0 || mask[i - 1] != u'*')) ++groups;
    return groups;
}

// The patterns of a mask without sets: split at ';', trimmed, empty ones dropped.
std::vector<TextView> Patterns(TextView mask) {
    std::vector<TextView> parts;
    for (std::size_t start = 0; start <= mask.size();) {
        std::size_t end = std::min(mask.find(u';', start), mask.size());
        TextView part = mask.substr(start, end - start);
        while (!part.empty() && part.front() == u' ') part.remove_prefix(1);
        while (!part.empty() && part.back() == u' ') part.remove_suffix(1);
        if (!part.empty()) parts.push_back(part);
        start = end + 1;
    }
    return parts;
}

bool PlainMaskMatch(TextView mask, TextView path) {
    const std::vector<TextView> parts = Patterns(mask);
    if (parts.empty()) return path.empty();
    return std::any_of(parts.begin(), parts.end(),
                       [&](TextView part) { return PlainMatch(part, path); });
}

bool PlainMaskCompiles(TextView mask) {
    const std::vector<TextView> parts = Patterns(mask);
    return std::all_of(parts.begin(), parts.end(),
                       [](TextView part) { return StarGroups(part) <= FileMask::kMaxStarGroups; });
}

Text SwapCase(Text t) {
    for (char16_t& c : t) {
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - 32);
        else if (c >= u'A' && c <= u'Z')
            c = char16_t(c + 32);
    }
    return t;
}

}  // namespace

// The mask, a NUL byte, the path.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::size_t cut = in.find('\0');
    if (cut == std::string_view::npos || size > 2048) return 0;
    const Text mask = fuzz::TextFromBytes(in.substr(0, cut));
    const Text path = fuzz::TextFromBytes(in.substr(cut + 1));
    std::string error;
    std::optional<FileMask> compiled = FileMask::Compile(mask, &error);
    const bool plain = mask.find(u'[') == Text::npos;
    if (plain) {
        fuzz::Check(compiled.has_value() == PlainMaskCompiles(mask),
                    "a mask without sets compiled (or not) against the rules", error);
    }
    if (!compiled) {
        fuzz::Check(!error.empty(), "an invalid mask without a reason");
        return 0;
    }
    const bool matches = compiled->Matches(path);
    if (plain) {
        fuzz::Check(matches == PlainMaskMatch(mask, path), "mask differs from a plain matcher",
                    ToUtf8(mask) + " | " + ToUtf8(path));
    }
    fuzz::Check(matches == compiled->Matches(SwapCase(path)),
                "letter case of the path changed the match");
    // (Not for sets: swapping the case of a range's ends changes the range.)
    if (plain) {
        std::optional<FileMask> swapped = FileMask::Compile(SwapCase(mask));
        fuzz::Check(swapped && swapped->Matches(path) == matches,
                    "letter case of the mask changed the match");
    }
    return 0;
}
