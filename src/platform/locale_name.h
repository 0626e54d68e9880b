#pragma once

#include <string>
#include <string_view>

#include "platform/ascii.h"

namespace corvexa::platform {

// A POSIX locale name "ll_CC.charset@modifier" taken apart, in lower case;
// the charset is dropped. "-" separates language and country as "_" does.
struct LocaleName {
    std::string language;
    std::string country;
    std::string modifier;
};

inline LocaleName ParseLocaleName(std::string_view locale) {
    std::string name(locale);
    ascii::LowerInPlace(name);
    LocaleName out;
    if (auto at = name.find('@'); at != std::string::npos) {
        out.modifier = name.substr(at + 1);
        name.resize(at);
    }
    if (auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
    out.language = name;
    if (auto sep = name.find_first_of("_-"); sep != std::string::npos) {
        out.language = name.substr(0, sep);
        out.country = name.substr(sep + 1);
    }
    return out;
}

}  // namespace corvexa::platform
