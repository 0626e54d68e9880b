#pragma once

#include <atomic>
#include <string_view>

#include "engine/shared_list.h"
#include "results/dedup.h"

namespace corvexa::results {

enum class ViewMode { Url, Host, Domain };

// "url", "host" or "domain".
std::string_view ViewModeName(ViewMode mode);

// The URL list with its derived host and domain lists and the view mode, as the
// results view and the export of findings see them.
class ResultLists {
public:
    SharedList& Urls() { return urls_; }
    const SharedList& Urls() const { return urls_; }
    SharedList& Hosts() { return hosts_; }
    SharedList& Domains() { return domains_; }

    ViewMode Mode() const { return mode_.load(); }
    // The list the view mode names.
    SharedList& Current();
    const SharedList& Current() const;

    // START: all three lists emptied, view mode "url".
    void Reset();
    void ShowURLs();
    void ShowHostnames();                                  // rebuilds the host list
    void ShowDomainNames();                                // rebuilds the domain list
    void RemoveDuplicates(const DedupCollator& collator);  // on the current list

    // Remove Duplicates in the URL view can be undone: the first one after
    // START keeps the findings as they were found, and RestoreFindings puts
    // them back (in the URL view) until the next START.
    bool CanRestoreFindings() const { return canRestore_; }
    // The findings as they were found, entry for entry with their origins
    // (the URL list, or what it was before Remove Duplicates).
    const SharedList& Findings() const { return canRestore_ ? urlsAsFound_ : urls_; }
    void RestoreFindings();

private:
    SharedList urls_;
    SharedList hosts_;
    SharedList domains_;
    SharedList urlsAsFound_;  // the URL list before its first duplicate removal
    bool canRestore_ = false;
    // Set by a derivation that may run on another thread while the window
    // draws the view.
    std::atomic<ViewMode> mode_{ViewMode::Url};
};

}  // namespace corvexa::results
