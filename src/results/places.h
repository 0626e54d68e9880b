#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/finding_origins.h"
#include "engine/shared_list.h"
#include "results/views.h"

namespace corvexa::results {

// A path for a tab-separated column: the name's bytes, with a tab, CR or LF
// written as \t, \r or \n so that a line keeps its fields apart.
std::string PathColumn(TextView path);

// Where a finding was made, as a column: the path of its file (as the files
// list holds it), and for a member of an archive "//" and the member's path.
std::string PlaceColumn(const FindingOrigins::Origin& origin, const SharedList& files);

// The findings an entry of a view stands for, as indices into the list of
// findings as they were found: in the URL view the findings equal to it, in
// the host and domain views those whose host or domain name it is (derived as
// the view derives it). The first `limit` of them, and how many there are.
struct FindingMatches {
    std::vector<std::size_t> first;
    std::size_t total = 0;
};
FindingMatches FindingsOf(const SharedList& findings, ViewMode mode, TextView entry,
                          std::size_t limit);

}  // namespace corvexa::results
