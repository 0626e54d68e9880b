#pragma once

#include <string>
#include <string_view>

namespace corvexa::platform {

// The Windows "ANSI" code page that a user with the current locale would have:
// 1252 by default, 1250/1251/1253-1258, 874, 932, 936, 949 or 950 by language.
// Reads LC_ALL, LC_CTYPE and LANG in that order.
int AnsiCodePage();

// The same mapping for an explicit POSIX locale name such as "pl_PL.UTF-8".
int AnsiCodePageForLocale(std::string_view locale);

// The converter name ICU knows the code page by ("windows-1252", "Shift_JIS", ...).
std::string IcuConverterName(int codePage);

}  // namespace corvexa::platform
