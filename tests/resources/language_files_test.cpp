// The language files and the language code table shipped in resources/Languages,
// read byte for byte as the program will read them: each file is UTF-8 with a
// byte-order mark and CR LF line ends, holds every text the windows look up exactly
// once with a usable translation, and the code table maps real Windows language
// identifiers to files that exist.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

namespace fs = std::filesystem;
using corvexa::test::ReadFileBytes;
using corvexa::test::TempDir;

namespace {

// Every English text the windows pass through the lookup; a language file must
// translate each of them once and nothing else.
constexpr std::string_view kKeys[] = {
    "Yes",
    "No",
    "Confirmation",
    "Restart Application?",
    "Language",
    "User Interface Language:",
    "Translated by:",
    "OK",
    "Contribute to Translation",
    "Copy",
    "Select All",
    "IMPORTANT",
    "UPDATE AVAILABLE",
    "Click to download",
    "feedback",
    "We would really appreciate your feedback.",
    "What did you like or dislike?",
    "Include my e-mail:",
    "Send",
    "I like it!",
    "I dislike it!",
    "Failure",
    "Invalid e-mail address!",
    "Success",
    "Your feedback is received.",
    "Thank you!",
    "Something went wrong. Your feedback could not be delivered.",
    "Please try again later.",
    "About %s",
    "Info",
    "Acknowledgements...",
    "How to uninstall...",
    "License...",
    "License",
    "File not found!",
};

// The translators' line, read by the language window only.
constexpr std::string_view kTranslatorsKey = "INFO:Translated By";

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The files that ship, with the primary language (low ten bits of a Windows
// language identifier) every code-table line naming them must carry.
struct ShippedLanguage {
    std::string_view file;
    unsigned primaryLanguage;
};
constexpr ShippedLanguage kShipped[] = {
    {"German.lang.txt", 0x07},   {"French.lang.txt", 0x0C},
    {"Spanish.lang.txt", 0x0A},  {"Italian.lang.txt", 0x10},
    {"Turkish.lang.txt", 0x1F},  {"PortugueseBrazil.lang.txt", 0x16},
    {"Russian.lang.txt", 0x19},  {"Polish.lang.txt", 0x15},
    {"Japanese.lang.txt", 0x11}, {"ChineseSimplified.lang.txt", 0x04},
};

fs::path LanguagesFolder() {
    const char* root = std::getenv("CORVEXA_SOURCE_DIR");
    return fs::path(root ? root : "") / "resources" / "Languages";
}

// Offset of the first byte that is not part of well-formed UTF-8 (no overlong
// forms, no surrogates, nothing above U+10FFFF), or npos.
size_t FirstInvalidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t len = 0;
        unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            return i;
        }
        if (i + len > s.size()) return i;
        for (size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            const unsigned min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
            if (c < min || c > max) return i;
        }
        i += len;
    }
    return std::string_view::npos;
}

size_t CountOf(std::string_view s, std::string_view what) {
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string_view::npos; p = s.find(what, p + what.size()))
        ++n;
    return n;
}

// Spaces that would show as a stray gap at either end of a caption.
bool HasEdgeSpace(std::string_view t) {
    for (std::string_view sp :
         {std::string_view(" "), std::string_view("\t"), std::string_view("\xC2\xA0"),
          std::string_view("\xE2\x80\xAF"), std::string_view("\xE3\x80\x80")}) {
        if (t.starts_with(sp) || t.ends_with(sp)) return true;
    }
    return false;
}

bool HasControlCharacter(std::string_view t) {
    return std::any_of(t.begin(), t.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// Splits the text after the byte-order mark into lines ended by CR LF; a lone CR
// or LF is reported. A missing break after the last line is accepted.
std::vector<std::string_view> SplitCrLf(std::string_view text, std::vector<std::string>& problems) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            lines.push_back(text.substr(start, i - start));
            start = i + 2;
            ++i;
        } else {
            problems.push_back("line " + std::to_string(lines.size() + 1) +
                               ": line break other than CR LF");
            lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// Everything wrong with one language file, one message per fault; empty when the
// file is fit to ship.
std::vector<std::string> CheckLanguageFile(std::string_view bytes) {
    std::vector<std::string> problems;
    if (!bytes.starts_with(kBom)) {
        problems.push_back("no UTF-8 byte-order mark");
    } else {
        bytes.remove_prefix(kBom.size());
    }
    if (size_t bad = FirstInvalidUtf8(bytes); bad != std::string_view::npos) {
        problems.push_back("invalid UTF-8 at byte " + std::to_string(bad));
        return problems;
    }

    std::map<std::string_view, int> seen;
    const std::vector<std::string_view> lines = SplitCrLf(bytes, problems);
    for (size_t n = 0; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        const std::string where = "line " + std::to_string(n + 1) + ": ";
        const size_t close = line.find('}');
        if (!line.starts_with('{') || close == std::string_view::npos) {
            problems.push_back(where + "not {key}translation");
            continue;
        }
        const std::string_view key = line.substr(1, close - 1);
        const std::string_view text = line.substr(close + 1);
        const bool isTranslators = key == kTranslatorsKey;
        if (!isTranslators &&
            std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys)) {
            problems.push_back(where + "unknown key {" + std::string(key) + "}");
            continue;
        }
        if (++seen[key] == 2) problems.push_back(where + "key {" + std::string(key) + "} repeated");
        if (text.empty()) {
            problems.push_back(where + "empty translation of {" + std::string(key) + "}");
            continue;
        }
        if (text.find('}') != std::string_view::npos)
            problems.push_back(where + "'}' inside the translation");
        if (HasEdgeSpace(text)) problems.push_back(where + "space at an end of the translation");
        if (HasControlCharacter(text))
            problems.push_back(where + "control character in the translation");
        const size_t placeholders = CountOf(text, "%s");
        if (placeholders != CountOf(key, "%s") || CountOf(text, "%") != placeholders) {
            problems.push_back(where + "placeholders differ from {" + std::string(key) + "}");
        }
        if (isTranslators) {
            size_t from = 0;
            for (size_t comma = text.find(',');; comma = text.find(',', from)) {
                std::string_view name = text.substr(from, comma - from);
                while (name.starts_with(' ')) name.remove_prefix(1);
                if (name.empty()) problems.push_back(where + "empty name in the translators' list");
                if (comma == std::string_view::npos) break;
                from = comma + 1;
            }
        }
    }
    for (std::string_view key : kKeys) {
        if (!seen.contains(key)) problems.push_back("missing key {" + std::string(key) + "}");
    }
    if (!seen.contains(kTranslatorsKey)) problems.push_back("missing key {INFO:Translated By}");
    return problems;
}

// Everything wrong with a language code table whose files live in `folder`.
std::vector<std::string> CheckLanguageCodes(std::string_view bytes, const fs::path& folder) {
    std::vector<std::string> problems;
    if (!bytes.starts_with(kBom)) {
        problems.push_back("no UTF-8 byte-order mark");
    } else {
        bytes.remove_prefix(kBom.size());
    }
    if (FirstInvalidUtf8(bytes) != std::string_view::npos) {
        problems.push_back("invalid UTF-8");
        return problems;
    }
    std::set<unsigned> ids;
    std::set<std::string_view> mapped;
    const std::vector<std::string_view> lines = SplitCrLf(bytes, problems);
    for (size_t n = 0; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        const std::string where = "line " + std::to_string(n + 1) + ": ";
        const size_t comma = line.find(',');
        const std::string_view number = line.substr(0, comma);
        const std::string_view file = comma == std::string_view::npos ? "" : line.substr(comma + 1);
        const bool digits =
            !number.empty() && number.size() <= 5 && number[0] != '0' &&
            std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || !file.ends_with(".lang.txt") ||
            file.find_first_of(",/\\ \t") != std::string_view::npos) {
            problems.push_back(where + "not number,File.lang.txt");
            continue;
        }
        const unsigned id = static_cast<unsigned>(std::stoul(std::string(number)));
        if (id > 0xFFFF) {
            problems.push_back(where + "identifier " + std::string(number) +
                               " is not a 16-bit language identifier");
            continue;
        }
        if (!ids.insert(id).second)
            problems.push_back(where + "identifier " + std::string(number) + " repeated");
        if (!fs::is_regular_file(folder / std::string(file))) {
            problems.push_back(where + std::string(file) + " does not exist");
        }
        for (const ShippedLanguage& lang : kShipped) {
            if (lang.file == file && (id & 0x3FF) != lang.primaryLanguage) {
                problems.push_back(where + "identifier " + std::string(number) +
                                   " is not a language of " + std::string(file));
            }
        }
        mapped.insert(file);
    }
    for (const ShippedLanguage& lang : kShipped) {
        if (fs::is_regular_file(folder / std::string(lang.file)) && !mapped.contains(lang.file)) {
            problems.push_back(std::string(lang.file) + " has no identifier");
        }
    }
    return problems;
}

std::string Describe(const std::vector<std::string>& problems) {
    std::string all;
    for (const std::string& p : problems) all += "\n  " + p;
    return all;
}

// Files the language window would list: names ending in "lang.txt", any case.
std::vector<fs::path> ShippedLanguageFiles() {
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::directory_iterator(LanguagesFolder())) {
        std::string name = e.path().filename().string();
        std::transform(name.begin(), name.end(), name.begin(), [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        });
        if (e.is_regular_file() && name.ends_with("lang.txt")) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(ShippedLanguages, RequiredFilesArePresent) {
    ASSERT_NE(std::getenv("CORVEXA_SOURCE_DIR"), nullptr);
    for (const ShippedLanguage& lang : kShipped) {
        EXPECT_TRUE(fs::is_regular_file(LanguagesFolder() / std::string(lang.file))) << lang.file;
    }
    EXPECT_TRUE(fs::is_regular_file(LanguagesFolder() / "LanguageCodes.csv"));
}

TEST(ShippedLanguages, EveryLanguageFileIsWellFormedAndComplete) {
    ASSERT_TRUE(fs::is_directory(LanguagesFolder())) << LanguagesFolder();
    const std::vector<fs::path> files = ShippedLanguageFiles();
    ASSERT_GE(files.size(), std::size(kShipped));
    for (const fs::path& file : files) {
        const std::vector<std::string> problems = CheckLanguageFile(ReadFileBytes(file));
        EXPECT_TRUE(problems.empty()) << file.filename().string() << ":" << Describe(problems);
    }
}

TEST(ShippedLanguages, CodeTableMapsRealIdentifiersToShippedFiles) {
    const fs::path table = LanguagesFolder() / "LanguageCodes.csv";
    ASSERT_TRUE(fs::is_regular_file(table));
    const std::vector<std::string> problems =
        CheckLanguageCodes(ReadFileBytes(table), LanguagesFolder());
    EXPECT_TRUE(problems.empty()) << Describe(problems);
}

// The checks above must be able to fail: each broken file below is reported with
// the expected fault, and the same file unbroken passes.
TEST(LanguageFileCheck, ReportsEachFault) {
    std::string good = "{INFO:Translated By}Ann, Bob\r\n";
    for (std::string_view key : kKeys) {
        // Appended piece by piece: "literal" + a temporary string trips a false
        // -Wrestrict of GCC 12 at -O3.
        good.append("{").append(key).append("}");
        if (key == "About %s")
            good.append("Über %s");
        else
            good.append("Ü ").append(key);
        good.append("\r\n");
    }
    const std::vector<std::string> clean = CheckLanguageFile(std::string(kBom) + good);
    ASSERT_TRUE(clean.empty()) << Describe(clean);

    auto replaced = [&](std::string_view from, std::string_view to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return std::string(kBom) + s;
    };
    const struct {
        std::string bytes;
        std::string fault;
    } cases[] = {
        {good, "no UTF-8 byte-order mark"},
        {replaced("{Yes}Ü Yes", "{Yes}\xC3\x28"), "invalid UTF-8"},
        {replaced("{Yes}Ü Yes", "{Yes}\xED\xA0\x80"), "invalid UTF-8"},  // a surrogate
        {replaced("{Yes}Ü Yes\r\n", "{Yes}Ü Yes\n"), "line 2: line break other than CR LF"},
        {replaced("{Yes}Ü Yes\r\n", "{Yes}Ü Yes\r"), "line 2: line break other than CR LF"},
        {replaced("{Yes}Ü Yes\r\n", ""), "missing key {Yes}"},
        {replaced("{Yes}Ü Yes\r\n", "{Yes}Ü Yes\r\n{Yes}Ja\r\n"), "key {Yes} repeated"},
        {replaced("{Yes}Ü Yes", "{yes}Ü Yes"), "unknown key {yes}"},
        {replaced("{Yes}Ü Yes", " {Yes}Ü Yes"), "line 2: not {key}translation"},
        {replaced("{Yes}Ü Yes\r\n", "{Yes}Ü Yes\r\n\r\n"), "line 3: not {key}translation"},
        {replaced("{Yes}Ü Yes", "{Yes}"), "empty translation of {Yes}"},
        {replaced("{Yes}Ü Yes", "{Yes} Ja"), "space at an end"},
        {replaced("{Yes}Ü Yes", "{Yes}Ja\xC2\xA0"), "space at an end"},
        {replaced("{Yes}Ü Yes", "{Yes}J}a"), "'}' inside the translation"},
        {replaced("{Yes}Ü Yes", "{Yes}J\ta"), "control character"},
        {replaced("{About %s}Über %s", "{About %s}Über"), "placeholders differ from {About %s}"},
        {replaced("{About %s}Über %s", "{About %s}%s über %s"),
         "placeholders differ from {About %s}"},
        {replaced("{About %s}Über %s", "{About %s}Über %d"), "placeholders differ from {About %s}"},
        {replaced("{OK}Ü OK", "{OK}100%"), "placeholders differ from {OK}"},
        {replaced("{INFO:Translated By}Ann, Bob", "{INFO:Translated By}Ann,,Bob"),
         "empty name in the translators' list"},
        {replaced("{INFO:Translated By}Ann, Bob\r\n", ""), "missing key {INFO:Translated By}"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> problems = CheckLanguageFile(c.bytes);
        const bool found = std::any_of(problems.begin(), problems.end(), [&](const std::string& p) {
            return p.find(c.fault) != std::string::npos;
        });
        EXPECT_TRUE(found) << "expected \"" << c.fault << "\", got:" << Describe(problems);
    }
}

TEST(LanguageCodesCheck, ReportsEachFault) {
    TempDir dir;
    dir.Write("German.lang.txt", "x");
    dir.Write("Japanese.lang.txt", "x");
    const std::string good =
        "1031,German.lang.txt\r\n3079,German.lang.txt\r\n1041,Japanese.lang.txt\r\n";
    const std::vector<std::string> clean = CheckLanguageCodes(std::string(kBom) + good, dir.Path());
    ASSERT_TRUE(clean.empty()) << Describe(clean);

    const struct {
        std::string body;
        std::string fault;
        bool bom = true;
    } cases[] = {
        {good, "no UTF-8 byte-order mark", false},
        {"1031,German.lang.txt\n1041,Japanese.lang.txt\r\n", "line break other than CR LF"},
        {"1031,German.lang.txt\r\n1031,German.lang.txt\r\n1041,Japanese.lang.txt\r\n",
         "identifier 1031 repeated"},
        {"1031,German.lang.txt\r\n1041,Japan.lang.txt\r\n", "Japan.lang.txt does not exist"},
        {"1031,german.lang.txt\r\n1041,Japanese.lang.txt\r\n", "german.lang.txt does not exist"},
        {"0x407,German.lang.txt\r\n1041,Japanese.lang.txt\r\n", "line 1: not number,File.lang.txt"},
        {"01031,German.lang.txt\r\n1041,Japanese.lang.txt\r\n", "line 1: not number,File.lang.txt"},
        {"1031, German.lang.txt\r\n1041,Japanese.lang.txt\r\n", "line 1: not number,File.lang.txt"},
        {"1031;German.lang.txt\r\n1041,Japanese.lang.txt\r\n", "line 1: not number,File.lang.txt"},
        {"1031,German.txt\r\n1041,Japanese.lang.txt\r\n", "line 1: not number,File.lang.txt"},
        {"1031,German.lang.txt\r\n\r\n1041,Japanese.lang.txt\r\n",
         "line 2: not number,File.lang.txt"},
        {"99999,German.lang.txt\r\n1041,Japanese.lang.txt\r\n", "not a 16-bit language identifier"},
        {"1031,German.lang.txt\r\n1049,Japanese.lang.txt\r\n",
         "identifier 1049 is not a language of Japanese.lang.txt"},
        {"1031,German.lang.txt\r\n", "Japanese.lang.txt has no identifier"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> problems =
            CheckLanguageCodes(c.bom ? std::string(kBom) + c.body : c.body, dir.Path());
        const bool found = std::any_of(problems.begin(), problems.end(), [&](const std::string& p) {
            return p.find(c.fault) != std::string::npos;
        });
        EXPECT_TRUE(found) << "expected \"" << c.fault << "\", got:" << Describe(problems);
    }
}
