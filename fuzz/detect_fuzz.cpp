// Detection on arbitrary lines under every setting of the switches, held to
// plain PCRE2: the same patterns searched leftmost match after leftmost match
// from the start of the line, with none of the detector's shortcuts.
#include <stdexcept>

#include "engine/detect.h"
#include "fuzz_input.h"
#include "support/detect_support.h"

using namespace corvexa;

namespace {

using Findings = std::vector<Text>;

}  // namespace

// First byte: the five switches; the rest: the line.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static test::PlainPcre2 plain(test::PlainPcre2::ProgramPatterns(), 64 * 1024 * 1024);
    const unsigned on = data[0];
    const Text line = fuzz::TextFromBytes({reinterpret_cast<const char*>(data) + 1, size - 1});
    DetectionSwitches switches;
    switches.http = on & 1;
    switches.https = on & 2;
    switches.www = on & 4;
    switches.email = on & 8;
    switches.ftp = on & 16;
    SharedList urls;
    Detector detector(switches, urls);
    Findings want;
    try {
        want = plain.Line(on & 1, on & 2, on & 4, on & 8, on & 16, line);
    } catch (const std::runtime_error&) {
        return 0;  // beyond PCRE2 itself: nothing to compare against
    }
    detector.DetectInLine(line);
    Findings got = urls.Snapshot();
    if (got != want) {
        std::string detail = "line: ";
        detail.append(ToUtf8(line)).append("\nfound:");
        for (const Text& t : got) detail.append("\n  ").append(ToUtf8(t));
        detail += "\nplain PCRE2:";
        for (const Text& t : want) detail.append("\n  ").append(ToUtf8(t));
        fuzz::Fail("detection differs from plain PCRE2", detail);
    }
    // The key positions never pass over a finding.
    if (!got.empty())
        fuzz::Check(detector.NextKey(line.data(), 0, line.size()) < line.size(), "NextKey");
    return 0;
}
