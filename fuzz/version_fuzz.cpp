// The version block: the reader on arbitrary bytes, and the builder's blocks
// read back (every string found under its own key, the fixed versions intact).
#include <stdexcept>

#include "fuzz_input.h"
#include "version/version_block.h"

using namespace corvexa;
using namespace corvexa::version;

namespace {

void ReadAnyway(std::span<const std::uint8_t> block, const std::vector<std::u16string>& paths) {
    std::size_t length = 0;
    if (IsVersionBlock(block, &length))
        fuzz::Check(length <= block.size(), "block longer than its bytes");
    (void)FixedFileVersionOfBlock(block);
    for (const std::u16string& path : paths) {
        if (auto v = QueryVersionValue(block, path)) {
            fuzz::Check(v->Bytes.data() >= block.data() &&
                            v->Bytes.data() + v->Bytes.size() <= block.data() + block.size(),
                        "value outside the block");
            (void)TextOfValue(v->Bytes);
        }
    }
}

// Keys match with ASCII letters in either case.
bool SameKey(const std::u16string& a, const std::u16string& b) {
    auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

}  // namespace

// First byte even: the bytes are a block to read. Odd: they describe a block
// to build: NUL-separated key, value, key, value... (the table key first).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    if ((data[0] & 1) == 0) {
        ReadAnyway(
            rest, {u"\\", u"\\VarFileInfo\\Translation", u"\\StringFileInfo\\040904B0\\ProductName",
                   u"\\StringFileInfo", u"\\\\", u""});
        return 0;
    }
    std::vector<std::string_view> parts =
        fuzz::Split({reinterpret_cast<const char*>(rest.data()), rest.size()}, '\0');
    VersionBlockInput in;
    in.FileVersion = {1, 2, 3, 4};
    in.ProductVersion = {5, 6, 7, static_cast<std::uint16_t>(size)};
    in.StringTableKey = fuzz::TextFromBytes(parts[0]);
    for (std::size_t i = 1; i + 1 < parts.size(); i += 2)
        in.Strings.push_back({fuzz::TextFromBytes(parts[i]), fuzz::TextFromBytes(parts[i + 1])});
    if (data[0] & 2) in.Translations.push_back({0x0409, 0x04B0});
    std::vector<std::uint8_t> block;
    try {
        block = BuildVersionBlock(in);
    } catch (const std::length_error&) {
        return 0;
    } catch (const std::invalid_argument&) {
        return 0;
    }
    fuzz::Check(IsVersionBlock(block), "a built block is not a version block");
    fuzz::Check(FixedFileVersionOfBlock(block) == in.FileVersion, "file version lost");
    std::u16string table = in.StringTableKey.empty() ? u"040904B0" : in.StringTableKey;
    std::vector<std::u16string> paths;
    for (std::size_t i = 0; i < in.Strings.size(); ++i) {
        const auto& [key, value] = in.Strings[i];
        std::u16string path = u"\\StringFileInfo\\" + table + u"\\" + key;
        paths.push_back(path);
        // An empty key or one holding a backslash cannot be named in a path; a
        // repeated key answers with its first value.
        if (key.empty() || key.find(u'\\') != std::u16string::npos ||
            table.find(u'\\') != std::u16string::npos)
            continue;
        bool repeated = false;
        for (std::size_t j = 0; j < i; ++j) repeated |= SameKey(in.Strings[j].first, key);
        if (repeated) continue;
        auto v = QueryVersionValue(block, path);
        fuzz::Check(v.has_value(), "a string is not found under its key", ToUtf8(key));
        std::u16string text = TextOfValue(v->Bytes);
        fuzz::Check(text == value.substr(0, value.find(u'\0')), "a string reads back differently",
                    ToUtf8(key));
    }
    ReadAnyway(block, paths);
    return 0;
}
