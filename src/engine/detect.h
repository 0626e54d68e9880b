#pragma once

#include <atomic>
#include <memory>

#include "engine/line_sink.h"
#include "engine/shared_list.h"
#include "engine/text.h"

namespace corvexa {

// The five detection switches. The window may flip them at any moment, also
// during a scan; detection reads them afresh for every line.
struct DetectionSwitches {
    std::atomic<bool> email{true};
    std::atomic<bool> ftp{true};
    std::atomic<bool> http{true};
    std::atomic<bool> https{true};
    std::atomic<bool> www{true};

    bool AnyOn() const { return email || ftp || http || https || www; }
};

// The fixed patterns, as PCRE2 source text.
namespace patterns {
extern const char16_t* const kWebA;  // http, https, www
extern const char16_t* const kWebB;  // http, https
extern const char16_t* const kWebC;  // http, www
extern const char16_t* const kWebD;  // http
extern const char16_t* const kWebE;  // https, www
extern const char16_t* const kWebF;  // https
extern const char16_t* const kWebG;  // www
extern const char16_t* const kEmail;
extern const char16_t* const kFtp;
// The web pattern for a combination of switches; nullptr when all are off.
const char16_t* WebPattern(bool http, bool https, bool www);
}  // namespace patterns

// Turns lines into findings appended to the URL list. One detector per thread:
// it owns PCRE2 match data; the compiled patterns are shared process-wide.
class Detector : public LineSink {
public:
    Detector(const DetectionSwitches& switches, SharedList& urls);
    ~Detector() override;
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    void Line(TextView line) override { DetectInLine(line); }

    // Web addresses (pattern chosen by http/https/www), then e-mail addresses,
    // then ftp links, each appended in the order found.
    void DetectInLine(TextView line);
    void FindURLs(TextView line);
    void FindEmails(TextView line);
    void FindFtpLinks(TextView line);

private:
    struct Impl;
    const DetectionSwitches& switches_;
    SharedList& urls_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace corvexa
