#pragma once

#include <bitset>
#include <string_view>

namespace corvexa {

// The ASCII code units that a match of the pattern may hold, read from the
// pattern as written: its literal characters and the members of its classes,
// both letter cases when caseless. The pattern is read without UTF, so no code
// unit of 128 or more can match. Only the constructs the detection patterns
// use are understood (literals, escaped punctuation, \b, classes with ranges,
// groups, alternatives, quantifiers); anything else (the dot, \w, negated
// classes, non-ASCII text) throws std::logic_error rather than guessing.
std::bitset<128> CharsAMatchMayHold(std::u16string_view pattern, bool caseless);

}  // namespace corvexa
