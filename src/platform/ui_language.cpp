#include "platform/ui_language.h"

#include <cstdlib>
#include <string>

#include "platform/locale_name.h"

namespace corvexa::platform {

namespace {

struct LanguageId {
    const char* name;  // "ll" (the language's default) or "ll_CC"
    std::uint16_t id;
};

// Windows language identifiers: primary language in the low ten bits, the
// sublanguage above. A bare language names the identifier Windows treats as
// that language's default.
constexpr LanguageId kLanguageIds[] = {
    {"af", 1078},     {"af_za", 1078},  {"am", 1118},     {"am_et", 1118},  {"ar", 1025},
    {"ar_sa", 1025},  {"ar_iq", 2049},  {"ar_eg", 3073},  {"ar_ly", 4097},  {"ar_dz", 5121},
    {"ar_ma", 6145},  {"ar_tn", 7169},  {"ar_om", 8193},  {"ar_ye", 9217},  {"ar_sy", 10241},
    {"ar_jo", 11265}, {"ar_lb", 12289}, {"ar_kw", 13313}, {"ar_ae", 14337}, {"ar_bh", 15361},
    {"ar_qa", 16385}, {"as", 1101},     {"as_in", 1101},  {"az", 1068},     {"az_az", 1068},
    {"ba", 1133},     {"ba_ru", 1133},  {"be", 1059},     {"be_by", 1059},  {"bg", 1026},
    {"bg_bg", 1026},  {"bn", 1093},     {"bn_in", 1093},  {"bn_bd", 2117},  {"bo", 1105},
    {"bo_cn", 1105},  {"br", 1150},     {"br_fr", 1150},  {"bs", 5146},     {"bs_ba", 5146},
    {"ca", 1027},     {"ca_es", 1027},  {"co", 1155},     {"co_fr", 1155},  {"cs", 1029},
    {"cs_cz", 1029},  {"cy", 1106},     {"cy_gb", 1106},  {"da", 1030},     {"da_dk", 1030},
    {"de", 1031},     {"de_de", 1031},  {"de_ch", 2055},  {"de_at", 3079},  {"de_lu", 4103},
    {"de_li", 5127},  {"dsb", 2094},    {"dsb_de", 2094}, {"dv", 1125},     {"dv_mv", 1125},
    {"el", 1032},     {"el_gr", 1032},  {"en", 1033},     {"en_us", 1033},  {"en_gb", 2057},
    {"en_au", 3081},  {"en_ca", 4105},  {"en_nz", 5129},  {"en_ie", 6153},  {"en_za", 7177},
    {"en_jm", 8201},  {"en_bz", 10249}, {"en_tt", 11273}, {"en_zw", 12297}, {"en_ph", 13321},
    {"en_hk", 15369}, {"en_in", 16393}, {"en_my", 17417}, {"en_sg", 18441}, {"es", 3082},
    {"es_es", 3082},  {"es_mx", 2058},  {"es_gt", 4106},  {"es_cr", 5130},  {"es_pa", 6154},
    {"es_do", 7178},  {"es_ve", 8202},  {"es_co", 9226},  {"es_pe", 10250}, {"es_ar", 11274},
    {"es_ec", 12298}, {"es_cl", 13322}, {"es_uy", 14346}, {"es_py", 15370}, {"es_bo", 16394},
    {"es_sv", 17418}, {"es_hn", 18442}, {"es_ni", 19466}, {"es_pr", 20490}, {"es_us", 21514},
    {"et", 1061},     {"et_ee", 1061},  {"eu", 1069},     {"eu_es", 1069},  {"fa", 1065},
    {"fa_ir", 1065},  {"fi", 1035},     {"fi_fi", 1035},  {"fil", 1124},    {"fil_ph", 1124},
    {"fo", 1080},     {"fo_fo", 1080},  {"fr", 1036},     {"fr_fr", 1036},  {"fr_be", 2060},
    {"fr_ca", 3084},  {"fr_ch", 4108},  {"fr_lu", 5132},  {"fr_mc", 6156},  {"fr_re", 8204},
    {"fr_cd", 9228},  {"fr_sn", 10252}, {"fr_cm", 11276}, {"fr_ci", 12300}, {"fr_ml", 13324},
    {"fr_ma", 14348}, {"fr_ht", 15372}, {"fy", 1122},     {"fy_nl", 1122},  {"ga", 2108},
    {"ga_ie", 2108},  {"gd", 1169},     {"gd_gb", 1169},  {"gl", 1110},     {"gl_es", 1110},
    {"gu", 1095},     {"gu_in", 1095},  {"ha", 1128},     {"ha_ng", 1128},  {"he", 1037},
    {"he_il", 1037},  {"hi", 1081},     {"hi_in", 1081},  {"hr", 1050},     {"hr_hr", 1050},
    {"hr_ba", 4122},  {"hsb", 1070},    {"hsb_de", 1070}, {"hu", 1038},     {"hu_hu", 1038},
    {"hy", 1067},     {"hy_am", 1067},  {"id", 1057},     {"id_id", 1057},  {"ig", 1136},
    {"ig_ng", 1136},  {"ii", 1144},     {"ii_cn", 1144},  {"in", 1057},     {"is", 1039},
    {"is_is", 1039},  {"it", 1040},     {"it_it", 1040},  {"it_ch", 2064},  {"iw", 1037},
    {"iw_il", 1037},  {"ja", 1041},     {"ja_jp", 1041},  {"ka", 1079},     {"ka_ge", 1079},
    {"kk", 1087},     {"kk_kz", 1087},  {"kl", 1135},     {"kl_gl", 1135},  {"km", 1107},
    {"km_kh", 1107},  {"kn", 1099},     {"kn_in", 1099},  {"ko", 1042},     {"ko_kr", 1042},
    {"ky", 1088},     {"ky_kg", 1088},  {"lb", 1134},     {"lb_lu", 1134},  {"lo", 1108},
    {"lo_la", 1108},  {"lt", 1063},     {"lt_lt", 1063},  {"lv", 1062},     {"lv_lv", 1062},
    {"mi", 1153},     {"mi_nz", 1153},  {"mk", 1071},     {"mk_mk", 1071},  {"ml", 1100},
    {"ml_in", 1100},  {"mn", 1104},     {"mn_mn", 1104},  {"mr", 1102},     {"mr_in", 1102},
    {"ms", 1086},     {"ms_my", 1086},  {"ms_bn", 2110},  {"mt", 1082},     {"mt_mt", 1082},
    {"nb", 1044},     {"nb_no", 1044},  {"ne", 1121},     {"ne_np", 1121},  {"nl", 1043},
    {"nl_nl", 1043},  {"nl_be", 2067},  {"nn", 2068},     {"nn_no", 2068},  {"no", 1044},
    {"no_no", 1044},  {"nso", 1132},    {"nso_za", 1132}, {"oc", 1154},     {"oc_fr", 1154},
    {"or", 1096},     {"or_in", 1096},  {"pa", 1094},     {"pa_in", 1094},  {"pl", 1045},
    {"pl_pl", 1045},  {"ps", 1123},     {"ps_af", 1123},  {"pt", 1046},     {"pt_br", 1046},
    {"pt_pt", 2070},  {"rm", 1047},     {"rm_ch", 1047},  {"ro", 1048},     {"ro_ro", 1048},
    {"ro_md", 2072},  {"ru", 1049},     {"ru_ru", 1049},  {"ru_md", 2073},  {"rw", 1159},
    {"rw_rw", 1159},  {"sa", 1103},     {"sa_in", 1103},  {"sah", 1157},    {"sah_ru", 1157},
    {"se", 1083},     {"se_no", 1083},  {"se_se", 2107},  {"se_fi", 3131},  {"si", 1115},
    {"si_lk", 1115},  {"sk", 1051},     {"sk_sk", 1051},  {"sl", 1060},     {"sl_si", 1060},
    {"sq", 1052},     {"sq_al", 1052},  {"sr", 10266},    {"sr_rs", 10266}, {"sr_me", 12314},
    {"sv", 1053},     {"sv_se", 1053},  {"sv_fi", 2077},  {"sw", 1089},     {"sw_ke", 1089},
    {"syr", 1114},    {"syr_sy", 1114}, {"ta", 1097},     {"ta_in", 1097},  {"ta_lk", 2121},
    {"te", 1098},     {"te_in", 1098},  {"tg", 1064},     {"tg_tj", 1064},  {"th", 1054},
    {"th_th", 1054},  {"tk", 1090},     {"tk_tm", 1090},  {"tn", 1074},     {"tn_za", 1074},
    {"tr", 1055},     {"tr_tr", 1055},  {"tt", 1092},     {"tt_ru", 1092},  {"ug", 1152},
    {"ug_cn", 1152},  {"uk", 1058},     {"uk_ua", 1058},  {"ur", 1056},     {"ur_pk", 1056},
    {"ur_in", 2080},  {"uz", 1091},     {"uz_uz", 1091},  {"vi", 1066},     {"vi_vn", 1066},
    {"wo", 1160},     {"wo_sn", 1160},  {"xh", 1076},     {"xh_za", 1076},  {"yo", 1130},
    {"yo_ng", 1130},  {"zh", 2052},     {"zh_cn", 2052},  {"zh_tw", 1028},  {"zh_hk", 3076},
    {"zh_sg", 4100},  {"zh_mo", 5124},  {"zu", 1077},     {"zu_za", 1077},
};

constexpr std::uint16_t kEnglishUnitedStates = 1033;

const LanguageId* Find(std::string_view name) {
    for (const LanguageId& entry : kLanguageIds) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

}  // namespace

std::uint16_t UiLanguageIdForLocale(std::string_view locale) {
    // The charset and the modifier do not matter.
    const LocaleName parsed = ParseLocaleName(locale);
    const std::string& lang = parsed.language;
    const std::string& country = parsed.country;
    if (lang.empty()) return kEnglishUnitedStates;
    if (!country.empty()) {
        if (const LanguageId* entry = Find(lang + "_" + country)) return entry->id;
    }
    if (const LanguageId* entry = Find(lang)) return entry->id;
    return kEnglishUnitedStates;  // C, POSIX and languages Windows has no identifier for
}

std::uint16_t UiLanguageId() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && *value) return UiLanguageIdForLocale(value);
    }
    return kEnglishUnitedStates;
}

}  // namespace corvexa::platform
