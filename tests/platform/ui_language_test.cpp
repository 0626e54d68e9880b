// The Windows user-interface language identifier a POSIX locale stands for.
#include "platform/ui_language.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

using namespace corvexa::platform;

TEST(UiLanguageIdForLocale, ByLocale) {
    struct Case {
        const char* locale;
        int id;
    } cases[] = {
        // Language and region.
        {"de_DE", 1031},
        {"de_AT", 3079},
        {"de_CH", 2055},
        {"fr_FR", 1036},
        {"fr_CA", 3084},
        {"es_ES", 3082},
        {"es_MX", 2058},
        {"it_IT", 1040},
        {"tr_TR", 1055},
        {"pt_BR", 1046},
        {"pt_PT", 2070},
        {"ru_RU", 1049},
        {"pl_PL", 1045},
        {"ja_JP", 1041},
        {"zh_CN", 2052},
        {"zh_TW", 1028},
        {"zh_HK", 3076},
        {"en_US", 1033},
        {"en_GB", 2057},
        {"nl_NL", 1043},
        {"nl_BE", 2067},
        {"sv_FI", 2077},
        {"ar_EG", 3073},
        {"ko_KR", 1042},
        {"uk_UA", 1058},
        {"nb_NO", 1044},
        {"nn_NO", 2068},
        {"sr_RS", 10266},
        {"ta_LK", 2121},
        // Charset and modifier do not count; letter case does not either.
        {"de_DE.UTF-8", 1031},
        {"de_DE.utf8", 1031},
        {"de_DE@euro", 1031},
        {"de_DE.ISO-8859-15@euro", 1031},
        {"zh_CN.GB18030", 2052},
        {"DE_de", 1031},
        {"pt-BR", 1046},
        // A region the table does not list: the language's default.
        {"de_BE", 1031},
        {"es_GQ", 3082},
        {"pt_AO", 1046},
        {"en_NG", 1033},
        {"ar_SD", 1025},
        {"fr_BF", 1036},
        // A bare language: its default.
        {"de", 1031},
        {"fr", 1036},
        {"pt", 1046},
        {"zh", 2052},
        {"sv", 1053},
        {"fil_PH", 1124},
        {"fil", 1124},
        // Nothing to go by, or a language Windows has no identifier for.
        {"C", 1033},
        {"POSIX", 1033},
        {"C.UTF-8", 1033},
        {"", 1033},
        {"eo", 1033},
        {"xx_YY", 1033},
        {"_DE", 1033},
        {".UTF-8", 1033},
    };
    for (const Case& c : cases) EXPECT_EQ(UiLanguageIdForLocale(c.locale), c.id) << c.locale;
}

namespace {

// Sets or clears an environment variable for the life of the object.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(UiLanguageId, FirstNonEmptyOfLcAllLcMessagesLang) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        int id;
    } cases[] = {
        {"tr_TR.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8", 1055},
        {"", "de_DE.UTF-8", "fr_FR.UTF-8", 1031},
        {nullptr, "", "fr_FR.UTF-8", 1036},
        {nullptr, nullptr, "pt_PT", 2070},
        {nullptr, nullptr, nullptr, 1033},
        {"", "", "", 1033},
    };
    for (const Case& c : cases) {
        EnvVar all("LC_ALL", c.lcAll);
        EnvVar messages("LC_MESSAGES", c.lcMessages);
        EnvVar lang("LANG", c.lang);
        EXPECT_EQ(UiLanguageId(), c.id)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " "
            << (c.lang ? c.lang : "-");
    }
}
