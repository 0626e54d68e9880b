#include "ui/settings/settings_keys.h"

namespace corvexa::ui {
namespace {

// Info() indexes the table by the key's number.
constexpr bool TableInKeyOrder() {
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        if (static_cast<std::size_t>(kSettings[i].key) != i) return false;
    }
    return true;
}
static_assert(TableInKeyOrder());

}  // namespace

const SettingInfo& Info(SettingKey key) { return kSettings[static_cast<std::size_t>(key)]; }

QString KeyName(SettingKey key) { return QString::fromLatin1(Info(key).name); }

SettingKey KeyNamed(std::string_view name) {
    for (const SettingInfo& info : kSettings)
        if (name == info.name) return info.key;
    return SettingKey::DetectEmail;  // not reached: every kind's key is in the table
}

bool IsOn(const IniStore& store, SettingKey key) {
    const QString name = KeyName(key);
    if (!store.Contains(name)) return QLatin1String(Info(key).defaultValue) == QLatin1String("ON");
    return store.Value(name) != QLatin1String("OFF");
}

QString OnOff(bool on) { return on ? QStringLiteral("ON") : QStringLiteral("OFF"); }

PlainTextProcessing ReadPlainTextProcessing(const IniStore& store) {
    return store.Value(KeyName(SettingKey::PlainTextProcessing)) == QLatin1String("MemoryStream")
               ? PlainTextProcessing::MemoryStream
               : PlainTextProcessing::FileStream;
}

QString PlainTextProcessingText(PlainTextProcessing mode) {
    return mode == PlainTextProcessing::MemoryStream ? QStringLiteral("MemoryStream")
                                                     : QStringLiteral("FileStream");
}

PdfMode ReadPdfProcessing(const IniStore& store) {
    const QString value = store.Value(KeyName(SettingKey::PdfProcessing));
    const QLatin1String byDefault(Info(SettingKey::PdfProcessing).defaultValue);
    PdfMode mode = PdfMode::Xpdf;
    for (const PdfModeInfo& m : kPdfModes) {
        const QString name = QString::fromLatin1(m.settingsValue.data(), qsizetype(m.settingsValue.size()));
        if (value == name) return m.mode;
        if (name == byDefault) mode = m.mode;
    }
    return mode;
}

QString PdfProcessingText(PdfMode mode) {
    const std::string_view name = PdfModeNames(mode).settingsValue;
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

QString ReadFolder(const IniStore& store, const QString& desktopFolder) {
    const QString key = KeyName(SettingKey::Folder);
    return store.Contains(key) ? store.Value(key) : desktopFolder;
}

QString ReadFileMask(const IniStore& store) {
    const QString key = KeyName(SettingKey::FileMask);
    return store.Contains(key) ? store.Value(key) : QString::fromLatin1(Info(SettingKey::FileMask).defaultValue);
}

int ReadSkipLargeFilesMB(const IniStore& store) {
    bool ok = false;
    const int mb = store.Value(KeyName(SettingKey::SkipLargeFilesMB)).toInt(&ok, 10);
    return ok ? mb : QByteArray(Info(SettingKey::SkipLargeFilesMB).defaultValue).toInt();
}

QString SkipLargeFilesMBToStore(const QString& typedText) {
    bool ok = false;
    const int mb = typedText.toInt(&ok, 10);
    return QString::number(ok ? mb : 0);
}

}  // namespace corvexa::ui
