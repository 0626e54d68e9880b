// Times the detector against a plain PCRE2 search loop (the same patterns,
// JIT-compiled, searched from the start of each line, leftmost match after
// leftmost match) on hostile lines of a few megabytes and on ordinary prose.
// All five switches are on. Prints throughput and the speed ratio.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/detect.h"
#include "support/detect_support.h"

namespace {

using corvexa::Text;
using corvexa::TextView;
using corvexa::test::Repeat;
using corvexa::test::Rng;

// Prose of about 70 characters a line; one line in 40 carries an address. The
// lines lie one after the other in one buffer, as a reader holds a file's text.
struct Prose {
    Text text;
    std::vector<TextView> lines;
};

Prose MakeProse(std::size_t lines) {
    static const char16_t* const words[] = {
        u"the",
        u"of",
        u"and",
        u"a",
        u"to",
        u"in",
        u"is",
        u"was",
        u"for",
        u"that",
        u"with",
        u"as",
        u"on",
        u"by",
        u"report",
        u"data",
        u"system",
        u"between",
        u"which",
        u"however,",
        u"files",
        u"meeting:",
        u"(see",
        u"below)",
        u"number",
        u"2024",
        u"page",
        u"Monday",
        u"What",
        u"review.",
        u"window",
        u"address",
        u"\u00E9t\u00E9",
        u"na\u00EFve",
        u"\u0434\u0430\u043D\u043D\u044B\u0435",
        u"e.g.",
        u"i.e.",
        u"etc.",
    };
    static const char16_t* const addresses[] = {
        u"www.example.com/docs/index.html",
        u"https://files.example.org/a?b=c&d=e",
        u"http://intranet.example.net:8080/x",
        u"john.doe@example.com",
        u"ftp://ftp.example.org/pub/",
        u"(see http://example.com/a_(b))",
        u"WWW.EXAMPLE.COM.",
    };
    Rng rng(5);
    std::vector<Text> made;
    made.reserve(lines);
    for (std::size_t i = 0; i < lines; ++i) {
        Text line;
        const std::size_t target = 40 + rng.Below(60);
        const bool withAddress = rng.Below(40) == 0;
        const std::size_t addressAt = rng.Below(target);
        while (line.size() < target) {
            if (withAddress && line.size() >= addressAt && line.find(u'@') == Text::npos &&
                line.find(u"//") == Text::npos && line.find(u"ww.") == Text::npos &&
                line.find(u"WW.") == Text::npos)
                line += addresses[rng.Below(std::size(addresses))];
            else
                line += words[rng.Below(std::size(words))];
            line += rng.Below(12) == 0 ? u". " : u" ";
        }
        made.push_back(std::move(line));
    }
    Prose out;
    std::vector<std::size_t> starts;
    for (const Text& line : made) {
        starts.push_back(out.text.size());
        out.text += line;
        out.text += u'\n';
    }
    for (std::size_t i = 0; i < made.size(); ++i)
        out.lines.push_back(TextView(out.text).substr(starts[i], made[i].size()));
    return out;
}

template <typename F>
double BestSeconds(int rounds, F&& f) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

struct Result {
    double ours = 0, plain = 0;
};

// With `skip`, the lines must lie in one text, and the detector is driven as a
// whole-file reader drives it: only lines with a key are handed over.
Result Time(const std::vector<TextView>& lines, int rounds, bool skip = false) {
    corvexa::DetectionSwitches switches;
    corvexa::SharedList ourList, plainList;
    corvexa::Detector detector(switches, ourList);
    corvexa::test::PlainPcre2 plain(corvexa::test::PlainPcre2::ProgramPatterns(), 8 * 1024 * 1024,
                                    true);
    Result r;
    r.ours = BestSeconds(rounds, [&] {
        ourList.Clear();
        if (!skip) {
            for (TextView line : lines) detector.DetectInLine(line);
            return;
        }
        const char16_t* text = lines.front().data();
        const std::size_t total =
            static_cast<std::size_t>(lines.back().data() - text) + lines.back().size();
        auto end = [&](std::size_t i) {
            return static_cast<std::size_t>(lines[i].data() - text) + lines[i].size();
        };
        std::size_t from = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::size_t key = detector.NextKey(text, from, total);
            if (key >= total) break;
            while (i < lines.size() && end(i) <= key) ++i;
            if (i == lines.size()) break;
            detector.DetectInLine(lines[i]);
            from = end(i);
        }
    });
    r.plain = BestSeconds(rounds, [&] {
        plainList.Clear();
        for (TextView line : lines)
            plain.Each(true, true, true, true, true, line,
                       [&](TextView m) { plainList.Append(m); });
    });
    if (ourList.Snapshot() != plainList.Snapshot()) {
        std::fprintf(stderr, "findings differ\n");
        std::exit(1);
    }
    return r;
}

void Print(const char* name, std::size_t chars, const Result& r) {
    const double mchars = static_cast<double>(chars) / 1e6;
    std::printf("%-34s %8.1f Mchar/s %10.1f Mchar/s %9.1fx\n", name, mchars / r.ours,
                mchars / r.plain, r.plain / r.ours);
}

}  // namespace

int main() {
    const std::size_t mb = 4u << 20;
    std::printf("%-34s %16s %18s %10s\n", "input (all switches on)", "detector", "plain PCRE2",
                "ratio");

    Rng rng(11);
    Text random;
    {
        static const char16_t* const pieces[] = {u"http", u"://", u"www.", u"ftp://", u"@",  u".",
                                                 u"-",    u"a",   u"b9",   u"(",      u")",  u" ",
                                                 u":",    u"/",   u"_",    u"\u00E9", u"com"};
        while (random.size() < mb) random += pieces[rng.Below(std::size(pieces))];
    }
    const struct {
        const char* name;
        Text line;
    } hostile[] = {
        {"www.- repeated, 4M", Repeat(u"www.-", mb)},
        {"www.a- repeated, 4M", Repeat(u"www.a-", mb)},
        {"www. repeated, 4M", Repeat(u"www.", mb)},
        {"http:// repeated, 4M", Repeat(u"http://", mb)},
        {"http://a. repeated, 4M", Repeat(u"http://a.", mb)},
        {"www. + 40 letters + _, 4M", Repeat(u"www." + Text(40, u'a') + u"_", mb)},
        {"letters then @, 4M", Text(mb, u'a') + u"@"},
        {"a@ repeated, 4M", Repeat(u"a@", mb)},
        {"a@b. repeated, 4M", Repeat(u"a@b.", mb)},
        {"x@ then long label, 4M", u"x@" + Text(mb, u'b') + u"."},
        {"ftp://a repeated, 4M", Repeat(u"ftp://a", mb)},
        {"random pieces, 4M", random},
    };
    for (const auto& h : hostile) Print(h.name, h.line.size(), Time({TextView(h.line)}, 2));

    const Prose prose = MakeProse(400000);
    Print("prose, 400k lines", prose.text.size(), Time(prose.lines, 3));
    Print("prose, only lines with a key", prose.text.size(), Time(prose.lines, 3, true));
    return 0;
}
