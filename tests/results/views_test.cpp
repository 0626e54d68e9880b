#include "results/views.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/shared_list.h"
#include "engine/text.h"
#include "results/dedup.h"
#include "results/derive.h"

namespace corvexa::results {
namespace {

std::vector<std::string> Show(const SharedList& list) {
    std::vector<std::string> out;
    for (const Text& t : list.Snapshot()) out.push_back(ToUtf8(t));
    return out;
}

const std::vector<Text> kFindings = {
    u"https://www.example.com/index.html",
    u"joe@example.com",
    u"http://Example.com/",
    u"WWW.EXAMPLE.COM/about",
    u"https://www.example.com/index.html",
    u"ftp://ftp.example.org/pub/x.zip",
    u"http://192.0.2.10/admin",
};

TEST(ResultLists, ViewModeNamesTheCurrentList) {
    ResultLists lists;
    EXPECT_EQ(lists.Mode(), ViewMode::Url);
    EXPECT_EQ(&lists.Current(), &lists.Urls());

    struct Step {
        void (ResultLists::*show)();
        ViewMode mode;
        const char* name;
        SharedList& (ResultLists::*list)();
    };
    const Step steps[] = {
        {&ResultLists::ShowHostnames, ViewMode::Host, "host", &ResultLists::Hosts},
        {&ResultLists::ShowDomainNames, ViewMode::Domain, "domain", &ResultLists::Domains},
        {&ResultLists::ShowURLs, ViewMode::Url, "url", &ResultLists::Urls},
    };
    for (const Step& step : steps) {
        (lists.*step.show)();
        EXPECT_EQ(lists.Mode(), step.mode);
        EXPECT_EQ(ViewModeName(lists.Mode()), step.name);
        EXPECT_EQ(&lists.Current(), &(lists.*step.list)());
        const ResultLists& constLists = lists;
        EXPECT_EQ(&constLists.Current(), &(lists.*step.list)());
    }
}

TEST(ResultLists, EmptyUrlListGivesEmptyViews) {
    ResultLists lists;
    DedupCollator collator("en_US");
    for (void (ResultLists::*show)() :
         {&ResultLists::ShowURLs, &ResultLists::ShowHostnames, &ResultLists::ShowDomainNames}) {
        (lists.*show)();
        EXPECT_EQ(lists.Current().Size(), 0u);
        lists.RemoveDuplicates(collator);
        EXPECT_EQ(lists.Current().Size(), 0u);
    }
}

// Remove Duplicates in the URL view is undone by RestoreFindings, however
// often it ran; one in a derived view keeps nothing to restore; START forgets.
TEST(ResultLists, RemovedDuplicatesOfTheUrlViewCanBeRestored) {
    DedupCollator collator("en_US");
    std::vector<std::string> asFound;
    for (const Text& t : kFindings) asFound.push_back(ToUtf8(t));

    ResultLists lists;
    lists.Urls().Assign(kFindings);
    lists.ShowHostnames();
    lists.RemoveDuplicates(collator);
    EXPECT_FALSE(lists.CanRestoreFindings());

    lists.ShowURLs();
    lists.RemoveDuplicates(collator);
    lists.RemoveDuplicates(collator);
    ASSERT_TRUE(lists.CanRestoreFindings());
    EXPECT_EQ(lists.Urls().Size(), kFindings.size() - 1);
    lists.ShowDomainNames();
    lists.RestoreFindings();
    EXPECT_EQ(lists.Mode(), ViewMode::Url);
    EXPECT_EQ(Show(lists.Urls()), asFound);
    EXPECT_FALSE(lists.CanRestoreFindings());

    lists.RemoveDuplicates(collator);
    lists.Reset();
    EXPECT_FALSE(lists.CanRestoreFindings());
    lists.RestoreFindings();  // nothing to restore: no change
    EXPECT_EQ(lists.Urls().Size(), 0u);
}

TEST(ResultLists, ShowRebuildsTheDerivedListFromTheUrlList) {
    ResultLists lists;
    lists.Urls().Assign(kFindings);

    lists.ShowHostnames();
    EXPECT_EQ(Show(lists.Current()),
              (std::vector<std::string>{"www.example.com", "example.com", "Example.com",
                                        "WWW.EXAMPLE.COM", "www.example.com", "ftp.example.org",
                                        "192.0.2.10"}));
    lists.ShowDomainNames();
    EXPECT_EQ(Show(lists.Current()),
              (std::vector<std::string>{"example.com", "example.com", "Example.com", "EXAMPLE.COM",
                                        "example.com", "example.org", "http://192.0.2.10/admin"}));

    // Findings that arrived since are included at the next press.
    lists.Urls().Append(u"mary@mail.example.net");
    lists.ShowHostnames();
    EXPECT_EQ(lists.Hosts().Size(), kFindings.size() + 1);
    EXPECT_EQ(ToUtf8(lists.Hosts().At(kFindings.size())), "example.net");
}

TEST(ResultLists, RemoveDuplicatesInADerivedViewLastsUntilItsRebuild) {
    ResultLists lists;
    lists.Urls().Assign(kFindings);
    DedupCollator collator("en_US");

    lists.ShowHostnames();
    lists.RemoveDuplicates(collator);
    EXPECT_EQ(Show(lists.Hosts()),
              (std::vector<std::string>{"192.0.2.10", "example.com", "ftp.example.org",
                                        "www.example.com"}));
    EXPECT_EQ(lists.Urls().Snapshot(), kFindings);  // untouched
    EXPECT_EQ(lists.Domains().Size(), 0u);          // never built, still empty

    lists.ShowHostnames();
    EXPECT_EQ(lists.Hosts().Size(), kFindings.size());  // the duplicates are back

    lists.ShowDomainNames();
    lists.RemoveDuplicates(collator);
    EXPECT_EQ(Show(lists.Domains()),
              (std::vector<std::string>{"example.com", "example.org", "http://192.0.2.10/admin"}));
    EXPECT_EQ(lists.Hosts().Size(), kFindings.size());
    EXPECT_EQ(lists.Urls().Snapshot(), kFindings);
}

TEST(ResultLists, RemoveDuplicatesInTheUrlViewShortensItForGood) {
    ResultLists lists;
    lists.Urls().Assign(kFindings);
    DedupCollator collator("en_US");

    lists.RemoveDuplicates(collator);
    const std::vector<std::string> unique = {
        "ftp://ftp.example.org/pub/x.zip",    "http://192.0.2.10/admin", "http://Example.com/",
        "https://www.example.com/index.html", "joe@example.com",         "WWW.EXAMPLE.COM/about"};
    EXPECT_EQ(Show(lists.Urls()), unique);

    // Later derivations start from the shortened, sorted list.
    lists.ShowHostnames();
    EXPECT_EQ(Show(lists.Hosts()),
              (std::vector<std::string>{"ftp.example.org", "192.0.2.10", "Example.com",
                                        "www.example.com", "example.com", "WWW.EXAMPLE.COM"}));
    lists.ShowURLs();
    EXPECT_EQ(Show(lists.Current()), unique);
}

TEST(ResultLists, ResetEmptiesEverythingAndShowsUrls) {
    ResultLists lists;
    lists.Urls().Assign(kFindings);
    lists.ShowHostnames();
    lists.ShowDomainNames();
    lists.Reset();
    EXPECT_EQ(lists.Mode(), ViewMode::Url);
    EXPECT_EQ(lists.Urls().Size(), 0u);
    EXPECT_EQ(lists.Hosts().Size(), 0u);
    EXPECT_EQ(lists.Domains().Size(), 0u);
}

// The files list's Remove deletes all selected entries at once.
TEST(FilesListRemove, DeletesAllSelectedEntries) {
    struct Case {
        std::vector<std::size_t> selected;
        std::vector<std::string> left;
    };
    const std::vector<Case> cases = {
        {{1, 3}, {"/a", "/c", "/a", "/e"}},
        {{5, 0, 2}, {"/b", "/d", "/a"}},            // any order
        {{1, 1}, {"/a", "/c", "/d", "/a", "/e"}},   // the same index twice
        {{2, 99}, {"/a", "/b", "/d", "/a", "/e"}},  // past the end ignored
        {{0, 1, 2, 3, 4, 5}, {}},
        {{}, {"/a", "/b", "/c", "/d", "/a", "/e"}},
        {{4}, {"/a", "/b", "/c", "/d", "/e"}},  // only that "/a", not the first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.selected));
        SharedList files;
        files.Assign({u"/a", u"/b", u"/c", u"/d", u"/a", u"/e"});
        files.RemoveAt(c.selected);
        EXPECT_EQ(Show(files), c.left);
    }
}

}  // namespace
}  // namespace corvexa::results
