#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>
#include <utility>
#include <vector>

namespace corvexa::ui {

// A failed write of the settings file; what() names the file and the reason.
class SettingsWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The settings file, held in memory for the whole run and written back whole
// after every change.
//
// Reading: UTF-8 INI text, with or without a byte-order mark; section and key
// names match without regard to letter case; spaces around names and values
// are ignored; lines starting with ';' are comments; lines ending in CR LF, LF
// or CR. Sections other than "Settings" are kept and written back.
//
// Writing: UTF-8 with a byte-order mark, CR LF, each section as "[Name]", one
// "Key=Value" line per key in first-written (or file) order, then an empty line.
// The file is replaced atomically, so a failed write leaves the old file as it was.
class IniStore {
public:
    // Reads the file once. A missing file gives an empty store; a file that cannot
    // be read or is not valid UTF-8 is deleted and the store starts empty.
    void Open(const QString& path);
    // Takes the store's content from a file's bytes, in memory only: no file is
    // read, written or deleted. False when the bytes are not valid UTF-8; the
    // store is then empty.
    bool ParseBytes(QByteArray bytes);

    // Keys of the section "Settings".
    bool Contains(const QString& key) const;
    QString Value(const QString& key) const;  // empty when absent

    // Stores the value in memory and then writes the whole file. Line breaks in
    // the value become spaces, since the file has no way to hold them. On failure
    // throws SettingsWriteError; the value stays in memory for the next write.
    void SetValue(const QString& key, const QString& value);

    // The file's bytes as they would be written now.
    QByteArray Serialize() const;

    QString Path() const { return path_; }

private:
    struct Section {
        QString name;
        std::vector<std::pair<QString, QString>> entries;
    };

    void Parse(const QString& text);
    Section& SectionNamed(const QString& name);
    const Section* FindSection(const QString& name) const;
    void Write() const;

    QString path_;
    std::vector<Section> sections_;
};

}  // namespace corvexa::ui
