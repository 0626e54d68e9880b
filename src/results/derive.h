#pragma once

#include "engine/shared_list.h"
#include "engine/text.h"

namespace corvexa::results {

// The host of a URL-like text: after the first "://", before "?" (else "#"),
// before the first "/", after the last "@", without a port; an IPv6 literal
// without its brackets. Empty when the text holds no "://".
Text ExtractHostName(TextView text);

// The domain name of ExtractHostName(text): the longest tail of the host that
// is one label, a dot and 2 to 6 letters or dots. Empty when there is none.
Text ExtractDomainName(TextView text);

// The fallback for an entry without a host: for an e-mail address the domain
// name of its domain part, else the entry itself.
Text ExtractMailDomain(TextView entry);

// One derived entry per URL-list entry, in URL-list order (Show Hostnames /
// Show Domain Names). Entries that begin with "www." are read as "http://" + entry.
Text HostViewEntry(TextView urlEntry);
Text DomainViewEntry(TextView urlEntry);

// Rebuilds target from scratch: exactly one entry per entry of urls.
void BuildHostList(const SharedList& urls, SharedList& target);
void BuildDomainList(const SharedList& urls, SharedList& target);

}  // namespace corvexa::results
