#pragma once

#include <vector>

#include "engine/line_sink.h"
#include "engine/text.h"

namespace corvexa::test {

// A LineSink that keeps every line handed to it.
struct CollectLines : LineSink {
    std::vector<Text> lines;
    void Line(TextView l) override { lines.emplace_back(l); }
};

}  // namespace corvexa::test
