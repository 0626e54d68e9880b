#include "results/derive.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ascii.h"

namespace corvexa::results {

namespace {

constexpr TextView kSchemeSeparator = u"://";

// The domain-name pattern: one label, a dot and 2 to 6 letters or dots at the
// end of the host. Compiled once (with JIT when available) and shared by all
// threads; each thread keeps its own match data.
class DomainPattern {
public:
    DomainPattern() {
        static const char16_t kPattern[] = u"([a-z0-9][a-z0-9\\-]{0,63}\\.[a-z\\.]{2,6})$";
        int error = 0;
        PCRE2_SIZE offset = 0;
        code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kPattern), PCRE2_ZERO_TERMINATED,
                              PCRE2_CASELESS, &error, &offset, nullptr);
        if (!code_) throw std::logic_error("domain-name pattern does not compile");
        // Without JIT the interpreter gives the same results, only slower.
        pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
    }
    ~DomainPattern() { pcre2_code_free(code_); }
    DomainPattern(const DomainPattern&) = delete;
    DomainPattern& operator=(const DomainPattern&) = delete;

    // The leftmost match in subject, or an empty view.
    TextView Find(TextView subject) const {
        if (subject.empty()) return {};
        struct MatchData {
            explicit MatchData(const pcre2_code* code)
                : data(pcre2_match_data_create_from_pattern(code, nullptr)) {
                if (!data) throw std::bad_alloc();
            }
            ~MatchData() { pcre2_match_data_free(data); }
            MatchData(const MatchData&) = delete;
            MatchData& operator=(const MatchData&) = delete;
            pcre2_match_data* data;
        };
        thread_local MatchData match(code_);
        int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0,
                             0, match.data, nullptr);
        if (rc < 0) return {};
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match.data);
        return subject.substr(ovector[0], ovector[1] - ovector[0]);
    }

private:
    pcre2_code* code_ = nullptr;
};

const DomainPattern& Pattern() {
    static const DomainPattern pattern;
    return pattern;
}

// The host in what follows a URL's "://": cut before the first "?" (or, when
// there is none, before the first "#"), take the authority up to the first "/",
// drop a user name and password up to the last "@", then take an IPv6 literal
// or cut a port. One pass in the common case: the authority ends at the first
// "/" or "?"; only a "#" before them needs a look further on, because a "?"
// anywhere later still wins over it.
TextView HostAfterScheme(TextView rest) {
    std::size_t end = rest.size();
    std::size_t hash = TextView::npos;
    std::size_t lastAt = TextView::npos;  // before end
    std::size_t lastAtBeforeHash = TextView::npos;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char16_t c = rest[i];
        if (c == u'/' || c == u'?') {
            end = i;
            break;
        }
        if (c == u'@') {
            lastAt = i;
            if (hash == TextView::npos) lastAtBeforeHash = i;
        } else if (c == u'#' && hash == TextView::npos) {
            hash = i;
        }
    }
    // A "#" before the first "/" (or in a rest without "/" and "?") cuts,
    // unless a "?" follows after the "/": that cut leaves the "#" in.
    if (hash != TextView::npos && (end == rest.size() || rest[end] == u'/') &&
        rest.find(u'?', end) == TextView::npos) {
        end = hash;
        lastAt = lastAtBeforeHash;
    }
    // The user name and password end at the authority's last "@".
    const std::size_t begin = lastAt == TextView::npos ? 0 : lastAt + 1;
    std::size_t open = TextView::npos, close = TextView::npos, colon = TextView::npos;
    for (std::size_t i = begin; i < end; ++i) {
        const char16_t c = rest[i];
        if (c == u'[') {
            if (open == TextView::npos) open = i;
        } else if (c == u']') {
            if (close == TextView::npos) close = i;
        } else if (c == u':') {
            if (colon == TextView::npos) colon = i;
        }
    }
    if (open != TextView::npos && close != TextView::npos && close > open)
        return rest.substr(open + 1, close - open - 1);
    return rest.substr(begin, (colon == TextView::npos ? end : colon) - begin);
}

bool IsAsciiLetter(char16_t c) {
    return ascii::IsLetter(c);
}
bool IsLabelStart(char16_t c) {
    return IsAsciiLetter(c) || (c >= u'0' && c <= u'9');
}
bool IsLabelChar(char16_t c) {
    return IsLabelStart(c) || c == u'-';
}
bool IsTailChar(char16_t c) {
    return IsAsciiLetter(c) || c == u'.';
}

// The domain-name pattern's leftmost match, in one pass, for hosts of printable
// ASCII (where the pattern's "$" can only mean the end). A label cannot hold a
// dot, so a match starting inside a run of label characters uses the dot that
// ends the run; the run matches from its leftmost label start within 64
// characters of that dot when the rest after the dot is 2 to 6 letters or dots.
TextView FastDomain(TextView host) {
    const std::size_t n = host.size();
    std::size_t tailStart = n;  // the rest from here on is letters and dots
    while (tailStart > 0 && IsTailChar(host[tailStart - 1])) --tailStart;
    std::size_t i = 0;
    while (i < n) {
        if (!IsLabelChar(host[i])) {
            ++i;
            continue;
        }
        std::size_t runEnd = i;
        while (runEnd < n && IsLabelChar(host[runEnd])) ++runEnd;
        const std::size_t tail = n - runEnd - 1;  // valid only when host[runEnd] is a dot
        if (runEnd < n && host[runEnd] == u'.' && runEnd + 1 >= tailStart && tail >= 2 &&
            tail <= 6) {
            for (std::size_t start = runEnd - i > 64 ? runEnd - 64 : i; start < runEnd; ++start)
                if (IsLabelStart(host[start])) return host.substr(start);
        }
        i = runEnd + 1;
    }
    return {};
}

bool IsPrintableAscii(TextView text) {
    for (char16_t c : text)
        if (c < 0x21 || c > 0x7E) return false;
    return true;
}

// The domain name in a host: the fast matcher, or the pattern itself for hosts
// with anything but printable ASCII in them.
TextView FindDomain(TextView host) {
    if (IsPrintableAscii(host)) return FastDomain(host);
    return Pattern().Find(host);
}

TextView HostView(TextView text) {
    std::size_t scheme = text.find(kSchemeSeparator);
    if (scheme == TextView::npos) return {};
    return HostAfterScheme(text.substr(scheme + kSchemeSeparator.size()));
}

bool StartsWithWww(TextView entry) {
    if (entry.size() < 4) return false;
    for (std::size_t i = 0; i < 3; ++i) {
        if (entry[i] != u'w' && entry[i] != u'W') return false;
    }
    return entry[3] == u'.';
}

// The host of a URL-list entry, an entry beginning with "www." read as
// "http://" + entry. In "http://" + x the first "://" is the one in front, so
// the host is that of x taken as the part after the scheme.
TextView EntryHost(TextView entry) {
    return StartsWithWww(entry) ? HostAfterScheme(entry) : HostView(entry);
}

// ExtractMailDomain without copies; the same reasoning about "http://" holds.
TextView MailDomainView(TextView entry) {
    std::size_t at = entry.find(u'@');
    if (at == TextView::npos) return entry;
    return FindDomain(HostAfterScheme(TrimControls(entry.substr(at + 1))));
}

TextView HostEntryView(TextView entry) {
    TextView host = EntryHost(entry);
    return host.empty() ? MailDomainView(entry) : host;
}

TextView DomainEntryView(TextView entry) {
    TextView domain = FindDomain(EntryHost(entry));
    return domain.empty() ? MailDomainView(entry) : domain;
}

// Fills target anew with one derived entry per URL-list entry.
template <class Derive>
void BuildDerivedList(const SharedList& urls, SharedList& target, Derive derive) {
    // Built aside and swapped in, so a view that shows either list meanwhile
    // never waits for the whole derivation.
    SharedList derived;
    urls.ForEachBatched([&](TextView entry) { derived.Append(derive(entry)); });
    target.Swap(derived);
}

}  // namespace

Text ExtractHostName(TextView text) {
    return Text(HostView(text));
}

Text ExtractDomainName(TextView text) {
    return Text(FindDomain(HostView(text)));
}

Text ExtractMailDomain(TextView entry) {
    return Text(MailDomainView(entry));
}

Text HostViewEntry(TextView urlEntry) {
    return Text(HostEntryView(urlEntry));
}

Text DomainViewEntry(TextView urlEntry) {
    return Text(DomainEntryView(urlEntry));
}

void BuildHostList(const SharedList& urls, SharedList& target) {
    BuildDerivedList(urls, target, HostEntryView);
}

void BuildDomainList(const SharedList& urls, SharedList& target) {
    BuildDerivedList(urls, target, DomainEntryView);
}

}  // namespace corvexa::results
