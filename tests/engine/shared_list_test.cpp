#include "engine/shared_list.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/text.h"

using namespace corvexa;

namespace {

// Entries of every kind the list stores differently: ASCII ones (one byte a
// character), others (UTF-16), the characters on either side of 0x80,
// surrogate pairs, empty entries, and entries longer than a block.
Text Entry(std::size_t i) {
    const Text n = FromUtf8(std::to_string(i));
    switch (i % 9) {
        case 0:
            return u"https://www.example" + n + u".com/path";
        case 1:
            return u"";
        case 2:
            return u"joe" + n + u"@m\u00e4il.example";
        case 3:
            return u"\U0001F600" + n + u"\U00010348";
        case 4:
            return Text(1, u'\x7f') + n;
        case 5:
            return n + Text(1, u'\x80');
        case 6:
            return Text(1, u'\xd83d');  // a lone high surrogate, kept as it is
        case 7:
            return i % 5000 == 7 ? Text(40000, u'a') : u"ftp://ftp.example.org/" + n;
        default:
            return i % 4000 == 8 ? Text(20000, u'\u00e9')
                                 : Text(1, static_cast<char16_t>(i % 0x80));
    }
}

std::vector<Text> Entries(std::size_t count, const std::function<Text(std::size_t)>& make) {
    std::vector<Text> out;
    for (std::size_t i = 0; i < count; ++i) out.push_back(make(i));
    return out;
}

void Fill(SharedList& list, const std::vector<Text>& entries) {
    for (const Text& e : entries) list.Append(e);
}

// Every way of reading the list gives `expected`, in order.
void ExpectContent(const SharedList& list, const std::vector<Text>& expected) {
    ASSERT_EQ(list.Size(), expected.size());
    EXPECT_EQ(list.Snapshot(), expected);
    for (std::size_t i = 0; i < expected.size(); i += 1 + i % 3)
        ASSERT_EQ(list.At(i), expected[i]) << i;
    for (std::size_t i = expected.size(); i-- > 0;) {  // backwards: every lookup searches
        Text got = u"stale";
        ASSERT_TRUE(list.TryAt(i, got));
        ASSERT_EQ(got, expected[i]) << i;
    }
    Text untouched = u"kept";
    EXPECT_FALSE(list.TryAt(expected.size(), untouched));
    EXPECT_EQ(untouched, u"kept");
    EXPECT_THROW(list.At(expected.size()), std::out_of_range);
    std::vector<Text> batched;
    list.ForEachBatched([&](TextView t) { batched.emplace_back(t); });
    EXPECT_EQ(batched, expected);
    for (std::size_t from :
         {std::size_t{0}, std::size_t{1}, expected.size() / 2, expected.size()}) {
        if (from > expected.size()) continue;
        std::vector<Text> visited;
        const std::size_t got =
            list.VisitFrom(from, 777, [&](TextView t) { visited.emplace_back(t); });
        const std::size_t want = std::min<std::size_t>(777, expected.size() - from);
        ASSERT_EQ(got, want) << from;
        for (std::size_t k = 0; k < want; ++k) ASSERT_EQ(visited[k], expected[from + k]);
    }
}

}  // namespace

TEST(SharedList, StoresEveryKindOfEntryAsGiven) {
    struct Case {
        const char* name;
        std::size_t count;
        std::function<Text(std::size_t)> make;
    };
    const std::vector<Case> cases = {
        {"empty list", 0, Entry},
        {"one empty entry", 1, [](std::size_t) { return Text(); }},
        {"only empty entries, past an index chunk", 9000, [](std::size_t) { return Text(); }},
        {"mixed kinds over many blocks", 30000, Entry},
        {"ASCII filling blocks exactly", 5000, [](std::size_t) { return Text(512, u'x'); }},
        {"UTF-16 filling blocks exactly", 5000, [](std::size_t) { return Text(256, u'\u0416'); }},
        {"entries longer than a block", 20,
         [](std::size_t i) { return Text(33000 + i, i % 2 ? u'\u20ac' : u'b'); }},
        // Several MiB: past the first mapped regions, into those a long list
        // takes 2 MiB at a time.
        {"mixed kinds over many regions", 250000, Entry},
        {"ASCII then non-ASCII alternating", 10001,
         [](std::size_t i) { return i % 2 ? Text(3, u'q') : Text(1, u'\u0100'); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SharedList list;
        const std::vector<Text> entries = Entries(c.count, c.make);
        Fill(list, entries);
        ExpectContent(list, entries);
    }
}

TEST(SharedList, RemoveAtKeepsTheOrderOfTheRest) {
    struct Case {
        const char* name;
        std::function<bool(std::size_t)> removed;
    };
    const std::vector<Case> cases = {
        {"nothing", [](std::size_t) { return false; }},
        {"everything", [](std::size_t) { return true; }},
        {"every third", [](std::size_t i) { return i % 3 == 0; }},
        {"the long entries and their neighbours", [](std::size_t i) { return i % 5000 < 9; }},
        {"a run across blocks", [](std::size_t i) { return i >= 1000 && i < 15000; }},
        {"the last", [](std::size_t i) { return i == 19999; }},
    };
    const std::vector<Text> entries = Entries(20000, Entry);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SharedList list;
        Fill(list, entries);
        std::vector<std::size_t> indices = {entries.size(), entries.size() + 5};  // ignored
        std::vector<Text> kept;
        for (std::size_t i = entries.size(); i-- > 0;) {  // descending, with duplicates
            if (c.removed(i)) {
                indices.push_back(i);
                indices.push_back(i);
            }
        }
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (!c.removed(i)) kept.push_back(entries[i]);
        list.RemoveAt(indices);
        ExpectContent(list, kept);
        list.Append(u"after\u00e9");
        kept.push_back(u"after\u00e9");
        ExpectContent(list, kept);
    }
}

TEST(SharedList, AssignSwapAppendFromAndClearMoveWholeContents) {
    const std::vector<Text> first = Entries(12000, Entry);
    const std::vector<Text> second = Entries(700, [](std::size_t i) { return Entry(i * 7 + 3); });
    SharedList a, b;
    a.Assign(first);
    Fill(b, second);
    a.Swap(b);
    ExpectContent(a, second);
    ExpectContent(b, first);
    a.Swap(a);
    ExpectContent(a, second);

    a.AppendFrom(b);
    std::vector<Text> both = second;
    both.insert(both.end(), first.begin(), first.end());
    ExpectContent(a, both);
    a.AppendFrom(a);  // itself: nothing
    ExpectContent(a, both);

    b.Clear();
    ExpectContent(b, {});
    b.Append(u"\U0001F600");
    ExpectContent(b, {u"\U0001F600"});
    a.Assign({});
    ExpectContent(a, {});
}

// Characters below 0x80 are kept one byte each: the list's storage is about
// its text as UTF-8 plus two bytes an entry, not its UTF-16 size.
TEST(SharedList, AsciiEntriesCostAboutOneByteACharacter) {
    SharedList list;
    const std::size_t n = 200000;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < n; ++i) {
        Text e = u"https://www.example" + FromUtf8(std::to_string(i % 1000)) + u".com/";
        chars += e.size();
        list.Append(e);
    }
    const double perEntry = static_cast<double>(list.MemoryUsage()) / static_cast<double>(n);
    const double textPerEntry = static_cast<double>(chars) / static_cast<double>(n);
    EXPECT_LT(perEntry, textPerEntry + 3.0) << "text " << textPerEntry << " B an entry";
}

// The window reads while the collector appends: every entry a reader sees is
// whole and where it belongs, whatever the interleaving.
TEST(SharedList, ReadersSeeWholeEntriesWhileAnotherThreadAppends) {
    const std::vector<Text> entries = Entries(40000, Entry);
    SharedList list;
    std::thread writer([&] { Fill(list, entries); });
    std::size_t next = 0;
    bool ok = true;
    while (next < entries.size()) {
        std::size_t at = next;
        next += list.VisitFrom(next, 500, [&](TextView t) { ok = ok && t == entries[at++]; });
        Text one;
        if (list.TryAt(next / 2, one)) ok = ok && one == entries[next / 2];
    }
    writer.join();
    EXPECT_TRUE(ok);
    ExpectContent(list, entries);
}

// Entries put in the middle, at the start and past the end keep every
// entry's text, narrow and wide alike, in the new order.
TEST(SharedListInsert, EntriesGoInBeforeTheIndexGiven) {
    struct Case {
        std::size_t at;
        std::vector<Text> expected;
    } cases[] = {
        {0, {u"x", u"\u00e9y", u"a", u"b\u00e9", u"c"}},
        {1, {u"a", u"x", u"\u00e9y", u"b\u00e9", u"c"}},
        {3, {u"a", u"b\u00e9", u"c", u"x", u"\u00e9y"}},
        {99, {u"a", u"b\u00e9", u"c", u"x", u"\u00e9y"}},
    };
    for (const Case& c : cases) {
        SharedList list;
        list.Assign({u"a", u"b\u00e9", u"c"});
        list.InsertAt(c.at, {u"x", u"\u00e9y"});
        EXPECT_EQ(list.Snapshot(), c.expected) << c.at;
        list.Append(u"z");
        EXPECT_EQ(list.At(5), u"z");
    }
}

// A scan puts each archive's members in right after it while reading the
// list in order: many insertions at rising places into a long list, with
// now and then one further back and one too long to share a block. The
// content matches a plain vector's throughout, and the list stays about as
// small as one written in one go.
TEST(SharedListInsert, ManyInsertionsAtRisingPlacesKeepContentAndSize) {
    std::vector<Text> model = Entries(20000, Entry);
    SharedList list;
    Fill(list, model);
    std::size_t inserted = 0;
    for (std::size_t i = 0; i < model.size(); i += 3) {
        std::vector<Text> members;
        for (std::size_t k = 0; k <= inserted % 3; ++k)
            members.push_back(u"a.tgz//m" + FromUtf8(std::to_string(inserted + k)) +
                              (k == 1 ? u"\u00e9" : u""));
        if (inserted % 997 == 5) members.push_back(Text(17000, u'L'));
        const std::size_t at = inserted % 401 == 3 ? i / 2 : i + 1;
        list.InsertAt(at, members);
        model.insert(model.begin() + static_cast<std::ptrdiff_t>(at), members.begin(),
                     members.end());
        inserted += members.size();
        i += members.size();
        if (inserted % 1500 < 3) {
            Text got;
            ASSERT_TRUE(list.TryAt(at, got));
            ASSERT_EQ(got, model[at]) << at;
        }
    }
    ExpectContent(list, model);
    list.Append(u"last");
    EXPECT_EQ(list.At(model.size()), u"last");
    SharedList written;
    Fill(written, model);
    EXPECT_LT(list.MemoryUsage(), 3 * written.MemoryUsage());
}

// A reader's buffer is filled, appended to the URL list a block at a time and
// recycled, file after file: the list and the buffer always hold what a
// vector of the same entries holds, whatever the sizes, kinds and blocks.
TEST(SharedListAppend, AppendFromRecycledBuffersMatchesAVectorModel) {
    struct Case {
        const char* name;
        std::vector<std::size_t> files;  // entries each file finds, in turn
        std::function<Text(std::size_t)> make;
        bool insert = false;  // the buffer's blocks split by an insertion first
    };
    const std::vector<Case> cases = {
        {"many small files", std::vector<std::size_t>(400, 3), Entry},
        {"growing and shrinking files", {1, 50, 3000, 2, 12000, 0, 7, 9000, 1}, Entry},
        {"empty files and empty entries", {0, 5, 0, 4100, 0}, [](std::size_t) { return Text(); }},
        {"entries longer than a block",
         {2, 1, 3},
         [](std::size_t i) { return Text(33000 + i, i % 2 ? u'\u20ac' : u'b'); }},
        {"blocks filled exactly", {64, 65, 640}, [](std::size_t) { return Text(512, u'x'); }},
        {"split blocks", {300, 5000, 40}, Entry, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SharedList list, buffer;
        std::vector<Text> model;
        std::size_t next = 0;
        for (std::size_t n : c.files) {
            std::vector<Text> found = Entries(n, [&](std::size_t i) { return c.make(next + i); });
            next += n;
            Fill(buffer, found);
            if (c.insert && n > 2) {
                const std::vector<Text> put = {u"inserted", Text(2, u'\u00e4')};
                buffer.InsertAt(n / 2, put);
                found.insert(found.begin() + static_cast<std::ptrdiff_t>(n / 2), put.begin(),
                             put.end());
            }
            ExpectContent(buffer, found);
            list.AppendFrom(buffer);
            model.insert(model.end(), found.begin(), found.end());
            ExpectContent(list, model);
            buffer.Recycle();
            ExpectContent(buffer, {});
        }
        // The entries are stored once, about as compactly as appended one by one.
        SharedList appended;
        Fill(appended, model);
        EXPECT_LE(list.MemoryUsage(), appended.MemoryUsage() * 5 / 4 + 65536);
    }
}

// Recycled storage is used again, not counted as the list's own, and a list
// that grew large is freed instead of kept.
TEST(SharedListAppend, RecycleKeepsBoundedStorageForTheNextEntries) {
    SharedList small;
    Fill(small, Entries(3000, Entry));
    small.Recycle();
    EXPECT_LT(small.MemoryUsage(), 1024u);
    const std::vector<Text> again = Entries(2500, [](std::size_t i) { return Entry(i + 11); });
    Fill(small, again);
    ExpectContent(small, again);

    SharedList large;
    Fill(large, Entries(200, [](std::size_t) { return Text(20000, u'z'); }));  // 4 MB
    large.Recycle();
    ExpectContent(large, {});
    SharedList other;
    other.Swap(large);  // the kept storage goes with the content
    Fill(other, {u"a", u"b"});
    ExpectContent(other, {u"a", u"b"});
}

// Lines for standard output: each entry as UTF-8 and LF, a range at a time.
TEST(SharedListAppend, AppendLinesUtf8WritesTheEntriesAsUtf8Lines) {
    const std::vector<Text> entries = Entries(9000, Entry);
    SharedList list;
    Fill(list, entries);
    std::string expected;
    for (const Text& e : entries) expected += ToUtf8(e) + "\n";
    std::string got;
    std::size_t from = 0;
    for (std::size_t step : {std::size_t{1}, std::size_t{0}, std::size_t{777}, SIZE_MAX}) {
        const std::size_t n = list.AppendLinesUtf8(from, step, got);
        EXPECT_EQ(n, std::min(step, entries.size() - from));
        from += n;
    }
    EXPECT_EQ(from, entries.size());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(list.AppendLinesUtf8(entries.size(), 5, got), 0u);
    EXPECT_EQ(got, expected);
}
