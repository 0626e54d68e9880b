// The results view's filter and the addresses a finding opens.

#include "results/filter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/shared_list.h"
#include "results/open_address.h"

namespace corvexa::results {
namespace {

TEST(Filter, ContainsIgnoringCase) {
    struct Case {
        const char16_t* needle;
        const char16_t* entry;
        bool match;
    };
    const Case cases[] = {
        {u"", u"anything", true},
        {u"EXAMPLE", u"http://www.example.com/", true},
        {u"ample.c", u"http://www.EXAMPLE.COM/", true},
        {u"com/x", u"http://example.com/", false},
        {u"ü", u"http://MÜNCHEN.example/", true},
        {u"straße", u"STRASSE", false},  // simple folding: ß stays one letter
        {u"K", u"\u212A", true},         // the Kelvin sign folds to k
        {u"aab", u"aaab", true},
        {u"long needle", u"short", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EntryFilter(c.needle).Matches(c.entry), c.match) << ToUtf8(c.needle);
}

// Narrowing from earlier matches gives what a fresh filter over the whole list
// gives, for any sequence of typed and erased letters.
TEST(Filter, NarrowingAgreesWithAFreshFilter) {
    std::mt19937 rng(7);
    SharedList list;
    const char16_t letters[] = u"abcAB.-/";
    for (int i = 0; i < 2000; ++i) {
        Text e;
        for (auto n = static_cast<int>(rng() % 12); n > 0; --n) e += letters[rng() % 8];
        list.Append(e);
    }
    Text typed;
    std::vector<std::uint32_t> shown = FilterEntries(list, typed);
    EXPECT_EQ(shown.size(), list.Size());
    for (int step = 0; step < 300; ++step) {
        const Text before = typed;
        if (!typed.empty() && rng() % 3 == 0)
            typed.pop_back();
        else if (typed.size() < 4)
            typed += letters[rng() % 8];
        const bool narrows = !before.empty() && Narrows(before, typed);
        shown = FilterEntries(list, typed, narrows ? &shown : nullptr);
        ASSERT_EQ(shown, FilterEntries(list, typed)) << step;
        for (std::uint32_t i : shown) ASSERT_TRUE(EntryFilter(typed).Matches(list.At(i)));
    }
}

TEST(OpenAddress, OnlyWebMailAndFtpAddressesAreOpened) {
    struct Case {
        const char16_t* entry;
        const char16_t* address;  // nullptr: nothing is opened
    };
    const Case cases[] = {
        {u"http://example.com/a?b=c#d", u"http://example.com/a?b=c#d"},
        {u"HTTPS://Example.com/", u"HTTPS://Example.com/"},
        {u"www.example.com/x", u"http://www.example.com/x"},
        {u"bob@mail.example.org", u"mailto:bob@mail.example.org"},
        {u"ftp://files.example.net/pub/", u"ftp://files.example.net/pub/"},
        {u"example.com", u"http://example.com/"},
        {u"192.0.2.10", u"http://192.0.2.10/"},
        {u"javascript://example.com/%0Aalert(1)", nullptr},
        {u"file:///etc/passwd", nullptr},
        {u"smb://host/share", nullptr},
        {u"http://", nullptr},
        {u"http://a b", nullptr},
        {u"www.x\n.com", nullptr},
        {u"@example.com", nullptr},
        {u"a@b/c", nullptr},
        {u"localhost", nullptr},
        {u"", nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<Text> got = AddressToOpen(c.entry);
        if (c.address) {
            ASSERT_TRUE(got.has_value()) << ToUtf8(c.entry);
            EXPECT_EQ(*got, c.address);
        } else {
            EXPECT_FALSE(got.has_value()) << ToUtf8(c.entry);
        }
    }
}

}  // namespace
}  // namespace corvexa::results
