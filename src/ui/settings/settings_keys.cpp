#include "ui/settings/settings_keys.h"

namespace corvexa::ui {

QString KeyName(SettingKey key) {
    return QString::fromLatin1(Info(key).name);
}

SettingKey KeyNamed(std::string_view name) {
    for (const SettingInfo& info : kSettings)
        if (name == info.name) return info.key;
    return SettingKey::DetectEmail;  // not reached: every kind's key is in the table
}

bool IsOn(const IniStore& store, SettingKey key) {
    const QString name = KeyName(key);
    if (!store.Contains(name)) return DefaultOn(key);
    // Only the value opposite to the default leaves it: a key on by default is
    // off only at "OFF", one off by default on only at "ON".
    const QString value = store.Value(name);
    return DefaultOn(key) ? value != QLatin1String("OFF") : value == QLatin1String("ON");
}

QString OnOff(bool on) {
    return on ? QStringLiteral("ON") : QStringLiteral("OFF");
}

PlainTextProcessing ReadPlainTextProcessing(const IniStore& store) {
    const QString value = store.Value(KeyName(SettingKey::PlainTextProcessing));
    bool memory = DefaultMemoryStream();
    for (const PlainTextModeInfo& m : kPlainTextModes)
        if (value == QString::fromLatin1(m.settingsValue.data(), qsizetype(m.settingsValue.size())))
            memory = m.memoryStream;
    return memory ? PlainTextProcessing::MemoryStream : PlainTextProcessing::FileStream;
}

QString PlainTextProcessingText(PlainTextProcessing mode) {
    const bool memory = mode == PlainTextProcessing::MemoryStream;
    for (const PlainTextModeInfo& m : kPlainTextModes)
        if (m.memoryStream == memory)
            return QString::fromLatin1(m.settingsValue.data(), qsizetype(m.settingsValue.size()));
    return {};  // not reached: both modes are in the table
}

PdfMode ReadPdfProcessing(const IniStore& store) {
    const QString value = store.Value(KeyName(SettingKey::PdfProcessing));
    for (const PdfModeInfo& m : kPdfModes)
        if (value == QString::fromLatin1(m.settingsValue.data(), qsizetype(m.settingsValue.size())))
            return m.mode;
    return DefaultPdfMode();
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
    return store.Contains(key) ? store.Value(key)
                               : QString::fromLatin1(Info(SettingKey::FileMask).defaultValue);
}

int ReadSkipLargeFilesMB(const IniStore& store) {
    bool ok = false;
    const int mb = store.Value(KeyName(SettingKey::SkipLargeFilesMB)).toInt(&ok, 10);
    return ok ? mb : DefaultSkipLargeFilesMB();
}

QString SkipLargeFilesMBToStore(const QString& typedText) {
    bool ok = false;
    const int mb = typedText.toInt(&ok, 10);
    return QString::number(ok ? mb : 0);
}

}  // namespace corvexa::ui
