#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/readers/document_reader.h"

namespace corvexa {

// The external hyperlinks of a Word or Excel document in its XML form (.docx,
// .xlsx: a zip of XML parts). A part's links are those its relationships part
// lists with type hyperlink and TargetMode="External", and those it writes as
// HYPERLINK fields (Word) or HYPERLINK formulas (sheets, the parts under xl/;
// see office_fields.h). They are taken in the part's order: a listed link
// where the part first refers to it, a field or formula where it stands; then
// the listed links the part never refers to, in the list's order. The main
// document's part comes first, the others in the zip's order (of the part or
// of its relationships part, whichever comes first). A file that is no zip,
// or holds no such links, has none. Parts are read into memory up to fixed bounds; past them a
// part's links keep the list's order, or are left out when the list itself is too large; at most
// 256 MiB is unpacked in all, whatever the zip holds.
std::vector<LinkTarget> OoxmlLinks(const std::string& nativePath);

// The same from one relationships part and the text of the part it belongs
// to (may be empty), appended to `links`.
void AddRelationshipLinks(std::string_view relationships, std::string_view source,
                          std::vector<LinkTarget>& links);

// The same with the fields (or, for a part under xl/, the formulas) of the
// part named `partName` whose text is `source`.
void AddPartLinks(std::string_view partName, std::string_view relationships,
                  std::string_view source, std::vector<LinkTarget>& links);

}  // namespace corvexa
