// Shell completion of corvexa-scan: every option of --help in each shell's
// script, each script accepted by its shell, and the bash and fish ones asked
// for completions as the shells ask for them. A shell that is not installed is
// skipped.

// GCC 12 reports std::regex's own automaton states as maybe uninitialised once
// they are inlined here with sanitizers or -O3 (a false positive inside the
// library); the patterns below are fixed strings.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "app/corvexa-scan/scan_completion.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/temp_dir.h"

using corvexa::cli::CompletionScript;
using corvexa::cli::Shell;
using corvexa::test::TempDir;

namespace {

struct CommandResult {
    int status = -1;
    std::string out;
};

// Runs a shell command line; its standard output, standard error to ours.
CommandResult RunCommand(const std::string& command) {
    CommandResult r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

bool Installed(const std::string& shell) {
    return RunCommand("command -v " + shell + " >/dev/null 2>&1").status == 0;
}

std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The options --help shows: "-x" and "--long" names.
std::set<std::string> HelpOptions() {
    std::set<std::string> names;
    const std::string help = corvexa::cli::HelpText();
    const std::regex label(R"(^  (-\w)(?: \S+)?, (--[\w-]+)|^  (--[\w-]+))");
    for (std::size_t start = 0, end; start < help.size(); start = end + 1) {
        end = std::min(help.find('\n', start), help.size());
        const std::string line = help.substr(start, end - start);
        std::smatch m;
        if (!std::regex_search(line, m, label)) continue;
        for (std::size_t g = 1; g <= 3; ++g)
            if (m[g].matched) names.insert(m[g].str());
    }
    return names;
}

// Every match of group 1 (and 2) of a pattern, as option names.
std::set<std::string> Matches(const std::string& text, const std::string& pattern,
                              const char* prefix1, const char* prefix2) {
    std::set<std::string> names;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
         ++it) {
        if ((*it)[1].matched) names.insert(prefix1 + (*it)[1].str());
        if (it->size() > 2 && (*it)[2].matched) names.insert(prefix2 + (*it)[2].str());
    }
    return names;
}

// The options each script offers.
std::set<std::string> BashOffers(const std::string& script) {
    // The word list of the options: $'--mask\n--no-subfolders\n...'.
    const std::string key = "compgen -W $'";
    const std::size_t start = script.find(key + "--");
    if (start == std::string::npos) return {};
    const std::size_t from = start + key.size();
    return Matches(script.substr(from, script.find('\'', from) - from), R"(([^\\]+)(?:\\n)?)", "",
                   "");
}
std::set<std::string> ZshOffers(const std::string& script) {
    std::set<std::string> names = Matches(script, R"(\{-(\w)\+?,--([\w-]+)=?\})", "-", "--");
    for (const std::string& n : Matches(script, R"(\n  '--([\w-]+)=?')", "--", "")) names.insert(n);
    return names;
}
std::set<std::string> FishOffers(const std::string& script) {
    std::set<std::string> names = Matches(script, R"( -s (\w) )", "-", "");
    for (const std::string& n : Matches(script, R"( -l ([\w-]+) )", "--", "")) names.insert(n);
    return names;
}

struct ShellCase {
    Shell shell;
    const char* program;
    const char* check;  // the shell's syntax check, before the file name
    std::set<std::string> (*offers)(const std::string& script);
};

const ShellCase kShells[] = {
    {Shell::Bash, "bash", "bash -n", BashOffers},
    {Shell::Zsh, "zsh", "zsh -n", ZshOffers},
    {Shell::Fish, "fish", "fish --no-execute", FishOffers},
};

}  // namespace

TEST(ScanCompletion, EveryScriptNamesEveryOptionOfHelpAndPassesItsShell) {
    const std::set<std::string> options = HelpOptions();
    ASSERT_GT(options.size(), 30u);
    ASSERT_TRUE(options.count("--json") && options.count("-j") && options.count("--threads"));
    TempDir dir;
    for (const ShellCase& c : kShells) {
        SCOPED_TRACE(c.program);
        const std::string script = CompletionScript(c.shell);
        EXPECT_EQ(c.offers(script), options);
        if (!Installed(c.program)) {
            std::printf("%s is not installed: its syntax check is skipped\n", c.program);
            continue;
        }
        const auto file = dir.Write(std::string("completion.") + c.program, script);
        EXPECT_EQ(RunCommand(std::string(c.check) + " " + Quoted(file.string())).status, 0);
    }
}

// Bash calls the function with the words of the line and the index of the
// word under the cursor; "--format=c" comes as "--format", "=", "c".
TEST(ScanCompletion, BashCompletesOptionsValuesAndFiles) {
    if (!Installed("bash")) GTEST_SKIP() << "bash is not installed";
    TempDir dir;
    const auto script = dir.Write("corvexa-scan.bash", CompletionScript(Shell::Bash));
    dir.Write("tree/sub/a.txt", "x");
    dir.Write("tree/file.txt", "x");
    const std::string tree = (dir.Path() / "tree").string() + "/";
    struct Case {
        std::vector<std::string> words;  // the last is under the cursor
        std::string expected;            // the replies, one a line, sorted
    } cases[] = {
        {{"--pd"}, "--pdf\n"},
        {{"--files-"}, "--files-from\n--files-out\n"},
        {{"--pdf", ""}, "pdfium\nplain\nxpdf\n"},
        {{"--view", "d"}, "domain\n"},
        {{"--format", "=", "c"}, "csv\n"},
        {{"--format", "="}, "csv\njson\ntext\n"},
        {{"-j", ""}, ""},
        {{"--mask", ""}, ""},
        {{"-o", tree + "f"}, tree + "file.txt\n"},
        {{tree}, tree + "sub\n"},  // the FOLDER: folders only
        {{"--", tree + "f"}, tree + "file.txt\n"},
    };
    for (const Case& c : cases) {
        std::string words = "corvexa-scan";
        for (const std::string& w : c.words) words += " " + Quoted(w);
        const std::string command =
            "source " + Quoted(script.string()) + "; COMP_WORDS=(" + words +
            "); COMP_CWORD=" + std::to_string(c.words.size()) +
            "; _corvexa_scan; for r in \"${COMPREPLY[@]}\"; do echo \"$r\"; "
            "done | LC_ALL=C sort";
        const CommandResult r = RunCommand("bash -c " + Quoted(command));
        EXPECT_EQ(r.status, 0) << words;
        EXPECT_EQ(r.out, c.expected) << words;
    }
}

TEST(ScanCompletion, FishCompletesOptionsAndValues) {
    if (!Installed("fish")) GTEST_SKIP() << "fish is not installed";
    TempDir dir;
    const auto script = dir.Write("corvexa-scan.fish", CompletionScript(Shell::Fish));
    struct Case {
        const char* line;
        std::string expected;  // the candidates without descriptions, sorted
    } cases[] = {
        {"corvexa-scan --pd", "--pdf\n"},
        {"corvexa-scan --view ", "domain\nhost\nurl\n"},
        {"corvexa-scan --format=", "--format=csv\n--format=json\n--format=text\n"},
    };
    for (const Case& c : cases) {
        const std::string command =
            "source " + Quoted(script.string()) + "; complete -C " + Quoted(c.line);
        const CommandResult r =
            RunCommand("HOME=" + Quoted(dir.Path().string()) + " fish --no-config -c " +
                       Quoted(command) + " | cut -f1 | LC_ALL=C sort");
        EXPECT_EQ(r.status, 0) << c.line;
        EXPECT_EQ(r.out, c.expected) << c.line;
    }
}
