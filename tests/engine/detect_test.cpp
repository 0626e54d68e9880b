#include "engine/detect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/key_scanner.h"
#include "engine/readers/text_reader.h"
#include "support/detect_support.h"
#include "support/temp_dir.h"

#if defined(__SANITIZE_ADDRESS__)
#define CORVEXA_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVEXA_TEST_ASAN 1
#endif
#endif

// ---------------------------------------------------------------------------
// Counting operator new, to check that detection allocates nothing per line.

namespace {
std::atomic<bool> g_countAllocations{false};
std::atomic<long> g_allocations{0};

void* CountedAlloc(std::size_t size) {
    if (g_countAllocations.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
    return CountedAlloc(size);
}
void* operator new[](std::size_t size) {
    return CountedAlloc(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace corvexa {
namespace {

using Findings = std::vector<Text>;

// The patterns, spelled here as raw strings so that a slip in the escaped
// spelling of the program's own copies shows up.
const char16_t* const kRawWebA =
    uR"re((https?:\/\/|www\.)[-a-zA-Z0-9@:%._\+~#=]{1,256}\.[a-zA-Z0-9()]{2,30}\b([-a-zA-Z0-9()@:%_\+.~#?&//=]*))re";
const char16_t* const kRawWebB =
    uR"re((https?:\/\/)[-a-zA-Z0-9@:%._\+~#=]{1,256}\.[a-zA-Z0-9()]{2,30}\b([-a-zA-Z0-9()@:%_\+.~#?&//=]*))re";
const char16_t* const kRawWebC =
    uR"re((http:\/\/|www\.)[-a-zA-Z0-9@:%._\+~#=]{1,256}\.[a-zA-Z0-9()]{2,30}\b([-a-zA-Z0-9()@:%_\+.~#?&//=]*))re";
const char16_t* const kRawWebD =
    uR"re((http:\/\/)[-a-zA-Z0-9@:%._\+~#=]{1,256}\.[a-zA-Z0-9()]{2,30}\b([-a-zA-Z0-9()@:%_\+.~#?&//=]*))re";
const char16_t* const kRawWebE =
    uR"re((https:\/\/|www\.)[-a-zA-Z0-9@:%._\+~#=]{1,256}\.[a-zA-Z0-9()]{2,30}\b([-a-zA-Z0-9()@:%_\+.~#?&//=]*))re";
const char16_t* const kRawWebF =
    uR"re((https:\/\/)[-a-zA-Z0-9@:%._\+~#=]{1,256}\.[a-zA-Z0-9()]{2,30}\b([-a-zA-Z0-9()@:%_\+.~#?&//=]*))re";
const char16_t* const kRawWebG =
    uR"re((www\.)[-a-zA-Z0-9@:%._\+~#=]{1,256}\.[a-zA-Z0-9()]{2,30}\b([-a-zA-Z0-9()@:%_\+.~#?&//=]*))re";
const char16_t* const kRawEmail =
    uR"re([a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+)re";
const char16_t* const kRawFtp = uR"re(ftp://[a-zA-Z0-9.-]+(?:/[a-zA-Z0-9._/?=&+-]*)?)re";

// Switches written as letters: e-mail, ftp, http, https (s), www.
void SetSwitches(DetectionSwitches& s, std::string_view on) {
    s.email = on.find('e') != std::string_view::npos;
    s.ftp = on.find('f') != std::string_view::npos;
    s.http = on.find('h') != std::string_view::npos;
    s.https = on.find('s') != std::string_view::npos;
    s.www = on.find('w') != std::string_view::npos;
}

Findings Detect(std::string_view on, TextView line) {
    DetectionSwitches switches;
    SetSwitches(switches, on);
    SharedList urls;
    Detector detector(switches, urls);
    detector.DetectInLine(line);
    return urls.Snapshot();
}

// ---------------------------------------------------------------------------
// The reference: plain PCRE2 with the raw-string patterns, searched from the
// start of the line, leftmost match after leftmost match, no shortcuts.

class Reference : public test::PlainPcre2 {
public:
    Reference()
        : PlainPcre2(
              {{nullptr, kRawWebG, kRawWebF, kRawWebE, kRawWebD, kRawWebC, kRawWebB, kRawWebA},
               kRawEmail,
               kRawFtp},
              64 * 1024 * 1024) {}

    using PlainPcre2::Line;
    // Switches written as letters, see SetSwitches.
    Findings Line(std::string_view on, TextView line) {
        auto has = [&](char c) { return on.find(c) != std::string_view::npos; };
        return Line(has('h'), has('s'), has('w'), has('e'), has('f'), line);
    }

    static Reference& Get() {
        static Reference r;
        return r;
    }
};

using test::Repeat;
using test::Rng;

// ---------------------------------------------------------------------------

TEST(DetectPatterns, MatchTheirRawSpelling) {
    EXPECT_EQ(TextView(patterns::kWebA), TextView(kRawWebA));
    EXPECT_EQ(TextView(patterns::kWebB), TextView(kRawWebB));
    EXPECT_EQ(TextView(patterns::kWebC), TextView(kRawWebC));
    EXPECT_EQ(TextView(patterns::kWebD), TextView(kRawWebD));
    EXPECT_EQ(TextView(patterns::kWebE), TextView(kRawWebE));
    EXPECT_EQ(TextView(patterns::kWebF), TextView(kRawWebF));
    EXPECT_EQ(TextView(patterns::kWebG), TextView(kRawWebG));
    EXPECT_EQ(TextView(patterns::kEmail), TextView(kRawEmail));
    EXPECT_EQ(TextView(patterns::kFtp), TextView(kRawFtp));
}

TEST(DetectPatterns, WebPatternFollowsTheSwitches) {
    struct Row {
        bool http, https, www;
        const char16_t* want;
    };
    const Row rows[] = {
        {true, true, true, kRawWebA},   {true, true, false, kRawWebB},
        {true, false, true, kRawWebC},  {true, false, false, kRawWebD},
        {false, true, true, kRawWebE},  {false, true, false, kRawWebF},
        {false, false, true, kRawWebG}, {false, false, false, nullptr},
    };
    for (const Row& r : rows) {
        const char16_t* got = patterns::WebPattern(r.http, r.https, r.www);
        if (!r.want) {
            EXPECT_EQ(got, nullptr);
        } else {
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(TextView(got), TextView(r.want)) << r.http << r.https << r.www;
        }
    }
}

// ---------------------------------------------------------------------------
// What a line yields: switches, capitals, trimming, terminators, non-ASCII.

struct Case {
    std::string on;  // switches, see SetSwitches
    Text line;
    Findings want;
};

std::vector<Case> DetectionCases() {
    const Text mixed = u"a http://a.com b https://b.com c www.c.com d";
    std::vector<Case> cases = {
        // The web pattern follows the switches; all three off searches no web address.
        {"hsw", mixed, {u"http://a.com", u"https://b.com", u"www.c.com"}},
        {"hs", mixed, {u"http://a.com", u"https://b.com"}},
        {"hw", mixed, {u"http://a.com", u"www.c.com"}},
        {"h", mixed, {u"http://a.com"}},
        {"sw", mixed, {u"https://b.com", u"www.c.com"}},
        {"s", mixed, {u"https://b.com"}},
        {"w", mixed, {u"www.c.com"}},
        {"", mixed, {}},
        {"ef", mixed, {}},
        // A scheme that is off gives nothing, unless www is on and "www." follows it.
        {"s", u"http://example.com", {}},
        {"h", u"https://example.com", {}},
        {"sw", u"go to http://www.example.com/x now", {u"www.example.com/x"}},
        {"hw", u"go to https://www.example.com/x now", {u"www.example.com/x"}},
        {"hw", u"go to http://www.example.com/x now", {u"http://www.example.com/x"}},
        // Only e-mail on.
        {"e", u"mail me@x.org or see www.x.org and http://x.org", {u"me@x.org"}},
        // Capitals are found and kept as written.
        {"hsw",
         u"Visit HTTP://WWW.EXAMPLE.COM/Index.HTML now",
         {u"HTTP://WWW.EXAMPLE.COM/Index.HTML"}},
        {"s", u"HtTpS://Example.Org", {u"HtTpS://Example.Org"}},
        {"w", u"WwW.Mixed.Org", {u"WwW.Mixed.Org"}},
        {"e", u"John.Doe@Example.COM", {u"John.Doe@Example.COM"}},
        {"f", u"FTP://FILES.EXAMPLE.COM/PUB", {u"FTP://FILES.EXAMPLE.COM/PUB"}},
        // Trimming: one full stop, then one closing parenthesis when there is no "(".
        {"w", u"See www.example.com.", {u"www.example.com"}},
        {"w", u"(see www.example.com)", {u"www.example.com"}},
        {"h", u"http://en.example.org/wiki/Foo_(bar)", {u"http://en.example.org/wiki/Foo_(bar)"}},
        {"w", u"(www.example.com.)", {u"www.example.com."}},
        {"w", u"(www.example.com).", {u"www.example.com"}},
        {"w", u"www.example.com/a(b).", {u"www.example.com/a(b)"}},
        {"w", u"www.example.com..", {u"www.example.com."}},
        {"w", u"www.example.com))", {u"www.example.com)"}},
        {"w", u"www.example.com/(", {u"www.example.com/("}},
        // Short lines.
        {"w", u"www.ab.cd", {u"www.ab.cd"}},
        {"h", u"http://a.bc", {u"http://a.bc"}},
        {"e", u"a@b.cd", {u"a@b.cd"}},
        {"f", u"ftp://a", {u"ftp://a"}},
        {"efhsw", u"www.a", {}},
        // What the patterns take after the host.
        {"w",
         u"www.example.com/p%20q#frag?x=1&y=2~z+w@v:8",
         {u"www.example.com/p%20q#frag?x=1&y=2~z+w@v:8"}},
        // No dot in the host: nothing; the part after the dot needs two characters.
        {"hsw", u"http://localhost/path and http://localhost:8080/", {}},
        {"h", u"http://a.b", {}},
        {"h", u"http://a.bc", {u"http://a.bc"}},
        {"f", u"ftp://localhost", {u"ftp://localhost"}},
        // A user part: the web finding first, then the e-mail finding.
        {"hswe", u"http://user@example.com/x", {u"http://user@example.com/x", u"user@example.com"}},
        {"he", u"http://a.com@b.com", {u"http://a.com@b.com", u"a.com@b.com"}},
        // Ftp with user name and password: the colon ends the host run.
        {"f", u"ftp://user:pw@files.example.com/pub", {u"ftp://user"}},
        {"efhsw", u"ftp://user:pw@files.example.com/pub", {u"pw@files.example.com", u"ftp://user"}},
        // Ftp host beginning with "www.": the web finding, then the ftp finding.
        {"wf",
         u"ftp://www.files.org/pub/f.zip",
         {u"www.files.org/pub/f.zip", u"ftp://www.files.org/pub/f.zip"}},
        {"f", u"ftp://www.files.org/pub/f.zip", {u"ftp://www.files.org/pub/f.zip"}},
        // Order of the searches, not of the positions in the line.
        {"efhsw",
         u"write to a@b.com or see www.c.com and ftp://d.org",
         {u"www.c.com", u"a@b.com", u"ftp://d.org"}},
        // The same address twice.
        {"w", u"www.a.com www.a.com", {u"www.a.com", u"www.a.com"}},
        {"e", u"x@y.org,x@y.org", {u"x@y.org", u"x@y.org"}},
        // Half an address per line.
        {"hsw", u"see http://www.exam", {u"http://www.exam"}},
        {"hsw", u"ple.com for more", {}},
        // Non-ASCII characters are no word characters, belong to no class and
        // have no other case.
        {"hsw", u"www.\u00E9.com", {}},
        {"hsw", u"www.\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444", {}},
        {"hsw", u"http://\u043F\u0440\u0438\u043C\u0435\u0440.com", {}},
        {"hsw", u"www.example.com/\u00E9t\u00E9", {u"www.example.com/"}},
        {"hsw", u"www.example.com\u00E9x", {u"www.example.com"}},
        {"hsw", u"www.example.co\u0430", {u"www.example.co"}},
        {"hsw", u"www.example.c\u00F6m", {}},
        {"hsw", u"http\u017F://example.com", {}},
        {"hsw", u"\uFF57\uFF57\uFF57.example.com", {}},
        {"e", u"\u00E9t\u00E9@example.com", {}},
        {"e", u"j\u00F6rg@example.com", {u"rg@example.com"}},
        // \b after the top-level part: an underscore (a word character) kills it.
        {"hsw", u"www.example.com_x", {}},
        {"hsw", u"www.example.com-x", {u"www.example.com-x"}},
        // E-mail details.
        {"e", u"a.b+c-d_e@sub-domain.example.co.uk", {u"a.b+c-d_e@sub-domain.example.co.uk"}},
        {"e", u"x@y and x@y. and @y.com and x@@y.com", {}},
        {"e", u"x@y.z", {u"x@y.z"}},
        {"e", u"x@y.-", {}},
        {"e", u"x@-.a", {u"x@-.a"}},
        {"e", u"x@y.z-", {u"x@y.z"}},
        {"e", u"x@y.z.-.", {u"x@y.z"}},
        {"e", u"first.last@example.com.", {u"first.last@example.com"}},
        {"e", u"mailto:john@example.com", {u"john@example.com"}},
        {"e", u"a@b.c@d.e", {u"a@b.c"}},
        {"e", u"a@b.c d@e.f", {u"a@b.c", u"d@e.f"}},
        // Ftp details: no word boundary before the scheme, optional path.
        {"f",
         u"ftp://files.example.com/pub/f.tar.gz?x=1&y=2",
         {u"ftp://files.example.com/pub/f.tar.gz?x=1&y=2"}},
        {"f", u"ftp:// ftp:/x.org ftp://", {}},
        {"f", u"sftp://host/p", {u"ftp://host/p"}},
        {"f", u"ftp://-.-", {u"ftp://-.-"}},
        {"f", u"ftp://a.org/p#q", {u"ftp://a.org/p"}},
    };
    // Each of these ends an address.
    const char16_t terminators[] = {u',', u';', u'"', u'\'', u'<', u'>',
                                    u'[', u']', u'!', u'*',  u' '};
    for (char16_t t : terminators) {
        cases.push_back({"hsw", Text(u"x www.example.com/p") + t + u"q y", {u"www.example.com/p"}});
        cases.push_back({"e", Text(u"x a.b@example.com") + t + u"q y", {u"a.b@example.com"}});
        cases.push_back(
            {"f", Text(u"x ftp://example.com/p") + t + u"q y", {u"ftp://example.com/p"}});
    }
    // Lengths: the host run takes at most 256 characters before the dot, the
    // part after the dot 2 to 30.
    cases.push_back(
        {"h", u"http://" + Text(256, u'a') + u".com", {u"http://" + Text(256, u'a') + u".com"}});
    cases.push_back({"h", u"http://" + Text(257, u'a') + u".com", {}});
    cases.push_back({"w", u"www.a." + Text(30, u'b'), {u"www.a." + Text(30, u'b')}});
    cases.push_back({"w", u"www.a." + Text(31, u'b'), {}});
    cases.push_back(
        {"w", u"www.a." + Text(31, u'b') + u".cc", {u"www.a." + Text(31, u'b') + u".cc"}});
    return cases;
}

TEST(DetectInLine, LineCases) {
    Reference& ref = Reference::Get();
    const std::vector<Case> cases = DetectionCases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + " [" + c.on + "] " + ToUtf8(c.line));
        EXPECT_EQ(Detect(c.on, c.line), c.want);
        // The expectation is what plain PCRE2 gives, too.
        EXPECT_EQ(ref.Line(c.on, c.line), c.want);
    }
}

TEST(DetectInLine, SwitchChangeAppliesFromTheNextLine) {
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    const Text line = u"www.a.com a@b.com ftp://c.org http://d.org https://e.org";
    const struct {
        std::string on;
        Findings want;
    } steps[] = {
        {"efhsw", {u"www.a.com", u"http://d.org", u"https://e.org", u"a@b.com", u"ftp://c.org"}},
        {"e", {u"a@b.com"}},
        {"f", {u"ftp://c.org"}},
        {"s", {u"https://e.org"}},
        {"", {}},
        {"hw", {u"www.a.com", u"http://d.org"}},
    };
    for (const auto& step : steps) {
        SetSwitches(switches, step.on);
        urls.Clear();
        detector.DetectInLine(line);
        EXPECT_EQ(urls.Snapshot(), step.want) << "[" << step.on << "]";
    }
}

TEST(DetectInLine, FindingsAccumulateAcrossLines) {
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    detector.Line(u"www.a.com");
    detector.Line(u"");
    detector.Line(u"nothing here.");
    detector.Line(u"www.a.com b@c.de");
    EXPECT_EQ(urls.Snapshot(), (Findings{u"www.a.com", u"www.a.com", u"b@c.de"}));
}

// ---------------------------------------------------------------------------
// Equality with plain PCRE2.

// A small fixed generator, the same on every platform.
// Pieces of lines: the prefixes and their near misses, the characters of every
// class and those that end them, and non-ASCII code units.
const std::vector<Text>& Pieces() {
    static const std::vector<Text> pieces = [] {
        std::vector<Text> p = {
            u"http",   u"https",  u"HTTP",   u"hTtPs",  u"://",    u"://",    u":/",     u"/",
            u"//",     u":",      u"www.",   u"www.",   u"WWW.",   u"ww",     u"w",      u"ftp://",
            u"FTP://", u"ftp",    u"f",      u"h",      u"t",      u"p",      u"s",      u"@",
            u"@",      u"@",      u".",      u".",      u".",      u"..",     u"-",      u"-",
            u"_",      u"(",      u")",      u"a",      u"b",      u"x",      u"Z",      u"0",
            u"7",      u"com",    u"org",    u"co",     u"uk",     u"?",      u"&",      u"=",
            u"#",      u"%",      u"~",      u"+",      u" ",      u" ",      u",",      u";",
            u"'",      u"\"",     u"<",      u">",      u"[",      u"]",      u"!",      u"*",
            u"\t",     u"\u00E9", u"\u00C9", u"\u0436", u"\u212A", u"\u017F", u"\u0130", u"\uFF57",
            u"\u00A0", u"\u00DF",
        };
        p.push_back(Text(1, u'\0'));
        p.push_back(Text(1, static_cast<char16_t>(0xD83D)));  // a lone surrogate
        return p;
    }();
    return pieces;
}

Text RandomRun(Rng& rng, std::u16string_view chars, std::size_t length) {
    Text s;
    for (std::size_t i = 0; i < length; ++i) s += chars[rng.Below(chars.size())];
    return s;
}

Text RandomLine(Rng& rng, std::size_t pieces) {
    static const TextView kPrefixes[] = {u"",         u" ",        u"www.",   u"WwW.",  u"http://",
                                         u"HTTPS://", u"https://", u"ftp://", u"(www.", u"x"};
    const std::vector<Text>& all = Pieces();
    Text line;
    for (std::size_t i = 0; i < pieces; ++i) {
        switch (rng.Below(30)) {
            case 0:  // around the 30-character limit after the dot
                line += u'.';
                line += RandomRun(rng, u"abcXYZ019()", 25 + rng.Below(10));
                break;
            case 1:  // around the 256-character limit of the host run
                line += RandomRun(rng, u"abc-@:%._+~#=", 240 + rng.Below(30));
                break;
            case 2:
                line += RandomRun(rng, u"abcdefghijklmnopqrstuvwxyz", 1 + rng.Below(12));
                break;
            case 3:
            case 4:  // something close to an address
                line += kPrefixes[rng.Below(std::size(kPrefixes))];
                line += RandomRun(rng, u"abz09-_.", 1 + rng.Below(6));
                line += u"@."[rng.Below(2)];
                line += RandomRun(rng, u"abz09-.", 1 + rng.Below(6));
                line += u'.';
                line += RandomRun(rng, u"abz09-.()_", 1 + rng.Below(5));
                break;
            default:
                line += all[rng.Below(all.size())];
        }
    }
    return line;
}

TEST(DetectEquality, RandomLinesMatchPlainPcre2) {
    Reference& ref = Reference::Get();
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    Rng rng(20240611);
    const char* const letters = "efhsw";
    long webFindings = 0, emailFindings = 0, ftpFindings = 0;
    const int lines = 30000;
    for (int n = 0; n < lines; ++n) {
        const Text line = RandomLine(rng, rng.Below(8) == 0 ? 200 : rng.Below(50));
        SCOPED_TRACE("line " + std::to_string(n) + ": " + ToUtf8(line));
        for (int web = 0; web < 8; ++web) {
            switches.http = (web & 4) != 0;
            switches.https = (web & 2) != 0;
            switches.www = (web & 1) != 0;
            urls.Clear();
            detector.FindURLs(line);
            const Findings want = ref.Web(web & 4, web & 2, web & 1, line);
            ASSERT_EQ(urls.Snapshot(), want) << "web switches " << web;
            webFindings += static_cast<long>(want.size());
        }
        urls.Clear();
        detector.FindEmails(line);
        const Findings wantEmail = ref.Email(line);
        ASSERT_EQ(urls.Snapshot(), wantEmail) << "e-mail";
        urls.Clear();
        detector.FindFtpLinks(line);
        const Findings wantFtp = ref.Ftp(line);
        ASSERT_EQ(urls.Snapshot(), wantFtp) << "ftp";
        emailFindings += static_cast<long>(wantEmail.size());
        ftpFindings += static_cast<long>(wantFtp.size());

        std::string on;
        for (int b = 0; b < 5; ++b)
            if (rng.Below(2)) on += letters[b];
        SetSwitches(switches, on);
        urls.Clear();
        detector.DetectInLine(line);
        ASSERT_EQ(urls.Snapshot(), ref.Line(on, line)) << "[" << on << "]";
    }
    // The generator must produce plenty of findings of each kind for this to
    // mean much.
    EXPECT_GT(webFindings, 2 * lines);
    EXPECT_GT(emailFindings, lines / 4);
    EXPECT_GT(ftpFindings, lines / 4);
    std::printf("findings: web %ld, e-mail %ld, ftp %ld\n", webFindings, emailFindings,
                ftpFindings);
}

// Lines of a megabyte or two built to make a naive search slow: many starts
// that fail late, long runs of pattern characters, giant matches.
struct Hostile {
    std::string name;
    Text line;
};

std::vector<Hostile> HostileLines() {
#ifdef CORVEXA_TEST_ASAN
    const std::size_t mb = 256 * 1024;
#else
    const std::size_t mb = 1024 * 1024;
#endif
    const std::size_t big = 2 * mb;
    Rng rng(77);
    Text random;
    while (random.size() < mb) random += RandomLine(rng, 50) + u" ";
    std::vector<Hostile> h = {
        {"www. repeated", Repeat(u"www.", big)},
        {"www.- repeated", Repeat(u"www.-", big)},
        {"www._ repeated", Repeat(u"www._", mb)},
        {"www.a repeated", Repeat(u"www.a", mb)},
        {"www.a- repeated", Repeat(u"www.a-", big)},
        {"wwww. repeated", Repeat(u"wwww.", mb)},
        {"http:// repeated", Repeat(u"http://", big)},
        {"https:// repeated", Repeat(u"https://", mb)},
        {"http://a. repeated", Repeat(u"http://a.", mb)},
        {"http://www. repeated", Repeat(u"http://www.", mb)},
        {"http://a repeated", Repeat(u"http://a", mb)},
        {"www. and 40 letters and _", Repeat(u"www." + Text(40, u'a') + u"_", mb)},
        {"www. and 31 letters", Repeat(u"www." + Text(31, u'a'), mb)},
        {"www. then a-b. run", u"www." + Repeat(u"a-b.", mb)},
        {"www. then dots and 31 letters", u"www." + Repeat(u"." + Text(31, u'a'), mb)},
        {"www.a. then parentheses", u"www.a." + Text(mb, u'(')},
        {"www.a.(( repeated", Repeat(u"www.a.((", mb)},
        {"host run with late dot", u"http://" + Text(mb, u'a') + u".com"},
        {"letters then @", Text(big, u'a') + u"@"},
        {"letters then @ and domain", Text(mb, u'a') + u"@b.c"},
        {"letters and dots then @.", Repeat(u"a.", mb) + u"@."},
        {"@ then long label", u"x@" + Text(mb, u'b') + u"."},
        {"@ then dots and hyphens", u"x@a" + Repeat(u".-", mb)},
        {"a@ repeated", Repeat(u"a@", big)},
        {"a.@ repeated", Repeat(u"a.@", mb)},
        {"@a. repeated", Repeat(u"@a.", mb)},
        {"a@b. repeated", Repeat(u"a@b.", mb)},
        {"www.a@b.cd repeated", Repeat(u"www.a@b.cd ", mb)},
        {"ftp:// repeated", Repeat(u"ftp://", big)},
        {"ftp://a repeated", Repeat(u"ftp://a", mb)},
        {"ftp:// then host run", u"fTp://" + Repeat(u"a.", mb)},
        {"colons", Text(mb, u':')},
        {"dots", Text(mb, u'.')},
        {"at signs", Text(mb, u'@')},
        {"one address after prose", Repeat(u"the quick brown fox. ", mb) + u"www.end.com"},
        {"random pieces", random},
    };
    return h;
}

TEST(DetectEquality, HostileLinesMatchPlainPcre2) {
    Reference& ref = Reference::Get();
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    for (const Hostile& h : HostileLines()) {
        for (const char* on : {"efhsw", "hs", "w"}) {
            SCOPED_TRACE(h.name + " [" + on + "]");
            SetSwitches(switches, on);
            urls.Clear();
            detector.DetectInLine(h.line);
            const Findings got = urls.Snapshot();
            const Findings want = ref.Line(on, h.line);
            ASSERT_EQ(got.size(), want.size());
            for (std::size_t i = 0; i < got.size(); ++i)
                ASSERT_EQ(got[i], want[i]) << "finding " << i;
        }
    }
}

// The searches share the keys of a line, kept up to KeyList::kHeld of them and
// scanned for past that: findings just before, at and after the end of the
// kept keys, of every kind, are those of the reference.
TEST(DetectEquality, FindingsAroundTheEndOfTheKeptKeys) {
    Reference& ref = Reference::Get();
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    const Text tail = u" x@example.com www.example.org http://h.example.com ftp://f.example.com";
    std::vector<Text> lines;
    for (std::size_t keys = KeyList::kHeld - 3; keys <= KeyList::kHeld + 3; ++keys) {
        // Repeat takes a length: `keys` keys, then the tail's.
        lines.push_back(Repeat(u"a@ ", 3 * keys) + tail);
        lines.push_back(Repeat(u"www.- ", 6 * keys) + tail);
        lines.push_back(Repeat(u"x@e.com http://a.b ", 19 * (keys / 2)) + tail);
    }
    for (const Text& line : lines) {
        for (const char* on : {"efhsw", "e", "hw", "f", "s"}) {
            SCOPED_TRACE(std::string(on) + " " + std::to_string(line.size()));
            SetSwitches(switches, on);
            urls.Clear();
            detector.DetectInLine(line);
            ASSERT_EQ(urls.Snapshot(), ref.Line(on, line));
        }
    }
}

// A reader that looked at the text as bytes hands the line in that form too,
// and detection finds the keys there: the findings are those without it.
TEST(DetectEquality, LineAsBytesGivesTheSameFindings) {
    DetectionSwitches switches;
    SharedList urls, plainUrls;
    Detector detector(switches, urls), plain(switches, plainUrls);
    Rng rng(4242);
    std::vector<Text> lines;
    for (int n = 0; n < 3000; ++n) lines.push_back(RandomLine(rng, rng.Below(60)));
    lines.push_back(Repeat(u"x@e.com \u0140www.a.com\uFF0E ", 19 * (KeyList::kHeld + 5)));
    for (const Text& line : lines) {
        // As a reader narrows units: ASCII as it stands, any other unit not.
        std::string bytes;
        for (char16_t c : line) bytes += static_cast<char>(c < 0x80 ? c : 0x80);
        for (const char* on : {"efhsw", "e", "hw", "f"}) {
            SCOPED_TRACE(std::string(on) + " " + ToUtf8(line).substr(0, 200));
            SetSwitches(switches, on);
            urls.Clear();
            plainUrls.Clear();
            detector.lineBytes = bytes.data();
            detector.DetectInLine(line);
            detector.lineBytes = nullptr;
            plain.DetectInLine(line);
            ASSERT_EQ(urls.Snapshot(), plainUrls.Snapshot());
        }
    }
}

// ---------------------------------------------------------------------------
// Passing over lines without a key.

TEST(DetectSkipping, EveryLineWithAFindingUnderAnySwitchesHoldsAKey) {
    Reference& ref = Reference::Get();
    DetectionSwitches switches;
    SharedList urls;
    const Detector detector(switches, urls);
    // The lines end to end, as a whole-file reader holds them.
    Rng rng(4242);
    std::vector<Text> lines;
    std::vector<std::size_t> starts;
    Text text;
    for (int i = 0; i < 20000; ++i) {
        lines.push_back(RandomLine(rng, rng.Below(12)));
        starts.push_back(text.size());
        text += lines.back();
    }
    int withFindings = 0, passedOver = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t key = detector.NextKey(text.data(), starts[i], text.size());
        ASSERT_GE(key, starts[i]);
        ASSERT_LE(key, text.size());
        const bool keyed = key < starts[i] + lines[i].size();
        bool found = !ref.Email(lines[i]).empty() || !ref.Ftp(lines[i]).empty();
        for (int web = 1; web < 8 && !found; ++web)
            found = !ref.Web(web & 4, web & 2, web & 1, lines[i]).empty();
        if (found) {
            ++withFindings;
            EXPECT_TRUE(keyed) << "line " << i << ": " << ToUtf8(lines[i]);
        } else if (!keyed) {
            ++passedOver;
        }
    }
    EXPECT_GT(withFindings, 2000);
    EXPECT_GT(passedOver, 2000);
    const Text none = u"no key here: www, http:/, mail at example.com";
    EXPECT_EQ(detector.NextKey(none.data(), 0, none.size()), none.size());
    EXPECT_EQ(detector.NextKey(nullptr, 0, 0), 0u);
}

// Through the readers, with a file on disk: whole-file and buffered reading
// hand over only lines with a key, and nothing is lost.
TEST(DetectSkipping, ReadingAFileFindsWhatEveryLineGives) {
    Reference& ref = Reference::Get();
    test::TempDir dir;
    Rng rng(31337);
    std::string bytes;
    Findings want;
    for (int i = 0; i < 5000; ++i) {
        Text line = RandomLine(rng, rng.Below(30));
        // Only what a UTF-8 file holds, and no line breaks.
        std::erase_if(line, [](char16_t c) {
            return c == 0 || c == u'\r' || c == u'\n' || (c >= 0xD800 && c <= 0xDFFF);
        });
        bytes += ToUtf8(line);
        bytes += i % 3 == 0 ? "\r\n" : "\n";
        const Findings got = ref.Line("efhsw", line);
        want.insert(want.end(), got.begin(), got.end());
    }
    ASSERT_GT(want.size(), 1000u);
    const Text path = FromUtf8(dir.Write("lines.txt", bytes).string());
    for (bool whole : {true, false}) {
        DetectionSwitches switches;
        SharedList urls;
        Detector detector(switches, urls);
        const std::atomic<bool> stop{false};
        ReadContext ctx{detector, stop, 1252};
        if (whole)
            ScanMemoryStream(path, ctx);
        else
            ScanFileStream(path, Encoding::Utf8, ctx);
        EXPECT_EQ(urls.Snapshot(), want) << (whole ? "whole file" : "buffered");
    }
}

// ---------------------------------------------------------------------------
// Limits, allocation and threads.

TEST(DetectLimits, InterpreterRetryFindsTheSameAndFailureThrows) {
    const Text lines[] = {
        u"see www.example.com. and a.b@c.org, ftp://x.y/z",
        u"(http://user@example.com/a(b)) x@y.z www.q.de",
        Repeat(u"www.a@b.cd ", 5000),
    };
    DetectionSwitches switches;
    for (const Text& line : lines) {
        SharedList normal, retried, failing;
        Detector(switches, normal).DetectInLine(line);
        ASSERT_FALSE(normal.Empty());
        // A JIT search that hits its limit is done again by the interpreter.
        Detector(switches, retried, DetectorLimits{1, UINT32_MAX}).DetectInLine(line);
        EXPECT_EQ(retried.Snapshot(), normal.Snapshot());
        // When both give up, the search throws instead of dropping findings.
        Detector failingDetector(switches, failing, DetectorLimits{1, 1});
        EXPECT_THROW(failingDetector.DetectInLine(line), std::runtime_error);
    }
}

TEST(DetectAllocation, NoHeapAllocationPerLine) {
    DetectionSwitches switches;
    SharedList urls;
    Detector detector(switches, urls);
    // Lines that give no finding but make every search look closely.
    const Text lines[] = {
        u"",
        u"plain prose without anything in it, like most lines of a file.",
        u"www.-www.-www._ http://localhost/ https://x ftp:// a@b a@b. x@-.- (see: it)",
        Repeat(u"www.-", 4000),
        Repeat(u"a@", 4000),
    };
    detector.DetectInLine(u"www.warm.up a@b.cd ftp://x");
    g_allocations = 0;
    g_countAllocations = true;
    for (int round = 0; round < 3; ++round)
        for (const Text& line : lines) detector.DetectInLine(line);
    g_countAllocations = false;
    EXPECT_EQ(g_allocations.load(), 0);
    EXPECT_EQ(urls.Size(), 3u);
}

TEST(DetectThreads, DetectorsOnSeveralThreadsAgree) {
    Rng rng(99);
    std::vector<Text> lines;
    for (int i = 0; i < 2000; ++i) lines.push_back(RandomLine(rng, 40));
    DetectionSwitches switches;
    auto run = [&](SharedList& out) {
        Detector detector(switches, out);
        for (const Text& line : lines) detector.DetectInLine(line);
    };
    SharedList single;
    run(single);
    ASSERT_GT(single.Size(), 100u);
    SharedList lists[4];
    std::vector<std::thread> threads;
    for (SharedList& list : lists) threads.emplace_back(run, std::ref(list));
    for (std::thread& t : threads) t.join();
    for (const SharedList& list : lists) EXPECT_EQ(list.Snapshot(), single.Snapshot());
}

}  // namespace
}  // namespace corvexa
