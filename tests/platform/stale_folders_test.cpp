// Private folders of a run that was killed are removed at the next start,
// never anything else.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/private_folder.h"
#include "support/temp_dir.h"

using namespace corvexa::platform;
using corvexa::test::TempDir;
namespace fs = std::filesystem;

namespace {

// The start time of this process, as the folder names carry it.
std::string OwnStartTime() {
    std::ifstream in("/proc/self/stat");
    std::string line;
    std::getline(in, line);
    std::string rest = line.substr(line.rfind(')') + 2);
    std::size_t at = 0;
    for (int field = 3; field < 22; ++field) at = rest.find(' ', at) + 1;
    return rest.substr(at, rest.find(' ', at) - at);
}

}  // namespace

TEST(StaleFolders, APrivateFolderIsNamedForItsMakerAndKeptWhileItRuns) {
    TempDir base;
    PrivateFolder folder("corvexa-pdf-", base.Path().string());
    const std::string name = fs::path(folder.Path()).filename().string();
    EXPECT_EQ(name.rfind("corvexa-pdf-" + std::to_string(getpid()) + "-" + OwnStartTime() + "-", 0),
              0u)
        << name;
    EXPECT_EQ(SweepStalePrivateFolders(base.Path().string()), 0);
    EXPECT_TRUE(fs::exists(folder.Path()));
}

TEST(StaleFolders, SweepRemovesOnlyThoseOfOursWhoseMakerIsGone) {
    TempDir base, elsewhere;
    const std::string me = std::to_string(getpid()), started = OwnStartTime();
    // Our pid with another start time: the same number, a process long gone.
    const std::string stale = "corvexa-" + me + "-1-aB3dE9";
    const std::string staleNoProcess = "corvexa-2147483646-5-Zz9Yy8";
    struct Case {
        std::string name;
        enum { Folder, File, Link } kind;
        bool removed;
    } cases[] = {
        {stale, Case::Folder, true},
        {staleNoProcess, Case::Folder, true},
        {"corvexa-office-" + me + "-1-abcdef", Case::Folder, true},
        {"corvexa-Office-" + me + "-1-abcdef", Case::Folder, false},
        {"corvexa-test-abcdef", Case::Folder, false},  // the tests' own folders
        {"corvexa-" + me + "-" + started + "-live01", Case::Folder, false},  // its maker runs
        {"corvexa-" + me + "-2-link01", Case::Link, false},     // a link is never followed
        {"corvexa-" + me + "-3-file01", Case::File, false},     // not a folder
        {"corvexa-" + me + "-4-toolong", Case::Folder, false},  // not a name we make
        {"corvexa-x-4-abcdef", Case::Folder, false},
        {"other-" + me + "-5-abcdef", Case::Folder, false},
    };
    elsewhere.Write("keep/precious", "data");
    for (const Case& c : cases) {
        const fs::path p = base.Path() / c.name;
        if (c.kind == Case::Folder) {
            fs::create_directory(p);
            base.Write(c.name + "/inside/deep.txt", "x");
            fs::create_directory_symlink(elsewhere.Path() / "keep", p / "link-out");
        } else if (c.kind == Case::File) {
            base.Write(c.name, "x");
        } else {
            fs::create_directory_symlink(elsewhere.Path() / "keep", p);
        }
    }
    EXPECT_EQ(SweepStalePrivateFolders(base.Path().string()), 3);
    for (const Case& c : cases) {
        EXPECT_EQ(fs::exists(fs::symlink_status(base.Path() / c.name)), !c.removed) << c.name;
    }
    // What links inside a removed folder pointed at is untouched.
    EXPECT_TRUE(fs::exists(elsewhere.Path() / "keep" / "precious"));
}

TEST(StaleFolders, SweepLeavesFoldersOfOtherUsers) {
    if (geteuid() != 0) GTEST_SKIP() << "needs to give a folder away";
    TempDir base;
    const fs::path theirs = base.Path() / ("corvexa-" + std::to_string(getpid()) + "-1-theirs");
    fs::create_directory(theirs);
    ASSERT_EQ(lchown(theirs.c_str(), 65534, 65534), 0);
    EXPECT_EQ(SweepStalePrivateFolders(base.Path().string()), 0);
    EXPECT_TRUE(fs::exists(theirs));
}
