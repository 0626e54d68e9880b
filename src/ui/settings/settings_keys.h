#pragma once

#include <QString>

#include <array>
#include <string_view>

#include "engine/readers/document_kinds.h"
#include "ui/settings/ini_store.h"

namespace corvexa::ui {

// The keys of the section "Settings".
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
};

enum class SettingKind {
    OnOff,    // "ON" / "OFF"
    Choice,   // one of a few exact texts
    Text,     // any text
    Integer,  // a decimal integer
};

struct SettingInfo {
    SettingKey key;
    const char* name;  // as written in the file
    SettingKind kind;
    // The value that applies when the key is absent (or, except for Text keys,
    // unreadable). Folder has none here: its default is the desktop folder.
    const char* defaultValue;
};

inline constexpr std::array<SettingInfo, 15> kSettings = {{
    {SettingKey::DetectEmail, "DetectEmail", SettingKind::OnOff, "ON"},
    {SettingKey::DetectFtp, "DetectFtp", SettingKind::OnOff, "ON"},
    {SettingKey::DetectHttp, "DetectHttp", SettingKind::OnOff, "ON"},
    {SettingKey::DetectHttps, "DetectHttps", SettingKind::OnOff, "ON"},
    {SettingKey::DetectWww, "DetectWww", SettingKind::OnOff, "ON"},
    {SettingKey::PlainTextProcessing, "PlainTextProcessing", SettingKind::Choice, "FileStream"},
    {SettingKey::PdfProcessing, "PdfProcessing", SettingKind::Choice, "Xpdf"},
    {SettingKey::DecodeEML, "DecodeEML", SettingKind::OnOff, "ON"},
    {SettingKey::DecodeExcel, "DecodeExcel", SettingKind::OnOff, "ON"},
    {SettingKey::DecodeWord, "DecodeWord", SettingKind::OnOff, "ON"},
    {SettingKey::Folder, "Folder", SettingKind::Text, ""},
    {SettingKey::FileMask, "FileMask", SettingKind::Text, "*.txt"},
    {SettingKey::IncludeSubfolders, "IncludeSubfolders", SettingKind::OnOff, "ON"},
    {SettingKey::SkipLargeFiles, "SkipLargeFiles", SettingKind::OnOff, "ON"},
    {SettingKey::SkipLargeFilesMB, "SkipLargeFilesMB", SettingKind::Integer, "1024"},
}};

const SettingInfo& Info(SettingKey key);
QString KeyName(SettingKey key);
// The key written under that name (a document kind's switch).
SettingKey KeyNamed(std::string_view name);

// On/off keys are off only when the value is exactly "OFF"; anything else,
// "off" included, means on; an absent key reads as its default.
bool IsOn(const IniStore& store, SettingKey key);
QString OnOff(bool on);  // "ON" / "OFF"

enum class PlainTextProcessing { FileStream, MemoryStream };
// Exact "MemoryStream", else FileStream.
PlainTextProcessing ReadPlainTextProcessing(const IniStore& store);
QString PlainTextProcessingText(PlainTextProcessing mode);

// Exact "PlainText", "Xpdf" or "PDFium", else the default.
PdfMode ReadPdfProcessing(const IniStore& store);
QString PdfProcessingText(PdfMode mode);

// The default applies only when the key is absent; present but empty gives "".
QString ReadFolder(const IniStore& store, const QString& desktopFolder);
QString ReadFileMask(const IniStore& store);

// The default when the value does not read as a 32-bit decimal integer; no range.
int ReadSkipLargeFilesMB(const IniStore& store);
// What the size field's text stores: its decimal integer, "0" for anything else.
QString SkipLargeFilesMBToStore(const QString& typedText);

}  // namespace corvexa::ui
