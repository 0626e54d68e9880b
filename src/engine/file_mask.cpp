#include "engine/file_mask.h"

#include "platform/ascii.h"

namespace corvexa {

namespace {

char16_t FoldAscii(char16_t c) { return ascii::ToLower(c); }
char16_t OtherCase(char16_t c) { return ascii::IsUpper(c) ? ascii::ToLower(c) : ascii::ToUpper(c); }

}  // namespace

std::optional<FileMask> FileMask::Compile(TextView mask, std::string* error) {
    auto fail = [&](const char* why) -> std::optional<FileMask> {
        if (error) *error = why;
        return std::nullopt;
    };
    FileMask m;
    int starGroups = 0;
    for (std::size_t i = 0; i < mask.size();) {
        char16_t c = mask[i];
        if (c == u'*') {
            ++starGroups;
            while (i < mask.size() && mask[i] == u'*') ++i;
            m.tokens_.push_back(Token{Token::AnyRun});
            continue;
        }
        if (c == u'?') {
            m.tokens_.push_back(Token{Token::AnyOne});
            ++i;
            continue;
        }
        if (c == u'[') {
            Token t{Token::Set};
            ++i;
            if (i < mask.size() && mask[i] == u'!') {
                t.negate = true;
                ++i;
            }
            bool closed = false;
            while (i < mask.size()) {
                char16_t a = mask[i];
                if (a == u']') {
                    closed = true;
                    ++i;
                    break;
                }
                if (a == u'-' && i + 1 < mask.size() && mask[i + 1] != u']')
                    return fail("a range in the file mask has no start");
                if (i + 2 < mask.size() && mask[i + 1] == u'-' && mask[i + 2] != u']') {
                    t.ranges.push_back(Range{a, mask[i + 2]});
                    i += 3;
                } else {
                    t.ranges.push_back(Range{a, a});
                    ++i;
                }
            }
            if (!closed) return fail("the file mask has an unclosed [");
            if (t.ranges.empty()) return fail("the file mask has an empty set []");
            m.tokens_.push_back(std::move(t));
            continue;
        }
        Token t{Token::Literal};
        t.ch = c;
        m.tokens_.push_back(std::move(t));
        ++i;
    }
    if (starGroups > kMaxStarGroups) return fail("the file mask has more than 30 * groups");
    return m;
}

bool FileMask::MatchOne(const Token& t, char16_t c) const {
    switch (t.kind) {
        case Token::Literal:
            return FoldAscii(t.ch) == FoldAscii(c);
        case Token::AnyOne:
            return true;
        case Token::Set: {
            char16_t alt = OtherCase(c);
            bool in = false;
            for (const Range& r : t.ranges) {
                if ((c >= r.lo && c <= r.hi) || (alt >= r.lo && alt <= r.hi)) {
                    in = true;
                    break;
                }
            }
            return in != t.negate;
        }
        case Token::AnyRun:
            break;
    }
    return false;
}

bool FileMask::Matches(TextView path) const {
    // Every token but `*` consumes exactly one character, so on a mismatch it is
    // enough to let the most recent `*` swallow one more character.
    std::size_t t = 0, p = 0;
    std::size_t starToken = SIZE_MAX, starPath = 0;
    while (p < path.size()) {
        if (t < tokens_.size() && tokens_[t].kind == Token::AnyRun) {
            starToken = t++;
            starPath = p;
        } else if (t < tokens_.size() && MatchOne(tokens_[t], path[p])) {
            ++t;
            ++p;
        } else if (starToken != SIZE_MAX) {
            t = starToken + 1;
            p = ++starPath;
        } else {
            return false;
        }
    }
    while (t < tokens_.size() && tokens_[t].kind == Token::AnyRun) ++t;
    return t == tokens_.size();
}

}  // namespace corvexa
