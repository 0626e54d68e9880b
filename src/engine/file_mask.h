#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/text.h"

namespace corvexa {

// A file mask matched against a file's whole path: `*` any run of characters
// (separators included), `?` one character, `[set]` / `[!set]` one character of
// (or not of) a set with ranges such as a-z, anything else itself. ASCII letters
// compare without regard to case; the mask must consume the whole path.
// Several patterns are separated by `;` (`*.eml;*.pdf`, spaces around each
// ignored; a `;` inside a set is the character): a path matches when one of
// them does.
class FileMask {
public:
    // The compiled mask, or nothing when the mask is invalid (more than 30 `*`
    // groups, an unclosed `[`, an empty set, a range without a start); *error
    // receives the reason.
    static std::optional<FileMask> Compile(TextView mask, std::string* error = nullptr);

    bool Matches(TextView path) const;
    // Whether some path ending in `extension` (".pdf", any letter case) could
    // match. Ers on the side of yes where a pattern's end is not plain text.
    bool CanMatchExtension(TextView extension) const;

    static constexpr int kMaxStarGroups = 30;

private:
    struct Range {
        char16_t lo, hi;
    };
    struct Token {
        enum Kind { Literal, AnyOne, AnyRun, Set };
        explicit Token(Kind k) : kind(k) {}
        Kind kind;
        char16_t ch = 0;
        bool negate = false;
        std::vector<Range> ranges;
    };
    using Pattern = std::vector<Token>;
    static bool CompilePattern(TextView text, Pattern& out, std::string* error);
    bool MatchOne(const Token& t, char16_t c) const;
    bool PatternMatches(const Pattern& tokens, TextView path) const;

    std::vector<Pattern> patterns_;
};

}  // namespace corvexa
