#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/readers/document_reader.h"

namespace corvexa {

// The external hyperlinks of a Word or Excel document in its XML form (.docx,
// .xlsx: a zip of XML parts). Each part's links are listed in its
// relationships part; those of type hyperlink with TargetMode="External" are
// taken, in the order the part first refers to them (then any it never refers
// to, in the list's order), the main document's part first and the others in
// the zip's order. A file that is no zip, or holds no such relationships,
// has none. Parts are read into memory up to fixed bounds; past them a part's
// links keep the list's order, or are left out when the list itself is too
// large; at most 256 MiB is unpacked in all, whatever the zip holds.
std::vector<LinkTarget> OoxmlLinks(const std::string& nativePath);

// The same from one relationships part and the text of the part it belongs
// to (may be empty), appended to `links`.
void AddRelationshipLinks(std::string_view relationships, std::string_view source,
                          std::vector<LinkTarget>& links);

}  // namespace corvexa
