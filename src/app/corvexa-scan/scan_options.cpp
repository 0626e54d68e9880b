#include "app/corvexa-scan/scan_options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cxxopts.hpp>
#include <string_view>
#include <thread>
#include <utility>

#include "engine/scan_job.h"
#include "engine/settings_table.h"

namespace corvexa::cli {

namespace {

bool ParseInt32(const std::string& s, std::int32_t* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    *out = static_cast<std::int32_t>(v);
    return true;
}

template <bool Options::*Field, bool Value>
bool Set(Options& o, const std::string&, std::string*) {
    o.*Field = Value;
    return true;
}

// Sets a switch of the scan's inputs.
template <bool ScanInputs::*Field, bool Value>
bool Input(Options& o, const std::string&, std::string*) {
    o.inputs.*Field = Value;
    return true;
}

bool Mask(Options& o, const std::string& v, std::string*) {
    o.inputs.FileMask = FromUtf8(v);
    return true;
}

bool SkipLarger(Options& o, const std::string& v, std::string* error) {
    if (ParseInt32(v, &o.inputs.SkipLargeFilesMB)) return true;
    *error = "--skip-larger-mb needs a whole number, not '" + v + "'";
    return false;
}

bool FilesFrom(Options& o, const std::string& v, std::string*) {
    o.filesFrom = v;
    o.filesFromGiven = true;
    return true;
}

bool View(Options& o, const std::string& v, std::string* error) {
    if (v == "url")
        o.view = results::ViewMode::Url;
    else if (v == "host")
        o.view = results::ViewMode::Host;
    else if (v == "domain")
        o.view = results::ViewMode::Domain;
    else {
        *error = "--view takes url, host or domain, not '" + v + "'";
        return false;
    }
    return true;
}

template <std::string Options::*Field>
bool FileName(Options& o, const std::string& v, std::string* error) {
    if (v.empty()) {
        *error = Field == &Options::output ? "-o needs a file" : "--files-out needs a file";
        return false;
    }
    o.*Field = v;
    return true;
}

bool Pdf(Options& o, const std::string& v, std::string* error) {
    if (v == "xpdf" || v == "pdfium" || v == "plain") {
        for (const PdfModeInfo& m : kPdfModes)
            if (m.cliName == v) o.inputs.Pdf = m.mode;
        return true;
    }
    *error = "--pdf takes xpdf, pdfium or plain, not '" + v + "'";
    return false;
}

// Switches on the document decoder of that name.
bool EnableDecoder(const std::string& name, DocumentKinds* kinds) {
    const DocumentKindInfo* kind = KindNamed(name);
    if (!kind) return false;
    kinds->Set(kind->kind);
    return true;
}

template <std::size_t Kind>
bool Decoder(Options& o, const std::string&, std::string*) {
    o.inputs.Kinds.Set(static_cast<DocumentKind>(Kind));
    return true;
}

// "eml,word,excel" (separator ","), "eml, word and excel" (", " and " and ").
std::string KindNames(const char* separator, const char* last) {
    std::string out;
    const auto& table = DocumentKindTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (i > 0) out += i + 1 == table.size() ? last : separator;
        out += table[i].name;
    }
    return out;
}

// The name --decode lists take for --link-targets.
constexpr std::string_view kLinkTargetsName = "link-targets";

// The names --decode takes: the document kinds', then link-targets.
std::string DecodeNames(const char* separator, const char* last) {
    return KindNames(separator, separator) + last + std::string(kLinkTargetsName);
}

bool DecodeList(Options& o, const std::string& list, std::string* error) {
    if (list.empty()) {
        *error = "--decode needs a list: " + DecodeNames(",", ",");
        return false;
    }
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = std::min(list.find(',', start), list.size());
        std::string name = list.substr(start, end - start);
        if (name == kLinkTargetsName) {
            o.inputs.LinkTargets = true;
        } else if (!EnableDecoder(name, &o.inputs.Kinds)) {
            *error = "--decode takes " + DecodeNames(", ", " and ") + ", not '" + name + "'";
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool Threads(Options& o, const std::string& v, std::string* error) {
    std::int32_t n = 0;
    if (ParseInt32(v, &n) && n >= 1 && n <= 1024) {
        o.threads = static_cast<unsigned>(n);
        return true;
    }
    *error = "-j needs a number of threads from 1 to 1024, not '" + v + "'";
    return false;
}

bool Format(Options& o, const std::string& v, std::string* error) {
    if (v == "text")
        o.format = OutputFormat::Text;
    else if (v == "json")
        o.format = OutputFormat::Json;
    else if (v == "csv")
        o.format = OutputFormat::Csv;
    else {
        *error = "--format takes text, json or csv, not '" + v + "'";
        return false;
    }
    return true;
}

bool Json(Options& o, const std::string&, std::string*) {
    o.format = OutputFormat::Json;
    return true;
}

// -H, -n, --count, --json and --format shape what is printed; an export file
// keeps its format.
std::string CheckOutputOptions(const Options& o) {
    if (o.format != OutputFormat::Text) {
        if (!o.output.empty())
            return "--json and --format print to standard output; they cannot be used with -o";
        if (o.count) return "--count cannot be used with --json or --format";
        if (o.dedup)
            return "--dedup merges findings from different places; it cannot be used with --json "
                   "or "
                   "--format";
    }
    const bool origins = o.withFilename || o.lineNumber;
    if ((origins || o.count) && !o.output.empty())
        return "-H, -n and --count print to standard output; they cannot be used with -o";
    if (origins && o.count) return "--count cannot be used with -H or -n";
    if (origins && o.dedup)
        return "--dedup merges findings from different places; it cannot be used with -H or -n";
    return {};
}

constexpr const char* kFolder = "Folder scan:";
constexpr const char* kList = "File list (every entry is read, whatever its name or size):";
constexpr const char* kDetection = "Detection:";
constexpr const char* kReading = "Reading:";
constexpr const char* kWhere = "Where found (standard output only):";
constexpr const char* kStructured = "Output for programs (standard output only):";
constexpr const char* kResults = "Results:";
constexpr const char* kOther = "Other:";

// Every option of corvexa-scan, in the order --help lists them. An entry
// without apply is not an option but an operand shown with its group.
const OptionDef kFixedOptions[] = {
    {kFolder, "mask", "MASK",
     "file mask matched against each file's full path (* any run, ? one character, [set], "
     "[!set]; letter case ignored; several separated by ';'); default \"*\"",
     "needs a value", Mask},
    {kFolder, "no-subfolders", nullptr, "do not descend into subfolders", nullptr,
     Input<&ScanInputs::IncludeSubfolders, false>},
    {kFolder, "skip-larger-mb", "N", "skip files of N MiB or more (0: no limit)", "needs a number",
     SkipLarger},
    {kList, "files-from", "LIST", "read the paths from LIST, one per line (\"-\": standard input)",
     "needs a file", FilesFrom},
    {kList, "", "-- FILE...", "the paths given on the command line", nullptr, nullptr},
    {kDetection, "no-email", nullptr, "no e-mail addresses", nullptr,
     Input<&ScanInputs::Email, false>},
    {kDetection, "no-ftp", nullptr, "no ftp links", nullptr, Input<&ScanInputs::Ftp, false>},
    {kDetection, "no-http", nullptr, "no http:// addresses", nullptr,
     Input<&ScanInputs::Http, false>},
    {kDetection, "no-https", nullptr, "no https:// addresses", nullptr,
     Input<&ScanInputs::Https, false>},
    {kDetection, "no-www", nullptr, "no addresses that begin with \"www.\"", nullptr,
     Input<&ScanInputs::Www, false>},
    {kReading, "memory-stream", nullptr,
     "load each text file whole before searching it (default: read it through a small buffer, "
     "line by line)",
     nullptr, Set<&Options::memoryStream, true>},
    {kReading, "pdf", "xpdf|pdfium|plain",
     "how PDF files are read: through the pdftotext converter (\"xpdf/\" beside the program, else "
     "PATH) with the PDF library as fallback (xpdf, the default), through the PDF library alone "
     "(pdfium), or as plain text (plain)",
     "needs xpdf, pdfium or plain", Pdf},
    {kReading, "z,archives", nullptr,
     "read inside compressed files (.gz .bz2 .xz .zst .lz4) and archives (.zip .tar .tgz .7z "
     ".cpio and the like), nested up to 8 deep, each member in memory as text; a finding's file is "
     "written ARCHIVE//MEMBER. A member or archive that expands past 32 MiB, 256 MiB or 200 times "
     "its size fails as a bomb",
     nullptr, Input<&ScanInputs::Archives, true>},
    {kReading, "mailboxes", nullptr,
     "read mbox files (mbox, *.mbox, *.mbx) message by message, each decoded as --eml decodes a "
     "message and then read as it is (a finding's file is written MBOX//NUMBER), and the "
     "messages of Maildir folders (files in cur/ and new/) likewise; memory holds one message",
     nullptr, Input<&ScanInputs::Mailboxes, true>},
    {kReading, "link-targets", nullptr,
     "after the text of each PDF, Word or Excel document its reader decoded, read the document's "
     "link targets: the URI of every PDF link annotation (through the PDF library, with --pdf "
     "xpdf as well) and the external hyperlinks of .docx and .xlsx files (a .doc or .xls is "
     "converted by LibreOffice once more for them); a finding's file is written "
     "DOCUMENT//link:page=N for a PDF, DOCUMENT//link otherwise, its line the link's number there",
     nullptr, Input<&ScanInputs::LinkTargets, true>},
    {kReading, "j,threads", "N",
     "read N files at a time (default: the number of cores); the output is the same for every N, "
     "in file order",
     "needs a number", Threads},
    {kWhere, "H,with-filename", nullptr, "print each finding's file before it", nullptr,
     Set<&Options::withFilename, true>},
    {kWhere, "n,line-number", nullptr,
     "print each finding's line number (from 1) before it. Columns are tab-separated: "
     "FILE<TAB>LINE<TAB>FINDING; a tab, CR or LF in a file name is written \\t, \\r, \\n",
     nullptr, Set<&Options::lineNumber, true>},
    {kWhere, "count", nullptr,
     "print each distinct entry of the list (equal as --dedup compares) as COUNT<TAB>ENTRY, most "
     "frequent first, equal counts in --dedup order",
     nullptr, Set<&Options::count, true>},
    {kStructured, "json", nullptr,
     "print each finding as a JSON object on a line of its own with \"file\", \"line\", "
     "\"kind\" (web, email or ftp) and \"text\", and \"member\" for a finding inside an "
     "archive member or mailbox message, or in a link target (link:page=N, link); a file or member "
     "name that is not UTF-8 comes as "
     "\"file_bytes\" or \"member_bytes\", its bytes in base64. A last object "
     "{\"summary\":{...}} gives files_read, failed, findings, seconds and stopped",
     nullptr, Json},
    {kStructured, "format", "text|json|csv",
     "text (the default), json (as --json) or csv: a header row file,member,line,kind,text, then "
     "one row per finding (RFC 4180: CR LF line ends, a field with a comma, quote or line break in "
     "quotes; names as their bytes)",
     "needs text, json or csv", Format},
    {kResults, "view", "url|host|domain",
     "print the findings as found (url), as host names or as domain names; default url",
     "needs url, host or domain", View},
    {kResults, "dedup", nullptr,
     "sort the (derived) list and remove duplicates, letter case ignored; the first of equal "
     "entries stays",
     nullptr, Set<&Options::dedup, true>},
    {kResults, "o,output", "FILE",
     "write the list to FILE as an export file (UTF-8 with byte-order mark, CR LF line ends) "
     "instead of printing",
     "needs a file", FileName<&Options::output>},
    {kResults, "files-out", "FILE", "write the list of files read to FILE the same way",
     "needs a file", FileName<&Options::filesOut>},
    {kOther, "q,quiet", nullptr, "no progress on standard error", nullptr,
     Set<&Options::quiet, true>},
    {kOther, "verbose", nullptr,
     "name each file that could not be read, with the reason, on standard error (default: only "
     "their count)",
     nullptr, Set<&Options::verbose, true>},
    {kOther, "version", nullptr, "show the program's version", nullptr,
     Set<&Options::version, true>},
    {kOther, "h,help", nullptr, "show this text", nullptr, Set<&Options::help, true>},
};

using ApplyFn = bool (*)(Options&, const std::string&, std::string*);

template <std::size_t... I>
std::array<ApplyFn, sizeof...(I)> DecoderSwitches(std::index_sequence<I...>) {
    return {Decoder<I>...};
}

// The fixed options with, after --pdf, one switch per document kind and
// --decode that names them all.
std::vector<OptionDef> MakeOptionTable() {
    static const std::string decodeHelp =
        "the same as a comma-separated list: " + DecodeNames(",", ",") +
        ". Without these, such files are read as plain text, as "
        "they are when LibreOffice is not installed.";
    static const std::string decodeMissing = "needs a list: " + DecodeNames(",", ",");
    static const auto switches = DecoderSwitches(std::make_index_sequence<kDocumentKindCount>());
    std::vector<OptionDef> table;
    for (const OptionDef& d : kFixedOptions) {
        table.push_back(d);
        if (std::string_view(d.names) != "pdf") continue;
        for (const DocumentKindInfo& kind : DocumentKindTable())
            table.push_back({kReading, kind.name.data(), nullptr, kind.cliHelp.data(), nullptr,
                             switches[static_cast<std::size_t>(kind.kind)]});
        table.push_back(
            {kReading, "decode", "LIST", decodeHelp.c_str(), decodeMissing.c_str(), DecodeList});
    }
    return table;
}

const std::vector<OptionDef>& AllOptions() {
    static const std::vector<OptionDef> table = MakeOptionTable();
    return table;
}

struct Names {
    std::string shortName, longName;
};

Names SplitNames(const char* names) {
    std::string n = names;
    if (n.size() > 2 && n[1] == ',') return {n.substr(0, 1), n.substr(2)};
    return {"", n};
}

const OptionDef* FindOption(const std::string& name, bool isShort) {
    for (const OptionDef& d : AllOptions()) {
        if (!d.apply) continue;
        Names n = SplitNames(d.names);
        if ((isShort ? n.shortName : n.longName) == name) return &d;
    }
    return nullptr;
}

std::string Dashed(const std::string& name) {
    return (name.size() == 1 ? "-" : "--") + name;
}

struct Prepared {
    std::vector<std::string> tokens;  // for the option library
    std::vector<std::string> files;   // after "--"
    bool filesGiven = false;
};

// Brings the arguments into the shape the option library handles safely: a
// value is always its own token (the library matches every option token with a
// recursive regular expression, which overruns the stack on an argument of
// some hundred kilobytes), a switch given a value is refused, and the files
// after "--" are set apart from a FOLDER before it.
bool Prepare(const std::vector<std::string>& args, Prepared* p, std::string* error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            p->files.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            p->filesGiven = true;
            return true;
        }
        if (a.size() < 2 || a[0] != '-') {
            p->tokens.push_back(a);
            continue;
        }
        bool isLong = a[1] == '-';
        std::size_t eq = isLong ? a.find('=') : std::string::npos;
        std::string name =
            isLong ? a.substr(2, eq == std::string::npos ? eq : eq - 2) : a.substr(1, 1);
        const OptionDef* def = FindOption(name, !isLong);
        if (!def) {
            *error = "unknown option '" + a + "'";
            return false;
        }
        p->tokens.push_back(Dashed(name));
        if (isLong && eq != std::string::npos) {
            if (!def->value) {
                *error = "--" + name + " takes no value";
                return false;
            }
            p->tokens.push_back(a.substr(eq + 1));
        } else if (!isLong && a.size() > 2) {
            // -qv: more one-letter switches; -oFILE: the value follows the letter.
            if (def->value)
                p->tokens.push_back(a.substr(2));
            else
                for (std::size_t j = 2; j < a.size(); ++j) {
                    if (!FindOption(std::string(1, a[j]), true)) {
                        *error = "unknown option '" + a + "'";
                        return false;
                    }
                    p->tokens.push_back(Dashed(std::string(1, a[j])));
                }
        } else if (def->value && i + 1 < args.size()) {
            p->tokens.push_back(args[++i]);  // even "--" or one beginning with "-"
        }
    }
    return true;
}

cxxopts::Options MakeParser() {
    cxxopts::Options parser("corvexa-scan");
    for (const OptionDef& d : AllOptions()) {
        if (!d.apply) continue;
        if (d.value)
            parser.add_options(d.group)(d.names, d.help, cxxopts::value<std::string>());
        else
            parser.add_options(d.group)(d.names, d.help);
    }
    return parser;
}

// The checks that need the whole command line.
std::optional<Options> Finish(Options o, const std::vector<std::string>& positional,
                              std::string* error) {
    auto fail = [&](const std::string& msg) -> std::optional<Options> {
        *error = msg;
        return std::nullopt;
    };
    int sources =
        (positional.empty() ? 0 : 1) + (o.filesFromGiven ? 1 : 0) + (o.files.empty() ? 0 : 1);
    if (sources == 0) return fail("name a FOLDER, --files-from LIST or -- FILE...");
    if (sources > 1 || positional.size() > 1)
        return fail("give exactly one of FOLDER, --files-from LIST or -- FILE...");
    if (auto e = CheckOutputOptions(o); !e.empty()) return fail(e);
    if (o.threads == 0) o.threads = std::max(1u, std::thread::hardware_concurrency());

    // The same checks as the window's START; the job is built when the
    // readers are.
    o.inputs.Mode = positional.empty() ? ScanMode::FileList : ScanMode::Directory;
    if (!positional.empty()) o.inputs.Folder = FromUtf8(positional.front());
    if (auto e = ProblemText(CheckScanInputs(o.inputs)); !e.empty()) return fail(e);
    return o;
}

}  // namespace

ScanInputs CommandLineInputs() {
    ScanInputs in;
    in.FolderRequired = false;  // FOLDER or a list of files; nothing asks for one
    in.IncludeSubfolders = DefaultOn(SettingKey::IncludeSubfolders);
    in.FileMask = u"*";
    in.CheckMask = true;
    in.SkipLargeFiles = true;  // with no limit until --skip-larger-mb sets one
    in.SkipLargeFilesMB = 0;
    in.Email = DefaultOn(SettingKey::DetectEmail);
    in.Ftp = DefaultOn(SettingKey::DetectFtp);
    in.Http = DefaultOn(SettingKey::DetectHttp);
    in.Https = DefaultOn(SettingKey::DetectHttps);
    in.Www = DefaultOn(SettingKey::DetectWww);
    in.Pdf = DefaultPdfMode();
    return in;
}

std::string ProblemText(const ScanJobResult& checked) {
    switch (checked.Problem) {
        case ScanJobProblem::None:
            return {};
        case ScanJobProblem::NoDetection:
            return "every kind of detection is switched off; nothing could be found";
        case ScanJobProblem::MaskInvalid:
            return "invalid --mask: " + checked.MaskError;
        case ScanJobProblem::FolderBlank:
            return "name a FOLDER";  // not asked for here
    }
    return {};
}

std::span<const OptionDef> OptionTable() {
    return AllOptions();
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error) {
    Prepared p;
    if (!Prepare(args, &p, error)) return std::nullopt;
    if (p.filesGiven && p.files.empty()) {
        *error = "-- must be followed by at least one file";
        return std::nullopt;
    }
    std::vector<const char*> argv{"corvexa-scan"};
    for (const std::string& t : p.tokens) argv.push_back(t.c_str());

    cxxopts::Options parser = MakeParser();
    parser.allow_unrecognised_options();  // every option is known here; the rest are operands
    Options o;
    o.files = std::move(p.files);
    std::vector<std::string> positional;
    try {
        cxxopts::ParseResult result = parser.parse(static_cast<int>(argv.size()), argv.data());
        for (const cxxopts::KeyValue& kv : result.arguments()) {
            const OptionDef* def = FindOption(kv.key(), kv.key().size() == 1);
            if (def && !def->apply(o, def->value ? kv.value() : std::string(), error))
                return std::nullopt;
        }
        positional = result.unmatched();
    } catch (const cxxopts::exceptions::missing_argument&) {
        // Only the last token can lack its value.
        const std::string& last = p.tokens.back();
        const OptionDef* def = FindOption(last.substr(last.size() == 2 ? 1 : 2), last.size() == 2);
        *error = last + " " + (def && def->missing ? def->missing : "needs a value");
        return std::nullopt;
    } catch (const cxxopts::exceptions::exception& e) {
        *error = e.what();
        return std::nullopt;
    }
    if (o.help || o.version) return o;
    return Finish(std::move(o), positional, error);
}

}  // namespace corvexa::cli
