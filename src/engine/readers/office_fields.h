#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvexa {

// Hyperlinks that an office document writes as field codes or formulas
// rather than as relationships:
// - in a Word part, HYPERLINK fields: a complex field (w:fldChar begin, its
//   instruction in w:instrText runs, separate, result, end; fields may nest,
//   a nested field's result text becoming part of the outer instruction) or
//   a simple one (w:fldSimple w:instr="...");
// - in a sheet part, HYPERLINK(...) calls in cells' formulas (<f>) whose
//   first argument is a string literal.

// A link and where in its part it is referred to.
struct PlacedLink {
    std::size_t offset = 0;
    std::string uri;
};

// An instruction is read up to this many bytes; nested fields deeper than
// kMaxFieldDepth are passed over.
inline constexpr std::size_t kMaxFieldInstruction = std::size_t{32} << 10;
inline constexpr std::size_t kMaxFieldDepth = 32;

// The address of a HYPERLINK field instruction (`HYPERLINK "url" \o "tip"`):
// its first argument that is no switch's. Nothing for another field, or one
// with a bookmark (\l) only.
std::optional<std::string> HyperlinkFieldAddress(std::string_view instruction);

// The addresses of the HYPERLINK calls of a formula whose first argument is
// a string literal, in the formula's order.
std::vector<std::string> FormulaHyperlinkAddresses(std::string_view formula);

// The links of one XML part's HYPERLINK fields (Word parts) or formulas
// (sheet parts: `sheet` true), in the part's order, at most `limit` of them.
std::vector<PlacedLink> FieldLinks(std::string_view xml, bool sheet, std::size_t limit);

}  // namespace corvexa
