// Turns text files into PDF documents, one page per 66 lines:
//   make_pdfs OUT_FOLDER < list of text files
// Each input becomes OUT_FOLDER/<n>.pdf; unreadable inputs are passed over.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "support/pdf_maker.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pdfs OUT_FOLDER < list\n");
        return 2;
    }
    std::string input;
    int made = 0;
    while (std::getline(std::cin, input)) {
        std::ifstream in(input, std::ios::binary);
        if (!in) continue;
        std::ostringstream text;
        text << in.rdbuf();
        try {
            corvexa::test::WritePdf(std::string(argv[1]) + "/" + std::to_string(made) + ".pdf",
                                    corvexa::test::Paginate(text.str()));
            ++made;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "make_pdfs: %s\n", e.what());
        }
    }
    std::printf("%d\n", made);
    return 0;
}
