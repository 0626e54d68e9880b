// What a million findings cost in the URL list, against the budget of twice
// their UTF-16 text plus 16 bytes each.
#include <malloc.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "engine/shared_list.h"
#include "engine/text.h"

using namespace corvexa;

int main(int argc, char** argv) {
    std::vector<Text> findings;
    if (argc > 1) {
        std::ifstream in(argv[1]);
        std::string line;
        while (std::getline(in, line) && findings.size() < 1000000)
            findings.push_back(FromUtf8(line));
    }
    if (findings.empty()) {
        for (int i = 0; i < 1000; ++i)
            findings.push_back(u"https://www.example" + FromUtf8(std::to_string(i)) + u".com/path");
    }
    const std::size_t n = 1000000;
    std::size_t textBytes = 0;
    for (std::size_t i = 0; i < n; ++i) textBytes += findings[i % findings.size()].size() * 2;

    std::size_t before = mallinfo2().uordblks;
    std::size_t usage;
    {
        SharedList list;
        for (std::size_t i = 0; i < n; ++i) list.Append(findings[i % findings.size()]);
        std::size_t after = mallinfo2().uordblks;
        usage = list.MemoryUsage();
        double budget = 2.0 * static_cast<double>(textBytes) + 16.0 * n;
        std::printf("findings:            %zu (average %.1f characters)\n", n,
                    static_cast<double>(textBytes) / 2 / n);
        std::printf("UTF-16 text:         %.1f MB\n", static_cast<double>(textBytes) / 1048576.0);
        std::printf("heap in use by list: %.1f MB (list's own count: %.1f MB)\n",
                    static_cast<double>(after - before) / 1048576.0,
                    static_cast<double>(usage) / 1048576.0);
        std::printf("budget (2 x text + 16 B each): %.1f MB -> %.2f of budget\n",
                    budget / 1048576.0, static_cast<double>(after - before) / budget);
    }
    return 0;
}
