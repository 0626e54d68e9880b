#pragma once

// The version block: a tree of nodes in the standard version-resource layout.
// Every node is
//
//   u16 length        bytes from the node's start to the end of its last child
//                     (the padding after the node is not counted)
//   u16 value length  16-bit units for a text value, bytes for a binary one
//   u16 type          1 = text, 0 = binary
//   key               UTF-16LE, zero-terminated
//   padding           to a multiple of 4 bytes from the block's start
//   value
//   children          each starting at a multiple of 4 bytes
//
// all numbers little-endian. The root is "VS_VERSION_INFO" with the 52-byte
// fixed file information as its value; its children are "StringFileInfo"
// (one string table per "llllcccc" key, each holding name/text pairs) and
// "VarFileInfo" (the "Translation" list of language/code-page pairs).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvexa::version {

// A four-part version number, e.g. 1.0.0.0.
struct FixedFileVersion {
    std::uint16_t Major = 0, Minor = 0, Build = 0, Revision = 0;
    friend bool operator==(const FixedFileVersion&, const FixedFileVersion&) = default;
};

// One entry of the translation list.
struct Translation {
    std::uint16_t Language = 0, CodePage = 0;
};

inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
inline constexpr std::size_t kFixedFileInfoSize = 52;
inline constexpr std::size_t kMaxBlockSize = 0xFFFF;  // the root's 16-bit length

// ---- Writing ---------------------------------------------------------------

struct VersionNode {
    std::u16string Key;
    bool IsText = false;              // text values count their length in 16-bit units
    std::vector<std::uint8_t> Value;  // raw bytes as they go into the block
    std::vector<VersionNode> Children;
};

struct VersionBlockInput {
    FixedFileVersion FileVersion, ProductVersion;
    // The string table's entries in this order (names need not be the usual ones).
    std::vector<std::pair<std::u16string, std::u16string>> Strings;
    // Empty: the block has no "VarFileInfo" at all.
    std::vector<Translation> Translations;
    // Empty: the first translation as eight upper-case hex digits, language
    // first ("040904B0"); "040904B0" when there is no translation.
    std::u16string StringTableKey;
};

// The standard tree for the input; tests may alter it before serialising.
VersionNode MakeVersionTree(const VersionBlockInput& input);
// The bytes of a node and its children. Throws std::length_error when a node
// outgrows its 16-bit length, std::invalid_argument for an odd-sized text value
// or a key that holds U+0000.
std::vector<std::uint8_t> SerializeVersionNode(const VersionNode& node);
std::vector<std::uint8_t> BuildVersionBlock(const VersionBlockInput& input);

// The 52-byte fixed file information for the root's value.
std::vector<std::uint8_t> FixedFileInfoBytes(FixedFileVersion file, FixedFileVersion product);

// ---- Reading ---------------------------------------------------------------
// Nothing here reads outside the span it is given, whatever the bytes say.

struct VersionValue {
    std::span<const std::uint8_t> Bytes;
    bool IsText = false;
};

// True when the bytes start with a well-formed "VS_VERSION_INFO" root node.
// Its length is then stored in *length.
bool IsVersionBlock(std::span<const std::uint8_t> block, std::size_t* length = nullptr);

// The value of the node that a path such as "\StringFileInfo\040904b0\CompanyName"
// names, keys compared without regard to the case of ASCII letters; empty path
// segments are ignored, so "\" names the root and a trailing "\" does no harm.
// Nothing when the block is not well formed or no node has that path.
std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                              std::u16string_view path);

// The UTF-16LE text at the start of a value, up to its first zero unit or the
// value's end.
std::u16string TextOfValue(std::span<const std::uint8_t> value);

// The fixed file version from the root's value; nothing when the value is too
// short or lacks the signature.
std::optional<FixedFileVersion> FixedFileVersionOfBlock(std::span<const std::uint8_t> block);

}  // namespace corvexa::version
