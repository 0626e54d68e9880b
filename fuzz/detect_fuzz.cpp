// Detection on arbitrary lines under every setting of the switches, held to
// plain PCRE2: the same patterns searched leftmost match after leftmost match
// from the start of the line, with none of the detector's shortcuts.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <stdexcept>

#include "engine/detect.h"
#include "fuzz_input.h"

using namespace corvexa;

namespace {

using Findings = std::vector<Text>;

class PlainPcre2 {
public:
    PlainPcre2() {
        for (int i = 1; i < 8; ++i) web_[i] = Compile(patterns::WebPattern(i & 4, i & 2, i & 1));
        email_ = Compile(patterns::kEmail);
        ftp_ = Compile(patterns::kFtp);
        data_ = pcre2_match_data_create(4, nullptr);
        context_ = pcre2_match_context_create(nullptr);
        stack_ = pcre2_jit_stack_create(32 * 1024, 64 * 1024 * 1024, nullptr);
        pcre2_jit_stack_assign(context_, nullptr, stack_);
        pcre2_set_match_limit(context_, UINT32_MAX);
        pcre2_set_depth_limit(context_, UINT32_MAX);
        pcre2_set_heap_limit(context_, UINT32_MAX);
    }

    // Web addresses lose a final '.', and a final ')' without a '(' before it.
    Findings Line(bool http, bool https, bool www, bool email, bool ftp, TextView line) {
        Findings out;
        if (int i = (http ? 4 : 0) + (https ? 2 : 0) + (www ? 1 : 0)) {
            out = All(web_[i], line);
            for (Text& t : out) {
                if (!t.empty() && t.back() == u'.') t.pop_back();
                if (!t.empty() && t.back() == u')' && t.find(u'(') == Text::npos) t.pop_back();
            }
        }
        if (email) Append(out, All(email_, line));
        if (ftp) Append(out, All(ftp_, line));
        return out;
    }

private:
    static pcre2_code* Compile(const char16_t* pattern) {
        int error = 0;
        PCRE2_SIZE offset = 0;
        pcre2_code* code =
            pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                          PCRE2_CASELESS, &error, &offset, nullptr);
        if (!code) fuzz::Fail("pattern does not compile");
        pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
        return code;
    }
    Findings All(pcre2_code* code, TextView line) {
        Findings out;
        const auto subject = reinterpret_cast<PCRE2_SPTR>(line.data());
        for (std::size_t offset = 0; offset <= line.size();) {
            int rc = pcre2_match(code, subject, line.size(), offset, 0, data_, context_);
            if (rc == PCRE2_ERROR_NOMATCH) break;
            if (rc < 0) throw std::runtime_error("plain search failed");
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
            out.emplace_back(line.substr(ov[0], ov[1] - ov[0]));
            offset = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
        }
        return out;
    }
    static void Append(Findings& to, const Findings& from) {
        to.insert(to.end(), from.begin(), from.end());
    }

    pcre2_code* web_[8] = {};
    pcre2_code* email_ = nullptr;
    pcre2_code* ftp_ = nullptr;
    pcre2_match_data* data_ = nullptr;
    pcre2_match_context* context_ = nullptr;
    pcre2_jit_stack* stack_ = nullptr;
};

}  // namespace

// First byte: the five switches; the rest: the line.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static PlainPcre2 plain;
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
