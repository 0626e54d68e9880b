// Language files and the language-code table, in memory: lines, lookups, and
// the file the table names for a language.
#include <QString>
#include <QStringList>

#include "fuzz_input.h"
#include "i18n/language.h"

using namespace corvexa::i18n;

// First byte even: a language file, then a NUL and the text to look up.
// Odd: a LanguageCodes.csv, the language code taken from the next two bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) == 0) {
        std::size_t cut = rest.find('\0');
        std::string_view file = rest.substr(0, cut);
        QString text =
            cut == std::string_view::npos ? QString() : QString::fromUtf8(rest.substr(cut + 1));
        QStringList lines =
            LanguageLinesOf(QByteArray(file.data(), static_cast<qsizetype>(file.size())));
        for (const QString& line : lines)
            corvexa::fuzz::Check(
                !line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')),
                "a line holds a line break");
        QString translated = TranslateFromList(text, lines);
        // A line made for the text always answers it when it comes first.
        QStringList own = lines;
        own.prepend(QLatin1Char('{') + text + QLatin1String("}made"));
        if (!text.contains(QLatin1Char('}')))
            corvexa::fuzz::Check(TranslateFromList(text, own) == QLatin1String("made"),
                                 "own line not found");
        (void)translated;
        return 0;
    }
    const std::uint16_t code = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
    const QStringList available{QStringLiteral("German.lang.txt"),
                                QStringLiteral("French.lang.txt"), QStringLiteral("x.LANG.TXT")};
    for (int codePage : {1252, 932, 1251}) {
        QString file = FileForUiLanguageIn(rest.substr(2), code, available, codePage);
        corvexa::fuzz::Check(file.isEmpty() || available.contains(file),
                             "a file that is not available");
    }
    return 0;
}
