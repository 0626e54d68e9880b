#pragma once

#include <string>
#include <string_view>

namespace corvexa {

// All text the engine handles (lines, findings, paths) is UTF-16, as PCRE2-16
// and ICU take it.
using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-8 (lenient: bad bytes become escaped bytes, see platform/native_path.h)
// to UTF-16, and back. For command-line arguments, file names and output.
Text FromUtf8(std::string_view s);
std::string ToUtf8(TextView t);

// The text without leading and trailing spaces and control characters
// (U+0000 to U+0020), as fields, settings values and language lines are taken.
inline TextView TrimControls(TextView text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && text[begin] <= u' ') ++begin;
    while (end > begin && text[end - 1] <= u' ') --end;
    return text.substr(begin, end - begin);
}

// True when the text holds nothing but spaces and control characters.
inline bool IsBlankText(TextView text) {
    return TrimControls(text).empty();
}

// The lower-cased extension of the path's final component, dot included;
// empty when that component has no dot.
Text LowerExtension(TextView path);

}  // namespace corvexa
