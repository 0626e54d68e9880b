#pragma once

#include <cstddef>

namespace corvexa {

// Detection's keys in text held as ASCII bytes, one byte a code unit: the '.'
// of "www." (any case), the ':' of "://" and an '@'. Returns the first key in
// [from, n), or n when there is none; text[0, n) may be read around it. On
// ASCII bytes it gives what Detector::NextKey gives on the same text widened
// to UTF-16, so a reader may look for keys before it decodes anything.
std::size_t NextAsciiKey(const char* text, std::size_t from, std::size_t n);

}  // namespace corvexa
