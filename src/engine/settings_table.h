#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "engine/readers/document_kinds.h"

namespace corvexa {

// The keys of the window's settings file (section "Settings"). Their defaults
// are also where the command line starts from.
enum class SettingKey {
    DetectEmail,
    DetectFtp,
    DetectHttp,
    DetectHttps,
    DetectWww,
    PlainTextProcessing,
    PdfProcessing,
    DecodeEML,
    DecodeExcel,
    DecodeWord,
    Folder,
    FileMask,
    IncludeSubfolders,
    SkipLargeFiles,
    SkipLargeFilesMB,
    LinkTargets,
    ReadArchives,
    ReadMailboxes,
};

enum class SettingKind {
    OnOff,     // "ON" / "OFF"
    Choice,    // one of a few exact texts
    FreeText,  // any text
    Integer,   // a decimal integer
};

struct SettingInfo {
    SettingKey key;
    const char* name;  // as written in the file
    SettingKind kind;
    // The value that applies when the key is absent (or, except for FreeText keys,
    // unreadable). Folder has none here: its default is the desktop folder.
    const char* defaultValue;
};

// The values of PlainTextProcessing, in the order of the window's menu.
struct PlainTextModeInfo {
    bool memoryStream;  // the whole file in memory, else read as a stream
    std::string_view settingsValue;
    std::string_view menuCaption;
    std::string_view menuObjectName;
};
inline constexpr std::array<PlainTextModeInfo, 2> kPlainTextModes = {{
    {false, "FileStream", "File Stream", "FileStream1"},
    {true, "MemoryStream", "Memory Stream", "MemoryStream1"},
}};

inline constexpr std::array<SettingInfo, 18> kSettings = {{
    {SettingKey::DetectEmail, "DetectEmail", SettingKind::OnOff, "ON"},
    {SettingKey::DetectFtp, "DetectFtp", SettingKind::OnOff, "ON"},
    {SettingKey::DetectHttp, "DetectHttp", SettingKind::OnOff, "ON"},
    {SettingKey::DetectHttps, "DetectHttps", SettingKind::OnOff, "ON"},
    {SettingKey::DetectWww, "DetectWww", SettingKind::OnOff, "ON"},
    {SettingKey::PlainTextProcessing, "PlainTextProcessing", SettingKind::Choice,
     kPlainTextModes[0].settingsValue.data()},
    {SettingKey::PdfProcessing, "PdfProcessing", SettingKind::Choice, "Xpdf"},
    {SettingKey::DecodeEML, "DecodeEML", SettingKind::OnOff, "ON"},
    {SettingKey::DecodeExcel, "DecodeExcel", SettingKind::OnOff, "ON"},
    {SettingKey::DecodeWord, "DecodeWord", SettingKind::OnOff, "ON"},
    {SettingKey::Folder, "Folder", SettingKind::FreeText, ""},
    {SettingKey::FileMask, "FileMask", SettingKind::FreeText, "*.txt"},
    {SettingKey::IncludeSubfolders, "IncludeSubfolders", SettingKind::OnOff, "ON"},
    {SettingKey::SkipLargeFiles, "SkipLargeFiles", SettingKind::OnOff, "ON"},
    {SettingKey::SkipLargeFilesMB, "SkipLargeFilesMB", SettingKind::Integer, "1024"},
    // The switches of kContainerSwitches, off by default.
    {SettingKey::LinkTargets, "LinkTargets", SettingKind::OnOff, "OFF"},
    {SettingKey::ReadArchives, "ReadArchives", SettingKind::OnOff, "OFF"},
    {SettingKey::ReadMailboxes, "ReadMailboxes", SettingKind::OnOff, "OFF"},
}};

namespace settings_detail {
// Info() indexes the table by the key's number.
constexpr bool TableInKeyOrder() {
    for (std::size_t i = 0; i < kSettings.size(); ++i)
        if (static_cast<std::size_t>(kSettings[i].key) != i) return false;
    return true;
}
static_assert(TableInKeyOrder());
}  // namespace settings_detail

constexpr const SettingInfo& Info(SettingKey key) {
    return kSettings[static_cast<std::size_t>(key)];
}

// The default of an on/off key.
constexpr bool DefaultOn(SettingKey key) {
    return std::string_view(Info(key).defaultValue) == "ON";
}

// The default size above which the window skips files, in mebibytes.
constexpr int DefaultSkipLargeFilesMB() {
    int mb = 0;
    for (const char* c = Info(SettingKey::SkipLargeFilesMB).defaultValue; *c; ++c)
        mb = mb * 10 + (*c - '0');
    return mb;
}
static_assert(DefaultSkipLargeFilesMB() > 0);

// The default ways of reading plain text and PDF files.
constexpr bool DefaultMemoryStream() {
    for (const PlainTextModeInfo& m : kPlainTextModes)
        if (m.settingsValue == Info(SettingKey::PlainTextProcessing).defaultValue)
            return m.memoryStream;
    return false;
}
constexpr PdfMode DefaultPdfMode() {
    for (const PdfModeInfo& m : kPdfModes)
        if (m.settingsValue == Info(SettingKey::PdfProcessing).defaultValue) return m.mode;
    return PdfMode::PlainText;
}

}  // namespace corvexa
