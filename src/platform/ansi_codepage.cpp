#include "platform/ansi_codepage.h"

#include <cstdlib>
#include <string>

#include "platform/locale_name.h"

namespace corvexa::platform {

int AnsiCodePageForLocale(std::string_view locale) {
    const LocaleName parsed = ParseLocaleName(locale);
    const std::string& lang = parsed.language;
    const std::string& country = parsed.country;
    const std::string& modifier = parsed.modifier;

    auto in = [&](std::initializer_list<const char*> list) {
        for (const char* l : list)
            if (lang == l) return true;
        return false;
    };

    if (in({"pl", "cs", "sk", "hu", "hr", "sl", "ro", "sq", "bs"})) return 1250;
    if (lang == "sr") return modifier == "latin" ? 1250 : 1251;
    if (in({"ru", "uk", "be", "bg", "mk", "kk", "ky", "tt", "mn", "tg", "ba", "sah"})) return 1251;
    if (lang == "el") return 1253;
    if (in({"tr", "az", "uz"})) return 1254;
    if (in({"he", "iw", "yi"})) return 1255;
    if (in({"ar", "fa", "ur", "ps", "ug", "sd"})) return 1256;
    if (in({"et", "lv", "lt"})) return 1257;
    if (lang == "vi") return 1258;
    if (lang == "th") return 874;
    if (lang == "ja") return 932;
    if (lang == "zh") {
        if (country == "tw" || country == "hk" || country == "mo" || modifier == "hant") return 950;
        return 936;
    }
    if (lang == "ko") return 949;
    return 1252;
}

int AnsiCodePage() {
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && *value) return AnsiCodePageForLocale(value);
    }
    return 1252;
}

std::string IcuConverterName(int codePage) {
    switch (codePage) {
        case 874:
            return "windows-874";
        case 932:
            return "windows-31j";
        case 936:
            return "windows-936";
        case 949:
            return "windows-949";
        case 950:
            return "windows-950";
        default:
            return "windows-" + std::to_string(codePage);
    }
}

}  // namespace corvexa::platform
