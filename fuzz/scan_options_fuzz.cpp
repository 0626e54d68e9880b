// corvexa-scan's option parser on arbitrary command lines (arguments separated
// by NUL bytes). Every command line is either refused with a message or gives
// options that name exactly one source; --help and the manual page never fail.
#include "app/corvexa-scan/scan_options.h"
#include "engine/file_mask.h"
#include "fuzz_input.h"

using namespace corvexa;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    if (size > 0)
        for (std::string_view a : fuzz::Split({reinterpret_cast<const char*>(data), size}, '\0'))
            args.emplace_back(a);
    std::string error;
    std::optional<cli::Options> o = cli::ParseOptions(args, &error);
    if (!o) {
        fuzz::Check(!error.empty(), "refused without a message");
        return 0;
    }
    if (o->help || o->version) return 0;
    const int sources = (o->inputs.Mode == ScanMode::Directory ? 1 : 0) +
                        (o->filesFromGiven ? 1 : 0) + (o->files.empty() ? 0 : 1);
    fuzz::Check(sources == 1, "not exactly one source");
    const ScanInputs& in = o->inputs;
    fuzz::Check(in.Email || in.Ftp || in.Http || in.Https || in.Www, "every detection off");
    if (in.Mode == ScanMode::Directory)
        fuzz::Check(FileMask::Compile(in.FileMask).has_value(), "an invalid mask accepted");
    // Parsing the same command line again gives the same.
    std::string again;
    std::optional<cli::Options> p = cli::ParseOptions(args, &again);
    fuzz::Check(
        p && p->output == o->output && p->files == o->files && p->inputs.FileMask == in.FileMask,
        "a second parse differs");
    return 0;
}
