#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/corvexa-scan/scan_options.h"

namespace corvexa::cli {

enum class Shell { Bash, Zsh, Fish };

// "bash", "zsh" or "fish"; nothing for any other name.
std::optional<Shell> ShellNamed(std::string_view name);

// The completion script of corvexa-scan for that shell, made from the option
// table: every option, the fixed choices of a value (--pdf, --view, --format),
// file names for a value that names a file, folders for the FOLDER operand and
// file names after "--".
std::string CompletionScript(Shell shell);

}  // namespace corvexa::cli
