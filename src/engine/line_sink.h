#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/text.h"

namespace corvexa {

// Receives the lines a reader cuts from a file's text, one at a time, in order.
// The view is valid only for the duration of the call.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void Line(TextView line) = 0;

    // When set, readers count the lines of a text (the first is 1) and store
    // the number of the line they hand over here just before each Line call.
    // Off, nothing is counted: lines passed over cost no more than before.
    bool numberLines = false;
    std::uint64_t lineNumber = 0;

    // Lets a reader pass over lines the sink would do nothing with. Returns the
    // first position in [from, n) of text that may lie in a line the sink cares
    // about, or n when there is none; text[0, n) may be read around it. A line
    // that holds no such position may be skipped. By default every line counts.
    virtual std::size_t NextKey(const char16_t* text, std::size_t from, std::size_t n) const {
        (void)text;
        return from < n ? from : n;
    }
};

}  // namespace corvexa
