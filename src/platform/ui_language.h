#pragma once

#include <cstdint>
#include <string_view>

namespace corvexa::platform {

// The Windows user-interface language identifier (LANGID, e.g. 1031 for German
// (Germany)) that a user with the given POSIX locale name ("de_DE.UTF-8",
// "pt_BR", "zh_CN.GB18030@euro") would have. 1033 (English (United States))
// for C, POSIX and anything unknown.
std::uint16_t UiLanguageIdForLocale(std::string_view locale);

// The same for the current user: LC_ALL, LC_MESSAGES, LANG, in that order.
std::uint16_t UiLanguageId();

}  // namespace corvexa::platform
