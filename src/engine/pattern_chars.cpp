#include "engine/pattern_chars.h"

#include <stdexcept>
#include <string>

namespace corvexa {

namespace {

[[noreturn]] void Unsupported(const char* what) {
    throw std::logic_error(std::string("pattern construct not understood: ") + what);
}

void Add(std::bitset<128>& set, char16_t c) {
    if (c >= 128) Unsupported("a character outside ASCII");
    set.set(c);
}

// An escaped character: punctuation stands for itself, \b holds nothing.
// Returns false for \b.
bool Escaped(char16_t c, char16_t* out) {
    if (c == u'b' || c == u'B') return false;
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
        Unsupported("a letter or digit escape");
    *out = c;
    return true;
}

// Reads the class that starts after '[' at i; returns the position after ']'.
std::size_t ReadClass(std::u16string_view p, std::size_t i, std::bitset<128>& set) {
    if (i < p.size() && p[i] == u'^') Unsupported("a negated class");
    bool first = true;
    while (i < p.size() && (p[i] != u']' || first)) {
        first = false;
        char16_t lo = p[i++];
        if (lo == u'\\') {
            if (i >= p.size()) Unsupported("a trailing backslash");
            if (!Escaped(p[i++], &lo)) Unsupported("\\b in a class");
        } else if (lo == u'[') {
            Unsupported("a POSIX class");
        }
        // A range lo-hi; a '-' first, last or after a range is itself.
        if (i + 1 < p.size() && p[i] == u'-' && p[i + 1] != u']') {
            char16_t hi = p[i + 1];
            if (hi == u'\\') Unsupported("an escaped range end");
            if (hi < lo) Unsupported("a reversed range");
            for (char16_t c = lo; c <= hi; ++c) Add(set, c);
            i += 2;
        } else {
            Add(set, lo);
        }
    }
    if (i >= p.size()) Unsupported("an unclosed class");
    return i + 1;
}

}  // namespace

std::bitset<128> CharsAMatchMayHold(std::u16string_view p, bool caseless) {
    std::bitset<128> set;
    for (std::size_t i = 0; i < p.size();) {
        char16_t c = p[i++];
        switch (c) {
            case u'\\': {
                if (i >= p.size()) Unsupported("a trailing backslash");
                char16_t lit;
                if (Escaped(p[i++], &lit)) Add(set, lit);
                break;
            }
            case u'[':
                i = ReadClass(p, i, set);
                break;
            case u'(':
                if (i < p.size() && p[i] == u'?') {
                    if (i + 1 < p.size() && p[i + 1] == u':') {
                        i += 2;  // a group that does not capture
                    } else {
                        Unsupported("a group option or assertion");
                    }
                }
                break;
            case u'{':
                // A repeat count: digits and a comma.
                while (i < p.size() && p[i] != u'}') {
                    if (!((p[i] >= u'0' && p[i] <= u'9') || p[i] == u',')) Unsupported("a brace");
                    ++i;
                }
                if (i >= p.size()) Unsupported("an unclosed brace");
                ++i;
                break;
            case u')':
            case u'|':
            case u'*':
            case u'+':
            case u'?':
                break;
            case u'.':
                Unsupported("the dot");
            case u'^':
            case u'$':
                Unsupported("an anchor");
            default:
                Add(set, c);
        }
    }
    if (caseless) {
        for (char16_t c = u'a'; c <= u'z'; ++c) {
            if (set[c] || set[c - 0x20]) set.set(c).set(c - 0x20);
        }
    }
    return set;
}

}  // namespace corvexa
