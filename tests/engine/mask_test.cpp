// File masks: matched against the whole path, ASCII-only case folding, sets and
// ranges, and the masks that are refused.
#include <gtest/gtest.h>

#include "engine/file_mask.h"

using namespace corvexa;

TEST(FileMask, MatchTable) {
    struct Case {
        const char16_t* mask;
        const char16_t* path;
        bool matches;
    } cases[] = {
        {u"*", u"/data/a.txt", true},
        {u"*", u"", true},
        {u"*.txt", u"/data/a.txt", true},
        {u"*.txt", u"/data/A.TXT", true},
        {u"*.TXT", u"/data/a.txt", true},
        {u"*.txt", u"/data/a.txt.bak", false},
        {u"*.txt", u"/data/txt", false},
        {u"a.txt", u"/data/a.txt", false},                  // a bare name never matches a full path
        {u"/data/*.txt", u"/data/sub/deeper/x.txt", true},  // * crosses separators
        {u"/data/*.txt", u"/other/x.txt", false},
        {u"*/a?c.log", u"/x/abc.log", true},
        {u"*/a?c.log", u"/x/ac.log", false},
        {u"*/a?c.log", u"/x/abbc.log", false},
        {u"*[0-9].csv", u"/r/report7.csv", true},
        {u"*[0-9].csv", u"/r/reportx.csv", false},
        {u"*[!0-9].csv", u"/r/reportx.csv", true},
        {u"*[!0-9].csv", u"/r/report7.csv", false},
        {u"*[a-c]", u"/r/B", true},  // case folding inside sets too
        {u"*[A-C]", u"/r/b", true},
        {u"*[xyz]", u"/r/Y", true},
        {u"*[a-]", u"/r/-", true},                  // a trailing hyphen is itself
        {u"*\u00E9.txt", u"/r/\u00C9.txt", false},  // only a-z fold
        {u"*\u00E9.txt", u"/r/\u00E9.txt", true},
        {u"*a*a*a*a*b", u"/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {u"*a*b*c", u"/xaybzc", true},
        {u"?", u"", false},
        // Several patterns, as typed in the window or given to --mask.
        {u"*.eml;*.pdf", u"/m/a.PDF", true},
        {u"*.eml;*.pdf", u"/m/a.eml", true},
        {u"*.eml;*.pdf", u"/m/a.txt", false},
        {u" *.eml ; *.pdf ", u"/m/a.pdf", true},
        {u"*.eml;;", u"/m/a.eml", true},
        {u";", u"/m/anything", false},
        {u"*[;]x", u"/m/;x", true},  // inside a set, ';' is a character
        {u"*[;]x", u"/m/ax", false},
        {u"", u"", true},
        {u"", u"/a", false},
    };
    for (const Case& c : cases) {
        auto mask = FileMask::Compile(c.mask);
        ASSERT_TRUE(mask) << "case " << (&c - cases);
        EXPECT_EQ(mask->Matches(c.path), c.matches) << "case " << (&c - cases);
    }
}

TEST(FileMask, InvalidMasksAreRefusedWithAReason) {
    const char16_t* invalid[] = {
        u"*[abc",                                                           // unclosed
        u"*[]",                                                             // empty set
        u"*[!]",                                                            // empty negated set
        u"*[-z].txt",                                                       // range without a start
        u"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a",  // 31 groups
    };
    for (const char16_t* m : invalid) {
        std::string error;
        EXPECT_FALSE(FileMask::Compile(m, &error));
        EXPECT_FALSE(error.empty());
    }
    // Thirty groups are allowed; a run of stars counts once.
    EXPECT_TRUE(FileMask::Compile(u"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a"));
    EXPECT_TRUE(FileMask::Compile(u"****************************************.txt"));
}

TEST(FileMask, LongPathsWithManyStarsStayFast) {
    // The matcher backtracks only to the last star, so this is linear-ish rather
    // than exponential in the number of stars.
    auto mask = FileMask::Compile(u"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b");
    ASSERT_TRUE(mask);
    EXPECT_FALSE(mask->Matches(Text(4000, u'a')));
}

TEST(FileMask, CanMatchExtension) {
    struct Case {
        const char16_t* mask;
        bool pdf;
    } cases[] = {
        {u"*.txt", false}, {u"*", true},        {u"*.PDF", true},      {u"*.txt;*.pdf", true},
        {u"/srv/*", true}, {u"*df", true},      {u"*.pd?", true},      {u"*.[pq]df", true},
        {u"a.txt", false}, {u"/x/a.pdf", true}, {u"*.pdf.bak", false}, {u"*.eml;*.doc", false},
    };
    for (const Case& c : cases) {
        auto mask = FileMask::Compile(c.mask);
        ASSERT_TRUE(mask.has_value());
        EXPECT_EQ(mask->CanMatchExtension(u".pdf"), c.pdf) << ToUtf8(c.mask);
    }
}
