#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/finding_origins.h"
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

// PCRE2 match limits of a detector's searches. The defaults, the largest values
// PCRE2 takes, are what every scan uses; lower values only serve to drive the
// retry and error paths in tests.
struct DetectorLimits {
    // Limit of the JIT search.
    std::uint32_t jitMatchLimit = UINT32_MAX;
    // Limit of the interpreter search that retries a failed JIT search.
    std::uint32_t retryMatchLimit = UINT32_MAX;
};

// Turns lines into findings appended to the URL list. One detector per thread:
// it owns PCRE2 match data; the compiled patterns are shared process-wide.
class Detector : public LineSink {
public:
    Detector(const DetectionSwitches& switches, SharedList& urls);
    Detector(const DetectionSwitches& switches, SharedList& urls, const DetectorLimits& limits);
    ~Detector() override;
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    void Line(TextView line) override;
    // A long line may come in parts, cut after any code unit that none of the
    // patterns can match (derived from the patterns as written). Its findings
    // are held until the line's end and then appended as for the whole line:
    // web addresses, then e-mail addresses, then ftp links; the switches are
    // read once, at the line's first part.
    const LineCuts* Cuts() const override;
    void LinePart(TextView part) override;
    void AbandonLine() override;
    // The first position at or after `from` that some detection keys on (the
    // '.' of "www.", the ':' of "://", an '@'), whatever the switches are set
    // to: a line without one gives no finding under any setting, so readers
    // may pass over it even while the switches change.
    std::size_t NextKey(const char16_t* text, std::size_t from, std::size_t n) const override;
    bool KeysInAscii() const override { return true; }
    std::size_t NextKeyAscii(const char* text, std::size_t from, std::size_t n) const override;

    // Web addresses (pattern chosen by http/https/www), then e-mail addresses,
    // then ftp links, each appended in the order found. A search that neither
    // the JIT nor the interpreter can complete throws std::runtime_error rather
    // than losing findings.
    void DetectInLine(TextView line);
    void FindURLs(TextView line);
    void FindEmails(TextView line);
    void FindFtpLinks(TextView line);

    // From now on DetectInLine notes, for each finding, the line number the
    // reader stores in `lineNumber`, in `origins` (the caller names the file
    // there); null stops it. Also switches line numbering on or off.
    void RecordOrigins(FindingOrigins* origins);

private:
    struct Impl;
    struct Held;
    void DetectIn(TextView line, bool http, bool https, bool www, bool email, bool ftp);

    const DetectionSwitches& switches_;
    SharedList& urls_;
    FindingOrigins* origins_ = nullptr;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<Held> held_;
};

}  // namespace corvexa
