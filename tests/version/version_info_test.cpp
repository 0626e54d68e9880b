// Version information read back from executable files on disk: fixture ELF
// files written here, and the real corvexa-scan.
#include "version/version_info.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "support/temp_dir.h"

using namespace corvexa::version;
using corvexa::test::TempDir;

namespace {

// ---- A minimal ELF writer ----

constexpr std::uint32_t kProgBits = 1, kNoBits = 8;

struct Section {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::uint32_t type = kProgBits;
};

struct ElfFile {
    std::string image;
    bool is64 = true, little = true;
    std::size_t shoff = 0;
    // Position of the header of the i-th given section (the null section and
    // the name table are not counted).
    std::size_t HeaderAt(std::size_t i) const { return shoff + (i + 1) * (is64 ? 64 : 40); }
    void Patch(std::size_t at, std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            int shift = little ? 8 * i : 8 * (bytes - 1 - i);
            image[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> shift);
        }
    }
};

// Header, section bytes, section names, section headers: what a linker writes,
// without the program headers nobody here reads.
ElfFile MakeElf(const std::vector<Section>& sections, bool is64 = true, bool little = true) {
    ElfFile f;
    f.is64 = is64;
    f.little = little;
    const std::size_t headerSize = is64 ? 64 : 52, entrySize = is64 ? 64 : 40;
    f.image.assign(headerSize, '\0');
    auto align8 = [&] { f.image.resize((f.image.size() + 7) & ~std::size_t{7}, '\0'); };

    std::string names(1, '\0');
    struct Placed {
        std::uint32_t name, type;
        std::size_t offset, size;
    };
    std::vector<Placed> placed;
    for (const Section& s : sections) {
        align8();
        placed.push_back(
            {static_cast<std::uint32_t>(names.size()), s.type, f.image.size(), s.bytes.size()});
        names += s.name + '\0';
        if (s.type != kNoBits) f.image.append(s.bytes.begin(), s.bytes.end());
    }
    placed.push_back({static_cast<std::uint32_t>(names.size()), 3 /* string table */, 0, 0});
    names += std::string(".shstrtab") + '\0';
    placed.back().offset = f.image.size();
    placed.back().size = names.size();
    f.image += names;
    align8();
    f.shoff = f.image.size();
    f.image.append(entrySize * (placed.size() + 1), '\0');  // the null section first

    f.image[0] = 0x7f;
    f.image[1] = 'E';
    f.image[2] = 'L';
    f.image[3] = 'F';
    f.image[4] = is64 ? 2 : 1;
    f.image[5] = little ? 1 : 2;
    f.image[6] = 1;
    f.Patch(16, 2, 2);              // executable
    f.Patch(18, is64 ? 62 : 3, 2);  // machine
    f.Patch(20, 1, 4);              // version
    if (is64) {
        f.Patch(40, f.shoff, 8);
        f.Patch(52, headerSize, 2);
        f.Patch(58, entrySize, 2);
        f.Patch(60, placed.size() + 1, 2);
        f.Patch(62, placed.size(), 2);
    } else {
        f.Patch(32, f.shoff, 4);
        f.Patch(40, headerSize, 2);
        f.Patch(46, entrySize, 2);
        f.Patch(48, placed.size() + 1, 2);
        f.Patch(50, placed.size(), 2);
    }
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const std::size_t at = f.HeaderAt(i);
        f.Patch(at, placed[i].name, 4);
        f.Patch(at + 4, placed[i].type, 4);
        if (is64) {
            f.Patch(at + 24, placed[i].offset, 8);
            f.Patch(at + 32, placed[i].size, 8);
        } else {
            f.Patch(at + 16, placed[i].offset, 4);
            f.Patch(at + 20, placed[i].size, 4);
        }
    }
    return f;
}

// An executable-like file: some code, the version block, some data.
ElfFile ExecutableWith(const std::vector<std::uint8_t>& block, bool is64 = true,
                       bool little = true) {
    return MakeElf({{".text", std::vector<std::uint8_t>(40, 0x90)},
                    {kVersionSection, block},
                    {".data", std::vector<std::uint8_t>(12, 0x11)}},
                   is64, little);
}

// ---- Fixture blocks ----

const std::vector<std::pair<std::u16string, std::u16string>> kFullStrings = {
    {u"CompanyName", u"KELMARE"},
    {u"FileDescription", u"Corvexa address scan"},
    {u"FileVersion", u"1.0.0.0"},
    {u"InternalName", u"corvexa"},
    {u"LegalCopyright", u"Copyright (C) 2026 KELMARE"},
    {u"LegalTrademarks", u"Corvexa is a mark of KELMARE"},
    {u"OriginalFilename", u"corvexa.bin"},
    {u"ProductName", u"Corvexa"},
    {u"ProductVersion", u"1.0.0.0"},
    {u"Comments", std::u16string(u"first\0second", 12)},
    {u"PrivateBuild", u"private"},
    {u"SpecialBuild", u"special"},
};

TEXEVersionData FullData() {
    TEXEVersionData d;
    d.CompanyName = u"KELMARE";
    d.FileDescription = u"Corvexa address scan";
    d.FileVersion = u"1.0.0.0";
    d.InternalName = u"corvexa";
    d.LegalCopyright = u"Copyright (C) 2026 KELMARE";
    d.LegalTrademarks = u"Corvexa is a mark of KELMARE";
    d.OriginalFileName = u"corvexa.bin";
    d.ProductName = u"Corvexa";
    d.ProductVersion = u"1.0.0.0";
    d.Comments = u"first";  // the text ends at its first zero
    d.PrivateBuild = u"private";
    d.SpecialBuild = u"special";
    return d;
}

VersionBlockInput FullInput() {
    VersionBlockInput in;
    in.FileVersion = in.ProductVersion = {1, 0, 0, 0};
    in.Strings = kFullStrings;
    in.Translations = {{0x0409, 0x04B0}};
    return in;
}

VersionNode StringTable(std::u16string key,
                        const std::vector<std::pair<std::u16string, std::u16string>>& strings) {
    VersionNode table{std::move(key), true, {}, {}};
    for (const auto& [name, text] : strings) {
        std::vector<std::uint8_t> value;
        for (char16_t c : text + u'\0') {
            value.push_back(static_cast<std::uint8_t>(c));
            value.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        table.Children.push_back({name, true, value, {}});
    }
    return table;
}

void ExpectSameData(const TEXEVersionData& got, const TEXEVersionData& want) {
#define CORVEXA_FIELD(f) EXPECT_EQ(got.f, want.f) << #f
    CORVEXA_FIELD(CompanyName);
    CORVEXA_FIELD(FileDescription);
    CORVEXA_FIELD(FileVersion);
    CORVEXA_FIELD(InternalName);
    CORVEXA_FIELD(LegalCopyright);
    CORVEXA_FIELD(LegalTrademarks);
    CORVEXA_FIELD(OriginalFileName);
    CORVEXA_FIELD(ProductName);
    CORVEXA_FIELD(ProductVersion);
    CORVEXA_FIELD(Comments);
    CORVEXA_FIELD(PrivateBuild);
    CORVEXA_FIELD(SpecialBuild);
#undef CORVEXA_FIELD
}

std::string Write(const TempDir& dir, const std::string& name, const std::string& bytes) {
    return dir.Write(name, bytes).string();
}

// Expects call() to throw the error code, with the file's name and the system's
// message for the code in the text.
void ExpectSystemError(const std::function<void()>& call, int code, const std::string& fileName) {
    try {
        call();
        ADD_FAILURE() << "no error, expected " << std::strerror(code);
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(code, std::system_category())) << e.what();
        const std::string what = e.what();
        EXPECT_NE(what.find(fileName), std::string::npos) << what;
        EXPECT_NE(what.find(std::system_category().message(code)), std::string::npos) << what;
    }
}

}  // namespace

TEST(GetVersionData, ReadsTheFieldsOfTheFirstTranslation) {
    struct Case {
        const char* what;
        std::function<ElfFile()> file;
        std::function<void(TEXEVersionData&)> expected;  // changes to FullData()
        FixedFileVersion fixed;
        std::u16string versionText, title;
    };
    const Case cases[] = {
        {"full block",
         [] { return ExecutableWith(BuildVersionBlock(FullInput())); },
         [](TEXEVersionData&) {},
         {1, 0, 0, 0},
         u"1.0",
         u"KELMARE - Corvexa"},
        {"no ProductName: the title ends with the separator",
         [] {
             VersionBlockInput in = FullInput();
             std::erase_if(in.Strings, [](const auto& s) { return s.first == u"ProductName"; });
             return ExecutableWith(BuildVersionBlock(in));
         },
         [](TEXEVersionData& d) { d.ProductName.clear(); },
         {1, 0, 0, 0},
         u"1.0",
         u"KELMARE - "},
        {"0407/04E4 first: its table whatever its key's case, names in any case, another table "
         "first",
         [] {
             VersionBlockInput in;
             in.FileVersion = {3, 1, 0, 0};
             in.Translations = {{0x0407, 0x04E4}, {0x0409, 0x04B0}};
             VersionNode tree = MakeVersionTree(in);
             tree.Children[0].Children = {
                 StringTable(u"040904B0",
                             {{u"CompanyName", u"wrong table"}, {u"ProductName", u"wrong table"}}),
                 StringTable(u"040704E4", {{u"companyname", u"KELMARE GmbH"},
                                           {u"PRODUCTNAME", u"Corvexa"},
                                           {u"originalFILENAME", u"corvexa.bin"}}),
             };
             return ExecutableWith(SerializeVersionNode(tree));
         },
         [](TEXEVersionData& d) {
             d = TEXEVersionData{};
             d.CompanyName = u"KELMARE GmbH";
             d.ProductName = u"Corvexa";
             d.OriginalFileName = u"corvexa.bin";
         },
         {3, 1, 0, 0},
         u"3.1",
         u"KELMARE GmbH - Corvexa"},
        {"0409/04B0 is read under 040904b0 from a table written 040904b0",
         [] {
             VersionBlockInput in = FullInput();
             in.StringTableKey = u"040904b0";
             return ExecutableWith(BuildVersionBlock(in));
         },
         [](TEXEVersionData&) {},
         {1, 0, 0, 0},
         u"1.0",
         u"KELMARE - Corvexa"},
        {"version text from the fixed version 2.5.0.0, not from the FileVersion text",
         [] {
             VersionBlockInput in = FullInput();
             in.FileVersion = {2, 5, 0, 0};
             in.ProductVersion = {7, 7, 7, 7};
             return ExecutableWith(BuildVersionBlock(in));
         },
         [](TEXEVersionData&) {},
         {2, 5, 0, 0},
         u"2.5",
         u"KELMARE - Corvexa"},
        {"10.12.3.4",
         [] {
             VersionBlockInput in = FullInput();
             in.FileVersion = {10, 12, 3, 4};
             return ExecutableWith(BuildVersionBlock(in));
         },
         [](TEXEVersionData&) {},
         {10, 12, 3, 4},
         u"10.12",
         u"KELMARE - Corvexa"},
        {"translation without a table of its own: every field empty",
         [] {
             VersionBlockInput in = FullInput();
             in.Translations = {{0x0409, 0x04E4}};
             in.StringTableKey = u"040904B0";
             return ExecutableWith(BuildVersionBlock(in));
         },
         [](TEXEVersionData& d) { d = TEXEVersionData{}; },
         {1, 0, 0, 0},
         u"1.0",
         u" - "},
        {"unknown names ignored, an empty text stays empty",
         [] {
             VersionBlockInput in = FullInput();
             in.Strings = {{u"Foo", u"bar"}, {u"Comments", u""}, {u"CompanyName", u"KELMARE"}};
             return ExecutableWith(BuildVersionBlock(in));
         },
         [](TEXEVersionData& d) {
             d = TEXEVersionData{};
             d.CompanyName = u"KELMARE";
         },
         {1, 0, 0, 0},
         u"1.0",
         u"KELMARE - "},
        {"32-bit little-endian file",
         [] { return ExecutableWith(BuildVersionBlock(FullInput()), false, true); },
         [](TEXEVersionData&) {},
         {1, 0, 0, 0},
         u"1.0",
         u"KELMARE - Corvexa"},
        {"64-bit big-endian file",
         [] { return ExecutableWith(BuildVersionBlock(FullInput()), true, false); },
         [](TEXEVersionData&) {},
         {1, 0, 0, 0},
         u"1.0",
         u"KELMARE - Corvexa"},
    };
    TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Write(dir, "exe" + std::to_string(n++), c.file().image);
        TEXEVersionData want = FullData();
        c.expected(want);
        ExpectSameData(GetVersionData(path), want);
        EXPECT_EQ(GetFixedFileVersion(path), c.fixed);
        const ProgramIdentity id = ReadProgramIdentity(path);
        EXPECT_EQ(id.CompanyName, want.CompanyName);
        EXPECT_EQ(id.ProductName, want.ProductName);
        EXPECT_EQ(id.VersionText, c.versionText);
        EXPECT_EQ(id.ProductTitle, c.title);
    }
}

TEST(GetVersionData, FileNameInUtf8) {
    TempDir dir;
    const std::string path =
        Write(dir, "Sürüm ünlü.bin", ExecutableWith(BuildVersionBlock(FullInput())).image);
    EXPECT_EQ(GetVersionData(path).CompanyName, u"KELMARE");
}

TEST(GetVersionData, ErrorsNameTheFileAndCarryTheSystemMessage) {
    const std::vector<std::uint8_t> full = BuildVersionBlock(FullInput());
    VersionBlockInput noTranslation = FullInput();
    noTranslation.Translations.clear();
    VersionNode emptyTranslation = MakeVersionTree(FullInput());
    emptyTranslation.Children[1].Children[0].Value.clear();
    VersionNode shortTranslation = MakeVersionTree(FullInput());
    shortTranslation.Children[1].Children[0].Value.resize(2);

    struct Case {
        const char* what;
        std::function<std::string()> content;  // the file's bytes
        int code;
        bool fixedReadable;  // GetFixedFileVersion succeeds
    };
    auto patched = [&](std::function<void(ElfFile&)> change) {
        return [=] {
            ElfFile f = ExecutableWith(full);
            change(f);
            return f.image;
        };
    };
    const Case cases[] = {
        {"empty file", [] { return std::string(); }, ENOEXEC, false},
        {"text file", [] { return std::string("CompanyName=KELMARE\nProductName=Corvexa\n"); },
         ENOEXEC, false},
        {"the version block alone, no executable around it",
         [&] { return std::string(full.begin(), full.end()); }, ENOEXEC, false},
        {"header cut short", [&] { return ExecutableWith(full).image.substr(0, 40); }, ENOEXEC,
         false},
        {"section headers cut off",
         [&] {
             ElfFile f = ExecutableWith(full);
             return f.image.substr(0, f.image.size() - 10);
         },
         ENOEXEC, false},
        {"section bytes beyond the end",
         patched([](ElfFile& f) { f.Patch(f.HeaderAt(1) + 24, f.image.size() - 8, 8); }), ENOEXEC,
         false},
        {"section size beyond the end",
         patched([](ElfFile& f) { f.Patch(f.HeaderAt(1) + 32, ~std::uint64_t{0} - 4, 8); }),
         ENOEXEC, false},
        {"name table out of range", patched([](ElfFile& f) { f.Patch(62, 40, 2); }), ENOEXEC,
         false},
        {"section header entries too small", patched([](ElfFile& f) { f.Patch(58, 16, 2); }),
         ENOEXEC, false},
        {"section count beyond the end", patched([](ElfFile& f) { f.Patch(60, 0xFFF0, 2); }),
         ENOEXEC, false},
        {"no section headers", patched([](ElfFile& f) { f.Patch(40, 0, 8); }), ENODATA, false},
        {"section name out of range",
         patched([](ElfFile& f) { f.Patch(f.HeaderAt(1), 0xFFFFFF, 4); }), ENODATA, false},
        {"no version section",
         [] {
             return MakeElf({{".text", {1, 2, 3}}, {".corvexa_versio", {1, 2, 3}}}).image;
         },
         ENODATA, false},
        {"version section without bytes in the file",
         [&] {
             return MakeElf({{kVersionSection, full, kNoBits}}).image;
         },
         ENODATA, false},
        {"garbage in the version section",
         [] { return ExecutableWith(std::vector<std::uint8_t>(300, 0xAB)).image; }, ENODATA, false},
        {"version block cut by its section",
         [&] {
             return ExecutableWith(std::vector<std::uint8_t>(full.begin(), full.begin() + 100))
                 .image;
         },
         ENODATA, false},
        {"no translation", [&] { return ExecutableWith(BuildVersionBlock(noTranslation)).image; },
         ENODATA, true},
        {"empty translation list",
         [&] { return ExecutableWith(SerializeVersionNode(emptyTranslation)).image; }, ENODATA,
         true},
        {"translation list of half an entry",
         [&] { return ExecutableWith(SerializeVersionNode(shortTranslation)).image; }, ENODATA,
         true},
    };
    TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Write(dir, "file" + std::to_string(n++), c.content());
        ExpectSystemError([&] { GetVersionData(path); }, c.code, path);
        ExpectSystemError([&] { ReadProgramIdentity(path); }, c.code, path);
        if (c.fixedReadable)
            EXPECT_EQ(GetFixedFileVersion(path), (FixedFileVersion{1, 0, 0, 0}));
        else
            ExpectSystemError([&] { GetFixedFileVersion(path); }, c.code, path);
    }

    const std::string missing = (dir.Path() / "no such file").string();
    ExpectSystemError([&] { GetVersionData(missing); }, ENOENT, missing);
    ExpectSystemError([&] { ReadProgramIdentity(missing); }, ENOENT, missing);
    const std::string folder = dir.MakeDir("folder").string();
    ExpectSystemError([&] { GetVersionData(folder); }, EISDIR, folder);
}

TEST(GetVersionData, CutsOfARealFileNeverReadOutOfBounds) {
    // Every cut of a fixture file fails cleanly or, once the file is whole, reads.
    const std::string image = ExecutableWith(BuildVersionBlock(FullInput())).image;
    TempDir dir;
    for (std::size_t n = 0; n < image.size(); n += 3) {
        const std::string path = Write(dir, "cut", image.substr(0, n));
        EXPECT_THROW(GetVersionData(path), std::system_error) << n;
    }
    EXPECT_EQ(GetVersionData(Write(dir, "cut", image)).ProductName, u"Corvexa");
}

TEST(ProgramIdentity, OfTheBuiltScanner) {
    const char* exe = std::getenv("CORVEXA_SCAN");
    if (!exe) GTEST_SKIP() << "CORVEXA_SCAN is not set";
    const TEXEVersionData d = GetVersionData(exe);
    EXPECT_EQ(d.CompanyName, u"KELMARE");
    EXPECT_EQ(d.ProductName, u"Corvexa");
    EXPECT_EQ(d.FileDescription, u"Corvexa address scan");
    EXPECT_EQ(d.FileVersion, u"1.0.0.0");
    EXPECT_EQ(d.ProductVersion, u"1.0.0.0");
    EXPECT_EQ(d.InternalName, u"corvexa-scan");
    EXPECT_EQ(d.OriginalFileName, u"corvexa-scan");
    EXPECT_EQ(d.LegalCopyright, u"Copyright (C) 2026 KELMARE");
    EXPECT_EQ(d.LegalTrademarks, u"");
    EXPECT_EQ(GetFixedFileVersion(exe), (FixedFileVersion{1, 0, 0, 0}));

    const ProgramIdentity id = ReadProgramIdentity(exe);
    EXPECT_EQ(id.CompanyName, u"KELMARE");
    EXPECT_EQ(id.ProductName, u"Corvexa");
    EXPECT_EQ(id.VersionText, u"1.0");
    EXPECT_EQ(id.ProductTitle, u"KELMARE - Corvexa");
}
