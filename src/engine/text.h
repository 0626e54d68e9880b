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

}  // namespace corvexa
