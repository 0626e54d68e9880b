#include "engine/detect.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/ascii_keys.h"
#include "engine/key_scanner.h"
#include "engine/pattern_chars.h"

namespace corvexa {

// The web patterns share everything after their prefix group.
#define CORVEXA_WEB_TAIL                                       \
    u"[-a-zA-Z0-9@:%._\\+~#=]{1,256}\\.[a-zA-Z0-9()]{2,30}\\b" \
    u"([-a-zA-Z0-9()@:%_\\+.~#?&//=]*)"

namespace patterns {
const char16_t* const kWebA = u"(https?:\\/\\/|www\\.)" CORVEXA_WEB_TAIL;
const char16_t* const kWebB = u"(https?:\\/\\/)" CORVEXA_WEB_TAIL;
const char16_t* const kWebC = u"(http:\\/\\/|www\\.)" CORVEXA_WEB_TAIL;
const char16_t* const kWebD = u"(http:\\/\\/)" CORVEXA_WEB_TAIL;
const char16_t* const kWebE = u"(https:\\/\\/|www\\.)" CORVEXA_WEB_TAIL;
const char16_t* const kWebF = u"(https:\\/\\/)" CORVEXA_WEB_TAIL;
const char16_t* const kWebG = u"(www\\.)" CORVEXA_WEB_TAIL;
const char16_t* const kEmail = u"[a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+";
const char16_t* const kFtp = u"ftp://[a-zA-Z0-9.-]+(?:/[a-zA-Z0-9._/?=&+-]*)?";

const char16_t* WebPattern(bool http, bool https, bool www) {
    // Indexed by http*4 + https*2 + www.
    static const char16_t* const kByCombination[8] = {nullptr, kWebG, kWebF, kWebE,
                                                      kWebD,   kWebC, kWebB, kWebA};
    return kByCombination[(http ? 4 : 0) + (https ? 2 : 0) + (www ? 1 : 0)];
}
}  // namespace patterns

#undef CORVEXA_WEB_TAIL

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

// ---------------------------------------------------------------------------
// Character classes of the patterns. The patterns are compiled without UTF and
// UCP, so every class, the case folding and \b concern ASCII only: a code unit
// of 128 or more belongs to no class here, exactly as in PCRE2.

enum : std::uint16_t {
    kHost = 1 << 0,     // [-a-zA-Z0-9@:%._\+~#=]   web host run
    kTail = 1 << 1,     // [a-zA-Z0-9()]            web top-level part
    kWord = 1 << 2,     // \w                       for \b
    kLocal = 1 << 3,    // [a-zA-Z0-9_.+-]          e-mail local part
    kLabel = 1 << 4,    // [a-zA-Z0-9-]             e-mail first label
    kDomain = 1 << 5,   // [a-zA-Z0-9-.]            e-mail rest of the domain
    kAlnum = 1 << 6,    // [a-zA-Z0-9]
    kFtpHost = 1 << 7,  // [a-zA-Z0-9.-]            ftp host
};

constexpr std::array<std::uint16_t, 128> MakeClassTable() {
    std::array<std::uint16_t, 128> t{};
    auto add = [&t](const char* chars, std::uint16_t cls) {
        for (const char* c = chars; *c; ++c) t[static_cast<unsigned char>(*c)] |= cls;
    };
    const char* alnum = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (std::uint16_t cls : {kHost, kTail, kWord, kLocal, kLabel, kDomain, kAlnum, kFtpHost})
        add(alnum, cls);
    add("-@:%._+~#=", kHost);
    add("()", kTail);
    add("_", kWord);
    add("_.+-", kLocal);
    add("-", kLabel);
    add("-.", kDomain);
    add(".-", kFtpHost);
    return t;
}
constexpr std::array<std::uint16_t, 128> kClass = MakeClassTable();

inline bool Is(char16_t c, std::uint16_t cls) {
    return c < 128 && (kClass[c] & cls) != 0;
}

// ASCII-only case-insensitive test of one code unit against a lower-case
// letter: only the case bit may differ.
inline bool IsLetter(char16_t c, char lower) {
    return (c | 0x20) == static_cast<char16_t>(lower);
}

inline bool IsHttp(const char16_t* p) {
    return IsLetter(p[0], 'h') && IsLetter(p[1], 't') && IsLetter(p[2], 't') && IsLetter(p[3], 'p');
}

unsigned WebKeys(bool http, bool https, bool www) {
    return (www ? kKeyWww : 0u) | (http || https ? kKeyScheme : 0u);
}

// ---------------------------------------------------------------------------
// The compiled patterns, shared by every detector of the process.

struct Compiled {
    pcre2_code* code = nullptr;
    bool jit = false;
};

std::string ErrorText(int code) {
    PCRE2_UCHAR buffer[256];
    int len = pcre2_get_error_message(code, buffer, sizeof buffer / sizeof buffer[0]);
    std::string out;
    for (int i = 0; i < len; ++i) out += buffer[i] < 128 ? static_cast<char>(buffer[i]) : '?';
    return out;
}

Compiled Compile(const char16_t* pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    Compiled c;
    c.code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                           PCRE2_CASELESS, &error, &offset, nullptr);
    if (!c.code) throw std::logic_error("address pattern does not compile: " + ErrorText(error));
    // Without JIT support (an unusual build) the interpreter does the work.
    c.jit = pcre2_jit_compile(c.code, PCRE2_JIT_COMPLETE) == 0;
    return c;
}

struct PatternSet {
    Compiled web[8];  // indexed like patterns::WebPattern; [0] unused
    Compiled email;
    Compiled ftp;

    PatternSet() {
        try {
            for (int i = 1; i < 8; ++i) web[i] = Compile(patterns::WebPattern(i & 4, i & 2, i & 1));
            email = Compile(patterns::kEmail);
            ftp = Compile(patterns::kFtp);
        } catch (...) {
            Free();
            throw;
        }
    }
    ~PatternSet() { Free(); }
    PatternSet(const PatternSet&) = delete;
    PatternSet& operator=(const PatternSet&) = delete;

    void Free() {
        for (Compiled& c : web) pcre2_code_free(c.code), c.code = nullptr;
        pcre2_code_free(email.code);
        pcre2_code_free(ftp.code);
        email.code = ftp.code = nullptr;
    }
};

const PatternSet& Patterns() {
    static const PatternSet set;
    return set;
}

}  // namespace

// ---------------------------------------------------------------------------

struct Detector::Impl {
    const PatternSet& pats = Patterns();
    pcre2_match_data* matchData = nullptr;
    pcre2_match_context* jitContext = nullptr;
    pcre2_match_context* retryContext = nullptr;
    pcre2_jit_stack* jitStack = nullptr;
    SharedList& urls;
    // While a line comes in parts: its findings by kind, appended at its end.
    Held* held = nullptr;

    Impl(SharedList& list, const DetectorLimits& limits) : urls(list) {
        matchData = pcre2_match_data_create(4, nullptr);
        jitContext = pcre2_match_context_create(nullptr);
        retryContext = pcre2_match_context_create(nullptr);
        jitStack = pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr);
        if (!matchData || !jitContext || !retryContext || !jitStack) {
            Release();
            throw std::bad_alloc();
        }
        pcre2_jit_stack_assign(jitContext, nullptr, jitStack);
        pcre2_set_match_limit(jitContext, limits.jitMatchLimit);
        // The first context also serves the interpreter when JIT is missing.
        pcre2_set_depth_limit(jitContext, UINT32_MAX);
        pcre2_set_heap_limit(jitContext, UINT32_MAX);
        pcre2_set_match_limit(retryContext, limits.retryMatchLimit);
        pcre2_set_depth_limit(retryContext, UINT32_MAX);
        pcre2_set_heap_limit(retryContext, UINT32_MAX);
    }
    ~Impl() { Release(); }

    void Release() {
        pcre2_match_data_free(matchData);
        pcre2_match_context_free(jitContext);
        pcre2_match_context_free(retryContext);
        pcre2_jit_stack_free(jitStack);
    }

    // One PCRE2 search of the whole line from `start`: the leftmost match at or
    // after it. A JIT search that ends in an error (a limit) is repeated by the
    // interpreter with unlimited heap; if that fails as well, the search
    // throws, so that no finding is ever dropped.
    bool Search(const Compiled& pat, TextView line, std::size_t start, std::size_t& begin,
                std::size_t& end) {
        const auto subject = reinterpret_cast<PCRE2_SPTR>(line.data());
        int rc =
            pat.jit
                ? pcre2_jit_match(pat.code, subject, line.size(), start, 0, matchData, jitContext)
                : pcre2_match(pat.code, subject, line.size(), start, 0, matchData, jitContext);
        if (rc == PCRE2_ERROR_NOMATCH) return false;
        if (rc < 0) {
            rc = pcre2_match(pat.code, subject, line.size(), start, PCRE2_NO_JIT, matchData,
                             retryContext);
            if (rc == PCRE2_ERROR_NOMATCH) return false;
            if (rc < 0) throw std::runtime_error("address search failed: " + ErrorText(rc));
        }
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(matchData);
        begin = ov[0];
        end = ov[1];
        return true;
    }

    // The next search position after a match; an empty match (which these
    // patterns cannot produce) moves on by one.
    static std::size_t After(std::size_t begin, std::size_t end) {
        return end > begin ? end : end + 1;
    }

    void AppendWeb(TextView match) {
        if (!match.empty() && match.back() == u'.') match.remove_suffix(1);
        if (!match.empty() && match.back() == u')' && match.find(u'(') == TextView::npos)
            match.remove_suffix(1);
        Append(0, match);
    }
    // Appends a finding of a kind (0 web, 1 e-mail, 2 ftp).
    void Append(int kind, TextView match);

    // The keys of the line searched, found once for all three searches.
    KeyList lineKeys;

    // Each search starts looking for its keys at `first`; there is none before;
    // lineKeys holds the line's keys of (at least) the search's kinds.
    void Web(TextView line, std::size_t first, bool http, bool https, bool www);
    void Email(TextView line, std::size_t first);
    void Ftp(TextView line, std::size_t first);
};

// ---------------------------------------------------------------------------
// Web addresses.
//
// A match starts with its prefix ("www.", "http://" or "https://", as the
// switches allow). Once the prefix is fixed, the rest of the pattern succeeds
// exactly when, with e the end of the prefix, there is a dot d such that
//   - e < d <= e + 256 and everything in [e, d) is a host character
//     ("[...]{1,256}" takes [e, d), "\." takes d), and
//   - "[a-zA-Z0-9()]{2,30}\b" matches right after d (a "good dot").
// So a start is tried only if such a dot exists; the search itself is then
// PCRE2's, unanchored from that start, which finds the match there. Starts
// whose attempt would fail cost PCRE2 up to 256 steps each ("www.-" repeated);
// here they are ruled out by two cursors that only move forward, so the search
// stays linear with a small factor on any line.
//
// Only the passing over has to be exact: a start taken for viable that is not
// would still give PCRE2's own leftmost match from there, as no earlier start
// can match. The same holds for the e-mail and ftp searches below.

namespace {

// The prefix of a web match at or after `from`, found by its key at or after
// `scanFrom`: true with its start, its end and its key. The keys come in the
// order of the starts of their prefixes, and prefixes cannot overlap.
bool NextWebPrefix(const KeyList::View& keys, const char16_t* p, std::size_t from,
                   std::size_t scanFrom, bool http, bool https, std::size_t& start,
                   std::size_t& end, std::size_t& key) {
    for (std::size_t i = std::max(scanFrom, from + 3); (i = keys.Next(i)) != npos; ++i) {
        key = i;
        if (p[i] == u'.') {  // after "www"
            start = i - 3;
            end = i + 1;
            return true;
        }
        // ':' before "//"
        if (https && i >= from + 5 && IsLetter(p[i - 1], 's') && IsHttp(p + i - 5)) {
            start = i - 5;
            end = i + 3;
            return true;
        }
        if (http && i >= from + 4 && IsHttp(p + i - 4)) {
            start = i - 4;
            end = i + 3;
            return true;
        }
    }
    return false;
}

// Whether "[a-zA-Z0-9()]{2,30}\b" matches right after the dot at d.
bool GoodDot(const char16_t* p, std::size_t n, std::size_t d) {
    const std::size_t first = d + 1;
    const std::size_t cap = std::min(n, first + 30);
    std::size_t run = first;
    while (run < cap && Is(p[run], kTail)) ++run;
    for (std::size_t q = first + 2; q <= run; ++q) {
        const bool before = Is(p[q - 1], kWord);
        const bool after = q < n && Is(p[q], kWord);
        if (before != after) return true;
    }
    return false;
}

class WebStarts {
public:
    WebStarts(const char16_t* p, std::size_t n) : p_(p), n_(n) {}

    // Whether the pattern can match with its prefix ending at e.
    bool Viable(std::size_t e) {
        const std::size_t host = HostRunEnd(e);
        if (host < e + 2) return false;  // the dot needs a host character before it
        return HasGoodDot(e + 1, std::min(e + 256, host - 1));
    }

private:
    // The end of the run of host characters that starts at e.
    std::size_t HostRunEnd(std::size_t e) {
        if (e < hostFrom_ || e > hostEnd_) {
            hostFrom_ = e;
            hostEnd_ = e;
            while (hostEnd_ < n_ && Is(p_[hostEnd_], kHost)) ++hostEnd_;
        }
        return hostEnd_;
    }

    // Whether a good dot lies in [x, last]. No good dot lies in [dotFrom_,
    // dotScan_); queries come with x growing.
    bool HasGoodDot(std::size_t x, std::size_t last) {
        if (x < dotFrom_ || x > dotScan_) dotFrom_ = dotScan_ = x;
        while (dotScan_ <= last) {
            if (p_[dotScan_] == u'.' && GoodDot(p_, n_, dotScan_)) return true;
            std::size_t next = dotScan_ + 1;
            while (next <= last && p_[next] != u'.') ++next;
            dotScan_ = next;
        }
        return false;
    }

    const char16_t* p_;
    std::size_t n_;
    std::size_t hostFrom_ = 1, hostEnd_ = 0;  // empty: nothing known yet
    std::size_t dotFrom_ = 1, dotScan_ = 0;
};

}  // namespace

void Detector::Impl::Web(TextView line, std::size_t first, bool http, bool https, bool www) {
    const int index = (http ? 4 : 0) + (https ? 2 : 0) + (www ? 1 : 0);
    if (index == 0) return;
    std::size_t scanFrom = first;
    const Compiled& pat = pats.web[index];
    const char16_t* p = line.data();
    const std::size_t n = line.size();
    const KeyList::View keys(lineKeys, WebKeys(http, https, www));
    WebStarts starts(p, n);
    std::size_t from = 0, start = 0, end = 0, key = 0;
    while (NextWebPrefix(keys, p, from, scanFrom, http, https, start, end, key)) {
        if (!starts.Viable(end)) {
            from = start + 1;
            scanFrom = key + 1;
            continue;
        }
        std::size_t begin = 0, stop = 0;
        if (!Search(pat, line, start, begin, stop)) return;
        AppendWeb(line.substr(begin, stop - begin));
        from = scanFrom = After(begin, stop);
        if (from > n) return;
    }
}

// ---------------------------------------------------------------------------
// E-mail addresses.
//
// A match's local part "[a-zA-Z0-9_.+-]+" cannot contain '@', so a match is
// tied to one '@'. Whether a match uses that '@' depends only on what follows
// it, and the leftmost such match starts where the run of local-part
// characters before the '@' starts (but not before the search position). So
// the search goes from '@' to '@': an '@' with no local-part character before
// it, or whose domain cannot match, is passed over; otherwise PCRE2 searches
// from the run's start and finds the match there. (That search is unanchored:
// the JIT does not take PCRE2_ANCHORED at match time, pcre2_match would hand
// such a search to the much slower interpreter. As the run's start matches,
// the unanchored search ends there anyway.) The domain
// "[a-zA-Z0-9-]+\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+" matches after the '@' exactly
// when the longest label run is followed by '.', and the run of domain
// characters after that dot holds a letter or digit.

namespace {

bool DomainViable(const char16_t* p, std::size_t n, std::size_t at) {
    std::size_t i = at + 1;
    while (i < n && Is(p[i], kLabel)) ++i;
    if (i == at + 1 || i >= n || p[i] != u'.') return false;
    for (++i; i < n && Is(p[i], kDomain); ++i)
        if (Is(p[i], kAlnum)) return true;
    return false;
}

}  // namespace

void Detector::Impl::Email(TextView line, std::size_t first) {
    const char16_t* p = line.data();
    const std::size_t n = line.size();
    const KeyList::View keys(lineKeys, kKeyAt);
    std::size_t from = 0;
    std::size_t at = keys.Next(first);
    while (at != npos) {
        std::size_t runStart = at;
        while (runStart > from && Is(p[runStart - 1], kLocal)) --runStart;
        if (runStart == at || !DomainViable(p, n, at)) {
            at = keys.Next(at + 1);
            continue;
        }
        std::size_t begin = 0, stop = 0;
        if (!Search(pats.email, line, runStart, begin, stop)) return;
        Append(1, line.substr(begin, stop - begin));
        from = After(begin, stop);
        at = keys.Next(from);
    }
}

// ---------------------------------------------------------------------------
// Ftp links: "ftp://" followed by at least one host character; the rest of the
// pattern is optional, so such a start always matches.

void Detector::Impl::Ftp(TextView line, std::size_t first) {
    const char16_t* p = line.data();
    const std::size_t n = line.size();
    const KeyList::View keys(lineKeys, kKeyScheme);
    std::size_t from = 0;
    for (std::size_t i = std::max<std::size_t>(first, 3); (i = keys.Next(i)) != npos;) {
        // i is a ':' before "//".
        if (i >= from + 3 && i + 3 < n && IsLetter(p[i - 3], 'f') && IsLetter(p[i - 2], 't') &&
            IsLetter(p[i - 1], 'p') && Is(p[i + 3], kFtpHost)) {
            std::size_t begin = 0, stop = 0;
            if (!Search(pats.ftp, line, i - 3, begin, stop)) return;
            Append(2, line.substr(begin, stop - begin));
            from = After(begin, stop);
            // The next colon that can belong to a match lies at from + 3 or later.
            i = from + 3;
        } else {
            ++i;
        }
    }
}

// ---------------------------------------------------------------------------

Detector::Detector(const DetectionSwitches& switches, SharedList& urls)
    : Detector(switches, urls, DetectorLimits{}) {}

Detector::Detector(const DetectionSwitches& switches, SharedList& urls,
                   const DetectorLimits& limits)
    : switches_(switches), urls_(urls), impl_(std::make_unique<Impl>(urls, limits)) {}

Detector::~Detector() = default;

// ---------------------------------------------------------------------------
// Lines in parts.

struct Detector::Held {
    struct Kind {
        Text text;
        std::vector<std::size_t> ends;
    } kinds[3];
    bool http = false, https = false, www = false, email = false, ftp = false;
};

void Detector::Impl::Append(int kind, TextView match) {
    if (!held) {
        urls.Append(match);
        return;
    }
    Held::Kind& k = held->kinds[kind];
    k.text.append(match);
    k.ends.push_back(k.text.size());
}

const LineCuts* Detector::Cuts() const {
    static const LineCuts cuts = [] {
        LineCuts c;
        for (int i = 1; i < 8; ++i)
            c.held |= CharsAMatchMayHold(patterns::WebPattern(i & 4, i & 2, i & 1), true);
        c.held |= CharsAMatchMayHold(patterns::kEmail, true);
        c.held |= CharsAMatchMayHold(patterns::kFtp, true);
        return c;
    }();
    return &cuts;
}

void Detector::LinePart(TextView part) {
    if (!impl_->held) {
        held_ = std::make_unique<Held>();
        held_->http = switches_.http.load(std::memory_order_acquire);
        held_->https = switches_.https.load(std::memory_order_acquire);
        held_->www = switches_.www.load(std::memory_order_acquire);
        held_->email = switches_.email.load(std::memory_order_acquire);
        held_->ftp = switches_.ftp.load(std::memory_order_acquire);
        impl_->held = held_.get();
    }
    const Held& h = *held_;
    DetectIn(part, h.http, h.https, h.www, h.email, h.ftp);
}

void Detector::AbandonLine() {
    impl_->held = nullptr;
    held_.reset();
}

void Detector::Line(TextView line) {
    if (!impl_->held) {
        DetectInLine(line);
        return;
    }
    const Held& h = *held_;
    DetectIn(line, h.http, h.https, h.www, h.email, h.ftp);
    impl_->held = nullptr;
    std::unique_ptr<Held> done = std::move(held_);
    // While held, the parts noted nothing; the whole line's findings are noted now.
    for (std::size_t kind = 0; kind < std::size(done->kinds); ++kind) {
        const Held::Kind& k = done->kinds[kind];
        std::size_t from = 0;
        for (std::size_t end : k.ends) {
            urls_.Append(TextView(k.text).substr(from, end - from));
            from = end;
        }
        if (origins_) origins_->Add(lineNumber, k.ends.size(), static_cast<FindingKind>(kind));
    }
}

void Detector::DetectInLine(TextView line) {
    DetectIn(line, switches_.http.load(std::memory_order_acquire),
             switches_.https.load(std::memory_order_acquire),
             switches_.www.load(std::memory_order_acquire),
             switches_.email.load(std::memory_order_acquire),
             switches_.ftp.load(std::memory_order_acquire));
}

void Detector::DetectIn(TextView line, bool http, bool https, bool www, bool email, bool ftp) {
    if (!(http || https || www || email || ftp)) return;
    const unsigned kinds =
        WebKeys(http, https, www) | (email ? kKeyAt : 0u) | (ftp ? kKeyScheme : 0u);
    const std::size_t first = impl_->lineKeys.Find(line, kinds, 0, lineBytes);
    if (first == npos) return;
    if (origins_) {
        // Noted kind by kind, and also when a search throws, for the findings
        // made before it.
        struct Note {
            Detector& d;
            std::size_t before;
            FindingKind kind = FindingKind::Web;
            void Next(FindingKind next) {
                d.origins_->Add(d.lineNumber, d.urls_.Size() - before, kind);
                before = d.urls_.Size();
                kind = next;
            }
            ~Note() { d.origins_->Add(d.lineNumber, d.urls_.Size() - before, kind); }
        } note{*this, urls_.Size()};
        impl_->Web(line, first, http, https, www);
        note.Next(FindingKind::Email);
        if (email) impl_->Email(line, first);
        note.Next(FindingKind::Ftp);
        if (ftp) impl_->Ftp(line, first);
        return;
    }
    impl_->Web(line, first, http, https, www);
    if (email) impl_->Email(line, first);
    if (ftp) impl_->Ftp(line, first);
}

void Detector::RecordOrigins(FindingOrigins* origins) {
    origins_ = origins;
    numberLines = origins != nullptr;
}

std::size_t Detector::NextKey(const char16_t* text, std::size_t from, std::size_t n) const {
    const std::size_t key = KeyScanner(TextView(text, n), kKeyWww | kKeyScheme | kKeyAt).Next(from);
    return key == npos ? n : key;
}

std::size_t Detector::NextKeyAscii(const char* text, std::size_t from, std::size_t n) const {
    return NextAsciiKey(text, from, n);
}

void Detector::FindURLs(TextView line) {
    const bool http = switches_.http.load(std::memory_order_acquire);
    const bool https = switches_.https.load(std::memory_order_acquire);
    const bool www = switches_.www.load(std::memory_order_acquire);
    impl_->lineKeys.Find(line, WebKeys(http, https, www), 0);
    impl_->Web(line, 0, http, https, www);
}

void Detector::FindEmails(TextView line) {
    impl_->lineKeys.Find(line, kKeyAt, 0);
    impl_->Email(line, 0);
}

void Detector::FindFtpLinks(TextView line) {
    impl_->lineKeys.Find(line, kKeyScheme, 0);
    impl_->Ftp(line, 0);
}

}  // namespace corvexa
