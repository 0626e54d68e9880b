// Writes corvexa-scan's manual page, made from its option table, at build time.
#include <cstdio>
#include <fstream>

#include "app/corvexa-scan/scan_options.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s VERSION OUTPUT\n", argv[0]);
        return 2;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << corvexa::cli::ManPage(argv[1]);
    out.close();
    return out ? 0 : 1;
}
