#include "results/views.h"

#include "results/derive.h"

namespace corvexa::results {

std::string_view ViewModeName(ViewMode mode) {
    switch (mode) {
        case ViewMode::Url:
            return "url";
        case ViewMode::Host:
            return "host";
        case ViewMode::Domain:
            return "domain";
    }
    return "url";
}

SharedList& ResultLists::Current() {
    switch (mode_) {
        case ViewMode::Host:
            return hosts_;
        case ViewMode::Domain:
            return domains_;
        case ViewMode::Url:
            break;
    }
    return urls_;
}

const SharedList& ResultLists::Current() const {
    return const_cast<ResultLists*>(this)->Current();
}

void ResultLists::Reset() {
    urls_.Clear();
    hosts_.Clear();
    domains_.Clear();
    urlsAsFound_.Clear();
    canRestore_ = false;
    mode_ = ViewMode::Url;
}

void ResultLists::ShowURLs() {
    mode_ = ViewMode::Url;
}

void ResultLists::ShowHostnames() {
    BuildHostList(urls_, hosts_);
    mode_ = ViewMode::Host;
}

void ResultLists::ShowDomainNames() {
    BuildDomainList(urls_, domains_);
    mode_ = ViewMode::Domain;
}

void ResultLists::Show(ViewMode mode) {
    switch (mode) {
        case ViewMode::Url:
            ShowURLs();
            break;
        case ViewMode::Host:
            ShowHostnames();
            break;
        case ViewMode::Domain:
            ShowDomainNames();
            break;
    }
}

void ResultLists::RemoveDuplicates(const DedupCollator& collator) {
    if (Mode() == ViewMode::Url && !canRestore_) {
        // Copied as the list stores it, not through a vector of texts.
        urlsAsFound_.Clear();
        urlsAsFound_.AppendFrom(urls_);
        canRestore_ = true;
    }
    results::RemoveDuplicates(Current(), collator);
}

void ResultLists::RestoreFindings() {
    if (!canRestore_) return;
    urls_.Swap(urlsAsFound_);
    urlsAsFound_.Clear();
    canRestore_ = false;
    mode_ = ViewMode::Url;
}

}  // namespace corvexa::results
