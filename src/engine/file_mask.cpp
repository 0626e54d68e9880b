#include "engine/file_mask.h"

#include "platform/ascii.h"

namespace corvexa {

namespace {

char16_t FoldAscii(char16_t c) {
    return ascii::ToLower(c);
}
char16_t OtherCase(char16_t c) {
    return ascii::IsUpper(c) ? ascii::ToLower(c) : ascii::ToUpper(c);
}

// Whether `text` ends with `tail`, ASCII letters in either case.
bool EndsWithFolded(TextView text, TextView tail) {
    if (tail.size() > text.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i)
        if (FoldAscii(text[text.size() - tail.size() + i]) != FoldAscii(tail[i])) return false;
    return true;
}

// The patterns of a mask: split at each `;` outside a set, spaces around each
// trimmed, empty ones left out.
std::vector<TextView> SplitPatterns(TextView mask) {
    std::vector<TextView> parts;
    std::size_t start = 0;
    bool inSet = false;
    for (std::size_t i = 0; i <= mask.size(); ++i) {
        if (i < mask.size()) {
            if (mask[i] == u'[' && !inSet) {
                inSet = true;
                if (i + 1 < mask.size() && mask[i + 1] == u'!') ++i;
                continue;
            }
            if (mask[i] == u']' && inSet) inSet = false;
            if (mask[i] != u';' || inSet) continue;
        }
        TextView part = mask.substr(start, i - start);
        while (!part.empty() && part.front() == u' ') part.remove_prefix(1);
        while (!part.empty() && part.back() == u' ') part.remove_suffix(1);
        if (!part.empty()) parts.push_back(part);
        start = i + 1;
    }
    return parts;
}

}  // namespace

std::optional<FileMask> FileMask::Compile(TextView mask, std::string* error) {
    FileMask m;
    const std::vector<TextView> parts = SplitPatterns(mask);
    if (parts.empty()) m.patterns_.emplace_back();  // matches the empty path alone
    for (TextView part : parts) {
        Pattern tokens;
        if (!CompilePattern(part, tokens, error)) return std::nullopt;
        m.patterns_.push_back(std::move(tokens));
    }
    return m;
}

bool FileMask::CompilePattern(TextView mask, Pattern& out, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    Pattern& tokens = out;
    int starGroups = 0;
    for (std::size_t i = 0; i < mask.size();) {
        char16_t c = mask[i];
        if (c == u'*') {
            ++starGroups;
            while (i < mask.size() && mask[i] == u'*') ++i;
            tokens.push_back(Token{Token::AnyRun});
            continue;
        }
        if (c == u'?') {
            tokens.push_back(Token{Token::AnyOne});
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
            tokens.push_back(std::move(t));
            continue;
        }
        Token t{Token::Literal};
        t.ch = c;
        tokens.push_back(std::move(t));
        ++i;
    }
    if (starGroups > kMaxStarGroups) return fail("the file mask has more than 30 * groups");
    return true;
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
    for (const Pattern& tokens : patterns_)
        if (PatternMatches(tokens, path)) return true;
    return false;
}

bool FileMask::CanMatchExtension(TextView extension) const {
    for (const Pattern& tokens : patterns_) {
        // The pattern's end after its last `*`: plain characters, or anything.
        std::size_t tailStart = 0;
        for (std::size_t i = 0; i < tokens.size(); ++i)
            if (tokens[i].kind == Token::AnyRun) tailStart = i + 1;
        const bool star = tailStart > 0;
        Text tail;
        bool plain = true;
        for (std::size_t i = tailStart; i < tokens.size() && plain; ++i) {
            plain = tokens[i].kind == Token::Literal;
            tail.push_back(tokens[i].ch);
        }
        if (!plain || EndsWithFolded(tail, extension) || (star && EndsWithFolded(extension, tail)))
            return true;
    }
    return false;
}

bool FileMask::PatternMatches(const Pattern& tokens, TextView path) const {
    // Every token but `*` consumes exactly one character, so on a mismatch it is
    // enough to let the most recent `*` swallow one more character.
    std::size_t t = 0, p = 0;
    std::size_t starToken = SIZE_MAX, starPath = 0;
    while (p < path.size()) {
        if (t < tokens.size() && tokens[t].kind == Token::AnyRun) {
            starToken = t++;
            starPath = p;
        } else if (t < tokens.size() && MatchOne(tokens[t], path[p])) {
            ++t;
            ++p;
        } else if (starToken != SIZE_MAX) {
            t = starToken + 1;
            p = ++starPath;
        } else {
            return false;
        }
    }
    while (t < tokens.size() && tokens[t].kind == Token::AnyRun) ++t;
    return t == tokens.size();
}

}  // namespace corvexa
