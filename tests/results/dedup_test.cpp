#include "results/dedup.h"

#include <gtest/gtest.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "engine/shared_list.h"
#include "engine/text.h"

namespace corvexa::results {
namespace {

std::string Show(TextView t) {
    return ToUtf8(t);
}

std::vector<std::string> Show(const std::vector<Text>& texts) {
    std::vector<std::string> out;
    for (const Text& t : texts) out.push_back(Show(t));
    return out;
}

// Locales whose order of plain ASCII text is the usual word sort. The POSIX
// ones must not fall back to ICU's code-unit order.
const char* const kLocales[] = {"", "root", "en_US", "en_GB", "de_DE", "fr_FR", "en_US_POSIX", "C",
                                "POSIX", "c", "sv_SE", "ja_JP",
                                // Its own rules would pass over punctuation and spaces.
                                "th_TH"};

// Ascending sequences: every text sorts strictly before the next one.
const std::vector<std::vector<Text>> kAscending = {
    // Punctuation and symbols, then digits, then letters.
    {u"!a", u"0", u"a"},
    {u"_x", u"0"},
    {u"#x", u"0"},
    {u"~", u"0"},
    {u"$", u"0"},
    {u"a b", u"ab"},
    {u"a.b", u"ab"},
    {u"a1", u"a9", u"aa"},
    // Punctuation and symbols among themselves: the ASCII order, then + < = >.
    {u"a",  u"a a", u"a!", u"a\"", u"a#", u"a$", u"a%", u"a&",  u"a(", u"a)", u"a*", u"a,",
     u"a.", u"a/",  u"a:", u"a;",  u"a?", u"a@", u"a[", u"a\\", u"a]", u"a^", u"a_", u"a`",
     u"a{", u"a|",  u"a}", u"a~",  u"a+", u"a<", u"a=", u"a>",  u"a0", u"aa"},
    // So addresses that share a beginning sort by what follows it.
    {u"http://a.com", u"http://a.com#top", u"http://a.com&x", u"http://a.com.au/", u"http://a.com/",
     u"http://a.com/x", u"http://a.com:8080/", u"http://a.com?q=1", u"http://a.com@b.org",
     u"http://a.com_x", u"http://a.com~x", u"http://a.com=x", u"http://a.com0", u"http://a.comx"},
    {u"10", u"9"},
    // Letter by letter; a prefix first; letter case does not order.
    {u"a", u"aa", u"ab", u"b"},
    {u"a", u"B", u"c", u"D"},
    {u"Apple", u"apples", u"APPLESAUCE"},
    {u"http://a.com", u"https://a.com"},
    {u"example.com", u"example.net", u"Example.org"},
    // A hyphen or an apostrophe does not separate the letters around it.
    {u"a.b", u"a-b", u"ac"},
    {u"ab", u"a'c"},
    {u"co-op", u"cop"},
    {u"coo", u"co-op"},
    {u"don", u"don't", u"dop"},
};

// Pairs that compare equal (only letter case differs), and pairs that are
// different entries however close they sort.
struct PairCase {
    Text a, b;
    bool equal;
};
const std::vector<PairCase> kPairs = {
    {u"A", u"a", true},
    {u"http://Example.com/", u"http://example.COM/", true},
    {u"WWW.EXAMPLE.NET", u"www.example.net", true},
    {u"ÉCOLE", u"école", true},
    {u"Co-Op", u"co-op", true},
    {u"", u"", true},
    {u"coop", u"co-op", false},
    {u"dont", u"don't", false},
    {u"a", u"a-", false},
    {u"e", u"é", false},
    {u"resume", u"résumé", false},
    {u"a b", u"ab", false},
    {u"http://a.com/x", u"http://a.com.x", false},
    {u"http://a.com/?x", u"http://a.com/x", false},
    {u"a\xDC80", u"a\xDC81", false},  // raw bytes of different file names
};

TEST(DedupCollator, AsciiWordSortOrder) {
    for (const char* locale : kLocales) {
        SCOPED_TRACE(std::string("locale \"") + locale + "\"");
        DedupCollator collator(locale);
        for (const std::vector<Text>& seq : kAscending) {
            for (std::size_t i = 0; i + 1 < seq.size(); ++i) {
                for (std::size_t j = i + 1; j < seq.size(); ++j) {
                    EXPECT_LT(collator.Compare(seq[i], seq[j]), 0)
                        << Show(seq[i]) << " < " << Show(seq[j]);
                    EXPECT_GT(collator.Compare(seq[j], seq[i]), 0)
                        << Show(seq[j]) << " > " << Show(seq[i]);
                }
            }
            // Sorting the reversed sequence restores it.
            std::vector<Text> reversed(seq.rbegin(), seq.rend());
            EXPECT_EQ(Show(SortedUnique(reversed, collator)), Show(seq));
        }
        for (const auto& [a, b, equal] : kPairs) {
            if (equal) {
                EXPECT_EQ(collator.Compare(a, b), 0) << Show(a) << " == " << Show(b);
                EXPECT_EQ(collator.SortKey(a), collator.SortKey(b)) << Show(a);
            } else {
                EXPECT_NE(collator.Compare(a, b), 0) << Show(a) << " != " << Show(b);
                EXPECT_EQ(SortedUnique({a, b}, collator).size(), 2u) << Show(a);
            }
        }
    }
}

TEST(DedupCollator, HyphenAndApostropheVariantsSortSideBySide) {
    struct Case {
        std::vector<Text> entries;
        Text a, b;           // kept, and next to each other
        std::size_t unique;  // entries left
    };
    const std::vector<Case> cases = {
        {{u"cop", u"coop", u"coo", u"co-op", u"cooperative", u"con", u"co"}, u"coop", u"co-op", 7},
        {{u"donut", u"don't", u"done", u"dona", u"dont", u"dons"}, u"dont", u"don't", 6},
        {{u"e-mail", u"email", u"emails", u"emai", u"e.mail", u"emaik"}, u"email", u"e-mail", 6},
        // Letter case still does not count: the first of each spelling stays.
        {{u"co-op", u"Coop", u"CO-OP", u"coop", u"cop"}, u"co-op", u"Coop", 3},
    };
    DedupCollator collator("en_US");
    for (const Case& c : cases) {
        std::vector<Text> sorted = SortedUnique(c.entries, collator);
        SCOPED_TRACE(::testing::PrintToString(Show(sorted)));
        ASSERT_EQ(sorted.size(), c.unique);
        auto a = std::find(sorted.begin(), sorted.end(), c.a);
        auto b = std::find(sorted.begin(), sorted.end(), c.b);
        ASSERT_NE(a, sorted.end());
        ASSERT_NE(b, sorted.end());
        EXPECT_EQ(std::abs(a - b), 1);
    }
}

TEST(DedupCollator, PosixDefaultLocaleUsesTheRootOrder) {
    std::string saved = uloc_getDefault();
    for (const char* posix : {"en_US_POSIX", "c", "posix"}) {
        UErrorCode status = U_ZERO_ERROR;
        uloc_setDefault(posix, &status);
        ASSERT_TRUE(U_SUCCESS(status));
        DedupCollator collator;  // the user's default locale
        EXPECT_LT(collator.Compare(u"a", u"B"), 0) << posix;
        EXPECT_EQ(collator.Compare(u"a", u"A"), 0) << posix;
        EXPECT_LT(collator.Compare(u"!", u"0"), 0) << posix;
    }
    UErrorCode status = U_ZERO_ERROR;
    uloc_setDefault(saved.c_str(), &status);
}

TEST(SortedUnique, FirstOfEqualEntriesStaysWithItsCase) {
    struct Case {
        std::vector<Text> entries;
        std::vector<Text> expected;
    };
    const std::vector<Case> cases = {
        {{}, {}},
        {{u"only"}, {u"only"}},
        {{u"", u"", u"a"}, {u"", u"a"}},
        {{u"http://example.COM/", u"b", u"http://Example.com/", u"A", u"a"},
         {u"A", u"b", u"http://example.COM/"}},
        {{u"www.Example.org", u"WWW.EXAMPLE.ORG", u"www.example.org"}, {u"www.Example.org"}},
        {{u"école", u"ECOLE", u"École", u"ecole"}, {u"ECOLE", u"école"}},
        {{u"b", u"a", u"c", u"a", u"b"}, {u"a", u"b", u"c"}},
        {{u"x\xDC80", u"x\xDC81", u"x\xDC80"}, {u"x\xDC80", u"x\xDC81"}},
    };
    DedupCollator collator("en_US");
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(Show(c.entries)));
        EXPECT_EQ(Show(SortedUnique(c.entries, collator)), Show(c.expected));
    }
}

// Many entries, beyond the size from which the work is shared between
// threads: the result must match a plain sort by the collation keys.
TEST(SortedUnique, LargeListMatchesAPlainSortByKeys) {
    std::mt19937 rng(7);
    const char16_t* parts[] = {u"alpha", u"Beta",  u"co-op", u"coop", u"don't", u"dont",
                               u"école", u"ECOLE", u"x",     u"_",    u"9",     u"."};
    std::vector<Text> pool;
    for (int i = 0; i < 30000; ++i) {
        Text t = u"http://";
        int n = 1 + static_cast<int>(rng() % 3);
        for (int k = 0; k < n; ++k) t += parts[rng() % 12];
        t += u".example.com/" + FromUtf8(std::to_string(rng() % 3000));
        pool.push_back(t);
    }
    // Exact repeats and repeats in other letter case.
    std::vector<Text> entries;
    for (int i = 0; i < 80000; ++i) {
        Text t = pool[rng() % pool.size()];
        if (rng() % 3 == 0) {
            for (char16_t& c : t) {
                if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
            }
        }
        entries.push_back(t);
    }
    DedupCollator collator("en_US");

    std::vector<std::string> keys;
    for (const Text& t : entries) keys.push_back(collator.SortKey(t));
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    std::vector<Text> expected;
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (k > 0 && keys[order[k]] == keys[order[k - 1]]) continue;
        expected.push_back(entries[order[k]]);
    }
    ASSERT_GT(expected.size(), 20000u);
    ASSERT_LT(expected.size(), entries.size());

    std::vector<Text> got = SortedUnique(entries, collator);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);

    SharedList list;
    list.Assign(entries);
    RemoveDuplicates(list, collator);
    EXPECT_TRUE(list.Snapshot() == expected);
}

TEST(RemoveDuplicates, ReplacesTheListContent) {
    DedupCollator collator("en_US");
    SharedList list;
    RemoveDuplicates(list, collator);
    EXPECT_EQ(list.Size(), 0u);

    list.Assign(
        {u"http://b.example/", u"http://A.example/", u"http://a.EXAMPLE/", u"http://b.example/"});
    RemoveDuplicates(list, collator);
    EXPECT_EQ(Show(list.Snapshot()),
              (std::vector<std::string>{"http://A.example/", "http://b.example/"}));
    // Sorted and unique already: nothing changes.
    RemoveDuplicates(list, collator);
    EXPECT_EQ(Show(list.Snapshot()),
              (std::vector<std::string>{"http://A.example/", "http://b.example/"}));
}

}  // namespace
}  // namespace corvexa::results
