#pragma once

// Language files and the text lookup through which windows show their texts in
// the user's language.
//
// A language file is a UTF-8 text file named after its language, ending in
// ".lang.txt", in the folder "Languages" beside the executable. Each entry is one
// line: "{", the English text, "}", then the translation up to the end of the
// line. "LanguageCodes.csv" in the same folder maps Windows user-interface
// language identifiers to language file names ("1031,German.lang.txt").
//
// The state is built once, by LoadLanguage, before any worker thread starts, and
// only read afterwards; lookups need no lock.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "engine/readers/text_reader.h"

namespace corvexa::i18n {

struct LocalisationState {
    QString LanguageFolder;      // executable's folder + "Languages"
    QStringList AvailableFiles;  // names of the language files found, file-system order
    QString ActiveFilePath;      // language folder + "/" + file name; empty for English
    QString ActiveName;          // file name up to its first ".lang.txt"; empty for English
    QStringList ActiveLines;     // the active file's lines, in file order
};

// A language file that exists but cannot be read.
class LanguageFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Builds the localisation state from the Languages folder beside the executable
// and the current user's interface language. A non-empty fileName (a file name
// inside the language folder, e.g. "German.lang.txt") is used as given; an empty
// one means: pick the file that LanguageCodes.csv names for the user's language.
// A name that is not present leaves English active. Throws LanguageFileError when
// the chosen file exists but cannot be read (English is active then).
void LoadLanguage(const QString& fileName);

// The same with its inputs given: exeFolder is the executable's folder with its
// trailing separator, uiLanguage the Windows user-interface language identifier.
void LoadLanguageFrom(const QString& exeFolder, const QString& fileName, std::uint16_t uiLanguage);

// Appends to the available language files the name of every file (not folder)
// in folder whose name ends in "lang.txt", ignoring case, in file-system order.
void FindLanguageFiles(const QString& folder);

const LocalisationState& Localisation();

// The display text for an English text: the translation from the active language
// file, or text itself when there is no active file, no line for it, or an empty
// translation. Never fails.
QString TranslateText(const QString& text);

// The same lookup against the given language-file lines. Answers text when lines
// is empty or holds no line for it, and the translation even when it is empty.
QString TranslateFromList(const QString& text, const QStringList& lines);

// Reads a language file: UTF-8 with or without byte-order mark, lines ending in
// CR LF, LF or a lone CR. Throws LanguageFileError when it cannot be read.
QStringList ReadLanguageLines(const QString& path);
// The same for a language file's bytes already in memory. Never fails.
QStringList LanguageLinesOf(QByteArray bytes);

// The entry LanguageCodes.csv gives for a user-interface language, from the
// table's lines or its bytes (read in the given ANSI code page), as it is listed
// among available (letter case ignored); empty when there is none. Touches no
// process-wide state.
QString FileForUiLanguageIn(const Lines& lines, std::uint16_t uiLanguage,
                            const QStringList& available);
QString FileForUiLanguageIn(std::string_view tableBytes, std::uint16_t uiLanguage,
                            const QStringList& available, int ansiCodePage);

// The user's language choice, kept for the next start: the window stores the
// file name the user picked, and the next start passes it to LoadLanguage.
// Kept in the native per-user settings of company/product, group "Settings",
// key "LanguageFile".
void StoreLanguageChoice(const QString& company, const QString& product, const QString& fileName);
// Empty when no choice is stored or the store cannot be read. Storing throws
// platform::ProductStoreError when the store cannot be written.
QString StoredLanguageChoice(const QString& company, const QString& product);

}  // namespace corvexa::i18n
