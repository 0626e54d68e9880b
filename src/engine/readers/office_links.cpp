#include "engine/readers/office_links.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>

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

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The XML entities a value may hold, undone; anything else stays as it is.
std::string DecodeEntities(std::string_view v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const std::size_t end = v[i] == '&' ? v.find(';', i) : std::string_view::npos;
        if (end == std::string_view::npos || end - i > 10) {
            out += v[i];
            continue;
        }
        const std::string_view name = v.substr(i + 1, end - i - 1);
        static const std::map<std::string_view, char> named = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        if (auto it = named.find(name); it != named.end()) {
            out += it->second;
        } else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* stop = nullptr;
            const unsigned long code = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            if (digits.empty() || *stop != '\0' || code == 0 || code > 0x10FFFF) {
                out += v.substr(i, end - i + 1);
            } else {
                AppendUtf8(out, static_cast<char32_t>(code));
            }
        } else {
            out += v.substr(i, end - i + 1);
        }
        i = end;
    }
    return out;
}

// The attributes of the element whose name ends at `pos`, up to its '>'.
std::map<std::string, std::string> Attributes(std::string_view xml, std::size_t pos) {
    std::map<std::string, std::string> attributes;
    while (pos < xml.size() && xml[pos] != '>') {
        const std::size_t eq = xml.find('=', pos);
        const std::size_t close = xml.find('>', pos);
        if (eq == std::string_view::npos || eq > close || eq + 1 >= xml.size()) break;
        const char quote = xml[eq + 1];
        const std::size_t valueEnd = xml.find(quote, eq + 2);
        if ((quote != '"' && quote != '\'') || valueEnd == std::string_view::npos) break;
        std::string_view name = xml.substr(pos, eq - pos);
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t' ||
                                 name.front() == '\r' || name.front() == '\n'))
            name.remove_prefix(1);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
        attributes[std::string(name)] = DecodeEntities(xml.substr(eq + 2, valueEnd - eq - 2));
        pos = valueEnd + 1;
    }
    return attributes;
}

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

// Where the source first refers to the id (an attribute such as r:id="ID");
// npos when it never does.
std::size_t FirstReference(std::string_view source, const std::string& id) {
    const std::string needle = "id=\"" + id + "\"";
    for (std::size_t pos = source.find(needle); pos != std::string_view::npos;
         pos = source.find(needle, pos + 1))
        if (pos > 0 && source[pos - 1] == ':') return pos;
    return std::string_view::npos;
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

}  // namespace

void AddRelationshipLinks(std::string_view relationships, std::string_view source,
                          std::vector<LinkTarget>& links) {
    std::vector<Relationship> found = ExternalHyperlinks(relationships);
    std::vector<std::size_t> where;
    for (const Relationship& r : found) where.push_back(FirstReference(source, r.id));
    std::vector<std::size_t> order(found.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t x, std::size_t y) { return where[x] < where[y]; });
    for (std::size_t i : order) AddLink(links, 0, found[i].target);
}

std::vector<LinkTarget> OoxmlLinks(const std::string& nativePath) {
    std::unique_ptr<archive, ArchiveFree> a(archive_read_new());
    if (!a) return {};
    archive_read_support_format_zip(a.get());
    if (archive_read_open_filename(a.get(), nativePath.c_str(), 65536) != ARCHIVE_OK) return {};
    // Every relationships part, and every XML part that may refer to links,
    // in the zip's order; within the bounds.
    std::vector<std::pair<std::string, std::string>> rels;
    std::map<std::string, std::string> parts;
    std::size_t kept = 0, unpacked = 0;
    archive_entry* entry = nullptr;
    while (unpacked <= kMaxUnpacked && archive_read_next_header(a.get(), &entry) == ARCHIVE_OK) {
        const char* raw = archive_entry_pathname(entry);
        const std::string name = raw ? raw : "";
        const bool isRels = !SourceOf(name).empty();
        const bool isXml = name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0;
        if (!isRels && !isXml) continue;
        auto bytes =
            ReadEntry(a.get(), entry, isRels ? kMaxRelationshipsPart : kMaxSourcePart, unpacked);
        if (!bytes || kept + bytes->size() > kMaxKept) continue;
        kept += bytes->size();
        if (isRels) {
            rels.emplace_back(name, std::move(*bytes));
        } else if (bytes->find("id=\"") != std::string::npos) {
            parts.emplace(name, std::move(*bytes));
        }
    }
    std::stable_partition(rels.begin(), rels.end(),
                          [](const auto& r) { return IsMainPart(SourceOf(r.first)); });
    std::vector<LinkTarget> links;
    for (const auto& [name, xml] : rels) {
        const auto source = parts.find(SourceOf(name));
        AddRelationshipLinks(xml, source == parts.end() ? std::string_view() : source->second,
                             links);
    }
    return links;
}

}  // namespace corvexa
