#pragma once

#include <QString>
#include <string_view>

#include "engine/readers/document_kinds.h"
#include "engine/settings_table.h"
#include "ui/settings/ini_store.h"

namespace corvexa::ui {

// The table of keys and defaults is shared with the command line.
using corvexa::DefaultOn;
using corvexa::Info;
using corvexa::kSettings;
using corvexa::SettingInfo;
using corvexa::SettingKey;
using corvexa::SettingKind;

QString KeyName(SettingKey key);
// The key written under that name (a document kind's switch).
SettingKey KeyNamed(std::string_view name);

// On/off keys that are on by default are off only when the value is exactly
// "OFF" (anything else, "off" included, means on); those off by default are on
// only at exactly "ON". An absent key reads as its default.
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
