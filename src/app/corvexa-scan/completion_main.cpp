// Writes corvexa-scan's completion script for one shell, made from its option
// table, at build time.
#include <cstdio>
#include <fstream>

#include "app/corvexa-scan/scan_completion.h"

int main(int argc, char** argv) {
    const auto shell = argc == 3 ? corvexa::cli::ShellNamed(argv[1]) : std::nullopt;
    if (!shell) {
        std::fprintf(stderr, "usage: %s bash|zsh|fish OUTPUT\n", argc > 0 ? argv[0] : "completion");
        return 2;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << corvexa::cli::CompletionScript(*shell);
    out.close();
    return out ? 0 : 1;
}
