// Byte sources: bytes in memory read exactly like the same bytes in a file,
// paths longer than the system's limit, kernel pseudo files that never end,
// and files opened within their folder held open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/byte_source.h"
#include "engine/readers/text_reader.h"
#include "platform/native_path.h"
#include "support/collect_lines.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::CollectLines;
using corvexa::test::TempDir;

namespace {

// The lines a scan hands over, and whether it failed.
struct Outcome {
    std::vector<Text> lines;
    bool failed = false;
    bool operator==(const Outcome&) const = default;
};

Outcome Scan(ByteSource& source, bool memoryStream) {
    CollectLines sink;
    std::atomic<bool> stop{false};
    ReadContext ctx{sink, stop, 1252};
    Outcome out;
    try {
        ScanPlainText(source, memoryStream, ctx);
    } catch (const ReadError&) {
        out.failed = true;
    }
    out.lines = sink.lines;
    return out;
}

}  // namespace

TEST(Sources, BytesInMemoryReadExactlyLikeTheSameFile) {
    TempDir dir;
    std::string late;  // an ANSI byte after two buffers: file stream repeats lines
    for (int i = 0; i < 100; ++i) late += std::string(99, 'a') + "\n";
    late += "caf\xE9\n";
    const std::vector<std::string> cases = {
        "",
        "one\r\ntwo\rthree\n",
        "\xEF\xBB\xBFmarked\n",
        std::string("\xFF\xFEo\0k\0", 6),
        "na\xEFve\n",
        late,
        std::string(9000, 'x') + "\r" + std::string(5000, 'y'),
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        auto path = dir.Write(std::to_string(i) + ".txt", cases[i]);
        for (bool memory : {false, true}) {
            FileSource file(FromUtf8(path.string()));
            MemorySource bytes(cases[i]);
            EXPECT_EQ(Scan(bytes, memory), Scan(file, memory))
                << "case " << i << " memory " << memory;
        }
    }
    // A source may be read again from the start.
    MemorySource twice(late);
    EXPECT_EQ(Scan(twice, true), Scan(twice, true));
}

TEST(Sources, PathsLongerThanTheSystemLimitAreRead) {
    TempDir dir;
    std::string relative;
    for (int i = 0; i < 40; ++i)
        relative += std::string(150, static_cast<char>('a' + i % 26)) + "/";
    relative += "deep.txt";
    ASSERT_GT((dir.Path() / relative).string().size(), 4096u);
    // The fixture writes through std::filesystem, which fails on such a path,
    // so the folders are made one at a time relative to each other.
    std::error_code ec;
    auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    std::string part;
    std::size_t pos = 0, slash;
    while ((slash = relative.find('/', pos)) != std::string::npos) {
        part = relative.substr(pos, slash - pos);
        std::filesystem::create_directory(part);
        std::filesystem::current_path(part);
        pos = slash + 1;
    }
    {
        std::FILE* f = std::fopen("deep.txt", "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("www.deep.example.com\n", f);
        std::fclose(f);
    }
    std::filesystem::current_path(here, ec);
    FileSource source(FromUtf8((dir.Path() / relative).string()));
    for (bool memory : {false, true})
        EXPECT_EQ(Scan(source, memory), (Outcome{{u"www.deep.example.com"}, false}));
}

TEST(Sources, KernelPseudoFilesAreReadUpToTheirLimit) {
    // A small one reads as it is.
    FileSource status(u"/proc/self/status");
    Outcome small = Scan(status, false);
    EXPECT_FALSE(small.failed);
    EXPECT_FALSE(small.lines.empty());
    // pagemap announces size 0 and would stream hundreds of gigabytes.
    for (bool memory : {false, true}) {
        FileSource pagemap(u"/proc/self/pagemap");
        auto start = std::chrono::steady_clock::now();
        Outcome endless = Scan(pagemap, memory);
        EXPECT_TRUE(endless.failed);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    }
    EXPECT_TRUE(IsPseudoFileSystem(0x9fa0));
    EXPECT_FALSE(IsPseudoFileSystem(0xEF53));  // ext4
}

// Files opened one after another through the folder held open give what
// opening each by its path gives: the same file, or the same error.
TEST(Sources, FilesOpenedWithinTheirHeldFolderAreThoseTheirPathsName) {
    TempDir dir;
    dir.Write("a/x.txt", "x");
    dir.Write("a/y.txt", "y");
    dir.Write("b/z.txt", "z");
    dir.Write("top.txt", "t");
    std::filesystem::create_directory_symlink(dir.Path() / "a", dir.Path() / "c");
    std::filesystem::create_symlink(dir.Path() / "b" / "z.txt", dir.Path() / "a" / "to_z");
    const std::string root = dir.Path().string();
    const std::vector<std::string> paths = {
        root + "/a/x.txt",
        root + "/a/y.txt",
        root + "/a/missing",
        root + "/b/z.txt",
        root + "/a/x.txt",
        root + "/gone/x.txt",
        root + "/a/x.txt/under",
        root + "/c/y.txt",
        root + "/a/to_z",
        root + "/a/.",
        root + "/a/..",
        root + "/a/",
        root + "//a//y.txt",
        root + "/a",
        root + "/top.txt",
        "relative-missing.txt",
        "/",
        "",
        root + "/a" + std::string(1, '\0') + "/x.txt",  // the system reads up to the NUL
        root + "/a/x.txt",
    };
    FolderCache folders;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        errno = 0;
        const int want = platform::OpenNative(path, O_RDONLY);
        const int wantErrno = errno;
        errno = 0;
        const int got = folders.Open(path, O_RDONLY);
        const int gotErrno = errno;
        ASSERT_EQ(got >= 0, want >= 0);
        if (want < 0) {
            EXPECT_EQ(gotErrno, wantErrno);
            continue;
        }
        struct stat a, b;
        ASSERT_EQ(::fstat(want, &a), 0);
        ASSERT_EQ(::fstat(got, &b), 0);
        EXPECT_EQ(a.st_ino, b.st_ino);
        EXPECT_EQ(a.st_dev, b.st_dev);
        EXPECT_NE(::fcntl(got, F_GETFD) & FD_CLOEXEC, 0);
        ::close(want);
        ::close(got);
    }
}
