#include <string>
#include <vector>

#include "app/corvexa-scan/scan_cli.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return corvexa::cli::Run(args);
}
