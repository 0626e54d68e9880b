#include "version/version_block.h"

#include <stdexcept>

#include "platform/ascii.h"

namespace corvexa::version {

namespace {

constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";
constexpr std::size_t kHeaderSize = 6;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, static_cast<std::uint16_t>(v));
    Put16(out, static_cast<std::uint16_t>(v >> 16));
}

void PadTo4(std::vector<std::uint8_t>& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

std::vector<std::uint8_t> TextBytes(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve((text.size() + 1) * 2);
    for (char16_t c : text) Put16(out, c);
    Put16(out, 0);
    return out;
}

char16_t HexDigit(unsigned v) {
    return static_cast<char16_t>(v < 10 ? u'0' + v : u'A' + (v - 10));
}

void AppendHex4(std::u16string& out, std::uint16_t v) {
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(HexDigit((v >> shift) & 0xF));
}

// Serialises into out; offsets (and so the padding) count from out's start,
// which is the block's start.
void Serialize(const VersionNode& node, std::vector<std::uint8_t>& out) {
    std::size_t valueLength = node.Value.size();
    if (node.IsText) {
        if (valueLength % 2 != 0)
            throw std::invalid_argument("version block: odd-sized text value");
        valueLength /= 2;
    }
    if (valueLength > 0xFFFF) throw std::length_error("version block: value too long");
    // A key ends at its first U+0000 when read back: one that holds it could
    // never be found again under its own name.
    if (node.Key.find(u'\0') != std::u16string::npos)
        throw std::invalid_argument("version block: key holds U+0000");
    const std::size_t start = out.size();
    Put16(out, 0);  // length, patched below
    Put16(out, static_cast<std::uint16_t>(valueLength));
    Put16(out, node.IsText ? 1 : 0);
    for (char16_t c : node.Key) Put16(out, c);
    Put16(out, 0);
    PadTo4(out);
    out.insert(out.end(), node.Value.begin(), node.Value.end());
    for (const VersionNode& child : node.Children) {
        PadTo4(out);
        Serialize(child, out);
    }
    const std::size_t length = out.size() - start;
    if (length > kMaxBlockSize) throw std::length_error("version block: node too long");
    out[start] = static_cast<std::uint8_t>(length);
    out[start + 1] = static_cast<std::uint8_t>(length >> 8);
}

// ---- Reading ----

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(Get16(b, at)) |
           (static_cast<std::uint32_t>(Get16(b, at + 2)) << 16);
}

std::size_t Align4(std::size_t v) {
    return (v + 3) & ~static_cast<std::size_t>(3);
}

struct Node {
    std::size_t start = 0, end = 0;          // end = start + length
    std::size_t keyStart = 0, keyUnits = 0;  // key without its terminator
    std::size_t valueStart = 0, valueEnd = 0;
    std::size_t childrenStart = 0;
    bool isText = false;
};

// The node at pos, which must lie wholly before limit.
std::optional<Node> ParseNode(std::span<const std::uint8_t> b, std::size_t pos, std::size_t limit) {
    if (pos > limit || limit - pos < kHeaderSize) return std::nullopt;
    const std::size_t length = Get16(b, pos);
    if (length < kHeaderSize || length > limit - pos) return std::nullopt;
    Node n;
    n.start = pos;
    n.end = pos + length;
    const std::size_t valueLength = Get16(b, pos + 2);
    n.isText = Get16(b, pos + 4) == 1;
    n.keyStart = pos + kHeaderSize;
    std::size_t k = n.keyStart;
    while (true) {
        if (n.end - k < 2) return std::nullopt;  // key runs past the node
        if (Get16(b, k) == 0) break;
        k += 2;
    }
    n.keyUnits = (k - n.keyStart) / 2;
    n.valueStart = std::min(Align4(k + 2), n.end);
    const std::size_t valueBytes = n.isText ? valueLength * 2 : valueLength;
    n.valueEnd = n.valueStart + std::min(valueBytes, n.end - n.valueStart);
    n.childrenStart = std::min(Align4(n.valueEnd), n.end);
    return n;
}

char16_t FoldAscii(char16_t c) {
    return ascii::ToLower(c);
}

bool KeyEquals(std::span<const std::uint8_t> b, const Node& n, std::u16string_view key) {
    if (n.keyUnits != key.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i)
        if (FoldAscii(Get16(b, n.keyStart + 2 * i)) != FoldAscii(key[i])) return false;
    return true;
}

std::optional<Node> Root(std::span<const std::uint8_t> b) {
    std::optional<Node> root = ParseNode(b, 0, b.size());
    if (!root || !KeyEquals(b, *root, kRootKey)) return std::nullopt;
    return root;
}

std::optional<Node> FindChild(std::span<const std::uint8_t> b, const Node& parent,
                              std::u16string_view key) {
    std::size_t pos = parent.childrenStart;
    while (pos < parent.end) {
        std::optional<Node> child = ParseNode(b, pos, parent.end);
        if (!child) return std::nullopt;  // the rest of the parent is not readable
        if (KeyEquals(b, *child, key)) return child;
        pos = Align4(child->end);
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::uint8_t> FixedFileInfoBytes(FixedFileVersion file, FixedFileVersion product) {
    std::vector<std::uint8_t> out;
    out.reserve(kFixedFileInfoSize);
    Put32(out, kFixedFileInfoSignature);
    Put32(out, 0x00010000);  // structure version 1.0
    Put32(out, (std::uint32_t{file.Major} << 16) | file.Minor);
    Put32(out, (std::uint32_t{file.Build} << 16) | file.Revision);
    Put32(out, (std::uint32_t{product.Major} << 16) | product.Minor);
    Put32(out, (std::uint32_t{product.Build} << 16) | product.Revision);
    Put32(out, 0x3F);  // flags mask: every defined flag is meaningful
    Put32(out, 0);     // flags: a release build
    Put32(out, 0);     // operating system: not one of the listed ones
    Put32(out, 1);     // file type: application
    Put32(out, 0);     // subtype
    Put32(out, 0);     // date, high
    Put32(out, 0);     // date, low
    return out;
}

VersionNode MakeVersionTree(const VersionBlockInput& input) {
    VersionNode root{std::u16string(kRootKey),
                     false,
                     FixedFileInfoBytes(input.FileVersion, input.ProductVersion),
                     {}};

    std::u16string tableKey = input.StringTableKey;
    if (tableKey.empty()) {
        Translation first =
            input.Translations.empty() ? Translation{0x0409, 0x04B0} : input.Translations.front();
        AppendHex4(tableKey, first.Language);
        AppendHex4(tableKey, first.CodePage);
    }
    VersionNode table{tableKey, true, {}, {}};
    for (const auto& [name, text] : input.Strings)
        table.Children.push_back({name, true, TextBytes(text), {}});
    root.Children.push_back({u"StringFileInfo", true, {}, {std::move(table)}});

    if (!input.Translations.empty()) {
        VersionNode var{u"Translation", false, {}, {}};
        for (Translation t : input.Translations) {
            Put16(var.Value, t.Language);
            Put16(var.Value, t.CodePage);
        }
        root.Children.push_back({u"VarFileInfo", true, {}, {std::move(var)}});
    }
    return root;
}

std::vector<std::uint8_t> SerializeVersionNode(const VersionNode& node) {
    std::vector<std::uint8_t> out;
    Serialize(node, out);
    return out;
}

std::vector<std::uint8_t> BuildVersionBlock(const VersionBlockInput& input) {
    return SerializeVersionNode(MakeVersionTree(input));
}

bool IsVersionBlock(std::span<const std::uint8_t> block, std::size_t* length) {
    std::optional<Node> root = Root(block);
    if (root && length) *length = root->end;
    return root.has_value();
}

std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                              std::u16string_view path) {
    std::optional<Node> node = Root(block);
    while (node && !path.empty()) {
        std::size_t sep = path.find(u'\\');
        std::u16string_view segment = path.substr(0, sep);
        path = sep == std::u16string_view::npos ? std::u16string_view() : path.substr(sep + 1);
        if (!segment.empty()) node = FindChild(block, *node, segment);
    }
    if (!node) return std::nullopt;
    return VersionValue{block.subspan(node->valueStart, node->valueEnd - node->valueStart),
                        node->isText};
}

std::u16string TextOfValue(std::span<const std::uint8_t> value) {
    std::u16string out;
    for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
        char16_t c = Get16(value, i);
        if (c == 0) break;
        out.push_back(c);
    }
    return out;
}

std::optional<FixedFileVersion> FixedFileVersionOfBlock(std::span<const std::uint8_t> block) {
    std::optional<VersionValue> v = QueryVersionValue(block, u"\\");
    if (!v || v->Bytes.size() < kFixedFileInfoSize || Get32(v->Bytes, 0) != kFixedFileInfoSignature)
        return std::nullopt;
    const std::uint32_t ms = Get32(v->Bytes, 8), ls = Get32(v->Bytes, 12);
    return FixedFileVersion{static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms),
                            static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls)};
}

}  // namespace corvexa::version
