#include "engine/readers/office_links.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include "engine/readers/office_fields.h"
#include "engine/readers/office_xml.h"
#include "engine/readers/pdf_library.h"

namespace corvexa {

namespace {

// A relationships part is a short list; a part that refers to links may be a
// whole document body.
constexpr std::size_t kMaxRelationshipsPart = std::size_t{4} << 20;
constexpr std::size_t kMaxSourcePart = std::size_t{32} << 20;
constexpr std::size_t kMaxKept = std::size_t{96} << 20;
// However many parts a hostile zip holds, no more than this is unpacked.
constexpr std::size_t kMaxUnpacked = std::size_t{256} << 20;

struct Relationship {
    std::string id;
    std::string target;
};

// The external hyperlinks of a relationships part, in its order.
std::vector<Relationship> ExternalHyperlinks(std::string_view xml) {
    std::vector<Relationship> found;
    constexpr std::string_view kElement = "Relationship";
    for (std::size_t pos = xml.find(kElement); pos != std::string_view::npos;
         pos = xml.find(kElement, pos + kElement.size())) {
        // <Relationship or <prefix:Relationship, followed by white space.
        const std::size_t after = pos + kElement.size();
        if (pos == 0 || (xml[pos - 1] != '<' && xml[pos - 1] != ':') || after >= xml.size() ||
            (xml[after] != ' ' && xml[after] != '\t' && xml[after] != '\r' && xml[after] != '\n'))
            continue;
        auto a = Attributes(xml, after);
        const std::string& type = a["Type"];
        constexpr std::string_view kHyperlink = "/hyperlink";
        if (a["TargetMode"] != "External" || type.size() < kHyperlink.size() ||
            type.compare(type.size() - kHyperlink.size(), kHyperlink.size(), kHyperlink) != 0)
            continue;
        found.push_back({a["Id"], a["Target"]});
    }
    return found;
}

// Where the source first refers to each id (an attribute such as r:id="ID"),
// found in one pass however many ids the list holds.
std::unordered_map<std::string_view, std::size_t> FirstReferences(std::string_view source) {
    std::unordered_map<std::string_view, std::size_t> first;
    constexpr std::string_view kAttribute = "id=\"";
    for (std::size_t pos = source.find(kAttribute); pos != std::string_view::npos;
         pos = source.find(kAttribute, pos + 1)) {
        const std::size_t value = pos + kAttribute.size();
        const std::size_t end = source.find('"', value);
        if (end == std::string_view::npos) break;
        if (pos > 0 && source[pos - 1] == ':')
            first.emplace(source.substr(value, end - value), pos);
    }
    return first;
}

// "word/_rels/document.xml.rels" belongs to "word/document.xml"; "" for a
// name that is no relationships part.
std::string SourceOf(const std::string& rels) {
    constexpr std::string_view kFolder = "_rels/", kEnding = ".rels";
    const std::size_t folder = rels.rfind(kFolder);
    if (folder == std::string::npos || rels.size() <= folder + kFolder.size() + kEnding.size() ||
        rels.compare(rels.size() - kEnding.size(), kEnding.size(), kEnding) != 0 ||
        rels.find('/', folder + kFolder.size()) != std::string::npos)
        return {};
    return rels.substr(0, folder) +
           rels.substr(folder + kFolder.size(),
                       rels.size() - folder - kFolder.size() - kEnding.size());
}

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};

// The entry's bytes, or nothing when it is larger than `limit`; what was
// unpacked is added to `unpacked`.
std::optional<std::string> ReadEntry(archive* a, archive_entry* entry, std::size_t limit,
                                     std::size_t& unpacked) {
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > std::int64_t(limit))
        return std::nullopt;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const la_ssize_t n = archive_read_data(a, buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        if (n == 0) return bytes;
        unpacked += static_cast<std::size_t>(n);
        if (bytes.size() + static_cast<std::size_t>(n) > limit || unpacked > kMaxUnpacked)
            return std::nullopt;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

bool IsMainPart(const std::string& name) {
    return name == "word/document.xml" || name == "xl/workbook.xml";
}

bool IsSheetPart(std::string_view name) {
    return name.substr(0, 3) == "xl/";
}

// The links of one part: its external hyperlinks where the part first refers
// to them and the links of its fields (or formulas), in the part's order; then
// the hyperlinks it never refers to, in the list's order.
void AddPlacedLinks(std::string_view relationships, std::string_view source,
                    std::vector<PlacedLink> fields, std::vector<LinkTarget>& links) {
    std::vector<PlacedLink> placed;
    std::vector<Relationship> listed = ExternalHyperlinks(relationships);
    const auto first =
        listed.empty() ? decltype(FirstReferences(source)){} : FirstReferences(source);
    for (Relationship& r : listed) {
        const auto found = first.find(r.id);
        placed.push_back(
            {found == first.end() ? std::string_view::npos : found->second, std::move(r.target)});
    }
    placed.insert(placed.end(), std::make_move_iterator(fields.begin()),
                  std::make_move_iterator(fields.end()));
    std::stable_sort(placed.begin(), placed.end(),
                     [](const PlacedLink& x, const PlacedLink& y) { return x.offset < y.offset; });
    for (const PlacedLink& p : placed) AddLink(links, 0, p.uri);
}

// What the zip holds for one part that may have links: its relationships
// parts, its text when it refers to relationships, its fields' links.
struct PartLinks {
    std::size_t firstSeen = 0;  // the zip's order of the part or its relationships
    bool read = false;          // the part itself was read
    std::vector<std::string> relationships;
    std::string text;
    std::vector<PlacedLink> fields;
};

PartLinks& Part(std::map<std::string, PartLinks>& parts, const std::string& name,
                std::size_t index) {
    auto [it, added] = parts.try_emplace(name);
    if (added) it->second.firstSeen = index;
    return it->second;
}

std::size_t LinkBytes(const std::vector<PlacedLink>& links) {
    std::size_t bytes = 0;
    for (const PlacedLink& l : links) bytes += l.uri.size() + sizeof(PlacedLink);
    return bytes;
}

// Every relationships part, and every XML part that may refer to links or
// hold fields, within the bounds.
std::map<std::string, PartLinks> ReadParts(archive* a) {
    std::map<std::string, PartLinks> parts;
    std::size_t kept = 0, unpacked = 0, fieldLinks = 0;
    archive_entry* entry = nullptr;
    for (std::size_t index = 0;
         unpacked <= kMaxUnpacked && archive_read_next_header(a, &entry) == ARCHIVE_OK; ++index) {
        const char* raw = archive_entry_pathname(entry);
        const std::string name = raw ? raw : "";
        const std::string source = SourceOf(name);
        const bool isXml = name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0;
        if (source.empty() && !isXml) continue;
        auto bytes =
            ReadEntry(a, entry, source.empty() ? kMaxSourcePart : kMaxRelationshipsPart, unpacked);
        if (!bytes) continue;
        if (!source.empty()) {
            if (kept + bytes->size() > kMaxKept) continue;
            PartLinks& part = Part(parts, source, index);
            kept += bytes->size();
            part.relationships.push_back(std::move(*bytes));
            continue;
        }
        std::vector<PlacedLink> fields =
            FieldLinks(*bytes, IsSheetPart(name), kMaxLinkTargets - fieldLinks);
        const bool refers = bytes->find("id=\"") != std::string::npos;
        auto found = parts.find(name);
        if ((!refers && fields.empty()) || (found != parts.end() && found->second.read)) continue;
        const std::size_t size = (refers ? bytes->size() : 0) + LinkBytes(fields);
        if (kept + size > kMaxKept) continue;
        kept += size;
        fieldLinks += fields.size();
        PartLinks& part = Part(parts, name, index);
        part.read = true;
        if (refers) part.text = std::move(*bytes);
        part.fields = std::move(fields);
    }
    return parts;
}

}  // namespace

void AddRelationshipLinks(std::string_view relationships, std::string_view source,
                          std::vector<LinkTarget>& links) {
    AddPlacedLinks(relationships, source, {}, links);
}

void AddPartLinks(std::string_view partName, std::string_view relationships,
                  std::string_view source, std::vector<LinkTarget>& links) {
    AddPlacedLinks(relationships, source,
                   FieldLinks(source, IsSheetPart(partName), kMaxLinkTargets), links);
}

std::vector<LinkTarget> OoxmlLinks(const std::string& nativePath) {
    std::unique_ptr<archive, ArchiveFree> a(archive_read_new());
    if (!a) return {};
    archive_read_support_format_zip(a.get());
    if (archive_read_open_filename(a.get(), nativePath.c_str(), 65536) != ARCHIVE_OK) return {};
    std::map<std::string, PartLinks> parts = ReadParts(a.get());
    // The main document's part first, the others in the zip's order.
    std::vector<std::pair<const std::string, PartLinks>*> order;
    for (auto& p : parts) order.push_back(&p);
    std::stable_sort(order.begin(), order.end(), [](const auto* x, const auto* y) {
        const bool xMain = IsMainPart(x->first), yMain = IsMainPart(y->first);
        if (xMain != yMain) return xMain;
        return x->second.firstSeen < y->second.firstSeen;
    });
    std::vector<LinkTarget> links;
    for (auto* p : order) {
        PartLinks& part = p->second;
        if (part.relationships.empty()) part.relationships.emplace_back();
        for (std::size_t i = 0; i < part.relationships.size(); ++i)
            AddPlacedLinks(part.relationships[i], part.text,
                           i == 0 ? std::move(part.fields) : std::vector<PlacedLink>{}, links);
    }
    return links;
}

}  // namespace corvexa
