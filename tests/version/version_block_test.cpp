// The version block's builder and reader, each held against a layout written
// out by hand, so the two cannot agree on a mistake.
#include "version/version_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace corvexa::version;

namespace {

// Little-endian bytes, spelled out item by item.
struct Bytes {
    std::vector<std::uint8_t> b;
    Bytes& W(std::uint16_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        return *this;
    }
    Bytes& D(std::uint32_t v) {
        return W(static_cast<std::uint16_t>(v)).W(static_cast<std::uint16_t>(v >> 16));
    }
    Bytes& S(std::u16string_view s) {  // with its terminator
        for (char16_t c : s) W(c);
        return W(0);
    }
    Bytes& Z(std::size_t n) {
        b.insert(b.end(), n, 0);
        return *this;
    }
};

// FileVersion 1.2.3.4, ProductVersion 5.6.7.8, strings A=bc and Q=x, translation
// 0409/04B0. Offsets in the comments; every length is counted by hand.
std::vector<std::uint8_t> HandWrittenBlock() {
    Bytes x;
    x.W(256).W(52).W(0).S(u"VS_VERSION_INFO").Z(2);  // 0: root, key ends at 38
    x.D(0xFEEF04BD)
        .D(0x00010000)
        .D(0x00010002)
        .D(0x00030004)  // 40: fixed file information
        .D(0x00050006)
        .D(0x00070008)
        .D(0x3F)
        .D(0)
        .D(0)
        .D(1)
        .D(0)
        .D(0)
        .D(0);
    x.W(96).W(0).W(1).S(u"StringFileInfo");                        // 92
    x.W(60).W(0).W(1).S(u"040904B0");                              // 128
    x.W(18).W(3).W(1).S(u"A").Z(2).S(u"bc").Z(2);                  // 152: ends at 170, next at 172
    x.W(16).W(2).W(1).S(u"Q").Z(2).S(u"x");                        // 172: ends at 188
    x.W(68).W(0).W(1).S(u"VarFileInfo").Z(2);                      // 188
    x.W(36).W(4).W(0).S(u"Translation").Z(2).W(0x0409).W(0x04B0);  // 220: ends at 256
    return x.b;
}

VersionBlockInput HandWrittenInput() {
    VersionBlockInput in;
    in.FileVersion = {1, 2, 3, 4};
    in.ProductVersion = {5, 6, 7, 8};
    in.Strings = {{u"A", u"bc"}, {u"Q", u"x"}};
    in.Translations = {{0x0409, 0x04B0}};
    return in;
}

std::optional<std::u16string> Text(std::span<const std::uint8_t> block, std::u16string_view path) {
    std::optional<VersionValue> v = QueryVersionValue(block, path);
    if (!v) return std::nullopt;
    return TextOfValue(v->Bytes);
}

// A copy on the heap of exactly n bytes, so the sanitizer sees any read past them.
struct Exact {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size;
    Exact(const std::vector<std::uint8_t>& from, std::size_t n)
        : data(new std::uint8_t[n ? n : 1]), size(n) {
        if (n) std::memcpy(data.get(), from.data(), n);
    }
    std::span<const std::uint8_t> Span() const { return {data.get(), size}; }
};

void QueryEverything(std::span<const std::uint8_t> block) {
    for (const char16_t* path : {u"\\", u"\\StringFileInfo\\040904b0\\A",
                                 u"\\StringFileInfo\\040904b0\\Q", u"\\VarFileInfo\\Translation"}) {
        if (auto v = QueryVersionValue(block, path)) {
            (void)TextOfValue(v->Bytes);
        }
    }
    (void)FixedFileVersionOfBlock(block);
    (void)IsVersionBlock(block);
}

}  // namespace

TEST(VersionBlockBuilder, MatchesTheHandWrittenLayout) {
    EXPECT_EQ(BuildVersionBlock(HandWrittenInput()), HandWrittenBlock());
}

TEST(VersionBlockBuilder, RefusesNodesThatOutgrowTheirLength) {
    VersionBlockInput in = HandWrittenInput();
    in.Strings.push_back({u"Long", std::u16string(40000, u'x')});
    EXPECT_THROW(BuildVersionBlock(in), std::length_error);
}

// Found by fuzzing: a key holding U+0000 was written whole and read back cut
// at that character, so it could never be found under its own name.
TEST(VersionBlockBuilder, RefusesKeysThatHoldUPlus0000) {
    for (std::u16string key : {std::u16string(u"Comp\0any", 8), std::u16string(1, u'\0')}) {
        VersionBlockInput in = HandWrittenInput();
        in.Strings.push_back({key, u"x"});
        EXPECT_THROW(BuildVersionBlock(in), std::invalid_argument);
        in = HandWrittenInput();
        in.StringTableKey = u"0409" + key;
        EXPECT_THROW(BuildVersionBlock(in), std::invalid_argument);
    }
    // Values may hold it: they carry their length.
    VersionBlockInput in = HandWrittenInput();
    in.Strings.push_back({u"Odd", std::u16string(u"a\0b", 3)});
    EXPECT_NO_THROW(BuildVersionBlock(in));
}

TEST(VersionBlockReader, ReadsTheHandWrittenLayout) {
    const std::vector<std::uint8_t> block = HandWrittenBlock();
    std::size_t length = 0;
    ASSERT_TRUE(IsVersionBlock(block, &length));
    EXPECT_EQ(length, 256u);

    EXPECT_EQ(Text(block, u"\\StringFileInfo\\040904B0\\A"), u"bc");
    EXPECT_EQ(Text(block, u"\\StringFileInfo\\040904b0\\q\\"),
              u"x");                                                 // any case, trailing separator
    EXPECT_EQ(Text(block, u"StringFileInfo\\\\040904b0\\Q"), u"x");  // empty segments ignored
    EXPECT_EQ(Text(block, u"\\StringFileInfo\\040904E4\\A"), std::nullopt);
    EXPECT_EQ(Text(block, u"\\StringFileInfo\\040904b0\\Missing"), std::nullopt);
    EXPECT_EQ(Text(block, u"\\StringFileInfo\\040904b0\\A\\deeper"), std::nullopt);

    auto translation = QueryVersionValue(block, u"\\VarFileInfo\\Translation");
    ASSERT_TRUE(translation);
    EXPECT_FALSE(translation->IsText);
    EXPECT_EQ(std::vector<std::uint8_t>(translation->Bytes.begin(), translation->Bytes.end()),
              (std::vector<std::uint8_t>{0x09, 0x04, 0xB0, 0x04}));

    EXPECT_EQ(FixedFileVersionOfBlock(block), (FixedFileVersion{1, 2, 3, 4}));
}

TEST(VersionBlockReader, TextEndsAtItsFirstZeroOrItsValue) {
    EXPECT_EQ(TextOfValue(Bytes().S(u"ab").S(u"cd").b), u"ab");
    EXPECT_EQ(TextOfValue(Bytes().W(u'a').W(u'b').b), u"ab");
    EXPECT_EQ(TextOfValue(Bytes().W(u'a').Z(1).b), u"a");  // odd trailing byte ignored
}

TEST(VersionBlockReader, FixedInformationWithoutItsSignatureIsNoVersion) {
    std::vector<std::uint8_t> block = HandWrittenBlock();
    block[40] = 0;
    EXPECT_EQ(FixedFileVersionOfBlock(block), std::nullopt);
    EXPECT_EQ(Text(block, u"\\StringFileInfo\\040904b0\\A"), u"bc");
}

TEST(VersionBlockReader, MalformedNodesEndTheSearchInsteadOfTheBounds) {
    struct Case {
        const char* what;
        std::size_t at;
        std::vector<std::uint8_t> bytes;
        bool block, a, q, translation;
    } cases[] = {
        {"root longer than the bytes", 0, {0x01, 0x01}, false, false, false, false},
        {"root key not VS_VERSION_INFO", 6, {'W', 0}, false, false, false, false},
        {"string A of length zero", 152, {0, 0}, true, false, false, true},
        {"string A longer than its table", 152, {0xFF, 0}, true, false, false, true},
        {"string A shorter than its header", 152, {4, 0}, true, false, false, true},
        {"string Q key without terminator", 172, {8, 0}, true, true, false, true},
        {"string A value counted past its node", 154, {0xFF, 0x7F}, true, true, true, true},
        {"var value counted past its node", 222, {0xFF, 0xFF}, true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bytes = HandWrittenBlock();
        std::copy(c.bytes.begin(), c.bytes.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(c.at));
        Exact block(bytes, bytes.size());
        EXPECT_EQ(IsVersionBlock(block.Span()), c.block);
        EXPECT_EQ(Text(block.Span(), u"\\StringFileInfo\\040904b0\\A").has_value(), c.a);
        EXPECT_EQ(Text(block.Span(), u"\\StringFileInfo\\040904b0\\Q").has_value(), c.q);
        EXPECT_EQ(QueryVersionValue(block.Span(), u"\\VarFileInfo\\Translation").has_value(),
                  c.translation);
        QueryEverything(block.Span());
    }
    // A value counted past its node ends with the node.
    std::vector<std::uint8_t> bytes = HandWrittenBlock();
    bytes[154] = 0xFF;
    bytes[155] = 0x7F;
    auto a = QueryVersionValue(bytes, u"\\StringFileInfo\\040904b0\\A");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Bytes.size(), 6u);
}

TEST(VersionBlockReader, StaysInsideCutAndScrambledBlocks) {
    const std::vector<std::uint8_t> full = HandWrittenBlock();
    for (std::size_t n = 0; n < full.size(); ++n) {
        Exact cut(full, n);
        EXPECT_FALSE(IsVersionBlock(cut.Span())) << n;
        QueryEverything(cut.Span());
    }
    for (std::size_t i = 0; i < full.size(); ++i) {
        for (std::uint8_t value :
             {std::uint8_t{0x00}, std::uint8_t{0x03}, std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
            std::vector<std::uint8_t> bytes = full;
            bytes[i] = value;
            Exact scrambled(bytes, bytes.size());
            QueryEverything(scrambled.Span());
        }
    }
}
