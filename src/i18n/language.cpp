#include "i18n/language.h"

#include <QCollator>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <exception>
#include <optional>
#include <utility>

#include "engine/readers/text_reader.h"
#include "engine/text.h"
#include "platform/ansi_codepage.h"
#include "platform/ascii.h"
#include "platform/desktop.h"
#include "platform/product_store.h"
#include "platform/ui_language.h"

namespace corvexa::i18n {

namespace {

const QString kLanguagesFolder = QStringLiteral("Languages");
const QString kCodeTable = QStringLiteral("LanguageCodes.csv");
const QString kFileSuffix = QStringLiteral(".lang.txt");
const QString kFileWildcardTail = QStringLiteral("lang.txt");

LocalisationState& State() {
    static LocalisationState state;
    return state;
}

// Removes spaces and control characters from both ends.
QString TrimControl(const QString& s) {
    const TextView trimmed = TrimControls(
        TextView(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())));
    return QString(reinterpret_cast<const QChar*>(trimmed.data()),
                   static_cast<qsizetype>(trimmed.size()));
}

QString AsciiLower(const QString& s) {
    QString out = s;
    for (QChar& c : out) {
        c = QChar(ascii::ToLower(c.unicode()));
    }
    return out;
}

QStringList SplitLines(const QString& text) {
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c != u'\r' && c != u'\n') continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1].unicode() == u'\n') ++i;
        start = i + 1;
    }
    if (start < n) lines.append(text.mid(start));
    return lines;
}

// The linguistic, case-sensitive comparison of the user's default locale. One
// per thread: a collator is not safe to share between threads.
const QCollator& UserCollator() {
    thread_local const QCollator collator = [] {
        QCollator c{QLocale()};
        c.setCaseSensitivity(Qt::CaseSensitive);
        c.setNumericMode(false);
        c.setIgnorePunctuation(false);
        return c;
    }();
    return collator;
}

// The translation on the first line that begins with "{" + text + "}", or
// nothing when no line does.
std::optional<QString> Lookup(const QString& text, const QStringList& lines) {
    const QString probe = QLatin1Char('{') + text + QLatin1Char('}');
    const QCollator& collator = UserCollator();
    for (const QString& line : lines) {
        if (line.size() < probe.size()) continue;
        if (collator.compare(QStringView(line).left(probe.size()), probe) != 0) continue;
        return line.mid(line.indexOf(QLatin1Char('}')) + 1);
    }
    return std::nullopt;
}

void AppendLanguageFiles(const QString& folder, QStringList& files) {
    // Everything the folder lists except folders, in the order it lists them.
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (name.endsWith(kFileWildcardTail, Qt::CaseInsensitive)) files.append(name);
    }
}

// The language file LanguageCodes.csv names for the user's language, as it is
// listed among the available files; empty when there is none.
QString FileForUiLanguage(const QString& codeTable, std::uint16_t uiLanguage,
                          const QStringList& available) {
    Lines lines;
    try {
        LoadLines(codeTable.toStdU16String(), Encoding::Ansi, platform::AnsiCodePage(), lines);
    } catch (const std::exception&) {
        lines.Clear();  // an unreadable table counts as an empty one
    }
    return FileForUiLanguageIn(lines, uiLanguage, available);
}

}  // namespace

QString FileForUiLanguageIn(const Lines& lines, std::uint16_t uiLanguage,
                            const QStringList& available) {
    const QString wanted = QString::number(uiLanguage);
    QString named;
    bool found = false;
    for (std::size_t i = 0; i < lines.Size() && !found; ++i) {
        const TextView view = lines[i];
        const QString line =
            QStringView(view.data(), static_cast<qsizetype>(view.size())).toString();
        const qsizetype comma = line.indexOf(QLatin1Char(','));
        if (comma < 0) continue;
        if (TrimControl(line.left(comma)) != wanted) continue;
        named = AsciiLower(TrimControl(line.mid(comma + 1)));
        found = true;
    }
    if (!found) return {};
    for (const QString& file : available) {
        if (AsciiLower(file) == named) return file;
    }
    return {};
}

QString FileForUiLanguageIn(std::string_view tableBytes, std::uint16_t uiLanguage,
                            const QStringList& available, int ansiCodePage) {
    Lines lines;
    MemorySource source(tableBytes);
    try {
        LoadLines(source, Encoding::Ansi, ansiCodePage, lines);
    } catch (const std::exception&) {
        lines.Clear();
    }
    return FileForUiLanguageIn(lines, uiLanguage, available);
}

QStringList LanguageLinesOf(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    // Bytes that are not UTF-8 become U+FFFD rather than costing the whole file.
    return SplitLines(QString::fromUtf8(bytes));
}

void LoadLanguage(const QString& fileName) {
    LoadLanguageFrom(platform::ExecutableFolder(), fileName, platform::UiLanguageId());
}

void LoadLanguageFrom(const QString& exeFolder, const QString& fileName, std::uint16_t uiLanguage) {
    LocalisationState next;
    QString base = exeFolder;
    if (!base.isEmpty() && !base.endsWith(QLatin1Char('/'))) base += QLatin1Char('/');
    next.LanguageFolder = base + kLanguagesFolder;

    // Whatever happens below, the state is replaced as a whole, so a failure
    // never leaves a half-chosen language behind.
    auto commit = [&] { State() = std::move(next); };

    if (!QFileInfo(next.LanguageFolder).isDir()) return commit();
    AppendLanguageFiles(next.LanguageFolder, next.AvailableFiles);

    QString chosen = fileName;
    if (TrimControl(chosen).isEmpty()) {
        chosen.clear();
        const QString codeTable = next.LanguageFolder + QLatin1Char('/') + kCodeTable;
        if (QFileInfo(codeTable).isFile())
            chosen = FileForUiLanguage(codeTable, uiLanguage, next.AvailableFiles);
    }
    // Only a name inside the language folder can select a language.
    if (chosen.isEmpty() || chosen.contains(QLatin1Char('/'))) return commit();
    const QString path = next.LanguageFolder + QLatin1Char('/') + chosen;
    if (!QFileInfo(path).isFile()) return commit();

    QStringList lines;
    try {
        lines = ReadLanguageLines(path);
    } catch (...) {
        commit();  // English, with the folder and its files known
        throw;
    }
    const qsizetype suffix = chosen.indexOf(kFileSuffix);
    next.ActiveName = suffix < 0 ? QString() : chosen.left(suffix);
    next.ActiveFilePath = path;
    next.ActiveLines = std::move(lines);
    commit();
}

void FindLanguageFiles(const QString& folder) {
    AppendLanguageFiles(folder, State().AvailableFiles);
}

const LocalisationState& Localisation() {
    return State();
}

QString TranslateText(const QString& text) {
    const LocalisationState& state = State();
    if (state.ActiveFilePath.isEmpty()) return text;
    std::optional<QString> translation = Lookup(text, state.ActiveLines);
    if (!translation || translation->isEmpty()) return text;
    return *translation;
}

QString TranslateFromList(const QString& text, const QStringList& lines) {
    if (lines.isEmpty()) return text;
    std::optional<QString> translation = Lookup(text, lines);
    return translation ? *translation : text;
}

QStringList ReadLanguageLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw LanguageFileError(QStringLiteral("Cannot open file \"%1\". %2")
                                    .arg(path, file.errorString())
                                    .toStdString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw LanguageFileError(QStringLiteral("Cannot read file \"%1\". %2")
                                    .arg(path, file.errorString())
                                    .toStdString());
    return LanguageLinesOf(std::move(bytes));
}

void StoreLanguageChoice(const QString& company, const QString& product, const QString& fileName) {
    platform::ProductStore(company, product).WriteString(QStringLiteral("LanguageFile"), fileName);
}

QString StoredLanguageChoice(const QString& company, const QString& product) {
    try {
        return platform::ProductStore(company, product).ReadString(QStringLiteral("LanguageFile"));
    } catch (const platform::ProductStoreError&) {
        return {};  // an unreadable store means no choice
    }
}

}  // namespace corvexa::i18n
