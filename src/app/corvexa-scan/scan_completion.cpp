// Shell completion scripts for bash, zsh and fish, made from the option table.
#include "app/corvexa-scan/scan_completion.h"

#include <string_view>
#include <vector>

namespace corvexa::cli {

namespace {

// One option as completion sees it.
struct Completed {
    std::string shortName, longName;
    std::string help;  // the first clause of its help, one line
    bool takesValue = false;
    bool fileValue = false;            // the value names a file
    std::vector<std::string> choices;  // the values it takes, when they are few and fixed
};

// "xpdf|pdfium|plain": the choices; any other value name: none.
std::vector<std::string> Choices(std::string_view value) {
    std::vector<std::string> out;
    if (value.find('|') == std::string_view::npos) return out;
    for (std::size_t start = 0; start <= value.size();) {
        std::size_t end = std::min(value.find('|', start), value.size());
        out.emplace_back(value.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// The help without its asides in parentheses, up to its first ";", ". " or
// ": ", cut after a word within 60 characters; without "[", "]", "\\" and
// control characters, which the shells' descriptions would take for syntax.
std::string Brief(std::string_view help) {
    std::string text;
    int depth = 0;
    for (std::size_t i = 0; i < help.size(); ++i) {
        const char c = help[i];
        if (c == '(' && ++depth == 1 && !text.empty() && text.back() == ' ') text.pop_back();
        if (depth == 0 && c != '[' && c != ']' && c != '\\' &&
            static_cast<unsigned char>(c) >= 0x20)
            text += c;
        if (c == ')' && depth > 0) --depth;
    }
    for (std::string_view stop : {";", ". ", ": "}) text = text.substr(0, text.find(stop));
    if (text.size() > 60) {
        const std::size_t space = text.rfind(' ', 60);
        text.resize(space == std::string::npos ? 60 : space);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == ',')) text.pop_back();
    return text;
}

// Text in single quotes for zsh (and bash): a quote ends the quoting, is
// escaped, and starts it again.
std::string ShellQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Text in single quotes for fish, which escapes a quote and a backslash inside.
std::string FishQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out + "'";
}

std::vector<Completed> CompletedOptions() {
    std::vector<Completed> out;
    for (const OptionDef& d : OptionTable()) {
        if (!d.apply) continue;
        std::string names = d.names;
        Completed c;
        if (names.size() > 2 && names[1] == ',') {
            c.shortName = names.substr(0, 1);
            c.longName = names.substr(2);
        } else {
            c.longName = names;
        }
        c.help = Brief(d.help);
        c.takesValue = d.value != nullptr;
        if (d.value) {
            const std::string_view value = d.value;
            c.choices = Choices(value);
            c.fileValue = value == "FILE" || c.longName == "files-from";
        }
        out.push_back(std::move(c));
    }
    return out;
}

std::string Join(const std::vector<std::string>& words, const char* separator = " ") {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : separator) + w;
    return out;
}

// A word list for compgen -W, which splits it at IFS: the script sets IFS to a
// line break so that file names with spaces stay whole.
std::string BashWords(const std::vector<std::string>& words) {
    return "$'" + Join(words, "\\n") + "'";
}

// What a shell offers for an option's value, in that shell's words: its fixed
// choices, file names, or anything.
struct ValueWords {
    std::string (*choices)(const std::vector<std::string>&);
    const char* files;
    const char* any;
};

std::string ValueAction(const Completed& c, const ValueWords& words) {
    if (!c.choices.empty()) return words.choices(c.choices);
    return c.fileValue ? words.files : words.any;
}

// "-o|--output" as a bash case pattern.
std::string CasePattern(const Completed& c) {
    return (c.shortName.empty() ? "" : "-" + c.shortName + "|") + "--" + c.longName;
}

std::string BashScript() {
    const std::vector<Completed> options = CompletedOptions();
    std::vector<std::string> words;
    for (const Completed& c : options) {
        if (!c.shortName.empty()) words.push_back("-" + c.shortName);
        words.push_back("--" + c.longName);
    }
    std::string valueCases;
    for (const Completed& c : options) {
        if (!c.takesValue) continue;
        valueCases += "        " + CasePattern(c) + ")\n            ";
        valueCases += ValueAction(c, {[](const std::vector<std::string>& choices) {
                                          return "COMPREPLY=($(compgen -W " + BashWords(choices) +
                                                 " -- \"$cur\"))";
                                      },
                                      "COMPREPLY=($(compgen -f -- \"$cur\"))", ":"});
        valueCases += "\n            return ;;\n";
    }
    return "# bash completion for corvexa-scan\n"
           "_corvexa_scan() {\n"
           "    local IFS=$'\\n' cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"\" i\n"
           "    COMPREPLY=()\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        if [[ ${COMP_WORDS[i]} == -- ]]; then\n"
           "            COMPREPLY=($(compgen -f -- \"$cur\"))\n"
           "            return\n"
           "        fi\n"
           "    done\n"
           "    ((COMP_CWORD > 0)) && prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
           "    # --option=value comes as three words: --option, = and the value.\n"
           "    if [[ $cur == = ]]; then\n"
           "        cur=\"\"\n"
           "    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then\n"
           "        prev=\"${COMP_WORDS[COMP_CWORD-2]}\"\n"
           "    fi\n"
           "    case \"$prev\" in\n" +
           valueCases +
           "    esac\n"
           "    if [[ $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W " +
           BashWords(words) +
           " -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    COMPREPLY=($(compgen -d -- \"$cur\"))\n"
           "}\n"
           "complete -o filenames -F _corvexa_scan corvexa-scan\n";
}

std::string ZshSpec(const Completed& c) {
    std::string action;
    if (c.takesValue) {
        action = ":" + c.longName + ":" +
                 ValueAction(c, {[](const std::vector<std::string>& choices) {
                                     return "(" + Join(choices) + ")";
                                 },
                                 "_files", " "});
    }
    const std::string text = ShellQuoted("[" + c.help + "]" + action);
    if (c.shortName.empty())
        return ShellQuoted("--" + c.longName + (c.takesValue ? "=" : "")) + text;
    const std::string exclusive = "'(-" + c.shortName + " --" + c.longName + ")'";
    return exclusive + "{-" + c.shortName + (c.takesValue ? "+" : "") + ",--" + c.longName +
           (c.takesValue ? "=" : "") + "}" + text;
}

std::string ZshScript() {
    std::string specs;
    for (const Completed& c : CompletedOptions()) specs += "  " + ZshSpec(c) + " \\\n";
    return "#compdef corvexa-scan\n"
           "# zsh completion for corvexa-scan\n"
           "_arguments -s -S \\\n" +
           specs + "  '*:folder or file:_files'\n";
}

std::string FishScript() {
    std::string out = "# fish completion for corvexa-scan\n";
    for (const Completed& c : CompletedOptions()) {
        out += "complete -c corvexa-scan";
        if (!c.shortName.empty()) out += " -s " + c.shortName;
        out += " -l " + c.longName;
        if (c.takesValue)
            out += ValueAction(c, {[](const std::vector<std::string>& choices) {
                                       return " -x -a '" + Join(choices) + "'";
                                   },
                                   " -r -F", " -x"});
        out += " -d " + FishQuoted(c.help) + "\n";
    }
    return out;
}

}  // namespace

std::optional<Shell> ShellNamed(std::string_view name) {
    if (name == "bash") return Shell::Bash;
    if (name == "zsh") return Shell::Zsh;
    if (name == "fish") return Shell::Fish;
    return std::nullopt;
}

std::string CompletionScript(Shell shell) {
    switch (shell) {
        case Shell::Zsh:
            return ZshScript();
        case Shell::Fish:
            return FishScript();
        case Shell::Bash:
            break;
    }
    return BashScript();
}

}  // namespace corvexa::cli
