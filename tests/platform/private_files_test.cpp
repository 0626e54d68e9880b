// Files nobody else may read or replace: private folders, made with mkdtemp
// and removed with everything in them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/private_folder.h"
#include "support/temp_dir.h"

using namespace corvexa::platform;
using corvexa::test::ReadFileBytes;
using corvexa::test::TempDir;
namespace fs = std::filesystem;

TEST(PrivateFolder, IsOursAloneAndGoesWithEverythingInItButNothingOutside) {
    TempDir dir;
    const fs::path victim = dir.Write("victim", "keep");
    std::string path;
    {
        PrivateFolder folder("corvexa-test-", dir.Path().string());
        path = folder.Path();
        EXPECT_EQ(fs::path(path).parent_path(), dir.Path());
        EXPECT_EQ(fs::path(path).filename().string().rfind("corvexa-test-", 0), 0u);
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_EQ(st.st_uid, ::getuid());

        const int fd = folder.CreateFile("a.txt");
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::fstat(fd, &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        ::close(fd);
        // A name that exists, or a link (dangling or not), is refused.
        EXPECT_LT(folder.CreateFile("a.txt"), 0);
        EXPECT_EQ(errno, EEXIST);
        fs::create_symlink(victim, folder.Inside("link"));
        fs::create_symlink(dir.Path() / "nowhere", folder.Inside("dangling"));
        for (const char* name : {"link", "dangling"}) {
            const int linked = folder.CreateFile(name);
            EXPECT_LT(linked, 0) << name;
            if (linked >= 0) ::close(linked);
        }
        EXPECT_FALSE(fs::exists(dir.Path() / "nowhere"));
        fs::create_directories(folder.Inside("deep/er"));
        fs::create_directory_symlink(dir.Path(), folder.Inside("deep/er/up"));
    }
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(ReadFileBytes(victim), "keep");
}

TEST(PrivateFolder, AFolderThatCannotBeMadeThrows) {
    TempDir dir;
    EXPECT_THROW(PrivateFolder("x-", (dir.Path() / "absent").string()), std::system_error);
}
