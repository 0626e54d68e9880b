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
class FileMask {
public:
    // The compiled mask, or nothing when the mask is invalid (more than 30 `*`
    // groups, an unclosed `[`, an empty set, a range without a start); *error
    // receives the reason.
    static std::optional<FileMask> Compile(TextView mask, std::string* error = nullptr);

    bool Matches(TextView path) const;

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
    bool MatchOne(const Token& t, char16_t c) const;

    std::vector<Token> tokens_;
};

}  // namespace corvexa
