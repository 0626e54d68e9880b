// Times the results layer on a million findings: Show Hostnames, Show Domain
// Names, Remove Duplicates on the URL list and the export, and compares Remove
// Duplicates with `sort -f -u` under a UTF-8 locale on the same text.
//
//   results_bench [--keep] [findings.txt]
//
// With a file, the findings are its lines (UTF-8), repeated up to a million;
// otherwise a million
// synthetic URLs and e-mail addresses with many repeats are made up. With
// --keep the findings file that sort read stays for timing other peers.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/shared_list.h"
#include "engine/text.h"
#include "results/dedup.h"
#include "results/derive.h"
#include "results/export.h"

namespace {

using corvexa::SharedList;
using corvexa::Text;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFindings = 1'000'000;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// A pool of distinct findings (URLs of a few thousand sites, "www."
// addresses, e-mail addresses, ftp links, in mixed letter case), then count
// draws from it with a heavy head: navigation links and signatures repeat on
// every page, most other findings a few times.
std::vector<std::string> Synthesise(std::size_t count) {
    std::mt19937_64 rng(20240611);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const char* tlds[] = {"com", "net", "org", "de", "co.uk", "com.tr", "io", "info", "fr", "nl"};
    const char* words[] = {"alpha", "bravo", "city", "delta", "echo",  "forum", "green",  "hotel",
                           "india", "media", "news", "open",  "press", "shop",  "travel", "web"};
    const char* subs[] = {"www.", "", "mail.", "blog.", "cdn.", "shop.", "WWW."};
    const char* paths[] = {"",
                           "/",
                           "/index.html",
                           "/about",
                           "/contact.php?id=",
                           "/news/",
                           "/images/logo.png",
                           "/search?q=",
                           "/a/b/c#top",
                           "/Downloads/file.zip"};
    const char* users[] = {"info",  "sales",     "john.smith", "support",
                           "admin", "Mary-Jane", "o'neil"};

    std::vector<std::string> hosts;
    for (int i = 0; i < 20000; ++i) {
        std::string h = words[pick(16)];
        if (pick(2)) h += std::string("-") + words[pick(16)];
        h += std::to_string(pick(1000));
        h += ".";
        h += tlds[pick(10)];
        hosts.push_back(h);
    }
    std::vector<std::string> pool;
    for (std::size_t i = 0; i < count / 4; ++i) {
        const std::string& host = hosts[pick(hosts.size())];
        std::size_t kind = pick(10);
        std::string path = paths[pick(10)];
        if (path.back() == '=') path += std::to_string(pick(500));
        if (kind < 5) {
            pool.push_back((pick(3) ? "https://" : "http://") + std::string(subs[pick(7)]) + host +
                           path);
        } else if (kind < 7) {
            pool.push_back(std::string(pick(5) ? "www." : "WWW.") + host + path);
        } else if (kind < 9) {
            pool.push_back(std::string(users[pick(7)]) + "@" + host);
        } else {
            pool.push_back("ftp://ftp." + host + "/pub/" + words[pick(16)] + ".tar.gz");
        }
    }
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::string> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        double u = unit(rng);
        out.push_back(pool[static_cast<std::size_t>(u * u * static_cast<double>(pool.size() - 1))]);
    }
    return out;
}

void SyncFile(const std::filesystem::path& p) {
    int fd = ::open(p.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> Load(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "cannot read " << path << "\n";
        std::exit(2);
    }
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (out.empty() && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        out.push_back(line);
    }
    return out;
}

std::string Run(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// The UTF-8 locale that sort is measured under: en_US.UTF-8 when it is
// installed, else C.UTF-8.
std::string PeerLocale() {
    std::istringstream names(Run("locale -a 2>/dev/null"));
    std::string name;
    while (std::getline(names, name)) {
        if (name == "en_US.utf8" || name == "en_US.UTF-8") return "en_US.UTF-8";
    }
    return "C.UTF-8";
}

std::size_t CountLines(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::size_t n = 0;
    std::string line;
    while (std::getline(in, line)) ++n;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    bool keep = false;
    const char* source = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--keep")
            keep = true;
        else
            source = argv[i];
    }
    std::vector<std::string> lines = source ? Load(source) : Synthesise(kFindings);
    // A file's findings are repeated, in order, up to a million.
    if (source && !lines.empty() && lines.size() < kFindings) {
        const std::size_t distinct = lines.size();
        lines.reserve(kFindings);
        for (std::size_t i = distinct; i < kFindings; ++i) lines.push_back(lines[i % distinct]);
    }
    std::printf("findings: %zu (%s)\n", lines.size(), source ? source : "synthetic");
    {
        std::vector<std::string> copy = lines;
        std::sort(copy.begin(), copy.end());
        std::printf("distinct texts: %zu\n",
                    static_cast<std::size_t>(std::unique(copy.begin(), copy.end()) - copy.begin()));
    }

    SharedList urls;
    for (const std::string& l : lines) urls.Append(corvexa::FromUtf8(l));

    SharedList hosts;
    auto t = Clock::now();
    corvexa::results::BuildHostList(urls, hosts);
    double hostSeconds = Seconds(t);

    SharedList domains;
    t = Clock::now();
    corvexa::results::BuildDomainList(urls, domains);
    double domainSeconds = Seconds(t);

    corvexa::results::DedupCollator collator;
    SharedList unique;
    unique.Assign(urls.Snapshot());
    t = Clock::now();
    corvexa::results::RemoveDuplicates(unique, collator);
    double dedupSeconds = Seconds(t);

    t = Clock::now();
    corvexa::results::RemoveDuplicates(hosts, collator);
    double dedupHostSeconds = Seconds(t);

    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("corvexa-results-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::path exported = dir / "export.txt";
    t = Clock::now();
    corvexa::results::ExportList(urls, corvexa::FromUtf8(exported.string()));
    double exportInCacheSeconds = Seconds(t);
    SyncFile(exported);  // until the bytes are on the disk
    double exportSeconds = Seconds(t);

    std::printf("Show Hostnames (BuildHostList):        %8.3f s\n", hostSeconds);
    std::printf("Show Domain Names (BuildDomainList):   %8.3f s\n", domainSeconds);
    std::printf("Remove Duplicates, URL list:           %8.3f s  (%zu -> %zu entries)\n",
                dedupSeconds, urls.Size(), unique.Size());
    std::printf("Remove Duplicates, host list:          %8.3f s  (-> %zu entries)\n",
                dedupHostSeconds, hosts.Size());
    const auto exportedBytes = static_cast<std::uintmax_t>(std::filesystem::file_size(exported));
    std::printf("Export URL list, until on disk:        %8.3f s  (%ju bytes)\n", exportSeconds,
                exportedBytes);

    // Disk speed: the same bytes written in one call to a fresh file.
    {
        std::string bytes = ReadAll(exported);
        std::filesystem::path raw = dir / "raw.txt";
        auto t0 = Clock::now();
        std::FILE* f = std::fopen(raw.c_str(), "wb");
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        SyncFile(raw);
        double rawSeconds = Seconds(t0);
        std::printf("  of which into the page cache:        %8.3f s\n", exportInCacheSeconds);
        std::printf("peer: one write of the same bytes:     %8.3f s  (both until on disk)\n",
                    rawSeconds);
        std::printf("ratio export / one write:              %8.2fx\n", exportSeconds / rawSeconds);
        std::filesystem::remove(raw);
    }

    // The peer: sort -f -u on the same findings, one per line.
    std::filesystem::path input = dir / "findings.txt";
    {
        std::ofstream out(input, std::ios::binary);
        for (const std::string& l : lines) out << l << '\n';
    }
    std::string locale = PeerLocale();
    if (locale != "en_US.UTF-8")
        std::printf("note: en_US.UTF-8 is not installed; sort runs under C.UTF-8\n");
    std::filesystem::path sorted = dir / "sorted.txt";
    std::string command =
        "LC_ALL=" + locale + " sort -f -u '" + input.string() + "' > '" + sorted.string() + "'";
    t = Clock::now();
    int rc = std::system(command.c_str());
    double sortSeconds = Seconds(t);
    if (rc != 0) {
        std::printf("peer: `%s` failed (status %d)\n", command.c_str(), rc);
    } else {
        std::printf("peer: LC_ALL=%s sort -f -u:            %8.3f s  (-> %zu lines)\n",
                    locale.c_str(), sortSeconds, CountLines(sorted));
        std::printf("ratio sort / Remove Duplicates:        %8.1fx\n", sortSeconds / dedupSeconds);
    }
    if (keep) {
        std::filesystem::remove(exported);
        std::filesystem::remove(sorted);
        std::printf("findings file kept: %s\n", input.string().c_str());
    } else {
        std::filesystem::remove_all(dir);
    }
    return 0;
}
