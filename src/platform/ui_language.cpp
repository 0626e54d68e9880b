#include "platform/ui_language.h"

namespace corvexa::platform {

std::uint16_t UiLanguageIdForLocale(std::string_view) { return 1033; }

std::uint16_t UiLanguageId() { return 1033; }

}  // namespace corvexa::platform
