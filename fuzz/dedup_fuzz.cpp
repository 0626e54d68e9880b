// Host and domain derivation and duplicate removal. The derived lists hold one
// entry per URL entry; Remove Duplicates, threaded or not, equals a plain
// stable sort with the same collator that keeps the first of equal entries.
#include <algorithm>

#include "fuzz_input.h"
#include "results/dedup.h"
#include "results/derive.h"

using namespace corvexa;
using namespace corvexa::results;

namespace {

std::vector<Text> PlainSortedUnique(std::vector<Text> entries, const DedupCollator& collator) {
    std::stable_sort(entries.begin(), entries.end(),
                     [&](const Text& a, const Text& b) { return collator.Compare(a, b) < 0; });
    std::vector<Text> out;
    for (Text& e : entries)
        if (out.empty() || collator.Compare(out.back(), e) != 0) out.push_back(std::move(e));
    return out;
}

}  // namespace

// First byte: bit 0 takes the threaded path (from 2 distinct texts on, 3
// workers); the rest: entries, one a line.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static DedupCollator collator("en_US");
    SetParallelDedupForTesting((data[0] & 1) ? 2 : 0, (data[0] & 1) ? 3 : 0);
    std::vector<Text> entries;
    for (std::string_view line :
         fuzz::Split({reinterpret_cast<const char*>(data) + 1, size - 1}, '\n'))
        entries.push_back(fuzz::TextFromBytes(line));

    SharedList urls, hosts, domains;
    urls.Assign(entries);
    BuildHostList(urls, hosts);
    BuildDomainList(urls, domains);
    fuzz::Check(hosts.Size() == entries.size() && domains.Size() == entries.size(),
                "a derived list is not one entry per URL");
    std::vector<Text> hostList = hosts.Snapshot(), domainList = domains.Snapshot();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        fuzz::Check(hostList[i] == HostViewEntry(entries[i]), "host list differs from its entry");
        fuzz::Check(domainList[i] == DomainViewEntry(entries[i]),
                    "domain list differs from its entry");
        // A domain name is a tail of its host name.
        Text host = ExtractHostName(entries[i]), domain = ExtractDomainName(entries[i]);
        fuzz::Check(domain.size() <= host.size() &&
                        host.compare(host.size() - domain.size(), Text::npos, domain) == 0,
                    "domain is not a tail of the host", ToUtf8(entries[i]));
    }

    for (const std::vector<Text>* list : {&entries, &hostList}) {
        std::vector<Text> want = PlainSortedUnique(*list, collator);
        fuzz::Check(SortedUnique(*list, collator) == want,
                    "SortedUnique differs from a plain sort");
        SharedList shared;
        shared.Assign(*list);
        RemoveDuplicates(shared, collator);
        fuzz::Check(shared.Snapshot() == want, "RemoveDuplicates differs from a plain sort");
    }
    return 0;
}
