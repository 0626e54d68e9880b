// The folder walk ends, whatever links, depths and kernel file systems it
// meets: each folder once, paths past the system's limit, /proc left alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/collector.h"
#include "engine/folder_walk.h"
#include "support/empty_sink.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Walk(const std::string& folder, bool recurse = true) {
    std::vector<std::string> out;
    FolderWalk::Run(
        FromUtf8(folder), recurse, [] { return false; },
        [&](const Text& path) { out.push_back(ToUtf8(path)); });
    return out;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Makes `depth` nested folders named `name` below `root`, with the file f.txt
// holding `text` at the bottom, one folder at a time relative to the one
// before (a path past PATH_MAX cannot be made by path). Returns the file's path.
std::string MakeDeep(const fs::path& root, const std::string& name, int depth,
                     const std::string& text) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    std::string path = root.string();
    for (int i = 0; i < depth; ++i) {
        EXPECT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
        int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = sub;
        path += "/" + name;
    }
    int file = ::openat(fd, "f.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_EQ(::write(file, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(file);
    ::close(fd);
    return path + "/f.txt";
}

// Writes `count` files named s0.txt, s1.txt, ... into the folder at `level`
// below `root` on the chain made by MakeDeep.
void AddFiles(const fs::path& root, const std::string& name, int level, int count) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < level; ++i) {
        int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = sub;
    }
    for (int i = 0; i < count; ++i) {
        std::string file = "s" + std::to_string(i) + ".txt";
        ::close(::openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    }
    ::close(fd);
}

}  // namespace

TEST(WalkEnds, LinksThatAreNotLoopsDoNotMultiplyTheWalk) {
    // Level i holds two links to level i + 1: 2^12 ways down to the one file.
    TempDir dir;
    const int levels = 12;
    for (int i = 0; i <= levels; ++i) dir.MakeDir("d" + std::to_string(i));
    dir.Write("d" + std::to_string(levels) + "/f.txt", "x");
    for (int i = 0; i < levels; ++i)
        for (const char* link : {"a", "b"})
            fs::create_directory_symlink(dir.Path() / ("d" + std::to_string(i + 1)),
                                         dir.Path() / ("d" + std::to_string(i)) / link);
    auto files = Walk((dir.Path() / "d0").string());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(EndsWith(files[0], "/f.txt"));
    // The same folder reached through a link and by its own name: once.
    fs::create_directory_symlink(dir.Path() / "d12", dir.Path() / "d11" / "c");
    files = Walk((dir.Path() / "d11").string());
    EXPECT_EQ(files.size(), 1u);
}

TEST(WalkEnds, PathsPastTheSystemLimitAreWalkedListedAndRead) {
    TempDir dir;
    // 300 levels (deeper than the levels that keep a descriptor) of 15-byte
    // names: a 4,800-byte path.
    std::string deep = MakeDeep(dir.Path(), std::string(15, 'n'), 300, "www.deep.example.com\n");
    ASSERT_GT(deep.size(), 4096u);
    ASSERT_GT(300u, FolderWalk::kHeldLevels);
    dir.Write("top.txt", "www.top.example.com\n");
    dir.Write(std::string(15, 'n') + "/side.txt", "x");
    // Files beside the subfolder deep down, some listed after the subfolder
    // was walked, when the folder has to be opened again.
    AddFiles(dir.Path(), std::string(15, 'n'), 100, 20);
    AddFiles(dir.Path(), std::string(15, 'n'), 280, 20);

    ScanJob job;
    job.Folder = FromUtf8(dir.Path().string());
    job.FileMask = u"*[fpe].txt";
    job.SkipLargeFilesMB = 1;  // the size of the deep file is read, too
    ScanControl control;
    SharedList files, urls;
    test::EmptySink sink;
    for (bool memory : {false, true}) {
        files.Clear();
        urls.Clear();
        control.MemoryStream = memory;
        TCollector collector(job, files, urls, control, sink);
        collector.CollectNow();
        auto listed = files.Snapshot();
        ASSERT_EQ(listed.size(), 3u);
        EXPECT_NE(std::find(listed.begin(), listed.end(), FromUtf8(deep)), listed.end());
        auto found = urls.Snapshot();
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, (std::vector<Text>{u"www.deep.example.com", u"www.top.example.com"}));
    }
    EXPECT_EQ(FileSizeOf(FromUtf8(deep)), 21);
    auto all = Walk(dir.Path().string());
    EXPECT_EQ(all.size(), 43u);
    EXPECT_EQ(std::count_if(
                  all.begin(), all.end(),
                  [](const std::string& f) { return f.size() > 4096 && EndsWith(f, "/s19.txt"); }),
              1);
}

TEST(WalkEnds, KernelFileSystemsAreNotEnteredFromOutsideAndEndFromInside) {
    TempDir dir;
    dir.Write("a.txt", "x");
    fs::create_directory_symlink("/proc/self", dir.Path() / "proc");
    fs::create_directory_symlink("/sys", dir.Path() / "sys");
    auto files = Walk(dir.Path().string());
    EXPECT_EQ(files, std::vector<std::string>{(dir.Path() / "a.txt").string()});

    // Started inside /proc the walk lists it, but does not follow its links
    // (root, cwd, fd/...) back out to "/", so it ends soon.
    files = Walk("/proc/self");
    EXPECT_NE(std::find(files.begin(), files.end(), "/proc/self/status"), files.end());
    for (const auto& f : files) {
        EXPECT_NE(f.rfind("/proc/self/root/", 0), 0u) << f;
        EXPECT_NE(f.rfind("/proc/self/cwd/", 0), 0u) << f;
    }
    EXPECT_LT(files.size(), 200000u);
}
