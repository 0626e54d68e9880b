#include "ui/settings/ini_store.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/replace_file.h"
#include "platform/utf8.h"

namespace corvexa::ui {
namespace {

constexpr QLatin1String kSettingsSection("Settings");
constexpr char kBom[] = "\xEF\xBB\xBF";

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Reads the whole file; false when it exists but cannot be read.
bool ReadBytes(const QString& path, QByteArray* bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    *bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
}

}  // namespace

void IniStore::Open(const QString& path) {
    path_ = path;
    sections_.clear();
    if (!QFileInfo::exists(path)) return;
    QByteArray bytes;
    if (!ReadBytes(path, &bytes) || !ParseBytes(bytes)) QFile::remove(path);
}

bool IniStore::ParseBytes(QByteArray bytes) {
    sections_.clear();
    if (bytes.startsWith(kBom)) bytes.remove(0, 3);
    if (!utf8::IsValid(std::string_view(bytes.constData(), std::size_t(bytes.size()))))
        return false;
    Parse(QString::fromUtf8(bytes));
    return true;
}

void IniStore::Parse(const QString& text) {
    QString normalized = text;
    normalized.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    normalized.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    Section* current = nullptr;  // lines before the first header belong to no section
    for (const QStringView raw : QStringView(normalized).split(QLatin1Char('\n'))) {
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            current = &SectionNamed(line.mid(1, line.size() - 2).trimmed().toString());
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (current == nullptr || eq <= 0) continue;
        const QString key = line.left(eq).trimmed().toString();
        if (key.isEmpty()) continue;
        auto& entries = current->entries;
        const bool known = std::any_of(entries.begin(), entries.end(),
                                       [&](const auto& e) { return SameName(e.first, key); });
        if (!known) entries.emplace_back(key, line.mid(eq + 1).trimmed().toString());
    }
}

IniStore::Section& IniStore::SectionNamed(const QString& name) {
    for (Section& section : sections_) {
        if (SameName(section.name, name)) return section;
    }
    sections_.push_back(Section{name, {}});
    return sections_.back();
}

const IniStore::Section* IniStore::FindSection(const QString& name) const {
    for (const Section& section : sections_) {
        if (SameName(section.name, name)) return &section;
    }
    return nullptr;
}

bool IniStore::Contains(const QString& key) const {
    const Section* section = FindSection(kSettingsSection);
    if (section == nullptr) return false;
    return std::any_of(section->entries.begin(), section->entries.end(),
                       [&](const auto& e) { return SameName(e.first, key); });
}

QString IniStore::Value(const QString& key) const {
    if (const Section* section = FindSection(kSettingsSection)) {
        for (const auto& [name, value] : section->entries) {
            if (SameName(name, key)) return value;
        }
    }
    return QString();
}

void IniStore::SetValue(const QString& key, const QString& value) {
    QString clean = value;
    clean.replace(QLatin1Char('\r'), QLatin1Char(' '));
    clean.replace(QLatin1Char('\n'), QLatin1Char(' '));

    auto& entries = SectionNamed(kSettingsSection).entries;
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const auto& e) { return SameName(e.first, key); });
    if (it != entries.end()) {
        it->second = clean;
    } else {
        entries.emplace_back(key, clean);
    }
    Write();
}

QByteArray IniStore::Serialize() const {
    QString text;
    for (const Section& section : sections_) {
        text += QLatin1Char('[') + section.name + QLatin1String("]\r\n");
        for (const auto& [name, value] : section.entries) {
            text += name + QLatin1Char('=') + value + QLatin1String("\r\n");
        }
        text += QLatin1String("\r\n");
    }
    return QByteArray(kBom) + text.toUtf8();
}

void IniStore::Write() const {
    // The new text goes to a temporary file beside the old one, which then takes
    // its place in one step: a crash or a full disk never leaves half a file,
    // and a link planted under the file's name is replaced, never written
    // through.
    const QByteArray bytes = Serialize();
    if (!platform::ReplaceFileWith(
            QFile::encodeName(path_).toStdString(),
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
            platform::NewFileMode())) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        throw SettingsWriteError(QStringLiteral("Cannot write the settings file \"%1\": %2")
                                     .arg(path_, reason)
                                     .toStdString());
    }
}

}  // namespace corvexa::ui
