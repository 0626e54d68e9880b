// An office document part and its relationships part: the first byte chooses
// a Word part (even) or a sheet (odd); a 0x01 byte splits the rest into the
// relationships part and the part's text. Links stay within their bounds, are
// each one line, and fields' links lie within their part.
#include <string>

#include "engine/readers/office_fields.h"
#include "engine/readers/office_links.h"
#include "fuzz_input.h"

using namespace corvexa;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > (1 << 18)) return 0;
    const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool sheet = data[0] % 2 == 1;
    const std::size_t cut = in.find('\x01');
    const std::string_view rels = cut == std::string_view::npos ? "" : in.substr(0, cut);
    const std::string_view source = cut == std::string_view::npos ? in : in.substr(cut + 1);
    std::vector<LinkTarget> links;
    AddPartLinks(sheet ? "xl/worksheets/sheet1.xml" : "word/document.xml", rels, source, links);
    fuzz::Check(links.size() <= kMaxLinkTargets, "more links than the bound");
    for (const LinkTarget& l : links) {
        fuzz::Check(!l.uri.empty() && l.uri.size() <= kMaxLinkLength, "a link past its bound",
                    l.uri.substr(0, 100));
        fuzz::Check(l.uri.find_first_of(std::string("\r\n\0", 3)) == std::string::npos,
                    "a link of more than one line", l.uri.substr(0, 100));
    }
    for (const PlacedLink& p : FieldLinks(source, sheet, 1000))
        fuzz::Check(p.offset < source.size(), "a field outside its part", p.uri.substr(0, 100));
    HyperlinkFieldAddress(source);
    FormulaHyperlinkAddresses(source);
    return 0;
}
