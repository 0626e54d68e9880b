#include "version/version_info.h"

#include <cerrno>
#include <system_error>
#include <vector>

#include "version/elf_section.h"

namespace corvexa::version {

namespace {

[[noreturn]] void NoData(const std::string& fileName) {
    throw std::system_error(std::error_code(ENODATA, std::system_category()), fileName);
}

// The file's version block, checked to start with a well-formed root node and
// cut to that node's length.
std::vector<std::uint8_t> LoadVersionBlock(const std::string& fileName) {
    std::optional<std::vector<std::uint8_t>> section =
        ReadElfSection(fileName, kVersionSection, kMaxBlockSize);
    std::size_t length = 0;
    if (!section || !IsVersionBlock(*section, &length)) NoData(fileName);
    section->resize(length);
    return std::move(*section);
}

TEXEVersionData VersionDataOfBlock(const std::vector<std::uint8_t>& block,
                                   const std::string& fileName) {
    std::optional<VersionValue> translation =
        QueryVersionValue(block, u"\\VarFileInfo\\Translation\\");
    // An empty or cut-off list has no first entry to read.
    if (!translation || translation->Bytes.size() < 4) NoData(fileName);
    const auto& t = translation->Bytes;
    const unsigned language = t[0] | (t[1] << 8), codePage = t[2] | (t[3] << 8);

    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string prefix = u"\\StringFileInfo\\";
    for (unsigned v : {language, codePage})
        for (int shift = 12; shift >= 0; shift -= 4) prefix.push_back(kDigits[(v >> shift) & 0xF]);
    prefix.push_back(u'\\');

    TEXEVersionData data;
    const std::pair<const char16_t*, std::u16string TEXEVersionData::*> fields[] = {
        {u"CompanyName", &TEXEVersionData::CompanyName},
        {u"FileDescription", &TEXEVersionData::FileDescription},
        {u"FileVersion", &TEXEVersionData::FileVersion},
        {u"InternalName", &TEXEVersionData::InternalName},
        {u"LegalCopyright", &TEXEVersionData::LegalCopyright},
        {u"LegalTrademarks", &TEXEVersionData::LegalTrademarks},
        {u"OriginalFileName", &TEXEVersionData::OriginalFileName},
        {u"ProductName", &TEXEVersionData::ProductName},
        {u"ProductVersion", &TEXEVersionData::ProductVersion},
        {u"Comments", &TEXEVersionData::Comments},
        {u"PrivateBuild", &TEXEVersionData::PrivateBuild},
        {u"SpecialBuild", &TEXEVersionData::SpecialBuild},
    };
    for (const auto& [name, member] : fields) {
        if (std::optional<VersionValue> v = QueryVersionValue(block, prefix + name))
            data.*member = TextOfValue(v->Bytes);
    }
    return data;
}

FixedFileVersion FixedVersionOfBlock(const std::vector<std::uint8_t>& block,
                                     const std::string& fileName) {
    std::optional<FixedFileVersion> v = FixedFileVersionOfBlock(block);
    if (!v) NoData(fileName);
    return *v;
}

}  // namespace

TEXEVersionData GetVersionData(const std::string& fileName) {
    return VersionDataOfBlock(LoadVersionBlock(fileName), fileName);
}

FixedFileVersion GetFixedFileVersion(const std::string& fileName) {
    return FixedVersionOfBlock(LoadVersionBlock(fileName), fileName);
}

ProgramIdentity ReadProgramIdentity(const std::string& exePath) {
    const std::vector<std::uint8_t> block = LoadVersionBlock(exePath);
    const TEXEVersionData data = VersionDataOfBlock(block, exePath);
    const FixedFileVersion fixed = FixedVersionOfBlock(block, exePath);

    ProgramIdentity id;
    id.CompanyName = data.CompanyName;
    id.ProductName = data.ProductName;
    for (char c : std::to_string(fixed.Major) + "." + std::to_string(fixed.Minor))
        id.VersionText.push_back(c);
    id.ProductTitle = id.CompanyName + u" - " + id.ProductName;
    return id;
}

}  // namespace corvexa::version
