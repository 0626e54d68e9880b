// What a million findings cost in the URL list, against the budget of twice
// their UTF-16 text plus 16 bytes each, and what an Append costs against
// pushing the same texts onto a std::vector<Text>.
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "engine/shared_list.h"
#include "engine/text.h"

using namespace corvexa;

namespace {

// Resident kB of this process: the list keeps its large blocks outside the
// heap, so the heap's count alone would miss them.
std::size_t ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6));
    return 0;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

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

    const std::size_t heapBefore = mallinfo2().uordblks;
    const std::size_t rssBefore = ResidentKb();
    double listSeconds = 0;
    {
        SharedList list;
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < n; ++i) list.Append(findings[i % findings.size()]);
        listSeconds = Seconds(start);
        const double heap = static_cast<double>(mallinfo2().uordblks - heapBefore);
        const double taken = 1024.0 * static_cast<double>(ResidentKb() - rssBefore);
        const double budget = 2.0 * static_cast<double>(textBytes) + 16.0 * n;
        std::printf("findings:            %zu (average %.1f characters)\n", n,
                    static_cast<double>(textBytes) / 2 / n);
        std::printf("UTF-16 text:         %.1f MB\n", static_cast<double>(textBytes) / 1048576.0);
        std::printf(
            "memory taken by list: %.1f MB resident, %.1f MB of it heap (list's own count: "
            "%.1f MB)\n",
            taken / 1048576.0, heap / 1048576.0,
            static_cast<double>(list.MemoryUsage()) / 1048576.0);
        std::printf("budget (2 x text + 16 B each): %.1f MB -> %.2f of budget\n",
                    budget / 1048576.0, taken / budget);
    }
    double vectorSeconds = 0;
    {
        std::vector<Text> peer;
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < n; ++i) peer.push_back(findings[i % findings.size()]);
        vectorSeconds = Seconds(start);
    }
    std::printf("Append: %.1f ns a finding; std::vector<Text>::push_back: %.1f ns -> %.2fx\n",
                listSeconds * 1e9 / n, vectorSeconds * 1e9 / n, listSeconds / vectorSeconds);
    return 0;
}
