// Private folders of a run that was killed are removed at the next start,
// never anything else.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

// A socket at path with a listener; the descriptor, or -1. Closing it leaves
// the socket file with nothing listening.
int Listen(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 1) != 0) {
        close(fd);
        return -1;
    }
    return fd;
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

// The sockets a folder noted outside it go with it, at its own end and at the
// sweep after a kill: only sockets of ours that nothing listens on.
TEST(StaleFolders, NotedSocketsGoWithTheFolderWhenNothingListens) {
    TempDir outside;
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "swept after a kill" : "the folder's own end");
        TempDir base;
        const std::string at = outside.Path().string() + (killed ? "/k-" : "/e-");
        const int dead = Listen(at + "dead"), live = Listen(at + "live");
        ASSERT_GE(dead, 0);
        ASSERT_GE(live, 0);
        close(dead);
        outside.Write(std::string(killed ? "k-" : "e-") + "file", "x");
        const std::string noted[] = {at + "dead", at + "live", at + "file", at + "missing",
                                     "relative-dead"};
        {
            PrivateFolder folder("corvexa-office-", base.Path().string());
            for (const std::string& path : noted) EXPECT_TRUE(folder.NoteOutsideSocket(path));
            EXPECT_FALSE(folder.NoteOutsideSocket(at + "two\nlines"));
            if (killed) {
                // As a run that was killed leaves it: its maker gone.
                const fs::path stale =
                    base.Path() / ("corvexa-office-" + std::to_string(getpid()) + "-1-abcdef");
                fs::copy(folder.Path(), stale, fs::copy_options::recursive);
                fs::remove_all(folder.Path());
                EXPECT_EQ(SweepStalePrivateFolders(base.Path().string()), 1);
                EXPECT_FALSE(fs::exists(stale));
                EXPECT_FALSE(fs::exists(fs::symlink_status(at + "dead"))) << "by the sweep";
            }
        }
        EXPECT_FALSE(fs::exists(fs::symlink_status(at + "dead")));
        EXPECT_TRUE(fs::is_socket(at + "live")) << "a socket something listens on stays";
        EXPECT_TRUE(fs::is_regular_file(at + "file")) << "only sockets go";
        close(live);
    }
}

TEST(StaleFolders, ADeadSocketOfAnotherUserStays) {
    if (geteuid() != 0) GTEST_SKIP() << "needs to give a socket away";
    TempDir outside;
    const std::string path = (outside.Path() / "theirs").string();
    close(Listen(path));
    ASSERT_EQ(lchown(path.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(RemoveDeadSocket(path));
    EXPECT_TRUE(fs::is_socket(path));
    const int live = Listen((outside.Path() / "mine").string());
    EXPECT_FALSE(RemoveDeadSocket((outside.Path() / "mine").string()));
    close(live);
    EXPECT_TRUE(RemoveDeadSocket((outside.Path() / "mine").string()));
}
