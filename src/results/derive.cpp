#include "results/derive.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

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

// Spaces and control characters: everything up to U+0020.
TextView TrimControls(TextView t) {
    std::size_t begin = 0;
    std::size_t end = t.size();
    while (begin < end && t[begin] <= u' ') ++begin;
    while (end > begin && t[end - 1] <= u' ') --end;
    return t.substr(begin, end - begin);
}

// The host in what follows a URL's "://".
TextView HostAfterScheme(TextView rest) {
    std::size_t cut = rest.find(u'?');
    if (cut == TextView::npos) cut = rest.find(u'#');
    if (cut != TextView::npos) rest = rest.substr(0, cut);

    TextView authority = rest.substr(0, rest.find(u'/'));
    std::size_t at = authority.rfind(u'@');
    if (at != TextView::npos) authority = authority.substr(at + 1);

    std::size_t open = authority.find(u'[');
    std::size_t close = authority.find(u']');
    if (open != TextView::npos && close != TextView::npos && close > open)
        return authority.substr(open + 1, close - open - 1);
    return authority.substr(0, authority.find(u':'));
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
    return Pattern().Find(HostAfterScheme(TrimControls(entry.substr(at + 1))));
}

TextView HostEntryView(TextView entry) {
    TextView host = EntryHost(entry);
    return host.empty() ? MailDomainView(entry) : host;
}

TextView DomainEntryView(TextView entry) {
    TextView domain = Pattern().Find(EntryHost(entry));
    return domain.empty() ? MailDomainView(entry) : domain;
}

// Fills target anew with one derived entry per URL-list entry.
template <class Derive>
void BuildDerivedList(const SharedList& urls, SharedList& target, Derive derive) {
    if (&urls == &target) {
        std::vector<Text> derived;
        for (const Text& entry : urls.Snapshot()) derived.emplace_back(derive(entry));
        target.Assign(derived);
        return;
    }
    target.Clear();
    urls.ForEach([&](TextView entry) { target.Append(derive(entry)); });
}

}  // namespace

Text ExtractHostName(TextView text) {
    return Text(HostView(text));
}

Text ExtractDomainName(TextView text) {
    return Text(Pattern().Find(HostView(text)));
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
