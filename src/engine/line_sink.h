#pragma once

#include "engine/text.h"

namespace corvexa {

// Receives the lines a reader cuts from a file's text, one at a time, in order.
// The view is valid only for the duration of the call.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void Line(TextView line) = 0;
};

}  // namespace corvexa
